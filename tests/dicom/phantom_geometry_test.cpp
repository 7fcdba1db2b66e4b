// Geometry series read back by dcmdump: geometry and listing order as each case states them,
// and each marker sphere found through this test's own mapping from pixels to patient space.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "common/test_paths.h"
#include "phantom/geometry_series.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;
using phantom::Vec3;
using Dump = std::map<std::string, std::string>;  // "0020,0032" -> "a\b\c", "file" -> path

// Writes the series into a fresh folder and lists its files in name order (the shell's) from
// one dcmdump run; values over 4 KB, the pixel data, are not loaded.
std::vector<Dump> WriteAndDump(const std::string& name, const phantom::GeometrySeriesOptions& o) {
    const fs::path dir = test::ScratchDir("phantom_geometry_" + name) / "S";
    std::string error;
    EXPECT_TRUE(phantom::WriteGeometrySeries(dir, o, &error)) << error;
    std::vector<Dump> dumps;
    std::istringstream lines(test::RunCommand("dcmdump -q +L -M +F " + test::Quote(dir) + "/*"));
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("# dcmdump"))
            dumps.emplace_back()["file"] = line.substr(line.find(": ") + 2);
        const size_t hash = line.rfind(" #");
        if (dumps.empty() || !line.starts_with("(") || hash == line.npos || hash < 15) continue;
        std::string value = line.substr(15, hash - 15);
        value.erase(value.find_last_not_of(' ') + 1);
        if (value.starts_with("[")) value = value.substr(1, value.size() - 2);
        dumps.back()[line.substr(1, 9)] = value;
    }
    return dumps;
}

std::vector<double> Numbers(const Dump& dump, const std::string& tag) {
    std::string text = dump.contains(tag) ? dump.at(tag) : "";
    std::replace(text.begin(), text.end(), '\\', ' ');
    std::istringstream in(text);
    return {std::istream_iterator<double>(in), std::istream_iterator<double>()};
}

Vec3 At(const std::vector<double>& v, size_t first) {
    return v.size() < first + 3 ? Vec3{NAN, NAN, NAN} : Vec3{v[first], v[first + 1], v[first + 2]};
}

Vec3 Position(const Dump& dump) {
    return At(Numbers(dump, "0020,0032"), 0);
}

// Modality value of one pixel: the pixel data dcmdump writes out (into "raw" beside the
// series folder, once per file), through the file's rescale.
double PixelValue(const Dump& dump, int column, int row) {
    static std::map<std::string, std::vector<uint8_t>> cache;
    const fs::path file = dump.at("file");
    std::vector<uint8_t>& raw = cache[file];
    if (raw.empty()) {
        const fs::path dir = file.parent_path().parent_path() / "raw";
        test::RunCommand("mkdir -p " + test::Quote(dir) + " && dcmdump -q +W " + test::Quote(dir) +
                         " " + test::Quote(file));
        raw = test::ReadFileBytes(dir / (file.filename().string() + ".0.raw"));
    }
    const size_t at = 2 * (size_t(row) * size_t(Numbers(dump, "0028,0011").at(0)) + size_t(column));
    if (at + 1 >= raw.size()) return NAN;
    const auto stored = int16_t(uint16_t(raw[at] | raw[at + 1] << 8));
    return stored * Numbers(dump, "0028,1053").at(0) + Numbers(dump, "0028,1052").at(0);
}

using Options = phantom::GeometrySeriesOptions;
using Change = std::function<void(Options&)>;
struct GeometryRow {
    const char* name;
    phantom::GeometryCase which;
    phantom::ListingOrder order;
    double orientation[6];
    Vec3 stack;  // unit step between slices
    double tilt;
    std::vector<int> missing;  // of 67 slices 1.5 mm apart
    bool alternateSlopes;
};

using Case = phantom::GeometryCase;
using Order = phantom::ListingOrder;
// clang-format off
const GeometryRow kRows[] = {
    {"axial", Case::kAxial, Order::kAscending, {1, 0, 0, 0, 1, 0}, {0, 0, 1}, 0, {}, false},
    {"coronal", Case::kCoronal, Order::kDescending, {1, 0, 0, 0, 0, -1}, {0, 1, 0}, 0, {}, false},
    {"sagittal", Case::kSagittal, Order::kShuffled, {0, 1, 0, 0, 0, -1}, {-1, 0, 0}, 0, {}, false},
    {"oblique", Case::kOblique, Order::kAscending,
     {0.8660254037844386, 0.5, 0, -0.4698463103929542, 0.8137976813493737, 0.3420201433256687},
     {0.1710100716628344, -0.2961981327260238, 0.9396926207859084}, 0, {}, false},
    {"tilted", Case::kTilted, Order::kShuffled, {1, 0, 0, 0, 0.9483236552061993, 0.3173046564050923},
     {0, 0, 1}, 18.5, {}, false},
    {"gaps", Case::kGaps, Order::kDescending, {1, 0, 0, 0, 1, 0}, {0, 0, 1}, 0, {10, 11, 12}, true},
};
// clang-format on

