#include "measure/stroke_batch.h"


namespace vexel {

void CStrokeBatch::Flush() {
    for (const auto& [pen, ends] : m_lines) {
        const auto& [smooth, colour, width] = pen;
        for (size_t i = 0; i < ends.size(); i += 2) {
            const std::span<const CanvasPoint> line(m_points.data() + ends[i], ends[i + 1] - ends[i]);
            m_target.DrawPolyline(line, colour, width, smooth);
        }
    }
    m_lines.clear();
    m_points.clear();
    for (const Over& over : m_over) {
        if (const auto* fill = std::get_if<Fill>(&over)) {
            m_target.FillRect(fill->rect, fill->colour);
        } else if (const auto* text = std::get_if<Text>(&over)) {
            m_target.DrawText(m_texts[text->utf8], text->box, text->align, text->colour);
        } else if (const auto* font = std::get_if<Font>(&over)) {
            m_target.SetFont(font->pixelSize);
        } else if (const auto* line = std::get_if<Line>(&over)) {
            m_target.DrawLine(line->x0, line->y0, line->x1, line->y1, line->colour);
        } else if (const auto* e = std::get_if<Ellipse>(&over)) {
            m_target.DrawEllipse(e->centre, e->radiusX, e->radiusY, e->colour, e->width, e->smooth);
        }
    }
    m_over.clear();
    m_texts.clear();
}

void CStrokeBatch::DrawLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t colour) {
    m_over.push_back(Line{x0, y0, x1, y1, colour});
}

void CStrokeBatch::DrawPolyline(std::span<const CanvasPoint> points, uint32_t colour, float width,
                                bool smooth) {
    std::vector<size_t>& ends = m_lines[{smooth, colour, width}];
    ends.push_back(m_points.size());
    m_points.insert(m_points.end(), points.begin(), points.end());
    ends.push_back(m_points.size());
}

void CStrokeBatch::DrawEllipse(CanvasPoint centre, float radiusX, float radiusY, uint32_t colour,
                               float width, bool smooth) {
    m_over.push_back(Ellipse{centre, radiusX, radiusY, colour, width, smooth});
}

void CStrokeBatch::FillRect(const CanvasRect& rect, uint32_t colour) {
    m_over.push_back(Fill{rect, colour});
}

bool CStrokeBatch::SetFont(int32_t pixelSize) {
    m_over.push_back(Font{pixelSize});
    return m_target.SetFont(pixelSize);
}

void CStrokeBatch::DrawText(std::string_view utf8, const CanvasRect& box, TextAlign align,
                            uint32_t colour) {
    m_texts.emplace_back(utf8);
    m_over.push_back(Text{m_texts.size() - 1, box, align, colour});
}

}  // namespace vexel
