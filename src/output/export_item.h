// One picture to write (an image, or one frame of a movie) and one movie, as the export
// window or `vexel export` builds them on the user-interface thread. An item carries copies of
// everything its picture depends on, so the workers never touch the viewer's own state.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/file_reference.h"
#include "output/export_types.h"
#include "viewer/series_state_store.h"
#include "viewer/view_geometry.h"
#include "viewer/viewport_annotations.h"

namespace vexel {

enum class ExportSize : uint32_t {
    Default,  // one output pixel per image pixel
    FitTo,    // the image fitted into a fixed size
    Current,  // the viewport's size and view
};

// A block of the viewer's series state (window, measurements) given to the item's own store.
struct StateBlock {
    std::string key;
    StateRecord type = StateRecord::kMeasurements;
    std::vector<uint8_t> bytes;
};

struct ExportItem {
    ExportFormat format = ExportFormat::Jpeg;
    std::string sourcePath;
    size_t frame = 0;  // within a multi-frame file
    // Frames that exist only in memory (reformatted volumes) come with their file; others are
    // opened by path when they are drawn.
    std::shared_ptr<CFileRef> heldFile;
    std::filesystem::path outputPath;  // empty for movie frames
    ExportSize size = ExportSize::Default;
    int32_t width = 0;  // FitTo: the box; Current: the viewport's size
    int32_t height = 0;
    ViewGeometry view;  // Current: the on-screen view; otherwise only rotation and mirrors
    int32_t jpegQuality = 100;
    AnnotationMode annotations = AnnotationMode::Full;
    size_t place = 0;  // shown as "Im: place+1/total"
    size_t total = 1;
    // Shared by the items of one series: the window and the measurements as on screen.
    std::shared_ptr<const std::vector<StateBlock>> state;
    // The fused overlay drawn over this frame on screen, if any: its frame and window.
    struct Fused {
        std::string path;
        std::shared_ptr<CFileRef> heldFile;  // for frames that exist only in memory
        size_t frame = 0;
        double low = 0;
        double high = 0;
    };
    std::optional<Fused> fused;
};

struct ExportMovie {
    std::filesystem::path outputPath;
    ExportFormat format = ExportFormat::Mp4;
    int32_t framesPerSecond = 0;  // 0: the first file's recommended rate, else 10
    uint32_t bitRateKbps = 20000;
    std::vector<ExportItem> frames;
};

}  // namespace vexel
