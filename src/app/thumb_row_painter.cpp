#include "app/thumb_row_painter.h"

#include <QFontMetrics>
#include <QPainter>

#include "platform/gui/shown_image.h"

namespace vexel {
namespace {

// Dark theme, close to the list's background 0x646464.
constexpr QRgb kPatientColour = 0x3d4b5c;
constexpr QRgb kStudyColour = 0x4f565f;
constexpr QRgb kSeriesColour = 0x5a5a5a;
constexpr QRgb kMarkedColour = 0x2f6aa3;
constexpr QRgb kTopLineColour = 0x262626;
constexpr QRgb kLightEdgeColour = 0x8a8a8a;
constexpr QRgb kDarkEdgeColour = 0x363636;
constexpr QRgb kTextColour = 0xf2f2f2;
constexpr QRgb kDetailColour = 0xcfcfcf;
constexpr QRgb kFrameFill = 0x101010;
constexpr QRgb kFrameOutline = 0x9a9a9a;

QFont MakeFont(int pixels, bool bold) {
    // The look's "Verdana" is not on Linux; DejaVu Sans is its usual stand-in.
    QFont font("DejaVu Sans");
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

// One centred line at `top`, shortened to the width; returns the next line's top.
int DrawLine(QPainter& painter, const QFont& font, const QString& text, const QRect& area, int top) {
    const QFontMetrics metrics(font);
    painter.setFont(font);
    const QString shown = metrics.elidedText(text, Qt::ElideRight, area.width());
    painter.drawText(QRect(area.left(), top, area.width(), metrics.height()),
                     Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine, shown);
    return top + metrics.height();
}

// The longest start of text that fits the width (at least one character).
qsizetype FittingLength(const QFontMetrics& metrics, const QString& text, int width) {
    qsizetype length = text.size();
    while (length > 1 && metrics.horizontalAdvance(text.left(length)) > width)
        --length;
    return length;
}

}  // namespace

CThumbRowPainter::CThumbRowPainter()
    : m_nameFont(MakeFont(12, true)),
      m_studyFont(MakeFont(11, true)),
      m_seriesFont(MakeFont(11, true)),
      m_countFont(MakeFont(10, true)),
      m_detailFont(MakeFont(11, false)),
      m_studyDetailFont(MakeFont(11, false)) {}

QPoint CThumbRowPainter::FrameOrigin(const QRect& rect) {
    return {rect.left() + (rect.width() - kFrameSide) / 2, rect.top() + kFrameTop};
}

QImage CThumbRowPainter::ImageOf(const Thumbnail& thumbnail) {
    return OpaqueCopy(thumbnail.pixels.data(), thumbnail.width, thumbnail.height, thumbnail.width);
}

void CThumbRowPainter::Draw(QPainter& painter, const ThumbEntry& entry, const QRect& rect,
                            bool marked) const {
    const QRgb colour = marked                                ? kMarkedColour
                        : entry.kind == ThumbRowKind::Patient ? kPatientColour
                        : entry.kind == ThumbRowKind::Study   ? kStudyColour
                                                              : kSeriesColour;
    DrawBackground(painter, rect, QColor(colour));
    const QRect text = rect.adjusted(kTextInset, 0, -kTextInset, 0);
    switch (entry.kind) {
        case ThumbRowKind::Patient:
            return DrawPatient(painter, entry, text);
        case ThumbRowKind::Study:
            return DrawStudy(painter, entry, text);
        case ThumbRowKind::Series:
            return DrawSeries(painter, entry, rect);
    }
}

void CThumbRowPainter::DrawBackground(QPainter& painter, const QRect& rect, QColor colour) const {
    painter.fillRect(rect, colour);
    // A raised look: a dark line on top, light edges above and left, dark below and right.
    painter.setPen(QColor(kTopLineColour));
    painter.drawLine(rect.left(), rect.top(), rect.right(), rect.top());
    painter.setPen(QColor(kLightEdgeColour));
    painter.drawLine(rect.left(), rect.top() + 1, rect.right() - 1, rect.top() + 1);
    painter.drawLine(rect.left(), rect.top() + 1, rect.left(), rect.bottom() - 1);
    painter.setPen(QColor(kDarkEdgeColour));
    painter.drawLine(rect.left(), rect.bottom(), rect.right(), rect.bottom());
    painter.drawLine(rect.right(), rect.top() + 1, rect.right(), rect.bottom());
}

void CThumbRowPainter::DrawPatient(QPainter& painter, const ThumbEntry& entry,
                                   const QRect& text) const {
    // The name wraps once, at the last character that fits; the birth date sits at the bottom.
    const QFontMetrics metrics(m_nameFont);
    const qsizetype first = FittingLength(metrics, entry.patientName, text.width());
    painter.setPen(QColor(kTextColour));
    int top = DrawLine(painter, m_nameFont, entry.patientName.left(first), text, text.top() + 3);
    if (first < entry.patientName.size())
        DrawLine(painter, m_nameFont, entry.patientName.mid(first), text, top);
    const QFontMetrics detail(m_detailFont);
    painter.setPen(QColor(kDetailColour));
    DrawLine(painter, m_detailFont, entry.birthDate, text, text.bottom() - 2 - detail.height());
}

void CThumbRowPainter::DrawStudy(QPainter& painter, const ThumbEntry& entry,
                                 const QRect& text) const {
    painter.setPen(QColor(kTextColour));
    int top = DrawLine(painter, m_studyFont, entry.studyDateTime, text, text.top() + 3);
    top = DrawLine(painter, m_studyFont, entry.studyDescription, text, top + 3);
    painter.setPen(QColor(kDetailColour));
    DrawLine(painter, m_studyDetailFont, entry.seriesLine, text, top + 3);
}

void CThumbRowPainter::DrawFrame(QPainter& painter, QPoint origin) const {
    painter.fillRect(origin.x(), origin.y(), kFrameSide, kFrameSide, QColor(kFrameFill));
    painter.setPen(QColor(kFrameOutline));
    painter.drawRect(origin.x(), origin.y(), kFrameSide - 1, kFrameSide - 1);
}

void CThumbRowPainter::DrawSeries(QPainter& painter, const ThumbEntry& entry,
                                  const QRect& rect) const {
    const QRect text = rect.adjusted(kTextInset, 0, -kTextInset, 0);
    const QFontMetrics metrics(m_seriesFont);
    painter.setPen(QColor(kTextColour));
    DrawLine(painter, m_seriesFont, entry.seriesDescription, text,
             rect.top() + (kFrameTop - metrics.height()) / 2 + 1);

    const QPoint frame = FrameOrigin(rect);
    DrawFrame(painter, frame);
    if (entry.thumbnail) {
        const Thumbnail& thumb = *entry.thumbnail;
        painter.drawImage(QPoint(frame.x() + (kThumbnailSide - thumb.width) / 2 + 1,
                                 frame.y() + (kThumbnailSide - thumb.height) / 2 + 1),
                          ImageOf(thumb));
    }

    // The image count in a small box inside the frame's bottom-right corner.
    const QString count = QString::number(entry.imageCount);
    const QFontMetrics countMetrics(m_countFont);
    const int width = countMetrics.horizontalAdvance(count) + 6;
    const int height = countMetrics.height() + 2;
    const QRect box(frame.x() + kFrameSide - 10 - width, frame.y() + kFrameSide - 4 - height,
                    width, height);
    painter.fillRect(box, QColor(kFrameOutline));
    painter.setPen(QColor(kFrameFill));
    painter.setFont(m_countFont);
    painter.drawText(box, Qt::AlignCenter | Qt::TextSingleLine, count);
}

QImage CThumbRowPainter::PreviewImage(const ThumbEntry& entry) const {
    if (entry.thumbnail) return ImageOf(*entry.thumbnail);
    QImage empty(kFrameSide, kFrameSide, QImage::Format_RGB32);
    QPainter painter(&empty);
    DrawFrame(painter, QPoint(0, 0));
    return empty;
}

}  // namespace vexel
