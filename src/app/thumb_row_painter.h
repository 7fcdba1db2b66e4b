// Draws the thumbnail box's rows: colours, fonts and the places of texts, frame and
// thumbnail within a row. Also makes the drag preview's picture.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QRect>

#include "app/thumb_entry.h"

class QPainter;

namespace vexel {

class CThumbRowPainter {
public:
    static constexpr int kFrameSide = 92;  // the thumbnail's frame, one pixel around 90
    static constexpr int kFrameTop = 20;   // below the row's top
    static constexpr int kTextInset = 5;   // left and right of the text area

    CThumbRowPainter();

    void Draw(QPainter& painter, const ThumbEntry& entry, const QRect& rect, bool marked) const;

    // The thumbnail alone, or the empty frame when the series has none yet.
    QImage PreviewImage(const ThumbEntry& entry) const;
    // A thumbnail's pixels as an opaque image of its own.
    static QImage ImageOf(const Thumbnail& thumbnail);
    // The frame's top-left corner in a series row.
    static QPoint FrameOrigin(const QRect& rect);

private:
    void DrawBackground(QPainter& painter, const QRect& rect, QColor colour) const;
    void DrawPatient(QPainter& painter, const ThumbEntry& entry, const QRect& text) const;
    void DrawStudy(QPainter& painter, const ThumbEntry& entry, const QRect& text) const;
    void DrawSeries(QPainter& painter, const ThumbEntry& entry, const QRect& rect) const;
    void DrawFrame(QPainter& painter, QPoint origin) const;

    QFont m_nameFont;         // bold: patient name
    QFont m_studyFont;        // bold: study date and description
    QFont m_seriesFont;       // bold: series description
    QFont m_countFont;        // bold: image count
    QFont m_detailFont;       // normal: birth date
    QFont m_studyDetailFont;  // normal: modality and series count
};

}  // namespace vexel
