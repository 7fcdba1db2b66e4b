// The reformatting tool of a 2D viewport: shows the viewport's volume in another plane and
// goes back to the images it showed first.
//
// The first switch keeps the shown images (with references of their own) and copies of the
// viewport's volumes. A switch to a new plane clears the viewport and fills it with the
// slices the engine delivers, central ones first, under one background task; a switch back
// to the first plane clears it again and puts the kept images back, without computing
// anything. A clear from outside (another series, the panel closing) cancels the build and
// forgets all of it. Slices of a cancelled build, or of a viewport that went, are dropped.
// A failed build ends its task, says why and brings the kept images back.
//
// A slice affected by a gap in the stack or by a gantry tilt keeps a one-line warning over
// the image.
//
// Threads: the user-interface thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/file_reference.h"
#include "engine/volume_record.h"
#include "viewer/viewport_tool.h"

namespace vexel {

class CDicomImage;
class CMemoryManager;
class CMPREngine;
class CTaskManager;
class CVolumeManager;
struct MprSlice;
enum class MprOutcome;

struct MprServices {
    CMPREngine* engine = nullptr;
    CMemoryManager* files = nullptr;
    CTaskManager* tasks = nullptr;
    CVolumeManager* volumes = nullptr;
    std::function<std::string(uint32_t textId)> text;  // empty: English
    std::function<void(const std::string& message)> showError;
};

namespace textid {
inline constexpr uint32_t kCreatingMpr = 7007;  // "Creating MPR series..."
inline constexpr uint32_t kMprFailed = 7008;    // "The MPR series could not be created: %s"
inline constexpr uint32_t kMprGap = 7009;       // "Gap of %.1f mm in the stack: %d of %d images"
inline constexpr uint32_t kMprTilt = 7010;      // "Gantry tilt of %.1f degrees: interpolated"
}  // namespace textid

class CViewport2DMPR final : public CViewport2DTool {
public:
    CViewport2DMPR(CViewport2D& viewport, const MprServices& services);
    ~CViewport2DMPR() override;

    // Plane 1 axial, 3 coronal, 4 sagittal. The id of the request started, 0 when none was
    // (nothing to reformat, the plane already shown, or the first images put back).
    uint32_t SetPlane(int32_t plane);
    int32_t CurrentPlane() const { return m_currentPlane; }
    int32_t InitialPlane() const { return m_initialPlane; }
    bool Building() const { return m_build != 0; }
    const std::string& Warning() const { return m_warning; }

    void Reset() override;
    void Draw(ICanvas& canvas, const PixelRect* clip) override;

private:
    struct Kept {
        CFileRef file;
        CDicomImage* image = nullptr;
    };

    static CViewport2DMPR* Find(uint32_t viewportId);
    void Take(MprSlice slice);
    void Finish(MprOutcome outcome, const std::string& error);
    void Restore();
    void ApplySavedWindow();
    void Cancel();
    std::string Text(uint32_t id) const;
    std::string WarningFor(const VolumeRecord& volume, size_t seriesImages) const;

    MprServices m_services;
    std::vector<Kept> m_initial;
    std::vector<VolumeRecord> m_volumes;
    int32_t m_initialPlane = 0;
    int32_t m_currentPlane = 0;
    float m_savedCentre = 0, m_savedWidth = 0;
    bool m_savedNegative = false;
    bool m_switching = false;  // our own clears keep what was kept
    bool m_restoring = false;
    uint32_t m_generation = 0;
    uint32_t m_requestId = 0;
    int32_t m_taskId = 0;  // 0 without a task manager
    uint64_t m_build = 0;  // the build the handlers wait for, 0 when none
    bool m_firstSlice = false;
    std::vector<std::string> m_paths;  // of the slices made for this viewport
    std::string m_warning;
};

}  // namespace vexel
