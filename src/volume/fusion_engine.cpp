#include "volume/fusion_engine.h"

#include <algorithm>

#include "engine/system_hooks.h"
#include "engine/vexel_engine.h"
#include "engine/volume_manager.h"
#include "viewer/viewport_2d.h"
#include "viewer/viewport_hash.h"
#include "viewer/viewport_measurements.h"
#include "volume/viewport_fusion.h"

namespace vexel {
namespace {

constexpr uint32_t kNoImagesText = 7011;
constexpr uint32_t kNoPartnerText = 7012;

CViewport2DFusion* FusionTool(CViewport2D& viewport) {
    return dynamic_cast<CViewport2DFusion*>(&viewport.Tool(ToolType::None));
}

}  // namespace

CFusionEngine::CFusionEngine(CVexelEngine* engine, CVolumeManager* volumes, TextLookup text)
    : m_engine(engine), m_volumes(volumes), m_text(std::move(text)) {
    if (m_engine != nullptr)
        m_cookie = m_engine->Subscribe(kViewport2DHookName, OnViewportEvent, this);
}

CFusionEngine::~CFusionEngine() {
    if (m_engine != nullptr && m_cookie != 0) m_engine->Unsubscribe(m_cookie);
}

uint32_t CFusionEngine::OnViewportEvent(uint32_t code, uint64_t payload, void* context) {
    auto* self = static_cast<CFusionEngine*>(context);
    if (code == EventCode(Viewport2DEvent::SeriesClearing))
        self->ViewportCleared(uint32_t(payload));
    if (code == EventCode(Viewport2DEvent::LookupChanged)) self->WindowChanged(uint32_t(payload));
    return 0;
}

std::string CFusionEngine::Toggle(CViewport2D& viewport) {
    if (!IsFused(viewport.Id())) return Start(viewport);
    Stop(viewport.Id());
    return {};
}

std::string CFusionEngine::Start(CViewport2D& viewport) {
    CViewport2DFusion* tool = FusionTool(viewport);
    const auto reason = [this](uint32_t id, const char* english) {
        const std::string text = m_text ? m_text(id) : std::string();
        return text.empty() ? std::string(english) : text;
    };
    if (tool == nullptr || viewport.ImageCount() == 0)
        return reason(kNoImagesText, "Fusion needs images in the active panel");
    uint32_t overlay = 0;
    if (m_volumes == nullptr || !m_volumes->FindParallelVolume(viewport.Id(), &overlay))
        return reason(kNoPartnerText,
                      "Fusion needs another panel showing a series of this study and frame of "
                      "reference in the same orientation");
    Stop(viewport.Id());
    m_pairs.push_back({viewport.Id(), overlay});
    tool->SetOverlay(overlay);
    viewport.Measurements().RefreshLabels();
    viewport.RenderComposePresent();
    return {};
}

void CFusionEngine::Stop(uint32_t baseViewportId) {
    const auto gone = std::remove_if(m_pairs.begin(), m_pairs.end(),
                                     [&](const FusionPair& p) { return p.base == baseViewportId; });
    if (gone == m_pairs.end()) return;
    m_pairs.erase(gone, m_pairs.end());
    CViewport2D* viewport = CViewportHash::Instance().Find(baseViewportId);
    if (CViewport2DFusion* tool = viewport != nullptr ? FusionTool(*viewport) : nullptr) {
        tool->SetOverlay(0);
        viewport->Measurements().RefreshLabels();
        viewport->RenderComposePresent();
    }
}

bool CFusionEngine::IsFused(uint32_t baseViewportId) const {
    return std::any_of(m_pairs.begin(), m_pairs.end(),
                       [&](const FusionPair& p) { return p.base == baseViewportId; });
}

void CFusionEngine::ViewportCleared(uint32_t viewportId) {
    std::vector<uint32_t> bases;
    for (const FusionPair& p : m_pairs)
        if (p.overlay == viewportId || p.base == viewportId) bases.push_back(p.base);
    for (uint32_t base : bases)
        Stop(base);
}

void CFusionEngine::WindowChanged(uint32_t panelId) {
    for (const FusionPair& p : m_pairs) {
        const CViewport2D* overlay = CViewportHash::Instance().Find(p.overlay);
        if (overlay != nullptr && overlay->PanelId() == panelId) Redraw(p.base);
    }
}

void CFusionEngine::Redraw(uint32_t baseViewportId) {
    if (CViewport2D* viewport = CViewportHash::Instance().Find(baseViewportId))
        viewport->RenderComposePresent();
}

}  // namespace vexel
