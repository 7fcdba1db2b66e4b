// PNG output read back by an independent decoder (ImageMagick): every pixel as written.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
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
    // One line per pixel: "x,y: (r,g,b) ...".
    const std::string text =
        test::RunCommand("convert '" + path.string() + "' -depth 8 txt:-", &code);
    ASSERT_EQ(code, 0);
    std::istringstream lines(text);
    std::string line;
    int checked = 0;
    while (std::getline(lines, line)) {
        unsigned x, y, r, g, b;
        if (std::sscanf(line.c_str(), "%u,%u: (%u,%u,%u", &x, &y, &r, &g, &b) != 5) continue;
        ASSERT_LT(x, kWidth);
        ASSERT_LT(y, kHeight);
        const uint32_t expected = bitmap[y * kStride + x];
        EXPECT_EQ(r, expected >> 16 & 0xFF);
        EXPECT_EQ(g, expected >> 8 & 0xFF);
        EXPECT_EQ(b, expected & 0xFF);
        ++checked;
    }
    EXPECT_EQ(checked, int(kWidth * kHeight));
}

}  // namespace
}  // namespace vexel
