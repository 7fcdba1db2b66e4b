#include "viewer/view_geometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vexel {
namespace {

// Displayed sides stay far below 2^31 so that every product of the layout fits in 64 bits
// and every result in 32.
constexpr double kMaxDisplayedSide = double(1 << 28);
constexpr double kMaxOriginMagnitude = double(1 << 30);

bool HasPixels(const ViewGeometry& g) {
    return g.rotatedWidth > 0 && g.rotatedHeight > 0 && g.viewportWidth > 0 && g.viewportHeight > 0;
}

void ClearView(ViewGeometry& g) {
    g.zoom = 0;
    g.scaledWidth = g.scaledHeight = 0;
    g.displayedWidth = g.displayedHeight = 0;
    g.originX = g.originY = 0;
    g.visibleDestWidth = g.visibleDestHeight = g.visibleDestX = g.visibleDestY = 0;
    g.visibleSourceWidth = g.visibleSourceHeight = g.visibleSourceX = g.visibleSourceY = 0;
}

int64_t FloorDiv(int64_t numerator, int64_t denominator) {
    int64_t quotient = numerator / denominator;
    if (numerator % denominator != 0 && ((numerator < 0) != (denominator < 0))) --quotient;
    return quotient;
}

int32_t RoundedOrigin(double value) {
    if (!std::isfinite(value)) return 0;
    return int32_t(std::clamp(std::round(value), -kMaxOriginMagnitude, kMaxOriginMagnitude));
}

// Keeps the displayed sides within kMaxDisplayedSide.
float LimitZoom(const ViewGeometry& g, double zoom) {
    const double longest = std::max(g.rotatedWidth, g.rotatedHeight);
    return float(std::min(zoom, kMaxDisplayedSide / longest));
}

void SetScale(ViewGeometry& g, float zoom) {
    g.zoom = zoom;
    g.scaledWidth = float(g.rotatedWidth) * zoom;
    g.scaledHeight = float(g.rotatedHeight) * zoom;
    g.displayedWidth = std::max(1, int32_t(std::lround(g.scaledWidth)));
    g.displayedHeight = std::max(1, int32_t(std::lround(g.scaledHeight)));
}

struct AxisView {
    int32_t origin;
    int32_t sourceStart;
    int32_t sourceSize;
    int32_t destStart;
    int32_t destSize;
};

// One axis of the clamp: displayed size d, rotated size r, viewport size v (all > 0).
AxisView ClampAxis(int64_t origin, int64_t d, int64_t r, int64_t v) {
    if (origin <= -d) origin = 1 - d;
    if (origin >= v) origin = v - 1;
    const int64_t a = std::max<int64_t>(FloorDiv(-origin * r, d), 0);
    const int64_t b = std::max<int64_t>(FloorDiv((origin + d - v) * r, d), 0);
    const int64_t start = std::clamp<int64_t>(a, 0, r - 1);
    const int64_t size = std::max<int64_t>(1, std::min(r - start, r - b - a));
    const int64_t destStart = origin + FloorDiv(a * d, r);
    const int64_t destSize = std::max<int64_t>(1, d - FloorDiv(b * d, r) - FloorDiv(a * d, r));
    return {int32_t(origin), int32_t(start), int32_t(size), int32_t(destStart), int32_t(destSize)};
}

void UpdateRotatedSize(ViewGeometry& g) {
    const bool turned = g.rotation == 90 || g.rotation == 270;
    g.rotatedWidth = turned ? g.imageHeight : g.imageWidth;
    g.rotatedHeight = turned ? g.imageWidth : g.imageHeight;
}

void NormaliseTransform(ViewGeometry& g) {
    if (g.horizontalMirror && g.verticalMirror) {
        g.rotation += 180;
        g.horizontalMirror = g.verticalMirror = false;
    }
    g.rotation %= 360;
    if (g.rotation == 180 && g.horizontalMirror) {
        g.rotation = 0;
        g.horizontalMirror = false;
        g.verticalMirror = !g.verticalMirror;
    } else if (g.rotation == 180 && g.verticalMirror) {
        g.rotation = 0;
        g.horizontalMirror = true;
        g.verticalMirror = false;
    }
}

// The logical limits in device pixels; a ratio out of reason counts as 1.
double Ratio(const ViewGeometry& g) {
    return std::isfinite(g.pixelRatio) && g.pixelRatio >= 0.25f && g.pixelRatio <= 16.0f
               ? double(g.pixelRatio)
               : 1.0;
}

float AnchorFraction(int32_t anchor, int32_t origin, float scaled) {
    return scaled > 0 ? (float(anchor) - float(origin)) / scaled : 0.5f;
}

}  // namespace

uint32_t OrientationCode(bool horizontalMirror, bool verticalMirror, uint32_t rotation) {
    const uint32_t r = rotation % 90 == 0 ? (rotation / 90) % 4 : 0;
    if (horizontalMirror && verticalMirror) return (r + 2) % 4;
    if (horizontalMirror) return 4 + r;
    if (verticalMirror) return 4 + (r + 2) % 4;
    return r;
}

