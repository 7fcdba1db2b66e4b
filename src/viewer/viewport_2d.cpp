#include "viewer/viewport_2d.h"

#include <algorithm>
#include <cmath>

#include "engine/study_model_keys.h"
#include "engine/system_hooks.h"
#include "engine/vexel_engine.h"
#include "engine/volume_manager.h"
#include "imaging/binary_value_mem_cacher.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "platform/canvas.h"
#include "platform/gui/surface_canvas.h"
#include "viewer/grey_pixels.h"
#include "viewer/image_blender.h"
#include "viewer/series_state_store.h"
#include "viewer/viewport_annotations.h"
#include "viewer/viewport_cine.h"
#include "viewer/viewport_hash.h"
#include "viewer/viewport_measurements.h"
#include "viewer/viewport_rulers.h"
#include "viewer/viewport_synchronizer.h"
#include "viewer/viewport_view_tools.h"
#include "viewer/viewport_window_tool.h"
#include "viewer/window_preset.h"

namespace vexel {
namespace {

constexpr auto kMergeInterval = std::chrono::seconds(1);
constexpr int32_t kZoomKeyStep = 10;

enum DispatchKind { kDown, kMove, kUp };

int32_t FontSizeFor(int32_t width, int32_t height) {
    return (std::min(width, height) - 100) / 50 + 8;
}

float SaneRatio(float ratio) {
    return std::isfinite(ratio) && ratio >= 0.25f && ratio <= 16.0f ? ratio : 1.0f;
}

int32_t Scaled(int32_t logical, float ratio) {
    return std::max<int32_t>(1, int32_t(std::lround(double(logical) * ratio)));
}

const CWindowPresetTable& FallbackPresets() {
    static const CWindowPresetTable presets;
    return presets;
}

CSeriesStateStore& FallbackStates() {
    static CSeriesStateStore states;
    return states;
}

}  // namespace

CViewport2D::CViewport2D(const ViewportServices& services)
    : m_services(services), m_scrollBar(*this), m_layerMask(services.layerMask) {
    m_id = CViewportHash::Instance().Add(*this);
    const CWindowPresetTable& presets =
        services.presets != nullptr ? *services.presets : FallbackPresets();
    CSeriesStateStore& states = services.states != nullptr ? *services.states : FallbackStates();
    m_states = &states;

    // The fixed order in which the tools are asked and built.
    auto annotations = std::make_unique<CViewport2DAnnotations>(*this);
    m_annotations = annotations.get();
    AddTool(std::move(annotations));
    auto measurements = std::make_unique<CViewport2DROI>(*this, services.measurements);
    m_measurements = measurements.get();
    AddTool(std::move(measurements));
    AddTool(std::make_unique<CViewport2DRulers>(*this));
    auto move = std::make_unique<CViewport2DMove>(*this);
    m_move = move.get();
    AddTool(std::move(move));
    auto zoom = std::make_unique<CViewport2DZoom>(*this);
    m_zoom = zoom.get();
    AddTool(std::move(zoom));
    auto window = std::make_unique<CViewport2DWindow>(*this, presets, states);
    m_windowTool = window.get();
    AddTool(std::move(window));
    auto slice = std::make_unique<CViewport2DSlice>(*this);
    m_slice = slice.get();
    AddTool(std::move(slice));
    auto cine = std::make_unique<CViewport2DCine>(*this, services.cine, services.renderCache);
    m_cine = cine.get();
    AddTool(std::move(cine));
    auto synchronizer = std::make_unique<CViewport2DSynchronizer>(
        *this, services.engine, services.correspondingImages, services.autoSynchronise);
    m_synchronizer = synchronizer.get();
    AddTool(std::move(synchronizer));
    // Reformatting comes from a higher layer; without it the slot holds a tool that does
    // nothing.
    AddTool(services.mprTool ? services.mprTool(*this)
                             : std::make_unique<CViewport2DTool>(*this, ToolType::Mpr));
    auto fusion = services.fusionTool ? services.fusionTool(*this)
                                      : std::make_unique<CViewport2DTool>(*this, ToolType::None);
    m_blender = dynamic_cast<IImageBlender*>(fusion.get());
    AddTool(std::move(fusion));

    m_leftTool = m_slice;
    m_rightTool = m_zoom;
    m_middleTool = m_windowTool;
    m_lut.SetRebuildListener([this](float, float) {
        if (m_panelId != 0) FirePanelEvent(EventCode(Viewport2DEvent::LookupChanged));
    });
}

CViewport2D::~CViewport2D() {
    ReleaseVolumes();
    CViewportHash::Instance().Remove(m_id);
    m_lut.SetRebuildListener({});
    // Tools first: they point at frames of the listed images.
    m_tools.clear();
}

void CViewport2D::AddTool(std::unique_ptr<CViewport2DTool> tool) {
    m_tools.push_back(std::move(tool));
}

CViewport2DTool& CViewport2D::Tool(ToolType type) {
    for (auto& tool : m_tools)
        if (tool->Type() == type) return *tool;
    return *m_tools.back();  // fusion, the one tool of no type
}

CResampler& CViewport2D::Resampler() {
    // Off-screen viewports resample on their caller's thread: they may be many, on workers.
    if (!m_resampler)
        m_resampler = std::make_unique<CResampler>(m_offscreen ? 1 : m_services.resamplerThreads);
    return *m_resampler;
}

void CViewport2D::Create(IViewportWindow& window) {
    m_host = &window;
    m_offscreen = false;
    m_synchronizer->SetOnScreen(true);
}

bool CViewport2D::CreateOffscreen(int32_t width, int32_t height, const ViewGeometry& geometry) {
    if (width <= 0 || height <= 0) return false;
    ReleaseVolumes();
    m_offscreen = true;
    m_synchronizer->SetOnScreen(false);
    m_host = nullptr;
    m_resampler.reset();
    if (!m_surface.Resize(width, height)) return false;
    m_geometry = geometry;
    // A view copied from a viewport on screen is drawn as that screen shows it.
    m_ratio = SaneRatio(geometry.pixelRatio);
    m_geometry.pixelRatio = m_ratio;
    SetViewportSize(m_geometry, width, height);
    m_fontSize = FontSizeFor(int32_t(float(width) / m_ratio), int32_t(float(height) / m_ratio));
    LayoutChanged();
    return true;
}

// ---- window events ----

void CViewport2D::SetDevicePixelRatio(float ratio) {
    m_ratio = SaneRatio(ratio);
    m_geometry.pixelRatio = m_ratio;
}

int32_t CViewport2D::DevicePixels(double logical) const {
    return int32_t(std::lround(logical * m_ratio));
}

void CViewport2D::SizeChanged(int32_t clientWidth, int32_t clientHeight) {
    if (clientWidth <= 0 || clientHeight <= 0) return;
    const int32_t logicalWidth =
        m_offscreen ? clientWidth : std::max(clientWidth - CMyScrollBar::kWidth, 1);
    // The surface covers the window's area left of the bar in device pixels, rounded as the
    // backing store rounds, so it is shown 1:1.
    const float ratio = m_offscreen ? 1.0f : m_ratio;  // off screen sizes are the surface's
    const int32_t width = Scaled(logicalWidth, ratio);
    const int32_t height = Scaled(clientHeight, ratio);
    m_surface.Resize(width, height);
    m_scrollBar.SetHeight(clientHeight);
    m_fontSize = FontSizeFor(int32_t(float(width) / m_ratio), int32_t(float(height) / m_ratio));
    m_geometry.pixelRatio = m_ratio;
    if (m_frame != nullptr && UserZoomedOrPanned()) {
        LayoutResizeKeepingView(m_geometry, m_saved, width, height);
        LayoutChanged();
    } else {
        SetViewportSize(m_geometry, width, height);
        if (m_frame != nullptr) Relayout();
    }
    if (m_frame != nullptr) Render();
    Compose();
    Present();
}

void CViewport2D::MouseDown(int32_t x, int32_t y, MouseButton button, KeyModifiers modifiers) {
    switch (button) {
        case MouseButton::Left:
            m_selectedTool = modifiers.control ? m_windowTool
                             : modifiers.shift ? static_cast<CViewport2DTool*>(m_move)
                                               : m_leftTool;
            break;
        case MouseButton::Right:
            m_selectedTool = m_rightTool;
            break;
        case MouseButton::Middle:
            m_selectedTool = m_middleTool;
            break;
    }
    Dispatch(x, y, button, kDown);
}

void CViewport2D::MouseUp(int32_t x, int32_t y, MouseButton button) {
    Dispatch(x, y, button, kUp);
}

void CViewport2D::MouseMove(int32_t x, int32_t y) {
    Dispatch(x, y, MouseButton::Left, kMove);
}

void CViewport2D::MouseWheel(int32_t delta) {
    if (DragInProgress()) return;
    m_slice->Wheel(delta);
}

void CViewport2D::KeyDown(uint32_t virtualKey, KeyModifiers modifiers) {
    if (!modifiers.control || (virtualKey != kKeyPlus && virtualKey != kKeyMinus)) return;
    if (!modifiers.shift) {
        ZoomBy(virtualKey == kKeyPlus ? kZoomKeyStep : -kZoomKeyStep);
        return;
    }
    const int32_t size =
        std::clamp(m_fontSize + (virtualKey == kKeyPlus ? 1 : -1), kMinFontSize, kMaxFontSize);
    if (size == m_fontSize) return;
    m_fontSize = size;
    Compose();
    Present();
}

void CViewport2D::MouseLeft() {
    // Empties the readout.
    m_annotations->MouseMove(CViewport2DAnnotations::kNoMouse, CViewport2DAnnotations::kNoMouse);
}

ToolAnswer CViewport2D::Dispatch(int32_t x, int32_t y, MouseButton button, int kind) {
    const auto ask = [&](CViewport2DTool* tool) {
        switch (kind) {
            case kDown:
                return tool->MouseDown(x, y, button);
            case kMove:
                return tool->MouseMove(x, y);
            default:
                return tool->MouseUp(x, y, button);
        }
    };
    if (m_capturedTool != nullptr) {
        const ToolAnswer answer = ask(m_capturedTool);
        if (answer != ToolAnswer::NotHandled) return answer;
        m_capturedTool = nullptr;
    }
    if (m_selectedTool != nullptr) {
        const ToolAnswer answer = ask(m_selectedTool);
        if (answer == ToolAnswer::Capture) m_capturedTool = m_selectedTool;
        if (answer != ToolAnswer::NotHandled) return answer;
    }
    for (auto& tool : m_tools) {
        if (tool.get() == m_capturedTool || tool.get() == m_selectedTool) continue;
        const ToolAnswer answer = ask(tool.get());
        if (answer == ToolAnswer::Capture) m_capturedTool = tool.get();
        if (answer != ToolAnswer::NotHandled) return answer;
    }
    return ToolAnswer::NotHandled;
}

// ---- images ----

bool CViewport2D::AddImage(CFileRef file, CDicomImage& image, uint32_t generation) {
    if (generation != 0 && generation != m_loadGeneration) return false;
    if (image.FrameCount() == 0) return false;
    const StudyFileKeys keys = ReadStudyFileKeys(image.File());
    const std::string key = ViewportSeriesKey(keys);
    // A viewport shows one series: images of any other are never taken, whatever the load
    // sends.
    if (!m_filter.empty() && key != m_filter) return false;
    if (!m_images.Empty() && key != m_seriesKey) return false;
    const bool pending = std::any_of(m_pending.begin(), m_pending.end(),
                                     [&](const ViewportImage& e) { return e.image == &image; });
    if (pending || m_images.IndexOf(&image) < m_images.Size()) return false;

    ViewportImage entry;
    entry.file = std::move(file);
    entry.image = &image;
    entry.order = keys.file;
    if (!m_images.Empty()) {
        m_pending.push_back(std::move(entry));
        if (m_offscreen || Now() - m_lastPresent >= kMergeInterval) MergePendingImages();
        return true;
    }
    m_studyUid = keys.studyInstanceUid;
    m_seriesKey = key;
    m_images.Insert(std::move(entry));
    m_current = 0;
    m_imageChosen = false;
    AnnounceImageList();
    SetFrame(image.Frame(0));
    UpdateScrollBar();
    if (m_panelId != 0) FirePanelEvent(EventCode(Viewport2DEvent::FirstImageShown));
    return true;
}

void CViewport2D::MergePendingImages() {
    if (m_pending.empty() || m_images.Empty()) return;
    CDicomImage* shown = CurrentImage();
    for (ViewportImage& entry : m_pending)
        m_images.Insert(std::move(entry));
    m_pending.clear();
    m_current = m_images.IndexOf(shown);
    AnnounceImageList();
    // Until an image is chosen the series opens at its first image, whichever image of the
    // load happened to arrive first; after that the chosen image stays on screen wherever
    // the new ones went.
    if (!m_imageChosen && m_current != 0) {
        ShowImage(0, false, true);
        m_imageChosen = false;
        return;
    }
    UpdateScrollBar();
    Compose();
    Present();
}

void CViewport2D::AnnounceImageList() {
    for (auto& tool : m_tools)
        tool->SeriesChanged();
    if (!m_offscreen && m_services.volumes != nullptr) {
        m_services.volumes->RecomputeVolumes(m_id, ListedFrames());
        m_volumesKnown = true;
    }
    if (m_panelId != 0) FirePanelEvent(EventCode(Viewport2DEvent::ImageListChanged));
}

void CViewport2D::ReleaseVolumes() {
    if (!m_volumesKnown) return;
    m_volumesKnown = false;
    m_services.volumes->ReleaseVolumes(m_id);
}

std::vector<CDicomFrame*> CViewport2D::ListedFrames() const {
    std::vector<CDicomFrame*> frames;
    for (size_t i = 0; i < m_images.Size(); ++i) {
        const CDicomImage* image = m_images.At(i);
        for (size_t f = 0; f < image->FrameCount(); ++f)
            frames.push_back(image->Frame(f));
    }
    return frames;
}

void CViewport2D::ShowImage(size_t index, bool notify, bool updateScrollBar) {
    ShowImageFrame(index, 0, notify, updateScrollBar);
}

void CViewport2D::ShowImageFrame(size_t index, size_t frame, bool notify, bool updateScrollBar) {
    CDicomImage* image = m_images.At(index);
    if (image == nullptr || frame >= image->FrameCount()) return;
    m_imageChosen = true;
    m_current = index;
    SetFrame(image->Frame(frame));
    if (updateScrollBar) UpdateScrollBar();
    if (notify && m_panelId != 0 && !m_offscreen && m_services.engine != nullptr) {
        DisplayedImageRecord record;
        record.viewportId = m_id;
        record.image = image;
        record.studyInstanceUid = m_studyUid.c_str();
        record.frameIndex = uint32_t(m_frameIndex);
        record.imageIndex = uint32_t(m_current);
        Fire(EventCode(Viewport2DEvent::DisplayedImageChanged),
             reinterpret_cast<uintptr_t>(&record));
    }
}

size_t CViewport2D::BrowseCount() const {
    size_t count = 0;
    for (size_t i = 0; i < m_images.Size(); ++i)
        count += std::max<size_t>(m_images.At(i)->FrameCount(), 1);
    return count;
}

size_t CViewport2D::BrowsePosition() const {
    if (m_images.Empty()) return 0;
    size_t position = 0;
    for (size_t i = 0; i < m_current && i < m_images.Size(); ++i)
        position += std::max<size_t>(m_images.At(i)->FrameCount(), 1);
    return position + m_frameIndex;
}

void CViewport2D::ShowBrowsePosition(size_t position, bool notify, bool updateScrollBar) {
    // The frames of each image, then the next image.
    for (size_t i = 0; i < m_images.Size(); ++i) {
        const size_t frames = std::max<size_t>(m_images.At(i)->FrameCount(), 1);
        if (position < frames) {
            ShowImageFrame(i, position, notify, updateScrollBar);
            return;
        }
        position -= frames;
    }
}

void CViewport2D::UpdateScrollBar() {
    m_scrollBar.SetRange(int32_t(std::min<size_t>(BrowseCount(), INT32_MAX)),
                         int32_t(std::min<size_t>(BrowsePosition(), INT32_MAX)));
}

void CViewport2D::ScrolledTo(int32_t position) {
    const size_t count = BrowseCount();
    if (count == 0) return;
    ShowBrowsePosition(std::min(size_t(std::max(position, 0)), count - 1), true, false);
}

void CViewport2D::SetFrame(CDicomFrame* frame) {
    if (frame != nullptr) {
        const bool sameKind = m_frame != nullptr && m_frame->Columns() == frame->Columns() &&
                              m_frame->Rows() == frame->Rows() &&
                              m_frame->IsColour() == frame->IsColour();
        if (!sameKind) m_layoutDirty = true;
    }
    m_frame = frame;
    m_frameIndex = frame != nullptr ? frame->Index() : 0;
    CDicomImage* image = frame != nullptr ? &frame->Image() : nullptr;
    // Every listed image shares the key taken from the first; only a frame shown without a
    // list needs it read.
    if (image != nullptr && m_seriesKey.empty()) m_seriesKey = ViewportSeriesKey(*image);
    if (frame != nullptr && m_layoutDirty) {
        m_layoutDirty = false;
        const int32_t columns = int32_t(std::min<uint32_t>(frame->Columns(), INT32_MAX));
        const int32_t rows = int32_t(std::min<uint32_t>(frame->Rows(), INT32_MAX));
        // An off-screen viewport keeps the view it was given for frames of that size.
        const bool keep = m_offscreen && m_geometry.zoom > 0 && m_geometry.imageWidth == columns &&
                          m_geometry.imageHeight == rows;
        SetImageSize(m_geometry, columns, rows);
        if (keep) {
            LayoutChanged();
        } else {
            Relayout();
        }
    }
    for (auto& tool : m_tools) {
        tool->SetShown(image, frame);
        tool->FrameChanged(frame);
    }
    Render();
    Compose();
    Present();
}

void CViewport2D::Clear(bool redraw) {
    Fire(EventCode(Viewport2DEvent::SeriesClearing), m_id);
    m_cine->Stop();
    EndDrags();
    if (++m_loadGeneration == 0) m_loadGeneration = 1;  // 0 would match every load
    ResetViewFlags();
    m_windowTool->FlushStates();
    m_windowTool->ClearState();
    ApplyTransform(m_geometry, 0, false, false, true);
    // Nothing may point at a frame once the images are let go.
    m_frame = nullptr;
    m_frameIndex = 0;
    m_imageValid = false;
    for (auto& tool : m_tools) {
        tool->SetShown(nullptr, nullptr);
        tool->FrameChanged(nullptr);
    }
    ReleaseVolumes();
    m_images.Clear();
    m_pending.clear();
    m_current = 0;
    m_seriesKey.clear();
    m_filter.clear();
    m_studyUid.clear();
    m_layoutDirty = true;
    if (redraw) {
        m_surface.Clear();
        Present();
    }
    m_scrollBar.Deactivate();
    for (auto& tool : m_tools)
        tool->Reset();
    if (m_panelId != 0) FirePanelEvent(EventCode(Viewport2DEvent::Cleared));
}

// ---- view ----

void CViewport2D::EndDrags() {
    for (auto& tool : m_tools)
        tool->EndDrag();
    m_capturedTool = nullptr;
    m_selectedTool = nullptr;
}

void CViewport2D::ResetViewFlags() {
    m_zoom->SetMoved(false);
    m_move->SetMoved(false);
}

bool CViewport2D::UserZoomedOrPanned() const {
    return m_zoom->Moved() || m_move->Moved();
}

void CViewport2D::Relayout() {
    SetViewportSize(m_geometry, m_surface.Width(), m_surface.Height());
    LayoutFit(m_geometry);
    LayoutChanged();
}

void CViewport2D::LayoutChanged() {
    m_saved = m_geometry;
    m_imageInSurface = false;
    m_imageBitmapKey.clear();
    m_imageBitmapStale = false;
    m_imageBitmap.Reshape(m_geometry.visibleDestWidth, m_geometry.visibleDestHeight);
    Resampler().SetGeometry(m_geometry);
}

void CViewport2D::Transform(int32_t rotateDelta, bool flipVertical, bool flipHorizontal,
                            bool reset) {
    if (m_frame == nullptr) return;
    if (!ApplyTransform(m_geometry, rotateDelta, flipVertical, flipHorizontal, reset)) return;
    // A transform always discards zoom and pan.
    ResetViewFlags();
    Relayout();
    RenderComposePresent();
}

void CViewport2D::FitToViewport() {
    if (m_frame == nullptr) return;
    ResetViewFlags();
    Relayout();
    RenderComposePresent();
}

void CViewport2D::ActualSize() {
    if (m_frame == nullptr) return;
    m_zoom->SetMoved(true);
    m_move->SetMoved(true);
    LayoutActualSize(m_geometry);
    LayoutChanged();
    RenderComposePresent();
}

void CViewport2D::ChangeView(CViewport2DViewDrag& tool,
                             const std::function<bool(const ViewGeometry&)>& layout) {
    if (m_frame == nullptr) return;
    const ViewGeometry start = m_geometry;
    if (!layout(start)) {
        m_geometry = start;
        return;
    }
    tool.SetMoved(true);
    LayoutChanged();
    RenderComposePresent();
}

void CViewport2D::SetZoom(float factor) {
    ChangeView(*m_zoom, [&](const ViewGeometry& start) {
        return LayoutZoomAbout(m_geometry, start, factor * m_ratio, start.viewportWidth / 2,
                               start.viewportHeight / 2);
    });
}

void CViewport2D::ZoomBy(int32_t delta) {
    ChangeView(*m_zoom, [&](const ViewGeometry& start) {
        return LayoutZoomByDrag(m_geometry, start, delta, start.viewportWidth / 2,
                                start.viewportHeight / 2);
    });
}

void CViewport2D::Pan(int32_t dx, int32_t dy) {
    ChangeView(*m_move, [&](const ViewGeometry& start) {
        return LayoutPan(m_geometry, start, DevicePixels(dx), DevicePixels(dy));
    });
}

void CViewport2D::Browse(int32_t delta) {
    if (m_windowTool->Active() || m_zoom->Active() || m_slice->Active() || m_move->Active() ||
        Tool(ToolType::Measurements).Active()) {
        return;
    }
    // Wheel notches: Down (+1) goes forward, which is the wheel turned towards the user.
    m_slice->Wheel(int32_t(std::clamp<int64_t>(int64_t(delta) * -120, INT32_MIN, INT32_MAX)));
}

bool CViewport2D::SelectPreset(int32_t id) {
    return m_windowTool->SelectPreset(id);
}

void CViewport2D::SetNegative(bool negative) {
    m_windowTool->SetNegative(negative);
}

void CViewport2D::SetLayerMask(uint32_t mask) {
    if (mask == m_layerMask) return;
    m_layerMask = mask;
    Compose();
    Present();
}

std::optional<ImagePoint> CViewport2D::ScreenToImage(float x, float y) const {
    return vexel::ScreenToImage(m_geometry, x, y);
}

std::optional<ScreenPoint> CViewport2D::ImageToScreen(float x, float y) const {
    if (m_frame == nullptr) return std::nullopt;
    return vexel::ImageToScreen(m_geometry, x, y);
}

// ---- pipeline ----

bool CViewport2D::Render() {
    m_imageValid = false;
    m_imageInSurface = false;
    m_imageBitmapKey.clear();
    m_imageBitmapStale = false;
    m_blendKey.clear();
    if (m_frame == nullptr || m_imageBitmap.Width() == 0) return false;
    if (m_blender != nullptr && !m_frame->IsColour()) m_blendKey = m_blender->BlendKey(*m_frame);
    // During cine the rendered frames are kept while the view stays the same.
    std::string cacheKey;
    if (m_cine->CacheCurrent()) {
        cacheKey = m_cine->CacheKey(m_frame);
        if (!m_blendKey.empty()) cacheKey += "#" + m_blendKey;
        // An image part that fills the surface is fetched straight into it: a second pass
        // over 4 MB per frame is what a cached frame would cost otherwise. The image part
        // itself is fetched again only when a partial redraw needs it.
        const bool whole = ImageFillsSurface();
        if (FetchCineFrame(cacheKey, whole ? m_surface.Pixels() : m_imageBitmap.Pixels())) {
            m_imageInSurface = whole;
            if (whole) m_imageBitmapKey = cacheKey;
            return m_imageValid = true;
        }
    }
    // Without a cache to fill, an image part that fills the surface is drawn straight into
    // it: at high device pixel ratios copying it there would cost a third of the frame.
    if (cacheKey.empty() && ImageFillsSurface()) {
        m_imageValid = RenderImageBitmap(m_surface.Bitmap());
        m_imageInSurface = m_imageBitmapStale = m_imageValid;
        return m_imageValid;
    }
    m_imageValid = RenderImageBitmap(m_imageBitmap.Bitmap());
    if (m_imageValid && !cacheKey.empty()) StoreCineFrame(cacheKey);
    return m_imageValid;
}

bool CViewport2D::CineFrameIsGrey() const {
    return m_frame != nullptr && !m_frame->IsColour() && !m_frame->HasOverlay() &&
           m_blendKey.empty();
}

bool CViewport2D::FetchCineFrame(const std::string& key, uint32_t* target) {
    const size_t count = size_t(m_imageBitmap.Width()) * size_t(m_imageBitmap.Height());
    CBinaryValueMemCacher& cache = *m_services.renderCache;
    if (!CineFrameIsGrey()) {
        return cache.Fetch(key, reinterpret_cast<uint8_t*>(target), count * 4) ==
               CBinaryValueMemCacher::kFetched;
    }
    try {
        m_cineGrey.resize(count);
    } catch (...) {
        return false;
    }
    if (cache.Fetch(key, m_cineGrey.data(), count) != CBinaryValueMemCacher::kFetched) return false;
    ExpandGrey(m_cineGrey.data(), target, count);
    return true;
}

void CViewport2D::StoreCineFrame(const std::string& key) {
    const size_t count = size_t(m_imageBitmap.Width()) * size_t(m_imageBitmap.Height());
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(m_imageBitmap.Pixels());
    size_t size = count * 4;
    if (CineFrameIsGrey()) {
        try {
            m_cineGrey.resize(count);
        } catch (...) {
            return m_cine->CacheStoreFailed();
        }
        // A grey frame always renders grey; anything else is not cached rather than wrong.
        if (!PackGrey(m_imageBitmap.Pixels(), m_cineGrey.data(), count))
            return m_cine->CacheStoreFailed();
        bytes = m_cineGrey.data();
        size = count;
    }
    if (m_services.renderCache->Store(key, m_cine->CacheName(), bytes, size) !=
        CBinaryValueMemCacher::kStored) {
        m_cine->CacheStoreFailed();
    }
}

bool CViewport2D::RenderImageBitmap(const DestinationBitmap& destination) {
    CResampler& resampler = Resampler();
    if (m_frame->IsColour())
        return resampler.RenderColour(m_frame, destination, &m_lut, m_frame->HasOverlay());
    if (!m_blendKey.empty()) {
        CDicomFrame* frame = m_frame;
        return resampler.RenderGreyBlended(
            m_frame, destination, &m_lut, m_frame->HasOverlay(), m_blendKey,
            [this, frame](uint32_t* picture, const RowRunner& runRows) {
                m_blender->Blend(*frame, picture, runRows);
            });
    }
    if (m_frame->HasOverlay()) return resampler.RenderGreyWithOverlay(m_frame, destination, &m_lut);
    return resampler.RenderGrey(m_frame, destination, &m_lut);
}

bool CViewport2D::ImageFillsSurface() const {
    return m_geometry.visibleDestX == 0 && m_geometry.visibleDestY == 0 &&
           m_imageBitmap.Width() == m_surface.Width() &&
           m_imageBitmap.Height() == m_surface.Height();
}

void CViewport2D::RestoreImageBitmap() {
    if (m_imageBitmapStale) {
        m_imageBitmapStale = false;
        m_imageValid = m_frame != nullptr && RenderImageBitmap(m_imageBitmap.Bitmap());
        return;
    }
    if (m_imageBitmapKey.empty()) return;
    if (!FetchCineFrame(m_imageBitmapKey, m_imageBitmap.Pixels())) {
        // Dropped from the cache since: render it again.
        m_imageValid = m_frame != nullptr && RenderImageBitmap(m_imageBitmap.Bitmap());
    }
    m_imageBitmapKey.clear();
}

void CViewport2D::Compose() {
    if (m_imageInSurface) {
        // Fetched straight into the surface, which nothing has drawn on since.
        m_imageInSurface = false;
        DrawLayers(nullptr, true);
        return;
    }
    RestoreImageBitmap();
    if (!m_imageValid) {
        m_surface.Clear();
    } else {
        // Black around the image only: the image part is written once.
        const PixelRect image = Intersect({m_geometry.visibleDestX, m_geometry.visibleDestY,
                                           m_imageBitmap.Width(), m_imageBitmap.Height()},
                                          m_surface.Bounds());
        const int32_t width = m_surface.Width();
        const int32_t height = m_surface.Height();
        m_surface.Fill({0, 0, width, image.y}, 0);
        m_surface.Fill({0, image.y + image.height, width, height - image.y - image.height}, 0);
        m_surface.Fill({0, image.y, image.x, image.height}, 0);
        m_surface.Fill(
            {image.x + image.width, image.y, width - image.x - image.width, image.height}, 0);
        m_surface.Blit(m_imageBitmap, m_geometry.visibleDestX, m_geometry.visibleDestY,
                       m_surface.Bounds());
    }
    DrawLayers(nullptr, true);
}

void CViewport2D::DrawLayers(const PixelRect* clip, bool all) {
    struct Layer {
        ToolType tool;
        uint32_t bit;
        bool duringDrags;
    };
    static constexpr Layer kOrder[] = {
        {ToolType::Measurements, kLayerMeasurements, true},
        {ToolType::Rulers, kLayerRulers, false},
        {ToolType::None, kLayerFusion, false},
        {ToolType::Annotations, kLayerAnnotations, false},
        {ToolType::Mpr, kLayerAnnotations, false},  // the reformat's warning line
        {ToolType::Synchroniser, kLayerSynchroniser, true},
    };
    std::unique_ptr<ICanvas> canvas;
    const bool cine = m_cine->Playing();
    for (const Layer& layer : kOrder) {
        if ((m_layerMask & layer.bit) == 0) continue;
        if (!all && !layer.duringDrags) continue;
        if (cine && layer.tool != ToolType::Annotations) continue;
        // One painter for all layers, begun only when a layer is drawn.
        if (!canvas) {
            canvas = SurfaceCanvas();
            if (!canvas) return;
            if (clip != nullptr) {
                const CanvasRect rect{clip->x, clip->y, clip->width, clip->height};
                canvas->SetClip(&rect);
            }
        }
        Tool(layer.tool).Draw(*canvas, clip);
    }
}

std::unique_ptr<ICanvas> CViewport2D::SurfaceCanvas() {
    return CreateSurfaceCanvas(m_surface.Pixels(), m_surface.Width(), m_surface.Height(),
                               size_t(m_surface.Width()), m_ratio);
}

bool CViewport2D::DragInProgress() {
    return m_windowTool->Active() || m_zoom->Active() || m_slice->Active() || m_move->Active() ||
           Tool(ToolType::Measurements).Active() || Tool(ToolType::Cine).Active();
}

void CViewport2D::RedrawRect(const PixelRect* rect) {
    const PixelRect clip =
        rect != nullptr ? Intersect(*rect, m_surface.Bounds()) : m_surface.Bounds();
    if (clip.Empty()) return;
    // A whole redraw over a surface that holds the image alone (a window drag renders, then
    // redraws) only adds the layers.
    const bool whole = clip.width == m_surface.Width() && clip.height == m_surface.Height();
    if (!(m_imageInSurface && whole)) {
        m_surface.Fill(clip, 0);
        RestoreImageBitmap();
        if (m_imageValid) {
            m_surface.Blit(m_imageBitmap, m_geometry.visibleDestX, m_geometry.visibleDestY, clip);
        }
    }
    m_imageInSurface = false;
    // During zoom, pan and window drags only the cheap layers follow the mouse.
    const bool dragging = m_zoom->Active() || m_move->Active() || m_windowTool->Active();
    DrawLayers(&clip, !dragging);
    if (m_offscreen || m_host == nullptr) return;
    m_host->PresentSurface(m_surface, &clip);
    m_lastPresent = Now();
}

void CViewport2D::Present() {
    if (m_offscreen || m_host == nullptr) return;
    m_host->PresentSurface(m_surface, nullptr);
    m_lastPresent = Now();
}

void CViewport2D::RenderComposePresent() {
    Render();
    Compose();
    Present();
}

// ---- events ----

void CViewport2D::NotifyWindowDragFinished() {
    if (m_panelId != 0) FirePanelEvent(EventCode(Viewport2DEvent::WindowDragFinished));
}

void CViewport2D::NotifyCineChanged(bool playing) {
    if (m_panelId == 0) return;
    // One panel until the split screen exists: it is always the active one.
    CineStatePayload payload{m_panelId, 1, uint8_t(playing ? 1 : 0)};
    Fire(EventCode(Viewport2DEvent::CineChanged), reinterpret_cast<uintptr_t>(&payload));
}

bool CViewport2D::CinePlaying() const {
    return m_cine->Playing();
}

void CViewport2D::Fire(uint32_t code, uint64_t payload) {
    if (m_offscreen || m_services.engine == nullptr || !m_services.viewportHook) return;
    m_services.engine->FireHook(m_services.viewportHook, code, payload);
}

std::chrono::steady_clock::time_point CViewport2D::Now() const {
    return m_services.clock ? m_services.clock() : std::chrono::steady_clock::now();
}

}  // namespace vexel
