#include "volume/viewport_mpr.h"

#include <algorithm>

#include "engine/memory_manager.h"
#include "engine/task_manager.h"
#include "engine/volume_manager.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "platform/canvas.h"
#include "viewer/annotation_texts.h"
#include "viewer/overlay_annotation.h"
#include "viewer/viewport_2d.h"
#include "viewer/viewport_hash.h"
#include "viewer/viewport_window_tool.h"
#include "volume/mpr_engine.h"
#include "volume/mpr_layout.h"

namespace vexel {
namespace {

const char* EnglishText(uint32_t id) {
    switch (id) {
        case textid::kCreatingMpr:
            return "Creating MPR series...";
        case textid::kMprFailed:
            return "The MPR series could not be created: %s";
        case textid::kMprGap:
            return "Gap of %.1f mm in the stack: %d of %d images";
        case textid::kMprTilt:
            return "Gantry tilt of %.1f degrees: interpolated";
        default:
            return "";
    }
}

// The plane code of a volume's kind: 1 axial, 3 coronal, 4 sagittal.
int32_t PlaneCodeOf(int32_t kind) {
    if (kind == kPlaneAxialHead) return kPlaneAxialFeet;
    if (kind == kPlaneSagittalLeft) return kPlaneSagittalRight;
    return kind;
}

}  // namespace

CViewport2DMPR::CViewport2DMPR(CViewport2D& viewport, const MprServices& services)
    : CViewport2DTool(viewport, ToolType::Mpr), m_services(services) {}

CViewport2DMPR::~CViewport2DMPR() {
    Cancel();
    m_initial.clear();
}

CViewport2DMPR* CViewport2DMPR::Find(uint32_t viewportId) {
    CViewport2D* viewport = CViewportHash::Instance().Find(viewportId);
    return viewport != nullptr ? dynamic_cast<CViewport2DMPR*>(&viewport->Tool(ToolType::Mpr))
                               : nullptr;
}

std::string CViewport2DMPR::Text(uint32_t id) const {
    return CheckedFormat(m_services.text ? m_services.text(id) : std::string(), EnglishText(id));
}

uint32_t CViewport2DMPR::SetPlane(int32_t plane) {
    if (!IsReformatPlane(plane) || m_services.engine == nullptr || m_services.files == nullptr ||
        m_restoring || m_viewport.Offscreen() || plane == m_currentPlane)
        return 0;
    const bool first = m_initialPlane == 0;
    if (plane == m_initialPlane) {
        Restore();
        return 0;
    }
    if (first) {
        if (m_viewport.ImageCount() == 0 || m_services.volumes == nullptr) return 0;
        m_volumes.clear();
        m_services.volumes->CopyVolumes(m_viewport.Id(), m_volumes);
    }
    const VolumeRecord* volume = ChooseMprVolume(m_volumes, plane, nullptr);
    if (volume == nullptr) {
        if (first) m_volumes.clear();
        return 0;
    }
    if (first) {
        // The shown images, with references of our own, to come back to.
        for (size_t i = 0; i < m_viewport.ImageCount(); ++i) {
            CDicomImage* image = m_viewport.ImageAt(i);
            m_services.files->AddReference(&image->File());
            m_initial.push_back({CFileRef(*m_services.files, &image->File()), image});
        }
        m_initialPlane = PlaneCodeOf(volume->planeKind);
        m_savedCentre = m_viewport.Lut().Centre();
        m_savedWidth = m_viewport.Lut().Width();
        m_savedNegative = m_viewport.Negative();
    }
    const VolumeRecord request = *volume;  // survives the clear, which may drop the copies
    m_currentPlane = plane;
    m_switching = true;
    m_viewport.Clear(true);
    m_switching = false;
    m_generation = m_viewport.LoadGeneration();
    m_warning = WarningFor(request, m_initial.size());
    m_firstSlice = true;

    const std::optional<MprLayout> layout = PlanMprLayout(request, plane, nullptr);
    m_taskId = m_services.tasks
                   ? m_services.tasks->AddTask(layout->sliceCount, Text(textid::kCreatingMpr))
                   : 0;
    MprRequest submit;
    submit.volume = request;
    submit.plane = plane;
    for (CDicomFrame* frame : request.images) {
        m_services.files->AddReference(&frame->Image().File());
        submit.files.emplace_back(*m_services.files, &frame->Image().File());
    }
    // Handlers find the viewport by id and check the build is still the one it waits for.
    static uint64_t s_lastBuild = 0;
    m_build = ++s_lastBuild;
    const uint32_t viewportId = m_viewport.Id();
    const uint64_t build = m_build;
    submit.onSlice = [viewportId, build](MprSlice slice) {
        CViewport2DMPR* tool = Find(viewportId);
        if (tool != nullptr && tool->m_build == build) tool->Take(std::move(slice));
    };
    submit.onEnd = [viewportId, build, task = m_taskId, tasks = m_services.tasks](
                       MprOutcome outcome, const std::string& error) {
        if (tasks != nullptr && task > 0) tasks->EndTask(task);
        CViewport2DMPR* tool = Find(viewportId);
        if (tool != nullptr && tool->m_build == build) tool->Finish(outcome, error);
    };
    m_requestId = m_services.engine->Submit(std::move(submit));
    if (m_requestId == 0) Finish(MprOutcome::Cancelled, {});
    return m_requestId;
}

void CViewport2DMPR::Take(MprSlice slice) {
    CDicomFile* file = slice.file.get();
    CDicomImage* image = CDicomImage::Of(*file);
    const std::string path = file->Path();
    if (image == nullptr || !m_services.files->RegisterObject(std::move(slice.file))) return;
    m_paths.push_back(path);
    m_services.files->AddReference(file);
    const bool taken = m_viewport.AddImage(CFileRef(*m_services.files, file), *image, m_generation);
    m_services.files->ReleaseReference(file);  // the builder's
    if (taken && m_firstSlice) {
        // The central slice came first: it stays on screen while the others arrive.
        m_firstSlice = false;
        m_viewport.ShowImage(m_viewport.CurrentIndex(), false, true);
        ApplySavedWindow();
    }
    if (m_services.tasks) m_services.tasks->SetTaskProgress(m_taskId, slice.done, slice.total);
    if (slice.done == slice.total) {
        m_viewport.MergePendingImages();
        m_viewport.RenderComposePresent();
    }
}

void CViewport2DMPR::Finish(MprOutcome outcome, const std::string& error) {
    m_taskId = 0;
    m_requestId = 0;
    m_build = 0;
    if (outcome != MprOutcome::Failed) {
        m_viewport.MergePendingImages();
        return;
    }
    if (m_services.showError)
        m_services.showError(FormatText(Text(textid::kMprFailed), error.c_str()));
    Restore();
}

void CViewport2DMPR::Restore() {
    if (m_initial.empty()) return;
    m_restoring = true;
    m_viewport.Clear(true);
    const uint32_t generation = m_viewport.LoadGeneration();
    for (Kept& kept : m_initial) {
        m_services.files->AddReference(kept.file.Get());
        m_viewport.AddImage(CFileRef(*m_services.files, kept.file.Get()), *kept.image, generation);
    }
    m_viewport.MergePendingImages();
    m_currentPlane = m_initialPlane;
    m_warning.clear();
    ApplySavedWindow();
    m_viewport.RenderComposePresent();
    m_restoring = false;
}

void CViewport2DMPR::ApplySavedWindow() {
    if (m_savedWidth > 0) m_viewport.WindowTool().ApplyWindow(m_savedCentre, m_savedWidth);
    m_viewport.WindowTool().SetNegative(m_savedNegative);
}

void CViewport2DMPR::Cancel() {
    if (m_requestId != 0 && m_services.engine != nullptr) m_services.engine->Cancel(m_requestId);
    if (m_taskId > 0 && m_services.tasks != nullptr) m_services.tasks->EndTask(m_taskId);
    m_requestId = 0;
    m_taskId = 0;
    m_build = 0;
}

void CViewport2DMPR::Reset() {
    Cancel();
    if (!m_switching && !m_restoring) {
        m_initial.clear();
        m_volumes.clear();
        m_initialPlane = 0;
        m_currentPlane = 0;
        m_warning.clear();
    }
    // The viewport let go of the slices; whatever nobody else holds goes now.
    if (m_services.files != nullptr)
        for (const std::string& path : m_paths)
            m_services.files->DiscardIfUnused(path);
    m_paths.clear();
}

std::string CViewport2DMPR::WarningFor(const VolumeRecord& volume, size_t seriesImages) const {
    // A gap ends one volume and begins the next: it may be listed with either.
    float largest = 0;
    for (const VolumeRecord& other : m_volumes)
        for (const VolumeGap& gap : other.gaps)
            largest = std::max(largest, gap.size);
    if (largest > 0) {
        return FormatText(Text(textid::kMprGap), double(largest), volume.imageCount,
                          int(seriesImages));
    }
    if (volume.tiltDegrees >= 0.05f)
        return FormatText(Text(textid::kMprTilt), double(volume.tiltDegrees));
    return {};
}

void CViewport2DMPR::Draw(ICanvas& canvas, const PixelRect*) {
    if (m_warning.empty() || Frame() == nullptr) return;
    const CViewportSurface& surface = m_viewport.Surface();
    canvas.SetFont(m_viewport.FontSize());
    const int32_t height = canvas.MeasureText(m_warning).height;
    canvas.DrawShadowedText(m_warning, {0, surface.Height() - 2 * height, surface.Width(), height},
                            TextAlign::Centre, kLightYellow, 1, -1);
}

}  // namespace vexel
