// PNG output read back by an independent decoder (ImageMagick): every pixel as written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/test_paths.h"
#include "imaging/png_writer.h"

namespace vexel {
namespace {

TEST(PngWriter, ImageMagickReadsBackEveryPixel) {
    if (!test::HaveProgram("convert")) GTEST_SKIP() << "ImageMagick's convert is not installed";
    constexpr uint32_t kWidth = 37, kHeight = 11, kStride = 40;
    std::vector<uint32_t> bitmap(kStride * kHeight, 0xFFFFFFFF);  // padding must not show
    for (uint32_t y = 0; y < kHeight; ++y) {
        for (uint32_t x = 0; x < kWidth; ++x) {
            bitmap[y * kStride + x] =
                (x * 7 % 256) << 16 | (y * 23 % 256) << 8 | ((x ^ y) * 5 % 256);
        }
    }
    const auto path = test::ScratchDir("png-writer") / "out.png";
    ASSERT_TRUE(WritePng(path, bitmap.data(), kWidth, kHeight, kStride));
    int code = -1;
    const std::string rgb =
        test::RunCommand("convert '" + path.string() + "' -depth 8 rgb:-", &code);
    ASSERT_EQ(code, 0);
    std::string expected;
    for (uint32_t y = 0; y < kHeight; ++y) {
        for (uint32_t x = 0; x < kWidth; ++x) {
            const uint32_t pixel = bitmap[y * kStride + x];
            expected += {char(pixel >> 16), char(pixel >> 8), char(pixel)};
        }
    }
    EXPECT_EQ(rgb, expected);
}

}  // namespace
}  // namespace vexel
