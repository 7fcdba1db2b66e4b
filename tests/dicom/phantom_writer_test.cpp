// The phantom writer checked from outside: DCMTK (dcmdump, dcm2pnm) reads the files, and the
// analytic phantom gives the pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/test_paths.h"
#include "phantom/phantom_writer.h"

namespace vexel::phantom {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

#define PHANTOM_REQUIRE_PROGRAM(name)                                                  \
    do {                                                                               \
        if (!::vexel::test::HaveProgram(name)) GTEST_SKIP() << name " is not on PATH"; \
    } while (0)

std::string Quote(const fs::path& path) {
    return "'" + path.string() + "'";
}

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The value dcmdump prints for the first occurrence of tag ("gggg,eeee", lower case): the
// text between the brackets, or the number after the VR for binary VRs; empty when absent.
// dcmdump runs once per file; many cases read the same few files, never rewritten.
std::string DumpValue(const fs::path& file, const std::string& tag) {
    static std::map<std::string, std::string> dumps;
    auto found = dumps.find(file.string());
    if (found == dumps.end()) {
        found = dumps.emplace(file.string(), test::RunCommand("dcmdump -q -Un " + Quote(file))).first;
    }
    std::stringstream in(found->second);
    for (std::string line; std::getline(in, line);) {
        const size_t at = line.find("(" + tag + ")");
        if (at == std::string::npos) continue;
        const std::string body = line.substr(at, line.find(" #", at) - at);
        const size_t open = body.find('[');
        if (open != std::string::npos) return body.substr(open + 1, body.rfind(']') - open - 1);
        if (body.size() < 15 || body.find("no value") != std::string::npos) return {};
        std::string value = body.substr(15);
        value.erase(value.find_last_not_of(' ') + 1);
        return value;
    }
    return {};
}

std::vector<double> DumpNumbers(const fs::path& file, const std::string& tag) {
    std::vector<double> numbers;
    std::stringstream in(DumpValue(file, tag));
    for (std::string item; std::getline(in, item, '\\');) numbers.push_back(std::stod(item));
    return numbers;
}

// Pixel data bytes as dcmdump writes them out.
const Bytes& DumpPixelBytes(const fs::path& file) {
    static std::map<std::string, Bytes> cache;
    if (const auto it = cache.find(file.string()); it != cache.end()) return it->second;
    const fs::path dir = test::ScratchDir("phantom_raw");
    test::RunCommand("dcmdump -q +W " + Quote(dir) + " " + Quote(file) + " >/dev/null");
    return cache[file.string()] = ReadFile(dir / (file.filename().string() + ".0.raw"));
}

int32_t Sample16(const Bytes& bytes, size_t index, bool isSigned) {
    const auto value = static_cast<uint16_t>(bytes.at(2 * index) | (bytes.at(2 * index + 1) << 8));
    return isSigned ? static_cast<int16_t>(value) : value;
}

Bytes LittleEndian16(const std::vector<int16_t>& values) {
    Bytes bytes;
    for (int16_t value : values) {
        bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(value) & 0xFF));
        bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(value) >> 8));
    }
    return bytes;
}

// The sample study, written once per process.
const fs::path& StudyDir() {
    static const fs::path dir = [] {
        const fs::path study = test::ScratchDir("phantom_study");
        std::string error;
        EXPECT_TRUE(WriteStudy(study, {true, true, true, true}, PhantomOptions{}, &error)) << error;
        return study;
    }();
    return dir;
}

// ---------------------------------------------------------------------------------------------
// Pixels against the analytic phantom, through the geometry that DCMTK reads from the files.

struct SeriesGeometry {
    double x0 = 0, y0 = 0;
    double pixelSpacing = 0, sliceSpacing = 0;
    int columns = 0, rows = 0, slices = 0;
};

