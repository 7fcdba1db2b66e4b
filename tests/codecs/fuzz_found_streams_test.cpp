// Streams that once hung or crawled in a codec library; each must fail as corrupt at once.
// JPEG-LS streams that end without an end-of-image marker: CharLS 2.4 spun for about eight
// seconds on each. JPEG 2000 codestreams whose SIZ marker asks for far more tiles than their
// bytes could hold (found by the jpeg2000 fuzz target): OpenJPEG 2.5 set up every tile while
// reading the header; the module now refuses them before OpenJPEG sees them.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "codec_module.h"
#include "common/test_paths.h"
#include "test_streams.h"

namespace vexel::test {
namespace {

TEST(FuzzFoundStreams, FailAsCorruptAtOnce) {
    const std::pair<const char*, const char*> folders[] = {{"jpeg4", "jpegls"},
                                                           {"jpeg2000", "j2k"}};
    int files = 0;
    for (const auto& [moduleName, folder] : folders) {
        std::string error;
        const auto module = CCodecModule::Load(moduleName, &error);
        ASSERT_NE(module, nullptr) << error;
        for (const auto& entry :
             std::filesystem::directory_iterator(SourceDir() / "tests" / "data" / folder)) {
            SCOPED_TRACE(entry.path().filename().string());
            const auto start = std::chrono::steady_clock::now();
            const DecodeResult result = module->Decode(ReadFileBytes(entry.path()), 0, 0, 0,
                                                       VEXEL_COLOUR_UNKNOWN, 1u << 20);
            const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
            EXPECT_EQ(result.status, VEXEL_CODEC_CORRUPT);
            EXPECT_TRUE(result.guardIntact);
            // A generous bound: the fault took seconds, a healthy failure takes microseconds.
            EXPECT_LT(seconds.count(), 2.0);
            ++files;
        }
    }
    EXPECT_EQ(files, 6);
}

}  // namespace
}  // namespace vexel::test
