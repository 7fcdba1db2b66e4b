#include "measure/stroke_batch.h"

#include <string>

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
    for (const auto& draw : m_over)
        draw(m_target);
    m_over.clear();
}

void CStrokeBatch::DrawLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t colour) {
    m_over.push_back([=](ICanvas& c) { c.DrawLine(x0, y0, x1, y1, colour); });
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
    m_over.push_back(
        [=](ICanvas& c) { c.DrawEllipse(centre, radiusX, radiusY, colour, width, smooth); });
}

void CStrokeBatch::FillRect(const CanvasRect& rect, uint32_t colour) {
    m_over.push_back([=](ICanvas& c) { c.FillRect(rect, colour); });
}

bool CStrokeBatch::SetFont(int32_t pixelSize) {
    m_over.push_back([=](ICanvas& c) { c.SetFont(pixelSize); });
    return m_target.SetFont(pixelSize);
}

void CStrokeBatch::DrawText(std::string_view utf8, const CanvasRect& box, TextAlign align,
                            uint32_t colour) {
    m_over.push_back(
        [text = std::string(utf8), box, align, colour](ICanvas& c) { c.DrawText(text, box, align, colour); });
}

}  // namespace vexel