void SetImageSize(ViewGeometry& geometry, int32_t width, int32_t height) {
    geometry.imageWidth = std::max(width, 0);
    geometry.imageHeight = std::max(height, 0);
    UpdateRotatedSize(geometry);
}

void SetViewportSize(ViewGeometry& geometry, int32_t width, int32_t height) {
    geometry.viewportWidth = std::max(width, 0);
    geometry.viewportHeight = std::max(height, 0);
}

bool ApplyTransform(ViewGeometry& geometry, int32_t rotateDelta, bool flipVertical,
                    bool flipHorizontal, bool reset) {
    ViewGeometry& g = geometry;
    const bool wasMirrored = g.horizontalMirror || g.verticalMirror;
    if (reset) {
        if (!wasMirrored && g.rotation == 0) return false;
        g.horizontalMirror = g.verticalMirror = false;
        g.rotation = 0;
        UpdateRotatedSize(g);
        return true;
    }
    if (rotateDelta % 90 != 0 || (rotateDelta == 0 && !flipVertical && !flipHorizontal)) {
        return false;
    }
    g.rotation = uint32_t(((int64_t(g.rotation % 360) + rotateDelta) % 360 + 360) % 360);
    const bool upright = g.rotation == 0 || g.rotation == 180;
    if (flipHorizontal) (upright ? g.horizontalMirror : g.verticalMirror) ^= true;
    if (flipVertical) (upright ? g.verticalMirror : g.horizontalMirror) ^= true;
    NormaliseTransform(g);
    UpdateRotatedSize(g);
    return true;
}

bool ClampAndFindVisible(ViewGeometry& geometry) {
    ViewGeometry& g = geometry;
    if (!HasPixels(g) || !(g.zoom > 0) || g.displayedWidth <= 0 || g.displayedHeight <= 0) {
        ClearView(g);
        return false;
    }
    const AxisView x = ClampAxis(g.originX, g.displayedWidth, g.rotatedWidth, g.viewportWidth);
    const AxisView y = ClampAxis(g.originY, g.displayedHeight, g.rotatedHeight, g.viewportHeight);
    g.originX = x.origin;
    g.originY = y.origin;
    g.visibleSourceX = x.sourceStart;
    g.visibleSourceY = y.sourceStart;
    g.visibleSourceWidth = x.sourceSize;
    g.visibleSourceHeight = y.sourceSize;
    g.visibleDestX = x.destStart;
    g.visibleDestY = y.destStart;
    g.visibleDestWidth = x.destSize;
    g.visibleDestHeight = y.destSize;
    return true;
}

bool LayoutFit(ViewGeometry& geometry) {
    ViewGeometry& g = geometry;
    if (!HasPixels(g)) {
        ClearView(g);
        return false;
    }
    g.imageAspect = float(g.rotatedWidth) / float(g.rotatedHeight);
    g.viewportAspect = float(g.viewportWidth) / float(g.viewportHeight);
    const double zoom = g.viewportAspect > g.imageAspect
                            ? double(g.viewportHeight) / g.rotatedHeight
                            : double(g.viewportWidth) / g.rotatedWidth;
    SetScale(g, LimitZoom(g, zoom));
    g.originX = (g.viewportWidth - g.displayedWidth) / 2;
    g.originY = (g.viewportHeight - g.displayedHeight) / 2;
    return ClampAndFindVisible(g);
}

bool LayoutActualSize(ViewGeometry& geometry) {
    ViewGeometry& g = geometry;
    if (!HasPixels(g)) {
        ClearView(g);
        return false;
    }
    SetScale(g, LimitZoom(g, Ratio(g)));
    g.originX = (g.viewportWidth - g.displayedWidth) / 2;
    g.originY = (g.viewportHeight - g.displayedHeight) / 2;
    return ClampAndFindVisible(g);
}

bool LayoutZoomAbout(ViewGeometry& geometry, const ViewGeometry& start, float factor,
                     int32_t anchorX, int32_t anchorY) {
    ViewGeometry& g = geometry;
    if (!std::isfinite(factor) || factor <= 0) return false;
    if (!HasPixels(g)) {
        ClearView(g);
        return false;
    }
    // Raising the zoom (not each side on its own) keeps the aspect of the image.
    const double shortest = std::min(g.rotatedWidth, g.rotatedHeight);
    const double zoom = std::max<double>(std::min<double>(factor, kMaxZoom * Ratio(g)),
                                         kMinDisplayedSide * Ratio(g) / shortest);
    g.anchorX = anchorX;
    g.anchorY = anchorY;
    g.anchorFractionX = AnchorFraction(anchorX, start.originX, start.scaledWidth);
    g.anchorFractionY = AnchorFraction(anchorY, start.originY, start.scaledHeight);
    SetScale(g, LimitZoom(g, zoom));
    g.originX = RoundedOrigin(double(anchorX) - double(g.scaledWidth) * g.anchorFractionX);
    g.originY = RoundedOrigin(double(anchorY) - double(g.scaledHeight) * g.anchorFractionY);
    return ClampAndFindVisible(g);
}

