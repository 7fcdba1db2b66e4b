// Where a frame sits in a viewport: zoom, pan, rotation and mirrors, the visible parts of the
// rotated image and of the viewport, and the mapping between screen and image coordinates.
//
// Image coordinates are continuous: pixel (i, j) covers [i, i + 1) x [j, j + 1), its centre
// is (i + 0.5, j + 0.5). Screen coordinates likewise: viewport pixel X covers [X, X + 1).
// A screen point X shows rotated-image point u = (X - visible destination x) / zoom +
// visible source x; the resampler follows the same mapping, so what ScreenToImage reports
// is exactly what is drawn there.
#pragma once

#include <cstdint>
#include <optional>

namespace vexel {

// Zooming in stops here; zooming out keeps the shorter displayed side at this many pixels.
// Both are logical: on a screen of device pixel ratio r they are r times as many device pixels.
inline constexpr float kMaxZoom = 50.0f;
inline constexpr int32_t kMinDisplayedSide = 10;

struct ViewGeometry {
    int32_t imageWidth = 0;  // the frame's columns and rows
    int32_t imageHeight = 0;
    int32_t rotatedWidth = 0;  // swapped at 90 and 270 degrees
    int32_t rotatedHeight = 0;
    int32_t viewportWidth = 0;
    int32_t viewportHeight = 0;
    int32_t displayedWidth = 0;  // scaled size rounded, at least 1
    int32_t displayedHeight = 0;
    float scaledWidth = 0;
    float scaledHeight = 0;
    int32_t originX = 0;  // viewport position of the displayed image's top-left corner
    int32_t originY = 0;
    int32_t visibleDestWidth = 0;  // the part of the viewport the image covers
    int32_t visibleDestHeight = 0;
    int32_t visibleDestX = 0;
    int32_t visibleDestY = 0;
    int32_t visibleSourceWidth = 0;  // the matching part of the rotated image
    int32_t visibleSourceHeight = 0;
    int32_t visibleSourceX = 0;
    int32_t visibleSourceY = 0;
    float imageAspect = 0;  // rotated width / rotated height
    float viewportAspect = 0;
    // Viewport sizes, origins and the zoom count device pixels; the zoom the user sees is
    // zoom / pixelRatio (device pixels per logical pixel of the screen).
    float zoom = 0;  // viewport pixels per image pixel; 0 when nothing can be shown
    float pixelRatio = 1;
    bool horizontalMirror = false;
    bool verticalMirror = false;
    uint32_t rotation = 0;  // degrees clockwise: 0, 90, 180 or 270
    int32_t anchorX = 0;    // zoom anchor, viewport pixels
    int32_t anchorY = 0;
    float anchorFractionX = 0;  // the anchor's position in the scaled image, 0..1
    float anchorFractionY = 0;

    friend bool operator==(const ViewGeometry&, const ViewGeometry&) = default;
};

struct ImagePoint {
    float x = 0;
    float y = 0;
    friend bool operator==(const ImagePoint&, const ImagePoint&) = default;
};

struct ScreenPoint {
    int32_t x = 0;
    int32_t y = 0;
};

// 0..3: rotation by 0, 90, 180, 270 degrees clockwise; 4..7: the same after a left-right
// mirror. Rotations other than multiples of 90 count as 0.
uint32_t OrientationCode(bool horizontalMirror, bool verticalMirror, uint32_t rotation);

// Sizes only; a layout must follow. Negative sizes count as 0.
void SetImageSize(ViewGeometry& geometry, int32_t width, int32_t height);
void SetViewportSize(ViewGeometry& geometry, int32_t width, int32_t height);

// Rotation delta (multiple of 90), flips along the screen axes, or reset; mirrors and rotation
// end normalised (never both mirrors, never 180 with a mirror). True when anything changed;
// the caller lays out again.
bool ApplyTransform(ViewGeometry& geometry, int32_t rotateDelta, bool flipVertical,
                    bool flipHorizontal, bool reset);

// Layouts. Each returns false and leaves an empty view (zoom 0, nothing visible) when the
// image or the viewport has no pixels.
bool LayoutFit(ViewGeometry& geometry);
// Logical zoom 1: pixelRatio device pixels per image pixel.
bool LayoutActualSize(ViewGeometry& geometry);
// Zoom to `factor` keeping the point under the anchor where it was in `start`. The zoom is
// limited to kMaxZoom and raised so the shorter displayed side keeps kMinDisplayedSide.
bool LayoutZoomAbout(ViewGeometry& geometry, const ViewGeometry& start, float factor,
                     int32_t anchorX, int32_t anchorY);
// A zoom drag of `delta` viewport pixels (up enlarges) from the state at the press.
bool LayoutZoomByDrag(ViewGeometry& geometry, const ViewGeometry& start, int32_t delta,
                      int32_t anchorX, int32_t anchorY);
bool LayoutPan(ViewGeometry& geometry, const ViewGeometry& start, int32_t dx, int32_t dy);
// A new viewport size keeping the zoomed or panned view of `saved`.
bool LayoutResizeKeepingView(ViewGeometry& geometry, const ViewGeometry& saved, int32_t width,
                             int32_t height);
// Keeps at least one displayed pixel inside the viewport and computes the visible parts.
bool ClampAndFindVisible(ViewGeometry& geometry);

// Nothing when the zoom is 0 or the image has no pixels.
std::optional<ImagePoint> ScreenToImage(const ViewGeometry& geometry, float x, float y);
// Unrounded screen position of an image point.
std::optional<ImagePoint> ImageToScreenExact(const ViewGeometry& geometry, float x, float y);
// Rounded half away from zero.
std::optional<ScreenPoint> ImageToScreen(const ViewGeometry& geometry, float x, float y);

}  // namespace vexel
