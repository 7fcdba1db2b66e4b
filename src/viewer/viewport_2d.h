// A 2D viewport: shows one series at a time. It keeps the series' images in display order,
// the current image and frame, the view geometry, the display look-up and the rendered image
// part, and a fixed chain of eleven tools that receive the mouse and draw layers. Every change
// renders (resample through the look-up), composes (image and layers into the window surface)
// and presents (copies the surface to the window at once).
//
// On-screen viewports live on the user-interface thread and raise events on the Viewport2D
// hook. Off-screen viewports (rendering to files) may live on any thread: they raise no
// events, touch no window and resample on the calling thread alone.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/file_reference.h"
#include "engine/hook_types.h"
#include "viewer/display_lut.h"
#include "viewer/resampler.h"
#include "viewer/scroll_bar.h"
#include "viewer/view_geometry.h"
#include "viewer/viewer_texts.h"
#include "viewer/viewport_image_list.h"
#include "viewer/viewport_surface.h"
#include "viewer/viewport_tool.h"

namespace vexel {

class CDicomFrame;
class CDicomImage;
class CSeriesStateStore;
class CViewport2DAnnotations;
class CViewport2DCine;
class CViewport2DROI;
class IMeasurementLists;
class CViewport2DSynchronizer;
class ICorrespondingImages;
class CBinaryValueMemCacher;
class CCineEngine;
class ICanvas;
class IImageBlender;
class CVexelEngine;
class CVolumeManager;
class CViewport2DMove;
class CViewport2DViewDrag;
class CViewport2DSlice;
class CViewport2DWindow;
class CViewport2DZoom;
class CWindowPresetTable;

// Layer mask bits, as the settings store them.
enum ViewportLayer : uint32_t {
    kLayerAnnotations = 1,
    kLayerSynchroniser = 2,  // cross reference lines
    kLayerMeasurements = 4,
    kLayerRulers = 8,
    kLayerFusion = 16,
    kAllLayers = 0xFFFFFFFF,
};

struct KeyModifiers {
    bool control = false;
    bool shift = false;
};

// Payload of the "displayed image changed" event.
struct DisplayedImageRecord {
    uint32_t viewportId = 0;
    CDicomImage* image = nullptr;
    const char* studyInstanceUid = "";
    uint32_t frameIndex = 0;
    uint32_t imageIndex = 0;
};

// What the window of an on-screen viewport does for it.
class IViewportWindow {
public:
    virtual ~IViewportWindow() = default;
    // Copies `rect` of the surface (all of it when null) to the screen now.
    virtual void PresentSurface(const CViewportSurface& surface, const PixelRect* rect) = 0;
};

struct ViewportServices {
    CSeriesStateStore* states = nullptr;          // required
    const CWindowPresetTable* presets = nullptr;  // required
    CVexelEngine* engine = nullptr;               // null: no events
    HookHandle viewportHook;
    uint32_t resamplerThreads = 0;  // on-screen only; 0: one per logical processor
    uint32_t layerMask = kAllLayers;
    TextLookup text;                                      // null: the built-in English
    CCineEngine* cine = nullptr;                          // null: no playback
    CBinaryValueMemCacher* renderCache = nullptr;         // null: cine renders every frame
    ICorrespondingImages* correspondingImages = nullptr;  // null: viewports never follow
    IMeasurementLists* measurements = nullptr;            // null: no measurements
    std::function<bool()> autoSynchronise;                // empty: following is on
    // Null: no volumes. Off-screen viewports never use it.
    CVolumeManager* volumes = nullptr;
    // Makes the viewport's reformatting tool (ToolType::Mpr); empty: a tool that does nothing.
    std::function<std::unique_ptr<CViewport2DTool>(CViewport2D&)> mprTool;
    // Makes the viewport's fusion tool (ToolType::None, layer bit 16); when it is also an
    // IImageBlender it draws over every grey frame rendered. Empty: a tool that does nothing.
    std::function<std::unique_ptr<CViewport2DTool>(CViewport2D&)> fusionTool;
    // Tests replace the clock that paces merging of images that arrive while loading.
    std::function<std::chrono::steady_clock::time_point()> clock;
};

class CViewport2D final : public CMyScrollBarHost {
public:
    static constexpr size_t kToolCount = 11;
    static constexpr int32_t kMinFontSize = 12;
    static constexpr int32_t kMaxFontSize = 50;
    // With Ctrl: zoom by one step; with Ctrl+Shift: the annotation font size.
    static constexpr uint32_t kKeyPlus = 187;  // virtual keys of the plus/equals and minus keys
    static constexpr uint32_t kKeyMinus = 189;

