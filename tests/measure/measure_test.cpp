// Measurement numbers and labels against values worked out by hand, and the record stream: every kind round-trips, and damaged streams stop where they break.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <span>

#include "measure/calibration.h"
#include "measure/measure_geometry.h"
#include "measure/measurement_labels.h"
#include "measure/measurement_records.h"

namespace vexel {
namespace {

constexpr double kPi = 3.14159265358979323846;

Calibration Spacing(double row, double column) {
    return {row, column, CalibrationSource::PixelSpacing};
}

ImagePoint Towards(double degrees, float length = 100) {
    return {float(length * std::cos(degrees * kPi / 180)), float(length * std::sin(degrees * kPi / 180))};
}

TEST(MeasureGeometry, LengthsAnglesAndCobbAngles) {
    const Calibration pixels;
    // Rows 0.5 mm, columns 0.25 mm: (40, 30) pixels is 10 x 15 mm.
    EXPECT_NEAR(LengthOf({0, 0}, {40, 30}, Spacing(0.5, 0.25)), 18.0277, 1e-4);
    EXPECT_NEAR(LengthOf({0, 0}, {40, 30}, pixels), 50, 1e-9);
    EXPECT_NEAR(DistanceToSegment({5, 3}, {0, 0}, {10, 0}), 3, 1e-9);
    EXPECT_NEAR(DistanceToSegment({13, 4}, {0, 0}, {10, 0}), 5, 1e-9) << "beyond the end";
    EXPECT_NEAR(DistanceToSegment({3, 4}, {0, 0}, {0, 0}), 5, 1e-9) << "a point";

    EXPECT_NEAR(*AngleAt({0, 0}, {10, 0}, {10, 10}, pixels), 90, 1e-9);
    EXPECT_NEAR(*AngleAt({0, 0}, {10, 0}, {20, 0}, pixels), 180, 1e-9);
    // Columns 0.5 mm, rows 1.0 mm: the arms are (-5, -10) and (5, -10) mm.
    EXPECT_NEAR(*AngleAt({0, 0}, {10, 10}, {20, 0}, Spacing(1.0, 0.5)), 53.130, 1e-3);
    EXPECT_FALSE(AngleAt({10, 0}, {10, 0}, {20, 0}, pixels)) << "an arm of no length";
    EXPECT_FALSE(AngleAt({NAN, 0}, {10, 0}, {20, 0}, pixels));

    struct Cobb {
        double first, second;  // directions of the drawn lines, degrees
        double expected;
    };
    for (const Cobb& c : {Cobb{55, -55, 110}, Cobb{235, -55, 110}, Cobb{55, 125, 110},
                          Cobb{10, 170, 20}, Cobb{190, 350, 20}, Cobb{30, 30, 0}, Cobb{30, 210, 0},
                          Cobb{90, 0, 90}, Cobb{-90, 0, 90}, Cobb{90, 80, 10}}) {
        SCOPED_TRACE(testing::Message() << c.first << " and " << c.second);
        const ImagePoint p1{50, 50}, p3{20, 300};
        const ImagePoint d1 = Towards(c.first), d2 = Towards(c.second);
        const auto angle = CobbAngleOf(p1, {p1.x + d1.x, p1.y + d1.y}, p3, {p3.x + d2.x, p3.y + d2.y},
                                       pixels);
        ASSERT_TRUE(angle);
        EXPECT_NEAR(angle->degrees, c.expected, 1e-3);
        // The auxiliary segment carries the second line's orientation from the first line's end.
        const double ax = angle->auxiliaryEnd.x - angle->auxiliaryStart.x;
        const double ay = angle->auxiliaryEnd.y - angle->auxiliaryStart.y;
        EXPECT_TRUE(ax > 1e-3 || (std::fabs(ax) <= 1e-3 && ay > 0));
        EXPECT_NEAR(std::hypot(ax, ay), 100, 1e-3);
    }
    EXPECT_FALSE(CobbAngleOf({1, 1}, {1, 1}, {0, 0}, {5, 5}, pixels)) << "a degenerate line";
}

TEST(MeasurementLabels, UnitsDecimalsRelationsAndSources) {
    const TextLookup english;
    const Calibration detector{0.1, 0.1, CalibrationSource::ImagerPixelSpacingScaled};
    EXPECT_EQ(LengthLabel(18.0277, Spacing(0.5, 0.25), english), "18.0 mm\nPixel Spacing");
    EXPECT_EQ(LengthLabel(50, {}, english), "50.0 px");
    EXPECT_EQ(LengthLabel(NAN, {}, english), "");
    EXPECT_EQ(AngleLabel(110.04, english), "110.0\u00b0");
    EXPECT_EQ(AngleLabel(std::nullopt, english), "");
    struct Case {
        EllipseStatistics stats;
        Calibration calibration;
        bool colour, interpolated;
        const char* label;
    };
    // CT stored values all 1024 with intercept -1024: whole numbers lose their decimals.
    const EllipseStatistics ct{0, 0, 0, 0, 78.5398f, 0, 81};
    const EllipseStatistics mr{12.5f, 340.25f, 101.125f, 0, 78.5398f, 0, 81};
    for (const Case& c : {
             Case{ct, {}, false, false, "Mean=0.00\nMax=0 Min=0\nArea=79 px\u00b2"},
             Case{mr, Spacing(0.5, 0.5), false, false,
                  "Mean=101.12\nMax=340.25 Min=12.50\nArea=0.2 cm\u00b2 (79 px\u00b2)\nPixel Spacing"},
             Case{mr, detector, false, true,
                  "Mean\u2248101.12\nMax\u2265340.25 Min\u226412.50\nArea=0.0 cm\u00b2 (79 px\u00b2)\n"
                  "Imager Pixel Spacing / magnification\n\nWarning! Interpolated image.\n"
                  "All values are approximate."},
             Case{mr, {}, true, false, "Area=79 px\u00b2"}}) {
        EXPECT_EQ(EllipseLabel(c.stats, c.calibration, c.colour, c.interpolated, english), c.label);
    }
}

TEST(MeasurementRecords, EveryKindRoundTripsAndDamageStopsTheReader) {
    std::vector<MeasurementRecord> records = {
        {MeasurementKind::Length, {{1.5f, 2}, {30, 40.25f}}, true, {33, 41}, {}},
        {MeasurementKind::Ellipse, {{10, 10}, {20, 20}}, false, {0, 0}, {}},
        {MeasurementKind::Pencil, {{1, 1}, {2, 3}, {5, 8}}, false, {}, {1, 2, 3, 4, 5, 6}},
        {MeasurementKind::Angle, {{0, 0}, {10, 0}, {10, 10}}, true, {-3, 7}, {}},
        {MeasurementKind::Cobb, {{0, 0}, {9, 1}, {0, 50}, {9, 45}}, false, {0, 0}, {}},
    };
    const std::string stream = WriteRecords(records);
    const auto bytes = [](const std::string& s) {
        return std::span(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    };
    EXPECT_EQ(ReadRecords(bytes(stream)), records);
    EXPECT_EQ(stream.size(), 4u + 36 + 36 + (12 + 3 * 24) + 44 + 52);

    // Patches of one u32 at a byte offset; how many records are read before the reader stops.
    struct Damage {
        const char* what;
        size_t offset;
        uint32_t value;
        size_t expected;
    };
    const size_t pencil = 4 + 36 + 36, angle = pencil + 12 + 3 * 24;
    for (const Damage& d : {Damage{"size below 8", 4, 7, 0}, Damage{"size past the end", 4, 1u << 30, 0},
                            Damage{"length of the wrong size", 4, 40, 0},
                            Damage{"unknown kind, skipped", 40 + 4, 99, 4},
                            Damage{"pencil count against its size", pencil + 8, 4, 2},
                            Damage{"count beyond the records", 0, 1000, 5},
                            Damage{"count below the records", 0, 3, 3},
                            Damage{"angle sized as a Cobb angle", angle, 52, 3}}) {
        SCOPED_TRACE(d.what);
        std::string damaged = stream;
        std::memcpy(damaged.data() + d.offset, &d.value, 4);
        EXPECT_EQ(ReadRecords(bytes(damaged)).size(), d.expected);
    }
    // An empty pencil is a well-formed record that makes nothing.
    std::string empty = WriteRecords({records[0]});
    const uint32_t emptyPencil[] = {12, 4, 0};
    empty.insert(4, reinterpret_cast<const char*>(emptyPencil), sizeof emptyPencil);
    empty[0] = 2;
    EXPECT_EQ(ReadRecords(bytes(empty)), std::vector<MeasurementRecord>{records[0]});
    EXPECT_TRUE(ReadRecords(bytes(stream.substr(0, 3))).empty());
    EXPECT_EQ(ReadRecords(bytes(stream.substr(0, stream.size() - 1))).size(), 4u) << "cut short";
    MeasurementRecord wrong{MeasurementKind::Angle, {{0, 0}}, false, {}, {}};
    std::string out;
    EXPECT_FALSE(AppendRecord(out, wrong));
    EXPECT_TRUE(out.empty());
}

}  // namespace
}  // namespace vexel
