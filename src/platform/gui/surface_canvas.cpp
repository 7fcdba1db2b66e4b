#include "platform/gui/surface_canvas.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <cmath>
#include <cstdlib>
#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

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
    CSurfaceCanvas(uint32_t* pixels, int32_t width, int32_t height, size_t stride, float ratio)
        : m_pixels(pixels), m_stride(stride), m_ratio(ratio),
          m_whole(std::max(1, int32_t(std::lround(ratio)))),
          m_image(reinterpret_cast<uchar*>(pixels), width, height,
                  qsizetype(stride * sizeof(uint32_t)), QImage::Format_RGB32),
          m_painter(&m_image),
          m_text(qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr),
          m_clip(m_image.rect()) {
        m_painter.setBrush(Qt::NoBrush);
    }

    ~CSurfaceCanvas() override {
        m_painter.end();
        // Qt writes 0xFF (or blending leftovers) into the unused top byte; the surface's
        // words are 0x00RRGGBB.
        // Only the touched rectangles: corner texts far apart must not make it the whole surface.
        for (const QRect& touched : m_touched) {
            const size_t count = size_t(touched.width());
            for (int y = touched.top(); y <= touched.bottom(); ++y) {
                uint32_t* const row = m_pixels + size_t(y) * m_stride + size_t(touched.left());
                for (size_t x = 0; x < count; ++x) row[x] &= 0x00FFFFFFu;
            }
        }
    }

    void SetClip(const CanvasRect* rect) override {
        if (rect == nullptr) {
            m_painter.setClipping(false);
            m_clip = m_image.rect();
            return;
        }
        m_clip = QRect(rect->x, rect->y, rect->width, rect->height) & m_image.rect();
        m_painter.setClipRect(m_clip);
    }

    void DrawLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t colour) override {
        if (x0 == x1 && y0 == y1) return;
        // At higher ratios an upright line is a band of whole pixels below and right of it:
        // sharp, and as wide on screen as one pixel at ratio 1.
        if (m_whole > 1 && (x0 == x1 || y0 == y1)) {
            const int32_t left = x1 >= x0 ? x0 : x1 + 1, top = y1 >= y0 ? y0 : y1 + 1;
            const int32_t length = std::abs(x1 - x0) + std::abs(y1 - y0);
            FillRect(x0 == x1 ? CanvasRect{x0, top, m_whole, length}
                              : CanvasRect{left, y0, length, m_whole},
                     colour);
            return;
        }
        UsePen(colour, 1, false);
        // A pen of one pixel covers the pixel below and to the right of each point; the end
        // point is left out, as line drawing on screens does.
        const int32_t dx = x1 > x0 ? -1 : x1 < x0 ? 1 : 0;
        const int32_t dy = y1 > y0 ? -1 : y1 < y0 ? 1 : 0;
        m_painter.drawLine(QPoint(x0, y0), QPoint(x1 + dx, y1 + dy));
        Touch(QRect(QPoint(x0, y0), QPoint(x1, y1)).normalized(), 1);
    }

    void DrawPolyline(std::span<const CanvasPoint> points, uint32_t colour, float width,
                      bool smooth) override {
        if (points.size() < 2) return;
        UsePen(colour, width, smooth);
        if (points.size() == 2) {
            const QLineF line(points[0].x, points[0].y, points[1].x, points[1].y);
            m_painter.drawLine(line);
            Touch(QRectF(line.p1(), line.p2()).normalized().toAlignedRect(), Margin(width, smooth));
            return;
        }
        m_polygon.clear();  // kept: many small paths are drawn in a row
        for (const CanvasPoint& p : points) m_polygon.append(QPointF(p.x, p.y));
        m_painter.drawPolyline(m_polygon);
        Touch(m_polygon.boundingRect().toAlignedRect(), Margin(width, smooth));
    }

    void DrawEllipse(CanvasPoint centre, float radiusX, float radiusY, uint32_t colour,
                     float width, bool smooth) override {
        UsePen(colour, width, smooth);
        const QRectF bounds(qreal(centre.x - radiusX), qreal(centre.y - radiusY),
                            qreal(2 * radiusX), qreal(2 * radiusY));
        m_painter.drawEllipse(bounds);
        Touch(bounds.toAlignedRect(), Margin(width, smooth));
    }

    // Written directly: an opaque upright rectangle needs no painter, and its words stay
    // 0x00RRGGBB.
    void FillRect(const CanvasRect& rect, uint32_t colour) override {
        const QRect area = QRect(rect.x, rect.y, rect.width, rect.height) & m_clip;
        if (area.isEmpty()) return;
        for (int y = area.top(); y <= area.bottom(); ++y)
            std::fill_n(m_pixels + size_t(y) * m_stride + size_t(area.left()), area.width(),
                        colour & 0x00FFFFFFu);
    }

    bool SetFont(int32_t pixelSize) override {
        if (!m_text) return false;
        if (pixelSize == m_fontSize) return true;  // many labels in a row ask for the same
        m_fontSize = pixelSize;
        m_devicePixels = std::max(1, int32_t(std::lround(double(pixelSize) * m_ratio)));
        m_painter.setFont(CellFont(m_devicePixels));
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
        const TextSprite sprite = FindTextSprite({ToQString(utf8), m_devicePixels, colour & 0xFFFFFFu,
                                                  shadowDx * m_whole, shadowDy * m_whole},
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
    // Pen changes are what drawing many small shapes pays for: made only when needed.
    void UsePen(uint32_t colour, float width, bool smooth) {
        if (m_pen && m_pen->colour == colour && m_pen->width == width && m_pen->smooth == smooth) {
            return;
        }
        m_pen = PenState{colour, width, smooth};
        m_painter.setRenderHint(QPainter::Antialiasing, smooth);
        m_painter.setPen(QPen(Colour(colour), DeviceWidth(width, smooth)));
    }

    // Smooth pens take fractions; sharp ones stay whole pixels, or they would blur or vary.
    qreal DeviceWidth(float width, bool smooth) const {
        if (m_ratio == 1.0f) return qreal(width);
        const qreal scaled = qreal(width) * m_ratio;
        return smooth ? scaled : std::max<qreal>(1, std::round(scaled));
    }

    int Margin(float width, bool smooth) const {
        return int(std::ceil(DeviceWidth(width, smooth))) + 1;
    }

    // Kept as they come: a region merging many small shapes costs more with every one, and
    // clearing a pixel twice costs little.
    void Touch(const QRect& area, int margin) {
        const QRect r = area.adjusted(-margin, -margin, margin, margin) & m_image.rect();
        if (r.isEmpty()) return;
        // Shapes drawn one after another mostly overlap: one rectangle covers them, as long as
        // it stays small, so pixels are not cleared many times over.
        if (!m_touched.empty()) {
            QRect& last = m_touched.back();
            const QRect joined = last | r;
            if (last.intersects(r) &&
                int64_t(joined.width()) * joined.height() <=
                    int64_t(last.width()) * last.height() + int64_t(r.width()) * r.height()) {
                last = joined;
                return;
            }
        }
        m_touched.push_back(r);
    }

    static QString ToQString(std::string_view utf8) {
        return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
    }

    uint32_t* m_pixels;
    size_t m_stride;
    float m_ratio;
    int32_t m_whole;  // the ratio rounded: widths of sharp 1-pixel lines and shadow offsets
    QImage m_image;
    QPainter m_painter;
    bool m_text;
    int32_t m_fontSize = 0;  // logical
    int32_t m_devicePixels = 0;
    std::vector<QRect> m_touched;
    QRect m_clip;
    QPolygonF m_polygon;
    struct PenState {
        uint32_t colour;
        float width;
        bool smooth;
    };
    std::optional<PenState> m_pen;
};

}  // namespace

std::unique_ptr<ICanvas> CreateSurfaceCanvas(uint32_t* pixels, int32_t width, int32_t height,
                                             size_t stride, float pixelRatio) {
    if (pixels == nullptr || width <= 0 || height <= 0 || stride < size_t(width)) return nullptr;
    if (!std::isfinite(pixelRatio) || pixelRatio < 0.25f || pixelRatio > 16.0f) pixelRatio = 1;
    return std::make_unique<CSurfaceCanvas>(pixels, width, height, stride, pixelRatio);
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

void PrepareTextDrawing() {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) return;
    std::vector<uint32_t> pixels(64 * 16);
    auto canvas = CreateSurfaceCanvas(pixels.data(), 64, 16, 64);
    if (!canvas || !canvas->SetFont(12)) return;
    canvas->DrawShadowedText("Im: 1/1", CanvasRect{0, 0, 64, 16}, TextAlign::Left, 0xFFFFFF, 1, 1);
}

}  // namespace vexel