    explicit CViewport2D(const ViewportServices& services);
    ~CViewport2D() override;
    CViewport2D(const CViewport2D&) = delete;
    CViewport2D& operator=(const CViewport2D&) = delete;

    // An on-screen viewport draws into `window` from now on (the window outlives it).
    void Create(IViewportWindow& window);
    // A viewport that is never painted, of the given size; the geometry is kept when it was
    // laid out for the size of the first frame shown, otherwise that frame is fitted.
    bool CreateOffscreen(int32_t width, int32_t height, const ViewGeometry& geometry);

    uint32_t Id() const { return m_id; }
    bool Offscreen() const { return m_offscreen; }
    void SetPanelId(uint32_t panelId) { m_panelId = panelId; }
    uint32_t PanelId() const { return m_panelId; }

    // Device pixels per logical pixel of the window's screen. On screen, sizes given to
    // SizeChanged are logical; the surface, the geometry and mouse positions count device
    // pixels, and overlay metrics (margins, reaches, pens, fonts) scale with the ratio. Off
    // screen the ratio is the given geometry's (1 unless copied from a viewport on screen).
    // The window calls SizeChanged after a change.
    void SetDevicePixelRatio(float ratio);
    float DevicePixelRatio() const { return m_ratio; }
    // `logical` screen pixels in device pixels, rounded.
    int32_t DevicePixels(double logical) const;

    // Window events. Sizes are the client area; on screen the scroll bar takes its strip at
    // the right edge. Mouse positions are device pixels.
    void SizeChanged(int32_t clientWidth, int32_t clientHeight);
    void MouseDown(int32_t x, int32_t y, MouseButton button, KeyModifiers modifiers = {});
    void MouseUp(int32_t x, int32_t y, MouseButton button);
    void MouseMove(int32_t x, int32_t y);
    void MouseWheel(int32_t delta);
    void KeyDown(uint32_t virtualKey, KeyModifiers modifiers);
    void MouseLeft();

    // Loading. Images of a stale load (a generation other than the current one, 0 meaning
    // any) and images of another series are dropped; true when the image was taken.
    bool AddImage(CFileRef file, CDicomImage& image, uint32_t generation);
    // Inserts the images that arrived while the viewport was showing (also at the end of a
    // load, so the last ones are never left out).
    void MergePendingImages();
    uint32_t LoadGeneration() const { return m_loadGeneration; }
    // Only images of this series key are accepted; empty takes the first series offered.
    void SetSeriesFilter(std::string key) { m_filter = std::move(key); }
    size_t PendingCount() const { return m_pending.size(); }

    void ShowImage(size_t index, bool notify, bool updateScrollBar);
    void ShowImageFrame(size_t index, size_t frame, bool notify, bool updateScrollBar);
    void SetFrame(CDicomFrame* frame);
    void Clear(bool redraw);

    // View changes; each does nothing without a frame.
    void Transform(int32_t rotateDelta, bool flipVertical, bool flipHorizontal, bool reset);
    void FitToViewport();
    void ActualSize();
    // Logical zoom: `factor` screen pixels per image pixel, whatever the device pixel ratio.
    void SetZoom(float factor);
    void ZoomBy(int32_t delta);
    void Pan(int32_t dx, int32_t dy);  // logical screen pixels
    // Steps through the series (-1/+1 for the arrow keys, -10/+10 for the page keys) unless
    // a drag is in progress.
    void Browse(int32_t delta);
    // Window: menu, keys 0..7 and F11.
    bool SelectPreset(int32_t id);
    void SetNegative(bool negative);
    bool Negative() const { return m_lut.Negative(); }

    std::optional<ImagePoint> ScreenToImage(float x, float y) const;
    std::optional<ScreenPoint> ImageToScreen(float x, float y) const;

