#include "volume/reference_line_manager.h"

#include <algorithm>

#include "dicom/dicom_file.h"
#include "engine/system_hooks.h"
#include "engine/vexel_engine.h"
#include "imaging/dicom_image.h"
#include "viewer/viewport_2d.h"
#include "viewer/viewport_synchronizer.h"
#include "volume/plane_geometry.h"

namespace vexel {
namespace {

constexpr uint32_t kStudyInstanceUid = 0x0020000D;

std::string StudyOf(CViewport2D& viewport) {
    CDicomImage* image = viewport.CurrentImage();
    return image != nullptr ? image->File().String(kStudyInstanceUid) : std::string();
}

}  // namespace

CReferenceLineManager::CReferenceLineManager(CVexelEngine* engine, Lookups lookups)
    : m_engine(engine), m_lookups(std::move(lookups)) {
    if (m_engine == nullptr) return;
    m_viewportCookie = m_engine->Subscribe(kViewport2DHookName, &OnViewportEvent, this);
    m_workspaceCookie = m_engine->Subscribe(kWorkspaceHookName, &OnWorkspaceEvent, this);
}

CReferenceLineManager::~CReferenceLineManager() {
    if (m_engine == nullptr) return;
    if (m_viewportCookie != 0) m_engine->Unsubscribe(m_viewportCookie);
    if (m_workspaceCookie != 0) m_engine->Unsubscribe(m_workspaceCookie);
}

uint32_t CReferenceLineManager::OnViewportEvent(uint32_t code, uint64_t payload, void* context) {
    auto& self = *static_cast<CReferenceLineManager*>(context);
    switch (Viewport2DEvent(code)) {
        case Viewport2DEvent::FirstImageShown: {
            CViewport2D* viewport =
                self.m_lookups.panel ? self.m_lookups.panel(uint32_t(payload)) : nullptr;
            if (viewport != nullptr) self.Register(*viewport);
            break;
        }
        case Viewport2DEvent::DisplayedImageChanged: {
            const auto* record = reinterpret_cast<const DisplayedImageRecord*>(payload);
            if (CViewport2D* viewport = record ? self.Find(record->viewportId) : nullptr)
                self.ImageChanged(*viewport);
            break;
        }
        case Viewport2DEvent::SeriesClearing:
            self.Unregister(uint32_t(payload));
            break;
        default:
            break;
    }
    return 0;
}

uint32_t CReferenceLineManager::OnWorkspaceEvent(uint32_t code, uint64_t payload, void* context) {
    auto& self = *static_cast<CReferenceLineManager*>(context);
    if (WorkspaceEvent(code) != WorkspaceEvent::PanelActivated) return 0;
    // Kept here rather than asked of the window, which may be going when events come.
    self.m_activePanel = uint32_t(payload);
    CViewport2D* viewport =
        self.m_lookups.panel ? self.m_lookups.panel(self.m_activePanel) : nullptr;
    if (viewport != nullptr) self.Activate(*viewport);
    return 0;
}

CViewport2D* CReferenceLineManager::Find(uint32_t viewportId) const {
    return m_lookups.viewport ? m_lookups.viewport(viewportId) : nullptr;
}

CReferenceLineManager::Group* CReferenceLineManager::GroupOf(uint32_t viewportId,
                                                             std::string* key) {
    for (auto& [study, group] : m_groups) {
        if (std::find(group.viewports.begin(), group.viewports.end(), viewportId) ==
            group.viewports.end())
            continue;
        if (key != nullptr) *key = study;
        return &group;
    }
    return nullptr;
}

void CReferenceLineManager::Register(CViewport2D& viewport) {
    const std::string study = StudyOf(viewport);
    if (study.empty()) return;
    // A viewport that showed another study leaves that group first.
    std::string known;
    if (GroupOf(viewport.Id(), &known) != nullptr && known != study) Unregister(viewport.Id());
    Group& group = m_groups[study];
    if (std::find(group.viewports.begin(), group.viewports.end(), viewport.Id()) ==
        group.viewports.end())
        group.viewports.push_back(viewport.Id());
    const bool active = viewport.PanelId() != 0 && viewport.PanelId() == m_activePanel;
    if (active) return Activate(viewport);
    CViewport2D* source = group.active != 0 ? Find(group.active) : nullptr;
    ComputeLine(viewport, source != nullptr ? source->CurrentFrame() : nullptr, true);
}

void CReferenceLineManager::Unregister(uint32_t viewportId) {
    std::string study;
    Group* group = GroupOf(viewportId, &study);
    if (group == nullptr) return;
    std::erase(group->viewports, viewportId);
    if (CViewport2D* gone = Find(viewportId)) gone->Synchronizer().HideReferenceLine();
    if (group->viewports.empty()) {
        m_groups.erase(study);
        return;
    }
    if (group->active != viewportId) return;
    group->active = 0;
    DrawFromActive(*group);
}

void CReferenceLineManager::Activate(CViewport2D& viewport) {
    for (auto& [study, group] : m_groups) {
        const bool member = std::find(group.viewports.begin(), group.viewports.end(),
                                      viewport.Id()) != group.viewports.end();
        if (member) {
            if (group.active == viewport.Id()) continue;
            group.active = viewport.Id();
        } else if (group.active != 0) {
            // Another study's panel is active now: this group shows no lines.
            group.active = 0;
        } else {
            continue;
        }
        DrawFromActive(group);
    }
}

void CReferenceLineManager::ImageChanged(CViewport2D& viewport) {
    Group* group = GroupOf(viewport.Id());
    if (group == nullptr) return;
    if (group->active == viewport.Id()) return DrawFromActive(*group);
    CViewport2D* source = group->active != 0 ? Find(group->active) : nullptr;
    // The viewport redraws itself for its new image.
    ComputeLine(viewport, source != nullptr ? source->CurrentFrame() : nullptr, false);
}

void CReferenceLineManager::DrawFromActive(const Group& group) {
    CViewport2D* active = group.active != 0 ? Find(group.active) : nullptr;
    CDicomFrame* source = active != nullptr ? active->CurrentFrame() : nullptr;
    for (const uint32_t id : group.viewports) {
        CViewport2D* viewport = Find(id);
        if (viewport == nullptr) continue;
        // The active viewport shows no line of its own.
        ComputeLine(*viewport, id == group.active ? nullptr : source, true);
    }
}

void CReferenceLineManager::ComputeLine(CViewport2D& target, CDicomFrame* source, bool redraw) {
    CViewport2DSynchronizer& synchronizer = target.Synchronizer();
    const bool wasShown = synchronizer.ReferenceLineShown();
    CDicomFrame* shown = target.CurrentFrame();
    const auto sourcePlane = source != nullptr ? PlaneOf(*source) : std::nullopt;
    const auto targetPlane = shown != nullptr ? PlaneOf(*shown) : std::nullopt;
    const auto line =
        sourcePlane && targetPlane ? ReferenceLine(*sourcePlane, *targetPlane) : std::nullopt;
    if (line) {
        synchronizer.SetReferenceLine(line->first, line->second);
    } else {
        synchronizer.HideReferenceLine();
    }
    if (redraw && (line || wasShown)) target.RedrawRect(nullptr);
}

}  // namespace vexel
