#include "output/export_renderer.h"

#include "volume/viewport_fusion.h"

#include <algorithm>

#include "engine/memory_manager.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "viewer/cine_rate.h"
#include "viewer/viewport_2d.h"
#include "viewer/viewport_image_list.h"

namespace vexel {
namespace {

// The part of an on-screen view an item keeps when it is not drawn at the viewport's size:
// rotation and mirrors, laid out afresh for the item's size.
ViewGeometry OrientationOnly(const ViewGeometry& view) {
    ViewGeometry kept;
    kept.rotation = view.rotation;
    kept.horizontalMirror = view.horizontalMirror;
    kept.verticalMirror = view.verticalMirror;
    return kept;
}

}  // namespace

CExportRenderer::CExportRenderer(CMemoryManager& files, const CWindowPresetTable& presets,
                                 TextLookup texts, const CSeriesStateStore* shared)
    : m_files(files), m_presets(presets), m_texts(std::move(texts)), m_shared(shared) {
    ViewportServices services;
    services.states = &m_states;
    services.presets = &m_presets;
    services.text = m_texts;
    services.measurements = &m_measurements;
    services.fusionTool = [texts = m_texts](CViewport2D& viewport) {
        return std::make_unique<CViewport2DFusion>(viewport,
                                                   FusionServices{nullptr, nullptr, texts});
    };
    m_viewport = std::make_unique<CViewport2D>(services);
    m_fusion = dynamic_cast<CViewport2DFusion*>(m_viewport->Blender());
}

CExportRenderer::~CExportRenderer() {
    Release();
}

void CExportRenderer::Release() {
    // The viewport lets go of the frame before the file's reference goes.
    m_viewport->Clear(false);
    m_viewport->Resampler().ForgetStage1();
    if (m_fusion != nullptr) m_fusion->SetFixedImage(nullptr, 0, 0);
    m_overlayFile.Reset();
    if (!m_overlayPath.empty()) m_files.DiscardIfUnused(m_overlayPath);
    m_overlayPath.clear();
    m_file.Reset();
    // A long export must not keep every file it drew; the viewer's own stay (referenced).
    if (!m_openedPath.empty()) m_files.DiscardIfUnused(m_openedPath);
    m_openedPath.clear();
    for (const auto& [key, type] : m_putKeys)
        m_states.Remove(key, type);
    m_putKeys.clear();
}

void CExportRenderer::Put(const std::string& key, StateRecord type,
                          const std::vector<uint8_t>& bytes) {
    m_states.Put(key, type, bytes.data(), bytes.size());
    m_putKeys.emplace_back(key, type);
}

const CViewportSurface* CExportRenderer::Render(const ExportItem& item, std::string* reason) {
    Release();
    CFileRef opened;
    CDicomFile* file = item.heldFile ? item.heldFile->Get() : nullptr;
    if (file == nullptr) {
        auto [ref, status] = m_files.Open(item.sourcePath);
        opened = std::move(ref);
        file = opened.Get();
    }
    CDicomImage* image = file != nullptr ? CDicomImage::Of(*file) : nullptr;
    if (image == nullptr) {
        if (reason) *reason = "cannot be opened as an image";
        return nullptr;
    }
    if (item.frame >= image->FrameCount()) {
        if (reason) *reason = "has no frame " + std::to_string(item.frame + 1);
        return nullptr;
    }
    m_file = std::move(opened);
    if (m_file) m_openedPath = item.sourcePath;
    if (!Prepare(item, *image, reason)) return nullptr;
    if (!m_viewport->RenderedImage()) {
        if (reason) *reason = "the frame cannot be drawn";
        return nullptr;
    }
    return &m_viewport->Surface();
}

bool CExportRenderer::Prepare(const ExportItem& item, CDicomImage& image, std::string* reason) {
    CDicomFrame& frame = *image.Frame(item.frame);
    if (m_shared != nullptr) {
        const std::string seriesKey = ViewportSeriesKey(image);
        if (auto window = m_shared->Get(seriesKey, StateRecord::kWindowState))
            Put(seriesKey, StateRecord::kWindowState, *window);
        if (auto measurements = m_shared->Get(frame.Key(), StateRecord::kMeasurements))
            Put(frame.Key(), StateRecord::kMeasurements, *measurements);
    }
    if (item.state) {
        for (const StateBlock& block : *item.state)
            Put(block.key, block.type, block.bytes);
    }
    int32_t width = item.width;
    int32_t height = item.height;
    ViewGeometry view = item.size == ExportSize::Current ? item.view : OrientationOnly(item.view);
    if (item.size == ExportSize::Default) {
        width = int32_t(std::min<uint32_t>(frame.Columns(), 65535));
        height = int32_t(std::min<uint32_t>(frame.Rows(), 65535));
        if (view.rotation == 90 || view.rotation == 270) std::swap(width, height);
    }
    if (!m_viewport->CreateOffscreen(width, height, view)) {
        if (reason)
            *reason =
                "not enough memory for " + std::to_string(width) + "x" + std::to_string(height);
        return false;
    }
    // Disabled annotations leave the image alone but for what the user drew on it.
    m_viewport->SetLayerMask(item.annotations == AnnotationMode::None
                                 ? uint32_t(kLayerMeasurements | kLayerFusion)
                                 : uint32_t(kAllLayers));
    m_viewport->Annotations().SetMode(item.annotations);
    m_viewport->Annotations().SetImageNumber(std::pair(item.place, item.total));
    if (item.fused && m_fusion != nullptr) FixOverlay(*item.fused);
    if (!m_viewport->AddImage(CFileRef(), image, 0)) {
        if (reason) *reason = "cannot be shown";
        return false;
    }
    if (item.frame != m_viewport->CurrentFrameIndex()) m_viewport->SetFrame(&frame);
    if (item.size == ExportSize::Default) m_viewport->ActualSize();
    m_cineRate = AcquiredFrameRate(image.File());
    return true;
}

void CExportRenderer::FixOverlay(const ExportItem::Fused& fused) {
    // The overlay file is taken through the registry once for the item.
    CDicomFile* file = fused.heldFile ? fused.heldFile->Get() : nullptr;
    if (file == nullptr) {
        auto [ref, status] = m_files.Open(fused.path);
        m_overlayFile = std::move(ref);
        if (m_overlayFile) m_overlayPath = fused.path;
        file = m_overlayFile.Get();
    }
    CDicomImage* image = file != nullptr ? CDicomImage::Of(*file) : nullptr;
    CDicomFrame* frame = image != nullptr ? image->Frame(fused.frame) : nullptr;  // bound-checked
    if (frame != nullptr) m_fusion->SetFixedImage(frame, fused.low, fused.high);
}

}  // namespace vexel
