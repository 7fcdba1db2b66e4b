#include "measure/measurement_list.h"

#include <algorithm>

#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "measure/overlay_measurements.h"
#include "measure/stroke_batch.h"
#include "viewer/series_state_store.h"
#include "viewer/viewport_2d.h"

namespace vexel {
namespace {

// One viewport's handle: every call first lays the list out for this viewport, and a change
// made through it is shown by the other viewports afterwards.
class CMeasurementListHandle final : public IMeasurementList {
    template <typename F>
    auto Acting(F&& act) {
        m_list->Serve(m_viewport, m_frame);
        auto result = act();
        m_list->RedrawOthers(m_viewport);
        return result;
    }

public:
    CMeasurementListHandle(std::shared_ptr<CMeasurementList> list, CViewport2D& viewport,
                           CDicomFrame& frame)
        : m_list(std::move(list)), m_viewport(viewport), m_frame(frame) {
        m_list->Attach(m_viewport, m_frame);
    }
    ~CMeasurementListHandle() override { m_list->Detach(m_viewport); }

    ToolAnswer MouseDown(int32_t x, int32_t y, MouseButton button) override {
        return Acting([&] { return m_list->MouseDown(x, y, button); });
    }
    ToolAnswer MouseMove(int32_t x, int32_t y) override {
        return Acting([&] { return m_list->MouseMove(x, y); });
    }
    ToolAnswer MouseUp(int32_t x, int32_t y, MouseButton button) override {
        return Acting([&] { return m_list->MouseUp(x, y, button); });
    }
    void Create(MeasurementKind kind, int32_t pressX, int32_t pressY, MouseButton button,
                int32_t x, int32_t y) override {
        Acting([&] {
            m_list->Create(m_viewport, kind, pressX, pressY, button, x, y);
            return true;
        });
    }
    void Draw(ICanvas& canvas, const PixelRect* clip) override {
        m_list->Serve(m_viewport, m_frame);
        m_list->Draw(canvas, clip);
    }
    void Deselect() override {
        Acting([&] {
            m_list->Deselect();
            return true;
        });
    }
    bool DeleteSelected() override {
        return Acting([&] { return m_list->DeleteSelected(); });
    }
    bool DeleteAll() override {
        return Acting([&] { return m_list->DeleteAll(); });
    }
    bool Abandon() override {
        return Acting([&] { return m_list->Abandon(); });
    }
    void RefreshLabels() override {
        m_list->Serve(m_viewport, m_frame);
        for (const auto& element : m_list->Elements()) {
            element->UpdateText();
            element->Place();
        }
    }

private:
    std::shared_ptr<CMeasurementList> m_list;
    CViewport2D& m_viewport;
    CDicomFrame& m_frame;
};

}  // namespace

std::string MeasurementKey(const CDicomImage& image, size_t frame) {
    return image.Key() + "@" + std::to_string(frame);
}

std::unique_ptr<CMeasurementElement> MakeMeasurement(CViewport2D& viewport,
                                                     MeasurementKind kind) {
    switch (kind) {
        case MeasurementKind::Length:
            return std::make_unique<COverlayLength>(viewport);
        case MeasurementKind::Ellipse:
            return std::make_unique<COverlayEllipse>(viewport);
        case MeasurementKind::Pencil:
            return std::make_unique<COverlayPencil>(viewport);
        case MeasurementKind::Angle:
            return std::make_unique<COverlayAngle>(viewport);
        case MeasurementKind::Cobb:
            return std::make_unique<COverlayCobbAngle>(viewport);
    }
    return nullptr;
}

// ---- the list ----

CMeasurementList::CMeasurementList(CSeriesStateStore& store, std::string key, CDicomFrame& frame,
                                   TextLookup texts)
    : m_store(store), m_key(std::move(key)), m_frame(&frame), m_texts(std::move(texts)),
      m_calibration(CalibrationOf(frame.Image())) {}

bool CMeasurementList::Interpolated() const {
    return m_frame->InMemory();
}

void CMeasurementList::Attach(CViewport2D& viewport, CDicomFrame& frame) {
    m_viewports.push_back({&viewport, &frame});
}

void CMeasurementList::Detach(CViewport2D& viewport) {
    std::erase_if(m_viewports, [&](const Shown& shown) { return shown.viewport == &viewport; });
    if (m_served != &viewport) return;
    m_served = nullptr;
    // No element may keep pointing at a viewport that let go.
    if (!m_viewports.empty()) Serve(*m_viewports.front().viewport, *m_viewports.front().frame);
}

void CMeasurementList::Serve(CViewport2D& viewport, CDicomFrame& frame) {
    // Viewports may hold their own copies of one frame: use the one shown by the viewport
    // served, which lives as long as it shows it.
    m_frame = &frame;
    if (m_served == &viewport) return;
    m_served = &viewport;
    for (auto& element : m_elements) {
        element->SetViewport(viewport);
        element->Place();
    }
}

void CMeasurementList::RedrawOthers(CViewport2D& acting) {
    if (!m_changed) return;
    m_changed = false;
    const std::vector<Shown> viewports = m_viewports;
    for (const Shown& shown : viewports) {
        if (shown.viewport == &acting) continue;
        shown.viewport->Compose();
        shown.viewport->Present();
    }
    for (const Shown& shown : m_viewports) {
        if (shown.viewport == &acting) Serve(acting, *shown.frame);
    }
}

// ---- mouse ----

ToolAnswer CMeasurementList::Route(const std::function<ToolAnswer(CMeasurementElement&)>& ask) {
    ToolAnswer answer = ToolAnswer::NotHandled;
    if (m_captured != nullptr) {
        answer = ask(*m_captured);
        if (answer == ToolAnswer::NotHandled) m_captured = nullptr;
    } else {
        for (auto& element : m_elements) {
            if (!element->Visible()) continue;
            answer = ask(*element);
            if (answer == ToolAnswer::Capture) m_captured = element.get();
            if (answer != ToolAnswer::NotHandled) break;
        }
    }
    // An element still being made that lost the capture can never be finished.
    const bool stray = std::erase_if(m_elements, [&](const auto& element) {
        return !element->Finished() && element.get() != m_captured;
    });
    if (stray && m_served != nullptr) {
        m_served->Compose();
        m_served->Present();
    }
    return answer;
}

ToolAnswer CMeasurementList::MouseDown(int32_t x, int32_t y, MouseButton button) {
    return Route([&](CMeasurementElement& e) { return e.MouseDown(x, y, button); });
}

ToolAnswer CMeasurementList::MouseMove(int32_t x, int32_t y) {
    return Route([&](CMeasurementElement& e) { return e.MouseMove(x, y); });
}

ToolAnswer CMeasurementList::MouseUp(int32_t x, int32_t y, MouseButton button) {
    return Route([&](CMeasurementElement& e) { return e.MouseUp(x, y, button); });
}

void CMeasurementList::Create(CViewport2D& viewport, MeasurementKind kind, int32_t pressX,
                              int32_t pressY, MouseButton button, int32_t x, int32_t y) {
    std::unique_ptr<CMeasurementElement> made = MakeMeasurement(viewport, kind);
    if (!made) return;
    CMeasurementElement* element = made.get();
    Append(std::move(made));
    m_captured = element;
    if (element->MouseDown(pressX, pressY, button) == ToolAnswer::NotHandled) {
        m_captured = nullptr;
    }
    Route([&](CMeasurementElement& e) { return e.MouseMove(x, y); });
}

void CMeasurementList::Append(std::unique_ptr<CMeasurementElement> element) {
    element->SetList(this);
    m_elements.push_back(std::move(element));
}

void CMeasurementList::Draw(ICanvas& canvas, const PixelRect* clip) {
    for (auto& element : m_elements) {
        if (element->Visible()) element->Measure(canvas);
    }
    CStrokeBatch batch(canvas);
    for (auto& element : m_elements) {
        if (element->Meets(clip)) element->Draw(batch);
    }
}

// ---- selection and deletion ----

void CMeasurementList::Select(CMeasurementElement* element) {
    if (element == m_selected) return;
    if (m_selected != nullptr) {
        m_selected->SetSelected(false);
        m_selected->Changed();
    }
    m_selected = element;
    if (element != nullptr) {
        element->SetSelected(true);
        element->Changed();
    }
}

void CMeasurementList::Deselect() {
    Select(nullptr);
}

bool CMeasurementList::DeleteSelected() {
    if (m_selected == nullptr) return false;
    const auto it = std::find_if(m_elements.begin(), m_elements.end(),
                                 [&](const auto& e) { return e.get() == m_selected; });
    if (m_captured == m_selected) m_captured = nullptr;
    m_selected = nullptr;
    if (it != m_elements.end()) m_elements.erase(it);
    // Del again deletes the next one.
    if (!m_elements.empty()) {
        m_selected = m_elements.front().get();
        m_selected->SetSelected(true);
    }
    Committed();
    return true;
}

bool CMeasurementList::DeleteAll() {
    if (m_elements.empty()) return false;
    m_elements.clear();
    m_captured = nullptr;
    m_selected = nullptr;
    Committed();
    return true;
}

bool CMeasurementList::Abandon() {
    bool edited = false;
    for (auto& element : m_elements) {
        if (element->Finished()) edited |= element->EndInteraction();
    }
    m_captured = nullptr;
    const bool dropped = std::erase_if(m_elements, [](const auto& e) { return !e->Finished(); });
    if (edited) Committed();
    return dropped;
}

void CMeasurementList::Release(const CMeasurementElement* element) {
    if (m_captured == element) m_captured = nullptr;
}

void CMeasurementList::Committed() {
    Save();
    m_changed = true;
}

// ---- the store ----

void CMeasurementList::Save() {
    std::vector<MeasurementRecord> records;
    for (const auto& element : m_elements) {
        if (auto record = element->Record()) records.push_back(std::move(*record));
    }
    if (records.empty()) {
        m_store.Remove(m_key, StateRecord::kMeasurements);
        return;
    }
    const std::string stream = WriteRecords(records);
    m_store.Put(m_key, StateRecord::kMeasurements, reinterpret_cast<const uint8_t*>(stream.data()),
                stream.size());
}

void CMeasurementList::Restore(CViewport2D& viewport) {
    const auto stored = m_store.Get(m_key, StateRecord::kMeasurements);
    if (!stored) return;
    for (const MeasurementRecord& record : ReadRecords(*stored)) {
        std::unique_ptr<CMeasurementElement> element = MakeMeasurement(viewport, record.kind);
        if (!element) continue;
        element->SetList(this);
        element->Restore(record);
        Append(std::move(element));
    }
    m_served = nullptr;
}

// ---- all lists ----

std::shared_ptr<CMeasurementList> CMeasurementLists::Find(const ListKey& key) {
    const auto it = m_lists.find(key);
    return it != m_lists.end() ? it->second.lock() : nullptr;
}

std::unique_ptr<IMeasurementList> CMeasurementLists::Open(CViewport2D& viewport,
                                                          CDicomFrame& frame) {
    CSeriesStateStore& store = viewport.StateStore();
    ListKey key{&store, MeasurementKey(frame.Image(), frame.Index())};
    std::shared_ptr<CMeasurementList> list;
    bool fresh = false;
    {
        std::lock_guard lock(m_mutex);
        std::erase_if(m_lists, [](const auto& entry) { return entry.second.expired(); });
        list = Find(key);
        if (!list) {
            list = std::make_shared<CMeasurementList>(store, key.second, frame, viewport.Texts());
            m_lists[key] = list;
            fresh = true;
        }
    }
    if (fresh) list->Restore(viewport);
    return std::make_unique<CMeasurementListHandle>(std::move(list), viewport, frame);
}

bool CMeasurementLists::DeleteSeries(CViewport2D& viewport) {
    CSeriesStateStore& store = viewport.StateStore();
    bool deleted = false;
    for (size_t i = 0; i < viewport.ImageCount(); ++i) {
        const CDicomImage* image = viewport.ImageAt(i);
        if (image == nullptr) continue;
        for (size_t frame = 0; frame < image->FrameCount(); ++frame) {
            const std::string key = MeasurementKey(*image, frame);
            std::shared_ptr<CMeasurementList> list;
            {
                std::lock_guard lock(m_mutex);
                list = Find({&store, key});
            }
            if (list) {
                deleted |= list->DeleteAll();
                list->RedrawOthers(viewport);
            } else if (store.Get(key, StateRecord::kMeasurements)) {
                store.Remove(key, StateRecord::kMeasurements);
                deleted = true;
            }
        }
    }
    return deleted;
}

}  // namespace vexel
