// Codestreams whose SIZ marker asks for far more tiles than their bytes could hold (found by
// the jpeg2000 fuzz target): they must fail as corrupt. OpenJPEG 2.5 set up every tile while
// reading the header and spent seconds on each of these few-byte streams; the module now
// refuses them before OpenJPEG sees them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "codec_module.h"
#include "common/test_paths.h"
#include "dicom_pixel_bytes.h"

namespace vexel::test {
namespace {

class Jpeg2000TileCount : public ::testing::TestWithParam<const char*> {};

TEST_P(Jpeg2000TileCount, RefusedAsCorrupt) {
    std::string error;
    const auto module = CCodecModule::Load("jpeg2000", &error);
    ASSERT_TRUE(module) << error;
    const auto path = SourceDir() / "tests" / "data" / "j2k" / GetParam();
    const DecodeResult result = module->Decode(ReadFileBytes(path), 0, 0, 0, VEXEL_COLOUR_UNKNOWN,
                                               uint64_t{1} << 20);
    EXPECT_EQ(result.status, VEXEL_CODEC_CORRUPT) << path;
    EXPECT_TRUE(result.guardIntact);
}

INSTANTIATE_TEST_SUITE_P(Files, Jpeg2000TileCount,
                         ::testing::Values("tiles_24577_in_50_bytes.j2k",
                                           "tiles_19116_in_67_bytes.j2k"),
                         [](const auto& row) {
                             return std::string(row.param).substr(0, 11);
                         });

}  // namespace
}  // namespace vexel::test
