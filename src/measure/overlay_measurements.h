// The measurement kinds. Each is created by a press and the movements after it, then hovered,
// selected and edited through CMeasurementElement.
#pragma once

#include <optional>

#include "measure/measurement_element.h"

namespace vexel {

// A distance: press at one end, drag to the other.
class COverlayLength final : public CMeasurementElement {
public:
    explicit COverlayLength(CViewport2D& viewport)
        : CMeasurementElement(viewport, MeasurementKind::Length, 2) {}
    void UpdateText() override;

protected:
    ToolAnswer CreateDown(int32_t x, int32_t y, MouseButton button) override;
    ToolAnswer CreateMove(int32_t x, int32_t y) override;
    ToolAnswer CreateUp(int32_t x, int32_t y, MouseButton button) override;
    std::optional<Hit> HitShape(CanvasPoint p) const override;
    void DrawShape(ICanvas& canvas) override;
};

// The angle at a vertex: press at the first point, drag to the vertex, release, move to the
// third point and click.
class COverlayAngle final : public CMeasurementElement {
public:
    explicit COverlayAngle(CViewport2D& viewport)
        : CMeasurementElement(viewport, MeasurementKind::Angle, 3) {}
    void UpdateText() override;

protected:
    ToolAnswer CreateDown(int32_t x, int32_t y, MouseButton button) override;
    ToolAnswer CreateMove(int32_t x, int32_t y) override;
    ToolAnswer CreateUp(int32_t x, int32_t y, MouseButton button) override;
    std::optional<Hit> HitShape(CanvasPoint p) const override;
    void DrawShape(ICanvas& canvas) override;
};

// The angle between two lines (endplates), each dragged on its own; an auxiliary segment
// carries the second line's direction to an end of the first.
class COverlayCobbAngle final : public CMeasurementElement {
public:
    explicit COverlayCobbAngle(CViewport2D& viewport)
        : CMeasurementElement(viewport, MeasurementKind::Cobb, 4) {}
    void UpdateText() override;
    void Place() override;

protected:
    ToolAnswer CreateDown(int32_t x, int32_t y, MouseButton button) override;
    ToolAnswer CreateMove(int32_t x, int32_t y) override;
    ToolAnswer CreateUp(int32_t x, int32_t y, MouseButton button) override;
    std::optional<Hit> HitShape(CanvasPoint p) const override;
    DragMask DragFor(const Hit& hit, CanvasPoint press) const override;
    void DrawShape(ICanvas& canvas) override;
    PixelRect ShapeBox() const override;

private:
    std::optional<CobbAngle> m_angle;
    CanvasPoint m_auxiliary[2];
};

// An axis-aligned elliptical region given by two opposite corners of its box, labelled with
// the statistics of the pixels whose centres lie inside and its area.
class COverlayEllipse final : public CMeasurementElement {
public:
    explicit COverlayEllipse(CViewport2D& viewport)
        : CMeasurementElement(viewport, MeasurementKind::Ellipse, 2) {}
    void UpdateText() override;
    void Place() override;

protected:
    ToolAnswer CreateDown(int32_t x, int32_t y, MouseButton button) override;
    ToolAnswer CreateMove(int32_t x, int32_t y) override;
    ToolAnswer CreateUp(int32_t x, int32_t y, MouseButton button) override;
    std::optional<Hit> HitShape(CanvasPoint p) const override;
    DragMask DragFor(const Hit& hit, CanvasPoint press) const override;
    void DrawShape(ICanvas& canvas) override;

private:
    // (x1, y1), (x2, y2), (x1, y2), (x2, y1) on screen.
    CanvasPoint m_corners[4];
    int CornerNear(CanvasPoint p) const;
};

// A freehand line: every mouse position while the button is held. No label and no editing;
// it can be hovered, selected and deleted.
class COverlayPencil final : public CMeasurementElement {
public:
    explicit COverlayPencil(CViewport2D& viewport)
        : CMeasurementElement(viewport, MeasurementKind::Pencil, 0) {}
    void UpdateText() override {}
    ToolAnswer MouseDown(int32_t x, int32_t y, MouseButton button) override;
    std::optional<MeasurementRecord> Record() const override;

protected:
    ToolAnswer CreateDown(int32_t x, int32_t y, MouseButton button) override;
    ToolAnswer CreateMove(int32_t x, int32_t y) override;
    ToolAnswer CreateUp(int32_t x, int32_t y, MouseButton button) override;
    std::optional<Hit> HitShape(CanvasPoint p) const override;
    void DrawShape(ICanvas& canvas) override;

private:
    bool Add(int32_t x, int32_t y);
};

}  // namespace vexel
