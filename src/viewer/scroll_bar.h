// The slim vertical scroll bar on a viewport's right edge: one position per image of the
// series. This is its state and mouse logic; the window side only paints Thumb().
#pragma once

#include <cstdint>
#include <functional>

#include "viewer/viewport_surface.h"

namespace vexel {

class CMyScrollBarHost {
public:
    virtual ~CMyScrollBarHost() = default;
    // The user moved the bar to `position`.
    virtual void ScrolledTo(int32_t position) = 0;
};

class CMyScrollBar {
public:
    static constexpr int32_t kWidth = 12;
    static constexpr int32_t kMinThumbHeight = 30;

    explicit CMyScrollBar(CMyScrollBarHost& host) : m_host(host) {}

    void SetHeight(int32_t height);
    // Active (thumb drawn, mouse accepted) when there is more than one position.
    void SetRange(int32_t count, int32_t position);
    void Deactivate();

    bool Active() const { return m_active; }
    int32_t Minimum() const { return m_minimum; }
    int32_t Maximum() const { return m_maximum; }
    int32_t Position() const { return m_position; }
    bool Hover() const { return m_hover; }
    bool Dragging() const { return m_dragging; }
    // In bar coordinates; empty while inactive.
    PixelRect Thumb() const;

    // Mouse in bar coordinates: a press on the thumb starts a drag, above or below it steps
    // by one. Each change of position calls the host.
    void Press(int32_t y);
    void Move(int32_t y);
    void Release();
    void Leave();

    // Called whenever the bar must be painted again.
    std::function<void()> onChanged;

private:
    void MoveTo(int32_t position);
    void Changed() {
        if (onChanged) onChanged();
    }

    CMyScrollBarHost& m_host;
    int32_t m_height = 0;
    bool m_active = false;
    bool m_hover = false;
    bool m_dragging = false;
    int32_t m_minimum = 0;
    int32_t m_maximum = 1;
    int32_t m_position = 0;
    int32_t m_dragOffset = 0;
};

}  // namespace vexel