SeriesGeometry ReadGeometry(const fs::path& seriesDir, const std::string& prefix) {
    const fs::path first = seriesDir / (prefix + "0001.dcm");
    SeriesGeometry g;
    const std::vector<double> position = DumpNumbers(first, "0020,0032");
    const std::vector<double> spacing = DumpNumbers(first, "0028,0030");
    if (position.size() != 3 || spacing.size() != 2) {
        ADD_FAILURE() << "no geometry in " << first;
        return g;
    }
    g.x0 = position[0];
    g.y0 = position[1];
    g.pixelSpacing = spacing[1];  // column spacing: along x
    g.sliceSpacing = DumpNumbers(first, "0018,0088").at(0);
    g.columns = std::stoi(DumpValue(first, "0028,0011"));
    g.rows = std::stoi(DumpValue(first, "0028,0010"));
    g.slices = static_cast<int>(
        std::distance(fs::directory_iterator(seriesDir), fs::directory_iterator()));
    return g;
}

fs::path SliceFile(const fs::path& seriesDir, const std::string& prefix, int slice) {
    char name[32];
    std::snprintf(name, sizeof name, "%04d.dcm", slice + 1);
    return seriesDir / (prefix + name);
}

// Every voxel of chosen slices agrees with the analytic phantom at the centre that the file's
// own geometry gives it: later tests rely on comparing against the phantom this way.
class PhantomSliceTest : public testing::TestWithParam<std::tuple<const char*, int>> {};

TEST_P(PhantomSliceTest, EveryVoxelMatchesAnalyticPhantom) {
    PHANTOM_REQUIRE_PROGRAM("dcmdump");
    const auto [prefix, slice] = GetParam();
    const bool isCt = std::string(prefix) == "CT";
    const fs::path seriesDir = StudyDir() / prefix;
    const SeriesGeometry g = ReadGeometry(seriesDir, prefix);
    const fs::path file = SliceFile(seriesDir, prefix, slice);
    const double z = DumpNumbers(file, "0020,0032").at(2);
    const double slope = std::stod(DumpValue(file, "0028,1053"));
    const double intercept = std::stod(DumpValue(file, "0028,1052"));
    const Bytes pixels = DumpPixelBytes(file);
    ASSERT_EQ(pixels.size(), size_t(g.columns) * size_t(g.rows) * 2);

    const PhantomOptions options;
    const CAnalyticPhantom phantom = MakePhantom(options);
    const double background = PetBackgroundBqPerMl(options);
    int mismatches = 0;
    for (int row = 0; row < g.rows; ++row) {
        for (int column = 0; column < g.columns; ++column) {
            const Vec3 p{g.x0 + column * g.pixelSpacing, g.y0 + row * g.pixelSpacing, z};
            const size_t index = size_t(row) * size_t(g.columns) + size_t(column);
            const double value = Sample16(pixels, index, isCt) * slope + intercept;
            const double expected = isCt ? phantom.HuAt(p) : phantom.SuvAt(p) * background;
            if (std::abs(value - expected) > 1e-6 * std::max(1.0, std::abs(expected))) {
                if (++mismatches == 1)
                    ADD_FAILURE() << file << " column " << column << " row " << row << ": " << value
                                  << " != " << expected;
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
    if (isCt) {
        // The body spans every slice, so the sample study never opens on air.
        EXPECT_EQ(phantom.HuAt({0, 0, z}), 0.0) << file;
        EXPECT_EQ(LittleEndian16(CtSliceStored(options, slice)), pixels);
    }
}

INSTANTIATE_TEST_SUITE_P(Slices, PhantomSliceTest,
                         testing::Values(std::make_tuple("CT", 0), std::make_tuple("CT", 79),
                                         std::make_tuple("CT", 159),
                                         std::make_tuple("PT", 39)));

TEST(PhantomPixels, MultiFrameHoldsCtSlicesInOrder) {
    PHANTOM_REQUIRE_PROGRAM("dcmdump");
    const fs::path dir = StudyDir();
    const Bytes frames = DumpPixelBytes(dir / "MF" / "MF0001.dcm");
    const size_t frameBytes = 256 * 256 * 2;
    ASSERT_EQ(frames.size(), 10 * frameBytes);
    for (int frame = 0; frame < 10; ++frame) {
        const int slice = frame * 16;  // ten frames spread over 160 slices
        EXPECT_EQ(MultiFrameSourceSlice(PhantomOptions{}, frame), slice);
        const Bytes ct = DumpPixelBytes(SliceFile(dir / "CT", "CT", slice));
        EXPECT_TRUE(std::equal(ct.begin(), ct.end(), frames.begin() + frame * frameBytes))
            << "frame " << frame;
    }
}

}  // namespace
}  // namespace vexel::phantom
