#include "viewer/viewport_synchronizer.h"

#include "engine/system_hooks.h"
#include "engine/vexel_engine.h"
#include "platform/canvas.h"
#include "viewer/viewport_2d.h"
#include "viewer/viewport_hash.h"

namespace vexel {

CViewport2DSynchronizer::CViewport2DSynchronizer(CViewport2D& viewport, CVexelEngine* engine,
                                                 ICorrespondingImages* finder,
                                                 std::function<bool()> autoSynchronise)
    : CViewport2DTool(viewport, ToolType::Synchroniser),
      m_engine(engine),
      m_finder(finder),
      m_autoSynchronise(std::move(autoSynchronise)) {}

CViewport2DSynchronizer::~CViewport2DSynchronizer() {
    SetOnScreen(false);
}

void CViewport2DSynchronizer::SetOnScreen(bool onScreen) {
    if (onScreen && m_cookie == 0 && m_engine != nullptr) {
        m_cookie = m_engine->Subscribe(kViewport2DHookName, &OnViewportEvent, this);
    } else if (!onScreen && m_cookie != 0) {
        m_engine->Unsubscribe(m_cookie);
        m_cookie = 0;
    }
}

uint32_t CViewport2DSynchronizer::OnViewportEvent(uint32_t code, uint64_t payload, void* context) {
    if (code == EventCode(Viewport2DEvent::DisplayedImageChanged) && payload != 0) {
        static_cast<CViewport2DSynchronizer*>(context)->Follow(
            *reinterpret_cast<const DisplayedImageRecord*>(uintptr_t(payload)));
    }
    return 0;
}

void CViewport2DSynchronizer::Follow(const DisplayedImageRecord& source) {
    if (!m_enabled || m_finder == nullptr) return;
    if (m_autoSynchronise && !m_autoSynchronise()) return;
    if (source.viewportId == m_viewport.Id() || source.image == nullptr) return;
    // The user's drag in this viewport wins over the other viewport.
    if (m_viewport.DragInProgress() || m_viewport.CinePlaying()) return;
    CViewport2D* other = CViewportHash::Instance().Find(source.viewportId);
    if (other == nullptr) return;
    if (!other->Synchronizer().Enabled()) return;
    size_t frame = 0;
    CDicomImage* image = m_finder->FindCorrespondingImage(source, m_viewport, &frame);
    if (image == nullptr) return;
    for (size_t i = 0; i < m_viewport.ImageCount(); ++i) {
        if (m_viewport.ImageAt(i) != image) continue;
        // Not announced: following must not cascade back.
        if (i != m_viewport.CurrentIndex() || frame != m_viewport.CurrentFrameIndex())
            m_viewport.ShowImageFrame(i, frame, false, true);
        return;
    }
}

void CViewport2DSynchronizer::Reset() {
    m_enabled = true;
    m_lineVisible = false;
}

void CViewport2DSynchronizer::SetReferenceLine(ImagePoint from, ImagePoint to) {
    m_from = from;
    m_to = to;
    m_lineVisible = true;
}

void CViewport2DSynchronizer::Draw(ICanvas& canvas, const PixelRect*) {
    if (!ReferenceLineShown()) return;
    const auto from = m_viewport.ImageToScreen(m_from.x, m_from.y);
    const auto to = m_viewport.ImageToScreen(m_to.x, m_to.y);
    if (!from || !to) return;
    // Through pixel centres, so that a 1-pixel line is not smeared over two rows.
    const CanvasPoint line[] = {{float(from->x) + 0.5f, float(from->y) + 0.5f},
                                {float(to->x) + 0.5f, float(to->y) + 0.5f}};
    canvas.DrawPolyline(line, kLineOutline, 3, true);
    canvas.DrawPolyline(line, kLineColour, 1, true);
}

}  // namespace vexel
