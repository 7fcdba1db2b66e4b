// A canvas that holds back what is drawn on it and then draws it on the real canvas grouped by
// pen: first the rough lines (the dark bands), then the smooth ones, then fills and texts in
// the order given. Switching pens is what a painter pays most for when many small
// measurements are drawn, and bands under every line and labels over every line read better.
#pragma once

#include <map>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

#include "platform/canvas.h"

namespace vexel {

class CStrokeBatch final : public ICanvas {
public:
    explicit CStrokeBatch(ICanvas& target) : m_target(target) {}
    ~CStrokeBatch() override { Flush(); }

    void Flush();

    void SetClip(const CanvasRect* rect) override { m_target.SetClip(rect); }
    void DrawLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t colour) override;
    void DrawPolyline(std::span<const CanvasPoint> points, uint32_t colour, float width,
                      bool smooth) override;
    void DrawEllipse(CanvasPoint centre, float radiusX, float radiusY, uint32_t colour, float width,
                     bool smooth) override;
    void FillRect(const CanvasRect& rect, uint32_t colour) override;
    bool SetFont(int32_t pixelSize) override;
    CanvasSize MeasureText(std::string_view utf8) override { return m_target.MeasureText(utf8); }
    void DrawText(std::string_view utf8, const CanvasRect& box, TextAlign align,
                  uint32_t colour) override;

private:
    // Rough before smooth, then by colour and width.
    using Pen = std::tuple<bool, uint32_t, float>;

    // What is drawn over the lines, in order.
    struct Line {
        int32_t x0, y0, x1, y1;
        uint32_t colour;
    };
    struct Ellipse {
        CanvasPoint centre;
        float radiusX, radiusY;
        uint32_t colour;
        float width;
        bool smooth;
    };
    struct Fill {
        CanvasRect rect;
        uint32_t colour;
    };
    struct Font {
        int32_t pixelSize;
    };
    struct Text {
        size_t utf8;  // into m_texts
        CanvasRect box;
        TextAlign align;
        uint32_t colour;
    };
    using Over = std::variant<Line, Ellipse, Fill, Font, Text>;

    ICanvas& m_target;
    // Per pen, where each line starts and ends in m_points.
    std::map<Pen, std::vector<size_t>> m_lines;
    std::vector<CanvasPoint> m_points;
    std::vector<Over> m_over;
    std::vector<std::string> m_texts;
};

}  // namespace vexel
