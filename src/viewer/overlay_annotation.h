// One line of corner text: which corner, how many lines from the edge, and the text it shows
// (owned by the annotations tool, which rebuilds it on every frame change).
#pragma once

#include <cstdint>
#include <string>

#include "viewer/overlay_element.h"

namespace vexel {

enum class Corner : uint32_t { TopLeft = 1, TopRight = 2, BottomLeft = 3, BottomRight = 4 };

// 0x00RRGGBB
inline constexpr uint32_t kLightYellow = 0xFFFF96;
inline constexpr uint32_t kLightRed = 0xFF9696;

class COverlayAnnotation final : public COverlayElement {
public:
    COverlayAnnotation(CViewport2D& viewport, const std::string& text, uint32_t colour,
                       Corner corner, int32_t line)
        : COverlayElement(viewport), m_text(text), m_colour(colour), m_corner(corner),
          m_line(line) {}

    void Measure(ICanvas& canvas) override;
    void Draw(ICanvas& canvas) override;

    const std::string& Text() const { return m_text; }
    Corner Place() const { return m_corner; }
    int32_t Line() const { return m_line; }

private:
    const std::string& m_text;
    // The last measurement: texts change once per frame, layouts happen on every draw.
    std::string m_measuredText;
    int32_t m_measuredFont = 0;
    int32_t m_measuredWidth = 0;
    int32_t m_measuredHeight = 0;
    uint32_t m_colour;
    Corner m_corner;
    int32_t m_line;
};

// Line height of corner text for a font size.
inline int32_t AnnotationLineHeight(int32_t fontSize) {
    return int32_t(double(fontSize) * 1.05);
}

}  // namespace vexel
