// Draws, on every other panel of a study, the line where the active panel's image cuts the
// image shown there. Viewports are grouped by the study they show; each group follows the
// active panel. Fed by the viewer's and the workspace's events; viewports are named by id and
// looked up each time, so a viewport that went is never touched.
//
// Threads: the user-interface thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace vexel {

class CDicomFrame;
class CVexelEngine;
class CViewport2D;

class CReferenceLineManager {
public:
    struct Lookups {
        std::function<CViewport2D*(uint32_t panelId)> panel;
        std::function<CViewport2D*(uint32_t viewportId)> viewport;
    };

    // Subscribes to the engine's viewport and workspace events (null: none; call the
    // methods directly).
    CReferenceLineManager(CVexelEngine* engine, Lookups lookups);
    ~CReferenceLineManager();
    CReferenceLineManager(const CReferenceLineManager&) = delete;
    CReferenceLineManager& operator=(const CReferenceLineManager&) = delete;

    // The viewport shows images of a study now.
    void Register(CViewport2D& viewport);
    // The viewport is cleared or goes.
    void Unregister(uint32_t viewportId);
    // The panel of `viewport` became the active one.
    void Activate(CViewport2D& viewport);
    // The viewport shows another image or frame.
    void ImageChanged(CViewport2D& viewport);

    // The line on `target` where the plane of `source` cuts its current frame; hidden without
    // a source or when the planes do not meet usefully.
    static void ComputeLine(CViewport2D& target, CDicomFrame* source, bool redraw);

private:
    struct Group {
        std::vector<uint32_t> viewports;  // in registration order
        uint32_t active = 0;              // 0: none
    };

    static uint32_t OnViewportEvent(uint32_t code, uint64_t payload, void* context);
    static uint32_t OnWorkspaceEvent(uint32_t code, uint64_t payload, void* context);
    Group* GroupOf(uint32_t viewportId, std::string* key = nullptr);
    CViewport2D* Find(uint32_t viewportId) const;
    // Every other viewport of the group draws the line of the active one's frame.
    void DrawFromActive(const Group& group);

    CVexelEngine* m_engine;
    Lookups m_lookups;
    std::map<std::string, Group> m_groups;  // by Study Instance UID
    uint32_t m_activePanel = 0;             // as the workspace last reported it
    uint32_t m_viewportCookie = 0;
    uint32_t m_workspaceCookie = 0;
};

}  // namespace vexel
