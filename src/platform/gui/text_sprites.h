// Shadowed text lines rendered once and kept as small premultiplied images, so a layer that
// draws the same corner texts on every frame blends a bitmap instead of laying the text out
// again. Process-wide and bounded; any thread may use it.
#pragma once

#include <QFont>
#include <QImage>
#include <QPoint>
#include <QString>
#include <cstdint>

namespace vexel {

struct TextSpriteKey {
    QString text;
    int32_t fontPixels = 0;
    uint32_t colour = 0;
    // No shadow when both are 0.
    int32_t shadowDx = 0;
    int32_t shadowDy = 0;
    friend bool operator==(const TextSpriteKey&, const TextSpriteKey&) = default;
};

struct TextSprite {
    QImage image;  // null when the text leaves no ink
    // Where the image's top-left goes, relative to the top-left of the text's line.
    QPoint offset;
    int32_t advance = 0;
    int32_t lineHeight = 0;
};

// The sprite of `key` drawn with `font`; made on first use.
TextSprite FindTextSprite(const TextSpriteKey& key, const QFont& font);

}  // namespace vexel
