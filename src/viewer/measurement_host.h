// What the viewer asks of the measurements, which live in a higher layer that installs them
// through ViewportServices. Each frame has one list of measurements, shared by every viewport
// that shows it; a viewport works on it through a handle of its own.
#pragma once

#include <cstdint>
#include <memory>

#include "viewer/viewport_tool.h"

namespace vexel {

class CDicomFrame;
class CViewport2D;
class ICanvas;
struct PixelRect;

// Measurement kinds, as the main window chooses them and the records store them.
enum class MeasurementKind : uint32_t { Length = 2, Ellipse = 3, Pencil = 4, Angle = 5, Cobb = 6 };

// One viewport's handle on the list of the frame it shows. Answers as for tools.
class IMeasurementList {
public:
    virtual ~IMeasurementList() = default;

    virtual ToolAnswer MouseDown(int32_t x, int32_t y, MouseButton button) = 0;
    virtual ToolAnswer MouseMove(int32_t x, int32_t y) = 0;
    virtual ToolAnswer MouseUp(int32_t x, int32_t y, MouseButton button) = 0;
    // A new element of `kind`, given the press and the first movement after it; it becomes
    // the captured element.
    virtual void Create(MeasurementKind kind, int32_t pressX, int32_t pressY, MouseButton button,
                        int32_t x, int32_t y) = 0;
    // Lays out every visible element, then draws those that meet `clip` (all when null).
    virtual void Draw(ICanvas& canvas, const PixelRect* clip) = 0;

    virtual void Deselect() = 0;
    // Each true when something was deleted; the list is stored again.
    virtual bool DeleteSelected() = 0;
    virtual bool DeleteAll() = 0;
    // Deletes an element still being created and releases the capture; true when there was one.
    virtual bool Abandon() = 0;
    // Works out every label again (the values under the elements changed: fusion on or off).
    virtual void RefreshLabels() = 0;
};

class IMeasurementLists {
public:
    virtual ~IMeasurementLists() = default;
    // The list of the frame `viewport` shows now, restored from the viewport's state store
    // when no other viewport shows it.
    virtual std::unique_ptr<IMeasurementList> Open(CViewport2D& viewport, CDicomFrame& frame) = 0;
    // Deletes the measurements of every frame of every image the viewport lists; true when
    // any were deleted.
    virtual bool DeleteSeries(CViewport2D& viewport) = 0;
};

}  // namespace vexel
