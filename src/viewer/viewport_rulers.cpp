#include "viewer/viewport_rulers.h"

#include <cmath>

#include "imaging/dicom_image.h"
#include "platform/canvas.h"
#include "viewer/viewport_2d.h"

namespace vexel {
namespace {

constexpr uint32_t kLineColour = 0xFF6464;  // 0x00RRGGBB
constexpr uint32_t kTickColour = 0xFF1E1E;

// Adding 0.5 and truncating toward zero.
int32_t RoundBelow(double value) {
    return int32_t(value + 0.5);
}

}  // namespace

void CViewport2DRulers::Draw(ICanvas& canvas, const PixelRect* /*clip*/) {
    float spacing[2] = {0, 0};  // between rows, between columns
    if (Image() == nullptr || Frame() == nullptr || !Image()->PixelSpacing(spacing)) return;
    const ViewGeometry& g = m_viewport.Geometry();
    if (!(g.zoom > 0)) return;
    // A quarter turn puts the image's columns along the screen's vertical.
    const bool turned = g.rotation == 90 || g.rotation == 270;
    const double across = turned ? spacing[0] : spacing[1];
    const double down = turned ? spacing[1] : spacing[0];
    const double h = 100.0 / across * double(g.zoom);
    const double v = 100.0 / down * double(g.zoom);
    // Longer than any screen: the ruler would say nothing.
    if (!(h < 1e6) || !(v < 1e6)) return;
    const int32_t width = m_viewport.Surface().Width();
    const int32_t height = m_viewport.Surface().Height();

    // Distances from the edges are logical pixels; the canvas widens the lines to match.
    const auto px = [&](int32_t logical) { return m_viewport.DevicePixels(logical); };
    const int32_t cx = width / 2;
    const int32_t y = height - px(3);
    canvas.DrawLine(cx + RoundBelow(-5 * h / 10), y, cx + RoundBelow(5 * h / 10) + 1, y,
                    kLineColour);
    for (int32_t i = -5; i <= 5; ++i) {
        const int32_t x = cx + RoundBelow(i * h / 10);
        canvas.DrawLine(x, height - px(4), x, height - px(i % 5 == 0 ? 7 : 6), kTickColour);
    }
    const int32_t cy = height / 2;
    canvas.DrawLine(px(3), cy + RoundBelow(-5 * v / 10), px(3), cy + RoundBelow(5 * v / 10) + 1,
                    kLineColour);
    for (int32_t i = -5; i <= 5; ++i) {
        const int32_t yy = cy + RoundBelow(i * v / 10);
        canvas.DrawLine(px(4), yy, px(i % 5 == 0 ? 7 : 6), yy, kTickColour);
    }
}

}  // namespace vexel
