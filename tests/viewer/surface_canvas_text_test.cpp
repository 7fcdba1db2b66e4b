// Text on the surface canvas comes from a cache of rendered lines: each line must land where
// its alignment puts it, in its own size and colour, with its shadow, inside the clip, and
// leave the surface's top byte clear, whether it was just rendered or found in the cache.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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

namespace vexel {
namespace {

// At device pixel ratio r: a 1-pixel line and a sharp pen of 3 are round(r) and round(3r)
// device pixels wide, a smooth pen of 1 leaves r pixels of ink across, text cells grow by r
// and shadows move round(r) pixels; positions stay device pixels.
TEST(SurfaceCanvasRatio, PensFontsAndShadowsScaleWithTheRatio) {
    ASSERT_TRUE(EnsureGuiApplication());
    constexpr int32_t kSide = 120;
    for (const float ratio : {1.0f, 1.5f, 2.0f}) {
        SCOPED_TRACE(testing::Message() << "ratio " << ratio);
        std::vector<uint32_t> pixels(size_t(kSide) * kSide, 0x00202020u);  // shadows show
        auto canvas = CreateSurfaceCanvas(pixels.data(), kSide, kSide, kSide, ratio);
        ASSERT_TRUE(canvas && canvas->SetFont(12));
        canvas->DrawLine(10, 20, 100, 20, 0xFFFFFF);
        const CanvasPoint sharp[] = {{10, 50.5f}, {100, 50.5f}},
                          smooth[] = {{10, 80.5f}, {100, 80.5f}};
        canvas->DrawPolyline(sharp, 0xFFFFFF, 3, false);
        canvas->DrawPolyline(smooth, 0xFFFFFF, 1, true);
        EXPECT_NEAR(canvas->MeasureText("Hg").height, 12 * ratio, 1.0);
        canvas->DrawShadowedText("I", {10, 90, 100, 30}, TextAlign::Left, 0xFFFFFF, 1, 0);
        canvas.reset();
        const auto at = [&](int x, int y) { return pixels[size_t(y) * kSide + size_t(x)] & 0xFF; };
        int line = 0, band = 0, bright = -1, shadowEnd = -1;
        double ink = 0;
        for (int y = 10; y < 65; ++y)
            (y < 35 ? line : band) += at(50, y) == 255 ? 1 : 0;
        for (int y = 70; y < 90; ++y)
            ink += (at(50, y) - 0x20) / double(0xFF - 0x20);
        for (int x = 0; x < kSide; ++x) {
            if (at(x, 105) > 0xC0) bright = x;
            if (at(x, 105) < 0x10) shadowEnd = x;
        }
        EXPECT_EQ(at(50, 20), 255u) << "the line starts on its row";
        EXPECT_EQ(line, std::lround(ratio));
        EXPECT_EQ(band, std::lround(3 * ratio));
        EXPECT_NEAR(ink, ratio, 0.15);
        EXPECT_EQ(shadowEnd - bright, std::lround(ratio)) << "shadow past the stroke";
    }
}

}  // namespace
}  // namespace vexel
