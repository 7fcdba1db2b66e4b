// The measurements of one frame: the elements in creation order, the captured and the selected
// one. Every viewport that shows the frame shares the list; each works on it through a handle,
// and the list lays its elements out for the viewport it serves. Every finished, edited or
// deleted element writes the whole list to the state store at once, so nothing depends on
// which viewport closes first.
//
// CMeasurementLists hands out the lists: one per state store and frame while any viewport
// shows it, restored from the store when the first one opens it.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "measure/calibration.h"
#include "measure/measurement_element.h"
#include "viewer/measurement_host.h"
#include "viewer/viewer_texts.h"

namespace vexel {

class CDicomFrame;
class CSeriesStateStore;

class CMeasurementList {
public:
    CMeasurementList(CSeriesStateStore& store, std::string key, CDicomFrame& frame,
                     TextLookup texts);
    CMeasurementList(const CMeasurementList&) = delete;
    CMeasurementList& operator=(const CMeasurementList&) = delete;

    void Attach(CViewport2D& viewport, CDicomFrame& frame);
    void Detach(CViewport2D& viewport);
    // Lays the elements out for `viewport`, which shows `frame`, when another was served last.
    void Serve(CViewport2D& viewport, CDicomFrame& frame);
    // The other viewports show a change made in `acting`.
    void RedrawOthers(CViewport2D& acting);

    ToolAnswer MouseDown(int32_t x, int32_t y, MouseButton button);
    ToolAnswer MouseMove(int32_t x, int32_t y);
    ToolAnswer MouseUp(int32_t x, int32_t y, MouseButton button);
    void Create(CViewport2D& viewport, MeasurementKind kind, int32_t pressX, int32_t pressY,
                MouseButton button, int32_t x, int32_t y);
    void Draw(ICanvas& canvas, const PixelRect* clip);

    void Append(std::unique_ptr<CMeasurementElement> element);
    void Select(CMeasurementElement* element);
    void Deselect();
    bool DeleteSelected();
    bool DeleteAll();
    bool Abandon();
    // An element was finished or edited.
    void Committed();
    // Forgets `element` as the captured one.
    void Release(const CMeasurementElement* element);

    // Writes the finished elements, or removes the stored value when there is none.
    void Save();
    // Appends the elements the store holds, laid out for `viewport`.
    void Restore(CViewport2D& viewport);

    CDicomFrame& Frame() const { return *m_frame; }
    const Calibration& Spacing() const { return m_calibration; }
    const TextLookup& Texts() const { return m_texts; }
    // Frames made from a buffer (reformatted volumes) hold interpolated values.
    bool Interpolated() const;
    const std::vector<std::unique_ptr<CMeasurementElement>>& Elements() const {
        return m_elements;
    }

private:
    ToolAnswer Route(const std::function<ToolAnswer(CMeasurementElement&)>& ask);
    void Redraw(CMeasurementElement& element);

    CSeriesStateStore& m_store;
    std::string m_key;
    CDicomFrame* m_frame;
    TextLookup m_texts;
    Calibration m_calibration;
    std::vector<std::unique_ptr<CMeasurementElement>> m_elements;
    CMeasurementElement* m_captured = nullptr;
    CMeasurementElement* m_selected = nullptr;
    struct Shown {
        CViewport2D* viewport;
        CDicomFrame* frame;
    };
    std::vector<Shown> m_viewports;
    CViewport2D* m_served = nullptr;
    bool m_changed = false;  // since the others were last redrawn
};

// The lists of all viewports. Off-screen viewports on other threads reach it with private
// stores, so the table is locked; a list itself belongs to its store's thread.
class CMeasurementLists final : public IMeasurementLists {
public:
    std::unique_ptr<IMeasurementList> Open(CViewport2D& viewport, CDicomFrame& frame) override;
    bool DeleteSeries(CViewport2D& viewport) override;

private:
    using ListKey = std::pair<const CSeriesStateStore*, std::string>;
    std::shared_ptr<CMeasurementList> Find(const ListKey& key);

    std::mutex m_mutex;
    std::map<ListKey, std::weak_ptr<CMeasurementList>> m_lists;
};

// The state-store key of a frame's measurements.
std::string MeasurementKey(const CDicomImage& image, size_t frame);

// A new, unfinished element of `kind`.
std::unique_ptr<CMeasurementElement> MakeMeasurement(CViewport2D& viewport, MeasurementKind kind);

}  // namespace vexel
