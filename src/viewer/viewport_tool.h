// The tools of a 2D viewport: each may take part in mouse handling, draw a layer, and is told
// when the frame or the series changes. The viewport owns eleven of them in a fixed order and
// asks them in that order (the tool of the pressed button first).
#pragma once

#include <algorithm>
#include <cstdint>

namespace vexel {

class CDicomFrame;
class CDicomImage;
class CViewport2D;
class ICanvas;
struct PixelRect;

enum class MouseButton : uint32_t { Left = 1, Right = 2, Middle = 3 };

enum class ToolAnswer : uint32_t {
    NotHandled = 0,  // the viewport asks the next tool
    Handled = 1,     // dispatch ends
    Capture = 2,     // handled; this tool receives the following events first
};

// to - from for mouse positions, which may come from anywhere in the 32-bit range.
inline int32_t DragDistance(int32_t to, int32_t from) {
    return int32_t(std::clamp<int64_t>(int64_t(to) - from, INT32_MIN, INT32_MAX));
}

enum class ToolType : uint32_t {
    None = 0,  // fusion
    Pan = 1,
    Zoom = 2,
    Window = 3,
    Browse = 4,
    Annotations = 5,
    Rulers = 6,
    Measurements = 7,
    Cine = 8,
    Synchroniser = 9,
    Mpr = 10,
};

class CViewport2DTool {
public:
    CViewport2DTool(CViewport2D& viewport, ToolType type) : m_viewport(viewport), m_type(type) {}
    virtual ~CViewport2DTool() = default;
    CViewport2DTool(const CViewport2DTool&) = delete;
    CViewport2DTool& operator=(const CViewport2DTool&) = delete;

    virtual ToolAnswer MouseDown(int32_t /*x*/, int32_t /*y*/, MouseButton /*button*/) {
        return ToolAnswer::NotHandled;
    }
    virtual ToolAnswer MouseMove(int32_t /*x*/, int32_t /*y*/) { return ToolAnswer::NotHandled; }
    virtual ToolAnswer MouseUp(int32_t /*x*/, int32_t /*y*/, MouseButton /*button*/) {
        return ToolAnswer::NotHandled;
    }
    // Draws the tool's layer; `clip` null means the whole surface.
    virtual void Draw(ICanvas& /*canvas*/, const PixelRect* /*clip*/) {}
    // The viewport has set Image() and Frame() before the call; both null after a Clear.
    virtual void FrameChanged(CDicomFrame* /*frame*/) {}
    virtual void SeriesChanged() {}
    // The viewport was cleared.
    virtual void Reset() {}
    // The viewport was cleared during a drag: the drag ends without its release.
    virtual void EndDrag() { m_active = false; }

    ToolType Type() const { return m_type; }
    // A drag of this tool is in progress.
    bool Active() const { return m_active; }
    CDicomImage* Image() const { return m_image; }
    CDicomFrame* Frame() const { return m_frame; }
    void SetShown(CDicomImage* image, CDicomFrame* frame) {
        m_image = image;
        m_frame = frame;
    }

protected:
    CViewport2D& m_viewport;
    bool m_active = false;

private:
    ToolType m_type;
    CDicomImage* m_image = nullptr;
    CDicomFrame* m_frame = nullptr;
};

}  // namespace vexel
