#include "platform/gui/shown_image.h"

#include <QPaintEngine>

namespace vexel {
namespace {

// The raster engine names the image it really paints on (a widget's backing store included);
// any other target is treated as keeping alpha.
bool TargetKeepsAlpha(const QPainter& painter) {
    const QPaintEngine* engine = painter.paintEngine();
    const QPaintDevice* device = engine != nullptr ? engine->paintDevice() : nullptr;
    if (device == nullptr || device->devType() != QInternal::Image) return true;
    return static_cast<const QImage*>(device)->hasAlphaChannel();
}

QImage OpaqueCopyOf(const uint32_t* pixels, int wordsPerRow, const QRect& part) {
    QImage copy(part.size(), QImage::Format_RGB32);
    if (copy.isNull()) return copy;
    for (int y = 0; y < part.height(); ++y) {
        const uint32_t* from = pixels + qsizetype(part.top() + y) * wordsPerRow + part.left();
        auto* to = reinterpret_cast<uint32_t*>(copy.scanLine(y));
        for (int x = 0; x < part.width(); ++x) to[x] = from[x] | 0xFF000000u;
    }
    return copy;
}

}  // namespace

void DrawPixels(QPainter& painter, const uint32_t* pixels, int width, int height,
                int wordsPerRow, const QRect& part, qreal ratio) {
    // Tagged with the ratio, an image covers its size / ratio in logical pixels.
    const QPointF at(part.x() / ratio, part.y() / ratio);
    if (TargetKeepsAlpha(painter)) {
        QImage copy = OpaqueCopyOf(pixels, wordsPerRow, part);
        copy.setDevicePixelRatio(ratio);
        painter.drawImage(at, copy);
        return;
    }
    QImage inPlace(reinterpret_cast<const uchar*>(pixels), width, height,
                   qsizetype(wordsPerRow) * 4, QImage::Format_RGB32);
    inPlace.setDevicePixelRatio(ratio);
    painter.drawImage(at, inPlace, part);
}

QImage OpaqueCopy(const uint32_t* pixels, int width, int height, int wordsPerRow) {
    return OpaqueCopyOf(pixels, wordsPerRow, QRect(0, 0, width, height));
}

}  // namespace vexel
