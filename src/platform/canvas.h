// Drawing on a 32-bit surface (0x00RRGGBB words, rows top-down): what the viewport's layers
// need and nothing more. Colours are 0x00RRGGBB. Implementations keep one painter per
// surface, so a canvas may be used on any one thread at a time.
//
// Positions and rectangles are surface (device) pixels. Pen widths, font sizes and shadow
// offsets are logical pixels: a canvas over a surface of device pixel ratio r draws them r
// times as large, so callers keep their looks at every ratio and place things themselves.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace vexel {

struct CanvasRect {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t Right() const { return x + width; }
    int32_t Bottom() const { return y + height; }
};

struct CanvasPoint {
    float x = 0;
    float y = 0;
};

struct CanvasSize {
    int32_t width = 0;
    int32_t height = 0;
};

enum class TextAlign { Left, Centre, Right };

class ICanvas {
public:
    virtual ~ICanvas() = default;

    // Drawing stays inside `rect` (the whole surface when null).
    virtual void SetClip(const CanvasRect* rect) = 0;
    // Whole pixels, 1-pixel pens unless told; anti-aliased lines when `smooth`. Sharp pens
    // are round(width × r) device pixels wide, smooth ones width × r.
    virtual void DrawLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t colour) = 0;
    virtual void DrawPolyline(std::span<const CanvasPoint> points, uint32_t colour, float width,
                              bool smooth) = 0;
    virtual void DrawEllipse(CanvasPoint centre, float radiusX, float radiusY, uint32_t colour,
                             float width, bool smooth) = 0;
    virtual void FillRect(const CanvasRect& rect, uint32_t colour) = 0;

    // Text: the font's cell height is `pixelSize`. False when the canvas cannot draw text
    // (no font system), in which case texts measure 0 and draw nothing.
    virtual bool SetFont(int32_t pixelSize) = 0;
    // The text's advance width and the font's line height.
    virtual CanvasSize MeasureText(std::string_view utf8) = 0;
    // One line in `box`, aligned horizontally, centred vertically, never clipped to the box.
    virtual void DrawText(std::string_view utf8, const CanvasRect& box, TextAlign align,
                          uint32_t colour) = 0;
    // The same, first in black moved by (shadowDx, shadowDy), then in `colour`.
    virtual void DrawShadowedText(std::string_view utf8, const CanvasRect& box, TextAlign align,
                                  uint32_t colour, int32_t shadowDx, int32_t shadowDy) {
        DrawText(utf8, {box.x + shadowDx, box.y + shadowDy, box.width, box.height}, align, 0);
        DrawText(utf8, box, align, colour);
    }
};

}  // namespace vexel
