// Text on the surface canvas comes from a cache of rendered lines: each line must land where
// its alignment puts it, in its own size and colour, with its shadow, inside the clip, and
// leave the surface's top byte clear, whether it was just rendered or found in the cache.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/gui/surface_canvas.h"

namespace vexel {
namespace {

struct Ink {
    int32_t left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
    uint32_t brightest = 0;  // the pixel with the largest red + green + blue
    bool shadowRightOfText = false;
};

Ink InkOf(const std::vector<uint32_t>& pixels, int32_t width) {
    Ink ink;
    uint32_t best = 0;
    for (size_t i = 0; i < pixels.size(); ++i) {
        const uint32_t p = pixels[i];
        if (p == 0x00202020u) continue;
        const int32_t x = int32_t(i % size_t(width)), y = int32_t(i / size_t(width));
        ink.left = std::min(ink.left, x), ink.right = std::max(ink.right, x);
        ink.top = std::min(ink.top, y), ink.bottom = std::max(ink.bottom, y);
        const uint32_t sum = (p >> 16 & 0xFF) + (p >> 8 & 0xFF) + (p & 0xFF);
        if (sum > best) best = sum, ink.brightest = p;
        // Black shadow just right of a bright text pixel.
        if (p < 0x00101010u && x > 0 && (pixels[i - 1] & 0xFF0000u) > 0x800000u)
            ink.shadowRightOfText = true;
    }
    return ink;
}

TEST(SurfaceCanvasText, LinesLandAlignedInTheirSizeColourAndClip) {
    ASSERT_TRUE(EnsureGuiApplication());
    constexpr int32_t kWidth = 300, kHeight = 80;
    const CanvasRect box{40, 20, 220, 30};
    struct Case {
        TextAlign align;
        int32_t font;
        uint32_t colour;
        bool shadow;
        bool clipLeftHalf;
    };
    for (int pass = 0; pass < 2; ++pass) {  // rendered, then from the cache
        for (const Case& c : {Case{TextAlign::Right, 14, 0xFF9696, true, false},
                              Case{TextAlign::Centre, 28, 0xFFFF96, false, false},
                              Case{TextAlign::Left, 28, 0xFF9696, true, false},
                              Case{TextAlign::Left, 28, 0xFFFF96, true, true}}) {
            SCOPED_TRACE(testing::Message() << "pass " << pass << " align " << int(c.align)
                                            << " font " << c.font << " clip " << c.clipLeftHalf);
            std::vector<uint32_t> pixels(size_t(kWidth) * kHeight, 0x00202020u);
            CanvasSize size;
            {
                auto canvas = CreateSurfaceCanvas(pixels.data(), kWidth, kHeight, kWidth);
                ASSERT_TRUE(canvas->SetFont(c.font));
                const CanvasRect clip{0, 0, kWidth / 2, kHeight};
                if (c.clipLeftHalf) canvas->SetClip(&clip);
                canvas->DrawShadowedText("Lung 12", box, c.align, c.colour, c.shadow ? 1 : 0,
                                         c.shadow ? -1 : 0);
                size = canvas->MeasureText("Lung 12");
            }
            for (uint32_t p : pixels) ASSERT_EQ(p >> 24, 0u) << "the top byte stays clear";
            const int32_t expectedLeft = c.align == TextAlign::Left    ? box.x
                                         : c.align == TextAlign::Right ? box.Right() - size.width
                                                                       : box.x + (box.width - size.width) / 2;
            const Ink ink = InkOf(pixels, kWidth);
            ASSERT_GE(ink.right, 0) << "no ink";
            EXPECT_NEAR(ink.left, expectedLeft, 2);
            if (c.clipLeftHalf) EXPECT_LT(ink.right, kWidth / 2);
            else EXPECT_NEAR(ink.right, expectedLeft + size.width, 3);
            // The glyphs fill most of the font's height, centred on the box.
            EXPECT_GE(ink.bottom - ink.top, c.font / 2);
            EXPECT_NEAR((ink.top + ink.bottom) / 2, box.y + box.height / 2, c.font / 3 + 1);
            EXPECT_EQ(ink.brightest, c.colour) << std::hex << ink.brightest;
            EXPECT_EQ(ink.shadowRightOfText, c.shadow);
        }
    }
}

}  // namespace
}  // namespace vexel
