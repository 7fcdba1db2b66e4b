#include "platform/gui/text_sprites.h"

#include <QFontMetrics>
#include <QHash>
#include <QPainter>
#include <QStaticText>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <list>
#include <mutex>
#include <unordered_map>

namespace vexel {
namespace {

// Enough for every corner text of many panels; a browse evicts the old slice lines.
constexpr size_t kMaxBytes = size_t(8) << 20;

struct KeyHash {
    size_t operator()(const TextSpriteKey& key) const {
        size_t hash = qHash(key.text);
        for (int32_t part : {key.fontPixels, int32_t(key.colour), key.shadowDx, key.shadowDy}) {
            hash = hash * 1000003u ^ size_t(uint32_t(part));
        }
        return hash;
    }
};

size_t EntryBytes(const TextSpriteKey& key, const TextSprite& sprite) {
    return size_t(sprite.image.sizeInBytes()) + sizeof(key) + size_t(key.text.size()) * 2 + 64;
}

// Least recently used first.
class CSpriteCache {
public:
    bool Find(const TextSpriteKey& key, TextSprite* sprite) {
        std::lock_guard guard(m_lock);
        const auto found = m_index.find(key);
        if (found == m_index.end()) return false;
        m_order.splice(m_order.end(), m_order, found->second);
        *sprite = found->second->second;
        return true;
    }

    void Add(const TextSpriteKey& key, const TextSprite& sprite) {
        std::lock_guard guard(m_lock);
        if (m_index.contains(key)) return;
        m_order.emplace_back(key, sprite);
        m_index.emplace(key, std::prev(m_order.end()));
        m_bytes += EntryBytes(key, sprite);
        while (m_bytes > kMaxBytes && m_order.size() > 1) {
            const auto& oldest = m_order.front();
            m_bytes -= std::min(m_bytes, EntryBytes(oldest.first, oldest.second));
            m_index.erase(oldest.first);
            m_order.pop_front();
        }
    }

private:
    using Entry = std::pair<TextSpriteKey, TextSprite>;
    std::mutex m_lock;
    std::list<Entry> m_order;
    std::unordered_map<TextSpriteKey, std::list<Entry>::iterator, KeyHash> m_index;
    size_t m_bytes = 0;
};

CSpriteCache& Cache() {
    static CSpriteCache* cache = new CSpriteCache;  // outlives every canvas at exit
    return *cache;
}

QColor Opaque(uint32_t rgb) {
    return QColor::fromRgb(QRgb(0xFF000000u | rgb));
}

TextSprite Render(const TextSpriteKey& key, const QFont& font) {
    // Laid out once, measured and drawn twice from the same layout.
    QStaticText line(key.text);
    line.setTextFormat(Qt::PlainText);
    line.prepare(QTransform(), font);
    TextSprite sprite;
    sprite.advance = int32_t(std::lround(line.size().width()));
    sprite.lineHeight = QFontMetrics(font).height();
    // Ink may overhang the advance and the line a little; the margin keeps it, shadow included.
    const int32_t margin = sprite.lineHeight / 2 + std::abs(key.shadowDx) + std::abs(key.shadowDy);
    QImage scratch(sprite.advance + 2 * margin, sprite.lineHeight + 2 * margin,
                   QImage::Format_ARGB32_Premultiplied);
    if (scratch.isNull()) return sprite;
    scratch.fill(Qt::transparent);
    {
        QPainter painter(&scratch);
        painter.setFont(font);
        painter.setRenderHint(QPainter::TextAntialiasing, true);
        if (key.shadowDx != 0 || key.shadowDy != 0) {
            painter.setPen(Opaque(0));
            painter.drawStaticText(QPoint(margin + key.shadowDx, margin + key.shadowDy), line);
        }
        painter.setPen(Opaque(key.colour));
        painter.drawStaticText(QPoint(margin, margin), line);
    }
    // Keep only the ink.
    const int32_t columns = scratch.width();
    const int32_t rows = scratch.height();
    int32_t left = columns, right = -1, first = rows, last = -1;
    for (int32_t y = 0; y < rows; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(scratch.constScanLine(y));
        int32_t x = 0;
        while (x < columns && row[x] == 0) ++x;
        if (x == columns) continue;
        int32_t end = columns - 1;
        while (row[end] == 0) --end;
        left = std::min(left, x);
        right = std::max(right, end);
        first = std::min(first, y);
        last = y;
    }
    if (right < 0) return sprite;
    sprite.image = scratch.copy(left, first, right - left + 1, last - first + 1);
    sprite.offset = QPoint(left - margin, first - margin);
    return sprite;
}

}  // namespace

TextSprite FindTextSprite(const TextSpriteKey& key, const QFont& font) {
    TextSprite sprite;
    if (Cache().Find(key, &sprite)) return sprite;
    sprite = Render(key, font);
    Cache().Add(key, sprite);
    return sprite;
}

}  // namespace vexel
