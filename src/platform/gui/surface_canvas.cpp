#include "platform/gui/surface_canvas.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRegion>
#include <cmath>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/gui/text_sprites.h"

namespace vexel {
namespace {

// "Verdana" where installed; DejaVu Sans is the stand-in every Debian system has.
const QStringList& FontFamilies() {
    static const QStringList families{"Verdana", "DejaVu Sans"};
    return families;
}

QFont MakeFont(int32_t pixelSize) {
    QFont font;
    font.setFamilies(FontFamilies());
    font.setPixelSize(std::max(pixelSize, 1));
    font.setStyleStrategy(QFont::PreferDefault);
    return font;
}

// The font whose cell (ascent + descent) is `cellHeight` pixels, as the size is meant;
// resolved once per size for the whole process.
QFont CellFont(int32_t cellHeight) {
    static std::mutex lock;
    static std::map<int32_t, int32_t> emSizes;
    cellHeight = std::clamp(cellHeight, 1, 1000);
    int32_t em = 0;
    {
        std::lock_guard guard(lock);
        if (auto found = emSizes.find(cellHeight); found != emSizes.end()) em = found->second;
    }
    if (em == 0) {
        const int32_t height = QFontMetrics(MakeFont(cellHeight)).height();
        em = height > cellHeight ? std::max(1, int32_t(std::lround(double(cellHeight) *
                                                                    cellHeight / height)))
                                 : cellHeight;
        std::lock_guard guard(lock);
        emSizes[cellHeight] = em;
    }
    return MakeFont(em);
}

QColor Colour(uint32_t rgb) {
    return QColor::fromRgb(QRgb(0xFF000000u | rgb));
}

class CSurfaceCanvas final : public ICanvas {
public:
    CSurfaceCanvas(uint32_t* pixels, int32_t width, int32_t height, size_t stride)
        : m_pixels(pixels), m_stride(stride),
          m_image(reinterpret_cast<uchar*>(pixels), width, height,
                  qsizetype(stride * sizeof(uint32_t)), QImage::Format_RGB32),
          m_painter(&m_image),
          m_text(qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {}

    ~CSurfaceCanvas() override {
        m_painter.end();
        // Qt writes 0xFF (or blending leftovers) into the unused top byte; the surface's
        // words are 0x00RRGGBB.
        // Only the touched rectangles: corner texts far apart must not make it the whole surface.
        for (const QRect& touched : m_dirty & m_image.rect()) {
            const size_t count = size_t(touched.width());
            for (int y = touched.top(); y <= touched.bottom(); ++y) {
                uint32_t* const row = m_pixels + size_t(y) * m_stride + touched.left();
                for (size_t x = 0; x < count; ++x) row[x] &= 0x00FFFFFFu;
            }
        }
    }

    void SetClip(const CanvasRect* rect) override {
        if (rect == nullptr) {
            m_painter.setClipping(false);
            return;
        }
        m_painter.setClipRect(QRect(rect->x, rect->y, rect->width, rect->height));
    }

    void DrawLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t colour) override {
        m_painter.setRenderHint(QPainter::Antialiasing, false);
        m_painter.setPen(QPen(Colour(colour), 1));
        // A pen of one pixel covers the pixel below and to the right of each point; the end
        // point is left out, as line drawing on screens does.
        if (x0 == x1 && y0 == y1) return;
        const int32_t dx = x1 > x0 ? -1 : x1 < x0 ? 1 : 0;
        const int32_t dy = y1 > y0 ? -1 : y1 < y0 ? 1 : 0;
        m_painter.drawLine(QPoint(x0, y0), QPoint(x1 + dx, y1 + dy));
        Touch(QRect(QPoint(x0, y0), QPoint(x1, y1)).normalized(), 1);
    }