class PhantomGeometryTest : public testing::TestWithParam<GeometryRow> {};

TEST_P(PhantomGeometryTest, DcmdumpReadsTheStatedGeometryAndFindsEveryMarker) {
    if (!test::HaveProgram("dcmdump")) GTEST_SKIP() << "dcmdump is not on PATH";
    const GeometryRow& row = GetParam();
    Options options = phantom::GeometryCaseOptions(row.which);
    options.order = row.order;
    if (row.alternateSlopes) options.rescales = {{1, -1024}, {2, -1024}};
    const std::vector<Dump> dumps = WriteAndDump(row.name, options);
    ASSERT_EQ(dumps.size(), 67 - row.missing.size());

    const Vec3 r = At({row.orientation, row.orientation + 6}, 0);
    const Vec3 c = At({row.orientation, row.orientation + 6}, 3);
    std::vector<double> offsets;  // along the stack from the first file, in file order
    std::set<double> slopes;
    for (size_t i = 0; i < dumps.size(); ++i) {
        SCOPED_TRACE(dumps[i].at("file"));
        for (size_t k = 0; k < 6; ++k)
            EXPECT_NEAR(Numbers(dumps[i], "0020,0037").at(k), row.orientation[k], 1e-12);
        EXPECT_EQ(Numbers(dumps[i], "0028,0030"), (std::vector<double>{1.2, 0.9}));
        EXPECT_EQ(Numbers(dumps[i], "0018,0050"), std::vector<double>{1.5});
        EXPECT_EQ(Numbers(dumps[i], "0018,1120"), std::vector<double>{row.tilt});
        EXPECT_EQ(dumps[i].count("0018,0088"), 0u);
        EXPECT_EQ(dumps[i].at("0020,0052"), std::string(phantom::kDefaultUidRoot) + ".3");
        EXPECT_EQ(Numbers(dumps[i], "0020,0013"), std::vector<double>{double(i + 1)});
        slopes.insert(Numbers(dumps[i], "0028,1053").at(0));
        // Every position lies on the line through the first one along the stated stack.
        const Vec3 d = Position(dumps[i]) - Position(dumps[0]);
        offsets.push_back(phantom::Dot(d, row.stack));
        const Vec3 across = d - offsets.back() * row.stack;
        EXPECT_NEAR(phantom::Dot(across, across), 0, 1e-16);
    }
    EXPECT_EQ(slopes.size(), row.alternateSlopes ? 2u : 1u);
    EXPECT_EQ(std::is_sorted(offsets.begin(), offsets.end()), row.order == Order::kAscending);
    EXPECT_EQ(std::is_sorted(offsets.rbegin(), offsets.rend()), row.order == Order::kDescending);
    std::sort(offsets.begin(), offsets.end());
    for (int k = 0, n = 0; k < 67; ++k) {
        if (std::count(row.missing.begin(), row.missing.end(), k)) continue;
        ASSERT_NEAR(offsets[size_t(n++)] - offsets[0], 1.5 * k, 1e-9) << "slice " << k;
    }

    // Each marker: the nearest slice, then column and row by projecting on the directions.
    const Vec3 normal = phantom::Cross(r, c);
    for (const phantom::MarkerSphere& sphere : phantom::GeometryCaseSpheres()) {
        auto distance = [&](const Dump& d) {
            return std::abs(phantom::Dot(sphere.center - Position(d), normal));
        };
        const Dump& best = *std::min_element(dumps.begin(), dumps.end(), [&](auto& a, auto& b) {
            return distance(a) < distance(b);
        });
        const Vec3 d = sphere.center - Position(best);
        const int column = int(std::lround(phantom::Dot(d, r) / 0.9));
        const int line = int(std::lround(phantom::Dot(d, c) / 1.2));
        const int away = int(std::ceil(2 * sphere.radiusMm / 0.9)) * (column < 56 ? 1 : -1);
        SCOPED_TRACE(best.at("file") + " at " + std::to_string(column) + "," +
                     std::to_string(line));
        EXPECT_EQ(PixelValue(best, column, line), 1000);
        EXPECT_EQ(PixelValue(best, column + away, line), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, PhantomGeometryTest, testing::ValuesIn(kRows),
                         [](const auto& p) { return std::string(p.param.name); });

// Attributes the options switch, as dcmdump lists them on every file ("" for absent).
TEST(PhantomGeometryOptions, EveryFileCarriesTheChosenAttributes) {
    if (!test::HaveProgram("dcmdump")) GTEST_SKIP() << "dcmdump is not on PATH";
    using Pixels = phantom::GeometryPixels;
    // clang-format off
    const std::tuple<const char*, Change, const char*, const char*> rows[] = {
        {"no_for", [](Options& o) { o.writeFrameOfReference = false; }, "0020,0052", ""},
        {"other_for", [](Options& o) { o.frameOfReferenceUid = "1.2.3.4"; }, "0020,0052", "1.2.3.4"},
        {"thickness", [](Options& o) { o.sliceThicknessMm = 0; }, "0018,0050", "0"},
        {"spacing", [](Options& o) { o.spacingBetweenSlicesMm = 7.5; }, "0018,0088", "7.5"},
        {"mono1", [](Options& o) { o.pixels = Pixels::kMonochrome1; }, "0028,0004", "MONOCHROME1"},
        {"rgb", [](Options& o) { o.pixels = Pixels::kRgb; }, "0028,0002", "3"},
    };
    // clang-format on
    for (const auto& [name, change, tag, expected] : rows) {
        Options options;
        options.columns = options.rows = 8;
        options.slices = 3;
        change(options);
        const std::vector<Dump> dumps = WriteAndDump(name, options);
        EXPECT_EQ(dumps.size(), 3u) << name;
        for (const Dump& dump : dumps)
            EXPECT_EQ(dump.contains(tag) ? dump.at(tag) : "", expected) << name;
    }
}

// A ramp along y in the oblique case and the cube's edges in the axial one, at pixel centres
// this test places itself from the dumped geometry.
TEST(PhantomGeometryContent, RampAndCubeHoldTheirValuesWhereTheGeometrySaysTheyAre) {
    if (!test::HaveProgram("dcmdump")) GTEST_SKIP() << "dcmdump is not on PATH";
    Options ramp = phantom::GeometryCaseOptions(Case::kOblique);
    ramp.content = {0, phantom::LinearRamp{1, 100, 2}, {}, {}};
    std::vector<Dump> dumps = WriteAndDump("ramp", ramp);
    ASSERT_EQ(dumps.size(), 67u);
    for (const auto& [slice, column, row] : {std::tuple{0, 0, 0}, {33, 111, 0}, {66, 50, 83}}) {
        const Dump& dump = dumps[size_t(slice)];
        const std::vector<double> iop = Numbers(dump, "0020,0037");
        const Vec3 p = Position(dump) + (column * 0.9) * At(iop, 0) + (row * 1.2) * At(iop, 3);
        EXPECT_NEAR(PixelValue(dump, column, row), 100 + 2 * p.y, 0.5);
        EXPECT_NEAR(phantom::GeometryValueAt(ramp.content, p), 100 + 2 * p.y, 1e-9);
    }
    // Slice 25 is z = -12 (the cube's middle); row 31 and column 41 pass through it.
    dumps = WriteAndDump("cube", phantom::GeometryCaseOptions(Case::kAxial));
    ASSERT_EQ(Position(dumps.at(25)).z, -12);
    int inRow = 0, inColumn = 0;
    for (int i = 0; i < 112; ++i) {
        inRow += PixelValue(dumps[25], i, 31) == 500;
        inColumn += i < 84 && PixelValue(dumps[25], 41, i) == 500;
    }
    EXPECT_NEAR(inRow * 0.9, 50, 0.9);
    EXPECT_NEAR(inColumn * 1.2, 50, 1.2);
}

// Options that cannot be written fail with a reason and leave no folder behind.
TEST(PhantomGeometryOptions, UnwritableOptionsFailBeforeWriting) {
    // clang-format off
    const std::pair<const char*, Change> cases[] = {
        {"skewed axes", [](Options& o) { o.columnDirection = {1, 1, 0}; }},
        {"offsets not increasing", [](Options& o) { o.sliceOffsetsMm = {0, 2, 2, 3}; }},
        {"stack in the plane", [](Options& o) { o.stackDirection = {0, 1, 0.1}; }},
        {"tilt 75", [](Options& o) { o.gantryTiltDegrees = 75; }},
        {"two billion slices", [](Options& o) { o.slices = 2000000000; }},
        {"value beyond 16 bits", [](Options& o) { o.content.background = 40000; }},
        {"slope 0", [](Options& o) { o.rescales = {{0, 0}}; }},
        {"prefix leaving the folder", [](Options& o) { o.filePrefix = "../x"; }},
        {"bad frame of reference", [](Options& o) { o.frameOfReferenceUid = "1.2.x"; }},
    };
    // clang-format on
    const fs::path dir = test::ScratchDir("phantom_geometry_invalid");
    for (const auto& [name, change] : cases) {
        Options options;
        change(options);
        std::string error;
        EXPECT_FALSE(phantom::WriteGeometrySeries(dir / "S", options, &error)) << name;
        EXPECT_FALSE(error.empty()) << name;
        EXPECT_TRUE(fs::is_empty(dir)) << name;
    }
}

}  // namespace
}  // namespace vexel
