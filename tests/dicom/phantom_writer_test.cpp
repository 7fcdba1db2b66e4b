// The phantom writer checked from outside: DCMTK (dcmdump, dcm2pnm) reads the files, and the
// analytic phantom gives the pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
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

using test::Quote;

// The numbers dcmdump prints for the first occurrence of tag ("gggg,eeee", lower case), from
// between the brackets or after the VR. dcmdump runs once per file (never rewritten).
std::vector<double> DumpNumbers(const fs::path& file, const std::string& tag) {
    static std::map<std::string, std::string> dumps;
    auto found = dumps.find(file.string());
    if (found == dumps.end())
        found = dumps.emplace(file.string(), test::RunCommand("dcmdump -q " + Quote(file))).first;
    const size_t at = found->second.find("(" + tag + ")");
    if (at == std::string::npos) return {};
    std::string value = found->second.substr(at + 15, found->second.find(" #", at) - at - 15);
    std::replace_if(value.begin(), value.end(), [](char c) { return c == '[' || c == ']' || c == '\\'; }, ' ');
    std::stringstream in(value);
    std::vector<double> numbers;
    for (double number; in >> number;)
        numbers.push_back(number);
    return numbers;
}

// Pixel data bytes as dcmdump writes them out.
const Bytes& DumpPixelBytes(const fs::path& file) {
    static std::map<std::string, Bytes> cache;
    if (const auto it = cache.find(file.string()); it != cache.end()) return it->second;
    const fs::path dir = test::ScratchDir("phantom_raw");
    test::RunCommand("dcmdump -q +W " + Quote(dir) + " " + Quote(file) + " >/dev/null");
    return cache[file.string()] = test::ReadFileBytes(dir / (file.filename().string() + ".0.raw"));
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

fs::path SliceFile(const fs::path& seriesDir, const std::string& prefix, int slice) {
    char name[32];
    std::snprintf(name, sizeof name, "%04d.dcm", slice + 1);
    return seriesDir / (prefix + name);
}

// Every voxel of chosen slices agrees with the analytic phantom at the centre that the file's
// own geometry gives it: later tests rely on comparing against the phantom this way.
class PhantomSliceTest : public testing::TestWithParam<std::tuple<const char*, int>> {};

TEST_P(PhantomSliceTest, EveryVoxelMatchesAnalyticPhantom) {
    if (!test::HaveProgram("dcmdump")) GTEST_SKIP() << "dcmdump is not on PATH";
    const auto [prefix, slice] = GetParam();
    const bool isCt = std::string(prefix) == "CT";
    const fs::path file = SliceFile(StudyDir() / prefix, prefix, slice);
    const std::vector<double> position = DumpNumbers(file, "0020,0032");
    const std::vector<double> spacing = DumpNumbers(file, "0028,0030");  // row, column
    const std::vector<double> shape = DumpNumbers(file, "0028,0010"),
                              width = DumpNumbers(file, "0028,0011"),
                              slope = DumpNumbers(file, "0028,1053"),
                              intercept = DumpNumbers(file, "0028,1052");
    ASSERT_EQ(position.size() + spacing.size() + shape.size() + width.size() + slope.size() +
                  intercept.size(), 3u + 2u + 4u);
    const int rows = int(shape[0]), columns = int(width[0]);
    const Bytes pixels = DumpPixelBytes(file);
    ASSERT_EQ(pixels.size(), size_t(columns) * size_t(rows) * 2);

    const PhantomOptions options;
    const CAnalyticPhantom phantom = MakePhantom(options);
    const double background = PetBackgroundBqPerMl(options);
    int mismatches = 0;
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            const Vec3 p{position[0] + column * spacing[1], position[1] + row * spacing[0],
                         position[2]};
            const size_t i = 2 * (size_t(row) * size_t(columns) + size_t(column));
            const auto stored = static_cast<uint16_t>(pixels[i] | pixels[i + 1] << 8);
            const double value = (isCt ? int16_t(stored) : stored) * slope[0] + intercept[0];
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
        EXPECT_EQ(phantom.HuAt({0, 0, position[2]}), 0.0) << file;
        Bytes stored;  // the writer's own slice, which other tests compare with
        for (const int16_t v : CtSliceStored(options, slice))
            stored.insert(stored.end(), {uint8_t(v & 0xFF), uint8_t(uint16_t(v) >> 8)});
        EXPECT_EQ(stored, pixels);
    }
}

INSTANTIATE_TEST_SUITE_P(Slices, PhantomSliceTest,
                         testing::Values(std::make_tuple("CT", 0), std::make_tuple("CT", 79),
                                         std::make_tuple("CT", 159), std::make_tuple("PT", 39)));

}  // namespace
}  // namespace vexel::phantom