bool LayoutZoomByDrag(ViewGeometry& geometry, const ViewGeometry& start, int32_t delta,
                      int32_t anchorX, int32_t anchorY) {
    if (start.viewportHeight <= 0 || !(start.zoom > 0)) return false;
    const double k = std::fabs(double(delta)) / start.viewportHeight * 3.0 + 1.0;
    double zoom = start.zoom / k;
    if (delta >= 0) {
        zoom = std::min<double>(kMaxZoom * Ratio(start), k * start.zoom);
        if (float(zoom) == start.zoom) return false;
    }
    return LayoutZoomAbout(geometry, start, float(zoom), anchorX, anchorY);
}

bool LayoutPan(ViewGeometry& geometry, const ViewGeometry& start, int32_t dx, int32_t dy) {
    ViewGeometry& g = geometry;
    if (!(start.zoom > 0)) return false;
    SetScale(g, start.zoom);
    g.originX = RoundedOrigin(double(start.originX) + dx);
    g.originY = RoundedOrigin(double(start.originY) + dy);
    return ClampAndFindVisible(g);
}

bool LayoutResizeKeepingView(ViewGeometry& geometry, const ViewGeometry& saved, int32_t width,
                             int32_t height) {
    ViewGeometry& g = geometry;
    SetViewportSize(g, width, height);
    if (saved.viewportWidth <= 0 || saved.viewportHeight <= 0 || !(saved.scaledWidth > 0) ||
        !(saved.scaledHeight > 0) || !HasPixels(g)) {
        return LayoutFit(g);
    }
    const double f = std::max(double(g.viewportWidth) / saved.viewportWidth,
                              double(g.viewportHeight) / saved.viewportHeight);
    // Growing a small window must not zoom past what zooming allows (or past the fit, for
    // tiny images): the visible part would grow far beyond the viewport.
    const double fit = std::min(double(g.viewportWidth) / g.rotatedWidth,
                                double(g.viewportHeight) / g.rotatedHeight);
    const double zoom = std::min(saved.scaledWidth * f / g.rotatedWidth,
                                 std::max<double>(kMaxZoom * Ratio(g), fit));
    SetScale(g, LimitZoom(g, zoom));
    const auto origin = [](int32_t viewport, int32_t savedViewport, int32_t savedOrigin,
                           float savedScaled, float scaled) {
        const double half = viewport / 2.0, savedHalf = savedViewport / 2.0;
        return RoundedOrigin(half - (savedHalf - savedOrigin) / savedScaled * scaled);
    };
    g.originX = origin(g.viewportWidth, saved.viewportWidth, saved.originX, saved.scaledWidth,
                       g.scaledWidth);
    g.originY = origin(g.viewportHeight, saved.viewportHeight, saved.originY, saved.scaledHeight,
                       g.scaledHeight);
    return ClampAndFindVisible(g);
}

std::optional<ImagePoint> ScreenToImage(const ViewGeometry& geometry, float x, float y) {
    const ViewGeometry& g = geometry;
    if (!(g.zoom > 0) || g.imageWidth <= 0 || g.imageHeight <= 0) return std::nullopt;
    const float u = (x - float(g.visibleDestX)) / g.zoom + float(g.visibleSourceX);
    const float v = (y - float(g.visibleDestY)) / g.zoom + float(g.visibleSourceY);
    const auto w = float(g.imageWidth), h = float(g.imageHeight);
    ImagePoint p{u, v};
    if (g.rotation == 90) p = {v, h - u};
    if (g.rotation == 180) p = {w - u, h - v};
    if (g.rotation == 270) p = {w - v, u};
    if (g.horizontalMirror) p.x = w - p.x;
    if (g.verticalMirror) p.y = h - p.y;
    return p;
}

std::optional<ImagePoint> ImageToScreenExact(const ViewGeometry& geometry, float x, float y) {
    const ViewGeometry& g = geometry;
    if (!(g.zoom > 0) || g.imageWidth <= 0 || g.imageHeight <= 0) return std::nullopt;
    const auto w = float(g.imageWidth), h = float(g.imageHeight);
    if (g.horizontalMirror) x = w - x;
    if (g.verticalMirror) y = h - y;
    ImagePoint p{x, y};
    if (g.rotation == 90) p = {h - y, x};
    if (g.rotation == 180) p = {w - x, h - y};
    if (g.rotation == 270) p = {y, w - x};
    return ImagePoint{(p.x - float(g.visibleSourceX)) * g.zoom + float(g.visibleDestX),
                      (p.y - float(g.visibleSourceY)) * g.zoom + float(g.visibleDestY)};
}

std::optional<ScreenPoint> ImageToScreen(const ViewGeometry& geometry, float x, float y) {
    const auto exact = ImageToScreenExact(geometry, x, y);
    if (!exact) return std::nullopt;
    constexpr double kLow = std::numeric_limits<int32_t>::min();
    constexpr double kHigh = std::numeric_limits<int32_t>::max();
    const auto round = [&](float value) {
        return std::isfinite(value) ? int32_t(std::clamp(std::round(double(value)), kLow, kHigh))
                                    : 0;
    };
    return ScreenPoint{round(exact->x), round(exact->y)};
}

}  // namespace vexel
