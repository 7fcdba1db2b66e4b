// JPEG-LS streams that run out of data without an end-of-image marker. CharLS 2.4 used to
// spin for about eight seconds on each before failing; they must fail at once, cleanly.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "codec_module.h"
#include "common/test_paths.h"

namespace vexel::test {
namespace {

std::vector<uint8_t> ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(JpegLsRegression, UnterminatedStreamsFailQuickly) {
    std::string error;
    const auto module = CCodecModule::Load("jpeg4", &error);
    ASSERT_NE(module, nullptr) << error;
    int files = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(SourceDir() / "tests" / "data" / "jpegls")) {
        if (entry.path().extension() != ".jls") continue;
        SCOPED_TRACE(entry.path().filename().string());
        const std::vector<uint8_t> stream = ReadAll(entry.path());
        ASSERT_FALSE(stream.empty());
        const auto start = std::chrono::steady_clock::now();
        const DecodeResult result = module->Decode(stream, 0, 0, 0, VEXEL_COLOUR_UNKNOWN, 1u << 20);
        const auto seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start);
        EXPECT_EQ(result.status, VEXEL_CODEC_CORRUPT);
        EXPECT_TRUE(result.guardIntact);
        // A generous bound: the fault took seconds, a healthy failure takes microseconds.
        EXPECT_LT(seconds.count(), 2.0);
        ++files;
    }
    EXPECT_EQ(files, 4);
}

}  // namespace
}  // namespace vexel::test
