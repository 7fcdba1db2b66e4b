// Draws export items, one after the other, through an off-screen viewport of its own with a
// private state store: the picture is the one the viewer would show with the item's size,
// view, window, annotation level and measurements. One renderer per thread.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/file_reference.h"
#include "measure/measurement_list.h"
#include "output/export_item.h"
#include "viewer/series_state_store.h"
#include "viewer/viewer_texts.h"

namespace vexel {

class CViewport2DFusion;

class CMemoryManager;
class CViewport2D;
class CViewportSurface;
class CWindowPresetTable;

class CExportRenderer {
public:
    // Everything given must outlive the renderer; texts may be empty (the built-in English).
    // `shared` is the viewer's store: each item starts from a copy of its frame's
    // measurements and its series' window there (null: none).
    CExportRenderer(CMemoryManager& files, const CWindowPresetTable& presets, TextLookup texts,
                    const CSeriesStateStore* shared);
    ~CExportRenderer();
    CExportRenderer(const CExportRenderer&) = delete;
    CExportRenderer& operator=(const CExportRenderer&) = delete;

    // The item's picture, valid until the next call; null with a reason when the file cannot
    // be opened, the frame does not exist or nothing could be drawn (never a blank picture).
    const CViewportSurface* Render(const ExportItem& item, std::string* reason);
    // The cine rate of the file the last item came from (its recommended rate, else its
    // frame time, else 10), as a movie's default rate.
    float CineRate() const { return m_cineRate; }

private:
    // The fused overlay of the item, fixed on the viewport's fusion tool.
    void FixOverlay(const ExportItem::Fused& fused);
    bool Prepare(const ExportItem& item, CDicomImage& image, std::string* reason);
    void Put(const std::string& key, StateRecord type, const std::vector<uint8_t>& bytes);
    void Release();

    CMemoryManager& m_files;
    const CWindowPresetTable& m_presets;
    TextLookup m_texts;
    const CSeriesStateStore* m_shared;
    CSeriesStateStore m_states;
    CMeasurementLists m_measurements;
    std::unique_ptr<CViewport2D> m_viewport;  // after the store and the lists it uses
    CFileRef m_file;
    std::string m_openedPath;               // opened by the renderer: let go of it after the item
    CViewport2DFusion* m_fusion = nullptr;  // the viewport's, in fixed-image mode
    CFileRef m_overlayFile;
    std::string m_overlayPath;
    std::vector<std::pair<std::string, StateRecord>> m_putKeys;
    float m_cineRate = 0;
};

}  // namespace vexel
