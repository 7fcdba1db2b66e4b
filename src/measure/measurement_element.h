// The base of the measurement kinds: points kept in image coordinates and laid out anew for
// the viewport that shows them, a label that follows the rightmost point until the user moves
// it, hovering, selection and dragging of handles, label or the whole shape.
//
// Creation is each kind's own; once finished, an element answers the mouse here. Answers are
// those of tools: hovering captures, so the following moves come here first.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "measure/measure_geometry.h"
#include "measure/measurement_records.h"
#include "measure/measurement_style.h"
#include "platform/canvas.h"
#include "viewer/overlay_element.h"
#include "viewer/viewport_tool.h"

namespace vexel {

class CMeasurementList;

enum class ElementState : uint32_t { Idle = 0, Hovered = 1, Dragging = 3 };

class CMeasurementElement : public COverlayElement {
public:
    // Logical screen pixels: Reach() gives them in the viewport's device pixels, so they keep
    // their size on screen at every ratio.
    static constexpr double kHandleReach = 10.0;  // pixels from a handle that grab it
    static constexpr double kLineReach = 5.0;     // pixels from a line that hover it

    CMeasurementElement(CViewport2D& viewport, MeasurementKind kind, size_t points);

    MeasurementKind Kind() const { return m_kind; }
    bool Finished() const { return m_finished; }
    ElementState State() const { return m_state; }
    bool Selected() const { return m_selected; }
    void SetSelected(bool selected) { m_selected = selected; }
    void SetList(CMeasurementList* list) { m_list = list; }
    const std::vector<ImagePoint>& Points() const { return m_points; }
    const std::string& Text() const { return m_text; }

    virtual ToolAnswer MouseDown(int32_t x, int32_t y, MouseButton button);
    virtual ToolAnswer MouseMove(int32_t x, int32_t y);
    virtual ToolAnswer MouseUp(int32_t x, int32_t y, MouseButton button);

    // Label size for the canvas's font, then the viewport positions.
    void Measure(ICanvas& canvas) override;
    // Viewport positions from the image points, with the label size last measured.
    virtual void Place();
    void Draw(ICanvas& canvas) override;

    // Finished elements only.
    virtual std::optional<MeasurementRecord> Record() const;
    // Becomes the finished element the record describes.
    virtual void Restore(const MeasurementRecord& record);
    // The value text from the points.
    virtual void UpdateText() = 0;
    // Lays out again and redraws what the element covered before and covers now.
    void Changed();
    // Hover and drag end without a release (the frame changed); true when a drag ended.
    bool EndInteraction();

protected:
    // Parts of an element under the mouse or being dragged.
    struct Hit {
        int handle = -1;   // index into the points
        int segment = -1;  // which line, for kinds with several
        bool label = false;
        friend bool operator==(const Hit&, const Hit&) = default;
    };
    // For each point, which coordinates a drag moves: bit 1 x, bit 2 y.
    using DragMask = std::vector<uint8_t>;

    // Creation, until Finish().
    virtual ToolAnswer CreateDown(int32_t x, int32_t y, MouseButton button) = 0;
    virtual ToolAnswer CreateMove(int32_t x, int32_t y) = 0;
    virtual ToolAnswer CreateUp(int32_t x, int32_t y, MouseButton button) = 0;
    // The shape under a viewport position (the label is tested before); none when missed.
    virtual std::optional<Hit> HitShape(CanvasPoint p) const = 0;
    // What a press on `hit` drags.
    virtual DragMask DragFor(const Hit& hit, CanvasPoint press) const;
    virtual void DrawShape(ICanvas& canvas) = 0;
    // The box the shape spans in viewport pixels, before the label.
    virtual PixelRect ShapeBox() const;

    // `logical` screen pixels in device pixels of the viewport.
    double Reach(double logical) const;
    // The centre of the viewport pixel the mouse is on.
    static CanvasPoint Centre(int32_t x, int32_t y) { return {float(x) + 0.5f, float(y) + 0.5f}; }
    // Point i from the mouse; false (and nothing stored) when it has no image position.
    bool SetPoint(size_t i, int32_t x, int32_t y);
    // Creation by one drag from the first point to the second, for the kinds made that way.
    ToolAnswer DragCreateDown(int32_t x, int32_t y);
    ToolAnswer DragCreateMove(int32_t x, int32_t y);
    ToolAnswer DragCreateUp();
    // The element is complete: it is stored and releases the capture.
    void Finish();
    // The nearest handle within `reach` of p, in point order; -1 when none.
    int HandleNear(CanvasPoint p, double reach) const;
    // Distance from p to the segment between screen points a and b.
    double ToSegment(CanvasPoint p, size_t a, size_t b) const;
    bool InBox(CanvasPoint p) const;

    // Drawing pieces in the element's look.
    uint32_t LineColour() const;
    uint32_t HandleColour(int handle) const;
    // A smooth line of `colour` over a dark band.
    void DrawOutlined(ICanvas& canvas, std::span<const CanvasPoint> points, uint32_t colour) const;
    void DrawSegment(ICanvas& canvas, CanvasPoint a, CanvasPoint b, uint32_t colour) const;
    void DrawCross(ICanvas& canvas, CanvasPoint p, uint32_t colour) const;
    void DrawHandles(ICanvas& canvas) const;
    void DrawLabel(ICanvas& canvas) const;

    const CMeasurementList& List() const { return *m_list; }

    MeasurementKind m_kind;
    CMeasurementList* m_list = nullptr;
    ElementState m_state = ElementState::Idle;
    bool m_selected = false;
    bool m_finished = false;
    uint32_t m_phase = 0;  // creation steps, each kind its own

    std::vector<ImagePoint> m_points;
    std::vector<CanvasPoint> m_screen;  // as last placed, exact
    std::string m_text;
    Hit m_hover;

    // The label: size for the text last measured, position in both spaces.
    std::string m_measuredText;
    int32_t m_lineHeight = 0;
    CanvasSize m_labelSize;
    ScreenPoint m_labelAt;
    bool m_labelMoved = false;
    ImagePoint m_labelImage;
    PixelRect m_box;  // the shape's box, widened by 4

private:
    ToolAnswer Hover(CanvasPoint p);
    ToolAnswer Drag(ScreenPoint p);
    bool InLabel(CanvasPoint p) const;

    // A drag: what moves, and where everything was at the press.
    DragMask m_drag;
    bool m_dragLabel = false;
    ImagePoint m_pressImage;
    ScreenPoint m_press;
    std::vector<ImagePoint> m_startPoints;
    ScreenPoint m_startLabel;
};

}  // namespace vexel