    // The pipeline. Render returns false (and leaves the image part black) when the frame
    // cannot be drawn.
    bool Render();
    void Compose();
    void Present();
    void RedrawRect(const PixelRect* rect);
    void RenderComposePresent();
    // The cine cache keeps the current frame one byte a pixel (no colour, no overlay).
    bool CineFrameIsGrey() const;

    // What is shown.
    size_t ImageCount() const { return m_images.Size(); }
    size_t CurrentIndex() const { return m_current; }
    CDicomImage* CurrentImage() const { return m_images.At(m_current); }
    CDicomFrame* CurrentFrame() const { return m_frame; }
    size_t CurrentFrameIndex() const { return m_frameIndex; }
    CDicomImage* ImageAt(size_t index) const { return m_images.At(index); }
    // Every frame of the listed images, in display order.
    std::vector<CDicomFrame*> ListedFrames() const;
    const std::string& SeriesKey() const { return m_seriesKey; }
    const std::string& StudyInstanceUid() const { return m_studyUid; }
    bool RenderedImage() const { return m_imageValid; }
    const ViewGeometry& Geometry() const { return m_geometry; }
    const CViewportSurface& Surface() const { return m_surface; }
    const CDisplayLUT& Lut() const { return m_lut; }
    CDisplayLUT& Lut() { return m_lut; }
    CResampler& Resampler();
    CMyScrollBar& ScrollBar() { return m_scrollBar; }
    int32_t FontSize() const { return m_fontSize; }
    uint32_t LayerMask() const { return m_layerMask; }
    void SetLayerMask(uint32_t mask);
    const TextLookup& Texts() const { return m_services.text; }
    // A canvas over the window surface (null when it is empty).
    std::unique_ptr<ICanvas> SurfaceCanvas();
    // A drag of the window, zoom, browse, pan, cine or measurement tool is in progress.
    bool DragInProgress();
    CViewport2DAnnotations& Annotations() { return *m_annotations; }
    CViewport2DCine& Cine() { return *m_cine; }
    CViewport2DROI& Measurements() { return *m_measurements; }
    // The store of this viewport's series state (private to off-screen viewports).
    CSeriesStateStore& StateStore() const { return *m_states; }
    CViewport2DSynchronizer& Synchronizer() { return *m_synchronizer; }
    // What the fusion tool draws over grey frames; null without one.
    IImageBlender* Blender() const { return m_blender; }
    bool CinePlaying() const;

    // Browsing steps through every frame of each image, then on to the next image; the
    // position counts (image, frame) pairs in display order.
    size_t BrowseCount() const;
    size_t BrowsePosition() const;
    void ShowBrowsePosition(size_t position, bool notify, bool updateScrollBar);

    // Tools. Slots hold tools of this viewport.
    CViewport2DTool& Tool(ToolType type);
    CViewport2DWindow& WindowTool() { return *m_windowTool; }
    CViewport2DSlice& BrowseTool() { return *m_slice; }
    CViewport2DMove& PanTool() { return *m_move; }
    CViewport2DZoom& ZoomTool() { return *m_zoom; }
    void SetLeftTool(CViewport2DTool& tool) { m_leftTool = &tool; }
    void SetRightTool(CViewport2DTool& tool) { m_rightTool = &tool; }
    void SetMiddleTool(CViewport2DTool& tool) { m_middleTool = &tool; }
    CViewport2DTool* LeftTool() const { return m_leftTool; }
    CViewport2DTool* RightTool() const { return m_rightTool; }
    CViewport2DTool* MiddleTool() const { return m_middleTool; }
    // The tool of the press in progress.
    CViewport2DTool* SelectedTool() const { return m_selectedTool; }

    // Raised by the window tool when a drag ended, and by the cine tool.
    void NotifyWindowDragFinished();
    void NotifyCineChanged(bool playing);

    // For the tools that change the view: the geometry taken at a drag's press, and the
    // step after every layout (image bitmap and resampler follow the geometry).
    ViewGeometry& MutableGeometry() { return m_geometry; }
    ViewGeometry& DragStart() { return m_dragStart; }
    void LayoutChanged();
    // True while the zoom or pan tool keeps a view chosen by the user.
    bool UserZoomedOrPanned() const;

