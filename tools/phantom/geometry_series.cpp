// Writes a geometry series: one CT (or, for colour, secondary capture) file per slice, the
// content sampled at each pixel centre without blending.
#include <algorithm>
#include <cmath>
#include <limits>

#include "phantom/geometry_series.h"
#include "phantom/phantom_common.h"

namespace vexel::phantom {

using namespace detail;

namespace {

constexpr const char* kCtImageStorage = "1.2.840.10008.5.1.4.1.1.2";
constexpr const char* kSecondaryCaptureStorage = "1.2.840.10008.5.1.4.1.1.7";
constexpr const char* kSeriesTime = "100000";

// The study modules of the main phantom: same patient, study and frame of reference.
PhantomOptions StudyOptions(const GeometrySeriesOptions& options) {
    PhantomOptions study;
    study.encoding = options.encoding;
    study.charset = options.charset;
    study.uidRoot = options.uidRoot;
    return study;
}

Rescale RescaleOf(const GeometrySeriesOptions& options, int slice) {
    if (options.rescales.empty()) return {};
    return options.rescales[size_t(slice) % options.rescales.size()];
}

// Rounding noise such as 6e-17 would print as an exponent; such values are zero.
std::string Ds(std::initializer_list<double> values) {
    std::string text;
    for (double value : values) {
        if (!text.empty()) text += '\\';
        text += FormatDs(std::abs(value) < 1e-12 ? 0.0 : value);
    }
    return text;
}

// The lowest and highest value the content can take inside the sampled box: the display
// window, and the scale of the colour variant.
std::pair<double, double> ValueRange(const GeometrySeriesOptions& options,
                                     const CStackGeometry& geometry) {
    const GeometryContent& c = options.content;
    double low = c.background, high = c.background;
    auto take = [&](double v) {
        low = std::min(low, v);
        high = std::max(high, v);
    };
    if (c.ramp) {
        // A linear function is extreme at the corners of the box.
        low = std::numeric_limits<double>::infinity();
        high = -low;
        for (int slice : {0, geometry.Slices() - 1})
            for (int row : {0, options.rows - 1})
                for (int column : {0, options.columns - 1})
                    take(GeometryValueAt({c.background, c.ramp, {}, {}},
                                         geometry.PixelCenter(slice, column, row)));
    }
    if (c.cube) take(c.cube->value);
    for (const MarkerSphere& s : c.spheres)
        take(s.value);
    return {low, high};
}

void AddImagePlane(CElementSet& set, const GeometrySeriesOptions& options,
                   const CStackGeometry& geometry, int slice) {
    const Vec3 position = geometry.SlicePosition(slice);
    const Vec3& r = geometry.RowDirection();
    const Vec3& c = geometry.ColumnDirection();
    set.SetString(0x00180050, "DS",
                  Ds({options.sliceThicknessMm.value_or(options.sliceSpacingMm)}));
    if (options.spacingBetweenSlicesMm)
        set.SetString(0x00180088, "DS", Ds({*options.spacingBetweenSlicesMm}));
    set.SetString(0x00181120, "DS", Ds({options.gantryTiltDegrees}));
    set.SetString(0x00185100, "CS", "HFS");
    set.SetString(0x00200032, "DS", Ds({position.x, position.y, position.z}));
    set.SetString(0x00200037, "DS", Ds({r.x, r.y, r.z, c.x, c.y, c.z}));
    if (options.writeFrameOfReference) {
        set.SetString(0x00200052, "UI",
                      options.frameOfReferenceUid.empty() ? MakeUid(options.uidRoot, {3})
                                                          : options.frameOfReferenceUid);
    }
    set.SetString(0x00201040, "LO", "");
    set.SetString(0x00201041, "DS", Ds({Dot(position, geometry.Normal())}));
    set.SetString(0x00280030, "DS", Ds({options.rowSpacingMm, options.columnSpacingMm}));
}

bool AddGrayPixels(CElementSet& set, const GeometrySeriesOptions& options,
                   const CStackGeometry& geometry, int slice, std::string* error) {
    const Rescale rescale = RescaleOf(options, slice);
    std::vector<int16_t> stored;
    stored.reserve(size_t(options.columns) * size_t(options.rows));
    for (int row = 0; row < options.rows; ++row) {
        for (int column = 0; column < options.columns; ++column) {
            const double value =
                GeometryValueAt(options.content, geometry.PixelCenter(slice, column, row));
            const double level = std::round((value - rescale.intercept) / rescale.slope);
            if (!(level >= INT16_MIN && level <= INT16_MAX)) {
                if (error)
                    *error = "value " + FormatDs(value) +
                             " does not fit 16-bit stored values "
                             "with slope " +
                             FormatDs(rescale.slope) + " and intercept " +
                             FormatDs(rescale.intercept);
                return false;
            }
            stored.push_back(static_cast<int16_t>(level));
        }
    }
    AddGrayPixelModule(set, options.rows, options.columns, true);
    if (options.pixels == GeometryPixels::kMonochrome1)
        set.SetString(0x00280004, "CS", "MONOCHROME1");
    const auto [low, high] = ValueRange(options, geometry);
    set.SetString(0x00281050, "DS", Ds({(low + high) / 2}));
    set.SetString(0x00281051, "DS", Ds({std::max(1.0, high - low)}));
    set.SetString(0x00281052, "DS", Ds({rescale.intercept}));
    set.SetString(0x00281053, "DS", Ds({rescale.slope}));
    set.SetString(0x00281054, "LO", "HU");
    set.SetBytes(0x7FE00010, "OW", LittleEndianBytes(stored));
    return true;
}

// Red is the value through the content's range, green its inverse, blue half of red: three
// channels that differ.
void AddColourPixels(CElementSet& set, const GeometrySeriesOptions& options,
                     const CStackGeometry& geometry, int slice) {
    const auto [low, high] = ValueRange(options, geometry);
    std::vector<uint8_t> pixels;
    pixels.reserve(size_t(options.columns) * size_t(options.rows) * 3);
    for (int row = 0; row < options.rows; ++row) {
        for (int column = 0; column < options.columns; ++column) {
            const double value =
                GeometryValueAt(options.content, geometry.PixelCenter(slice, column, row));
            double level = std::round(255 * (value - low) / std::max(1e-9, high - low));
            if (!std::isfinite(level)) level = 0;
            const auto red = static_cast<uint8_t>(std::clamp(level, 0.0, 255.0));
            pixels.insert(pixels.end(), {red, uint8_t(255 - red), uint8_t(red / 2)});
        }
    }
    set.SetUS(0x00280002, 3);
    set.SetString(0x00280004, "CS", "RGB");
    set.SetUS(0x00280006, 0);
    set.SetUS(0x00280010, static_cast<uint16_t>(options.rows));
    set.SetUS(0x00280011, static_cast<uint16_t>(options.columns));
    set.SetUS(0x00280100, 8);
    set.SetUS(0x00280101, 8);
    set.SetUS(0x00280102, 7);
    set.SetUS(0x00280103, 0);
    set.SetBytes(0x7FE00010, "OB", std::move(pixels));
}

bool BuildSlice(const GeometrySeriesOptions& options, const CStackGeometry& geometry, int slice,
                int instanceNumber, CElementSet* set, std::string* error) {
    const bool colour = options.pixels == GeometryPixels::kRgb;
    const PhantomOptions study = StudyOptions(options);
    AddPatientAndStudy(*set, study);
    const SeriesInfo series{options.seriesNumber, colour ? "OT" : "CT",
                            colour ? kSecondaryCaptureStorage : kCtImageStorage,
                            options.description.c_str(), kSeriesTime};
    AddSeriesAndInstance(*set, study, series, instanceNumber);
    AddImagePlane(*set, options, geometry, slice);
    if (colour) {
        set->SetString(0x00080008, "CS", "DERIVED\\SECONDARY");
        set->SetString(0x00080064, "CS", "WSD");
        AddColourPixels(*set, options, geometry, slice);
        return true;
    }
    set->SetString(0x00080008, "CS", "ORIGINAL\\PRIMARY\\AXIAL");
    set->SetString(0x00180060, "DS", "120");
    return AddGrayPixels(*set, options, geometry, slice, error);
}

}  // namespace

bool WriteGeometrySeries(const std::filesystem::path& seriesDir,
                         const GeometrySeriesOptions& options, std::string* error) {
    if (!ValidateGeometryOptions(options, error)) return false;
    const CStackGeometry geometry(options);
    const PhantomOptions study = StudyOptions(options);
    const std::vector<int> listing = GeometryListing(options);
    CSeriesStage stage(seriesDir);
    if (!stage.Begin(error)) return false;
    for (size_t i = 0; i < listing.size(); ++i) {
        CElementSet set;
        const int number = static_cast<int>(i) + 1;
        if (!BuildSlice(options, geometry, listing[i], number, &set, error) ||
            !WriteInstance(stage.FilePath(options.filePrefix, number), set, study, error))
            return false;
    }
    return stage.Commit(error);
}

}  // namespace vexel::phantom
