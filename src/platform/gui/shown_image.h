// Our surfaces and thumbnails hold 0x00RRGGBB words, while QImage::Format_RGB32 promises
// 0xFFRRGGBB. Qt copies such words as they are onto an opaque target, where the top byte is
// ignored (X11), but onto a target with alpha (Wayland's backing store) a zero top byte makes
// the pixels see-through, and the picture shows as white.
#pragma once

#include <QImage>
#include <QPainter>
#include <QRect>
#include <cstdint>

namespace vexel {

// Draws `part` of `pixels` (width x height, `wordsPerRow` apart) at the same place: in place
// onto an opaque target, through an opaque copy of the part onto any other. The pixels are
// device pixels of `ratio` per logical pixel, drawn 1:1 (never scaled) onto a painter of that
// ratio; `part` counts device pixels.
void DrawPixels(QPainter& painter, const uint32_t* pixels, int width, int height,
                int wordsPerRow, const QRect& part, qreal ratio = 1);
// An opaque copy, for pictures that leave the surface (thumbnails, the clipboard).
QImage OpaqueCopy(const uint32_t* pixels, int width, int height, int wordsPerRow);

}  // namespace vexel