    void ScrolledTo(int32_t position) override;

private:
    void AddTool(std::unique_ptr<CViewport2DTool> tool);
    void MergeImage(ViewportImage entry);
    void AnnounceImageList();
    // Lets the volume manager forget this viewport's volumes (they point at listed frames).
    void ReleaseVolumes();
    void UpdateScrollBar();
    void Relayout();
    void ResetViewFlags();
    // A zoom or pan from the current view; `tool` keeps the view the user chose.
    void ChangeView(CViewport2DViewDrag& tool,
                    const std::function<bool(const ViewGeometry&)>& layout);
    // Ends every drag: flags, the captured and the selected tool.
    void EndDrags();
    // The resampler's part of Render, into the image part or (when it fills the surface) the
    // surface.
    bool RenderImageBitmap(const DestinationBitmap& destination);
    bool ImageFillsSurface() const;
    // Brings the image part up to date after a frame was fetched straight into the surface.
    void RestoreImageBitmap();
    // The cine cache.
    bool FetchCineFrame(const std::string& key, uint32_t* target);
    void StoreCineFrame(const std::string& key);
    // Layers in their order; `all` false leaves out those skipped during drags.
    void DrawLayers(const PixelRect* clip, bool all);
    void Fire(uint32_t code, uint64_t payload);
    void FirePanelEvent(uint32_t code) { Fire(code, m_panelId); }
    ToolAnswer Dispatch(int32_t x, int32_t y, MouseButton button, int kind);
    std::chrono::steady_clock::time_point Now() const;

    ViewportServices m_services;
    CSeriesStateStore* m_states = nullptr;
    IViewportWindow* m_host = nullptr;
    bool m_offscreen = false;
    bool m_volumesKnown = false;  // the volume manager holds volumes of this viewport
    uint32_t m_id = 0;
    uint32_t m_panelId = 0;
    std::chrono::steady_clock::time_point m_lastPresent{};

    CMyScrollBar m_scrollBar;
    std::unique_ptr<CResampler> m_resampler;
    CDisplayLUT m_lut;
    CViewportSurface m_surface;      // what the window shows
    CViewportSurface m_imageBitmap;  // the visible image part
    bool m_imageValid = false;
    // A cached cine frame went straight into the surface and nothing was drawn on it yet.
    bool m_imageInSurface = false;
    // Set while m_imageBitmap is behind the surface: the cache key that restores it.
    std::string m_imageBitmapKey;
    // The frame was rendered straight into the surface; the image part is rendered again
    // (stage 2 alone) only when a partial redraw needs it.
    bool m_imageBitmapStale = false;
    std::vector<uint8_t> m_cineGrey;  // a grey frame on its way into or out of the cache
    uint32_t m_layerMask;
    int32_t m_fontSize = kMinFontSize;  // logical pixels
    float m_ratio = 1;

    std::vector<std::unique_ptr<CViewport2DTool>> m_tools;  // fixed order
    CViewport2DAnnotations* m_annotations = nullptr;
    CViewport2DCine* m_cine = nullptr;
    CViewport2DROI* m_measurements = nullptr;
    CViewport2DSynchronizer* m_synchronizer = nullptr;
    CViewport2DWindow* m_windowTool = nullptr;
    CViewport2DSlice* m_slice = nullptr;
    CViewport2DMove* m_move = nullptr;
    CViewport2DZoom* m_zoom = nullptr;
    CViewport2DTool* m_leftTool = nullptr;
    CViewport2DTool* m_rightTool = nullptr;
    CViewport2DTool* m_middleTool = nullptr;
    CViewport2DTool* m_selectedTool = nullptr;  // of the current press
    CViewport2DTool* m_capturedTool = nullptr;
    IImageBlender* m_blender = nullptr;  // the fusion tool, when it blends
    std::string m_blendKey;              // what it drew over the frame of the last render

    std::string m_seriesKey;
    std::string m_studyUid;
    std::string m_filter;
    bool m_layoutDirty = true;
    uint32_t m_loadGeneration = 1;

    ViewGeometry m_geometry;
    ViewGeometry m_dragStart;
    ViewGeometry m_saved;  // after each layout; a resize keeps the user's view from it

    CViewportImageList m_images;
    std::vector<ViewportImage> m_pending;
    size_t m_current = 0;
    bool m_imageChosen = false;  // by the user or a caller, since the first image arrived
    CDicomFrame* m_frame = nullptr;
    size_t m_frameIndex = 0;
};

}  // namespace vexel