    void DrawPolyline(std::span<const CanvasPoint> points, uint32_t colour, float width,
                      bool smooth) override {
        if (points.size() < 2) return;
        QPolygonF polygon;
        polygon.reserve(qsizetype(points.size()));
        for (const CanvasPoint& p : points) polygon.append(QPointF(p.x, p.y));
        m_painter.setRenderHint(QPainter::Antialiasing, smooth);
        m_painter.setPen(QPen(Colour(colour), qreal(width)));
        m_painter.setBrush(Qt::NoBrush);
        m_painter.drawPolyline(polygon);
        Touch(polygon.boundingRect().toAlignedRect(), int(std::ceil(width)) + 1);
    }

    void DrawEllipse(CanvasPoint centre, float radiusX, float radiusY, uint32_t colour,
                     float width, bool smooth) override {
        m_painter.setRenderHint(QPainter::Antialiasing, smooth);
        m_painter.setPen(QPen(Colour(colour), qreal(width)));
        m_painter.setBrush(Qt::NoBrush);
        const QRectF bounds(qreal(centre.x - radiusX), qreal(centre.y - radiusY),
                            qreal(2 * radiusX), qreal(2 * radiusY));
        m_painter.drawEllipse(bounds);
        Touch(bounds.toAlignedRect(), int(std::ceil(width)) + 1);
    }

    void FillRect(const CanvasRect& rect, uint32_t colour) override {
        const QRect area(rect.x, rect.y, rect.width, rect.height);
        m_painter.fillRect(area, Colour(colour));
        Touch(area, 0);
    }

    bool SetFont(int32_t pixelSize) override {
        if (!m_text) return false;
        m_fontSize = pixelSize;
        m_painter.setFont(CellFont(pixelSize));
        return true;
    }

    CanvasSize MeasureText(std::string_view utf8) override {
        if (!m_text) return {};
        const QFontMetrics metrics(m_painter.font());
        return {metrics.horizontalAdvance(ToQString(utf8)), metrics.height()};
    }

    void DrawText(std::string_view utf8, const CanvasRect& box, TextAlign align,
                  uint32_t colour) override {
        DrawShadowedText(utf8, box, align, colour, 0, 0);
    }

    // Texts come from the sprite cache: corner texts repeat on every frame, and blending a
    // small bitmap costs far less than laying the line out again.
    void DrawShadowedText(std::string_view utf8, const CanvasRect& box, TextAlign align,
                          uint32_t colour, int32_t shadowDx, int32_t shadowDy) override {
        if (!m_text || utf8.empty()) return;
        const TextSprite sprite = FindTextSprite(
            {ToQString(utf8), m_fontSize, colour & 0xFFFFFFu, shadowDx, shadowDy},
            m_painter.font());
        if (sprite.image.isNull()) return;
        const int32_t left = align == TextAlign::Left    ? box.x
                             : align == TextAlign::Right ? box.Right() - sprite.advance
                                                         : box.x + (box.width - sprite.advance) / 2;
        const int32_t top = box.y + (box.height - sprite.lineHeight) / 2;
        const QPoint at = QPoint(left, top) + sprite.offset;
        m_painter.drawImage(at, sprite.image);
        Touch(QRect(at, sprite.image.size()), 0);
    }

private:
    void Touch(const QRect& area, int margin) {
        m_dirty |= area.adjusted(-margin, -margin, margin, margin);
    }

    static QString ToQString(std::string_view utf8) {
        return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
    }

    uint32_t* m_pixels;
    size_t m_stride;
    QImage m_image;
    QPainter m_painter;
    bool m_text;
    int32_t m_fontSize = 0;
    QRegion m_dirty;
};

}  // namespace

std::unique_ptr<ICanvas> CreateSurfaceCanvas(uint32_t* pixels, int32_t width, int32_t height,
                                             size_t stride) {
    if (pixels == nullptr || width <= 0 || height <= 0 || stride < size_t(width)) return nullptr;
    return std::make_unique<CSurfaceCanvas>(pixels, width, height, stride);
}

bool EnsureGuiApplication() {
    if (QCoreApplication::instance() != nullptr)
        return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
    // No display is needed to draw into images.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "vexel";
    static char* argv[] = {name, nullptr};
    static QGuiApplication* application = new QGuiApplication(argc, argv);
    return application != nullptr;
}

}  // namespace vexel
