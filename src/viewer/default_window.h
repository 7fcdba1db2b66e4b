// The window an image opens with: its own Window Center/Width, else the full dynamic range of
// its first frame.
#pragma once

#include <optional>

#include "viewer/window_state.h"

namespace vexel {

class CDicomFile;
class CDicomFrame;
class CDicomImage;
class CSeriesStateStore;

// First values of Window Center (0028,1050) and Window Width (0028,1051); an absent centre
// reads as 0. Nothing when the width is absent or below 1, which PS3.3 C.11.2.1.2 forbids.
std::optional<WindowLevel> FileWindowOf(CDicomFile& file);
// The frame's value range in modality units (centre 128, width 256 for colour); nothing
// when its pixels cannot be obtained.
std::optional<WindowLevel> FullDynamicWindowOf(CDicomFrame& frame);
// The file's window, else the full dynamic window of the first frame, computed once per
// image and kept in the store under the image's key. Centre 128, width 256 without frames
// or pixels.
WindowLevel DefaultWindowOf(const CDicomImage& image, CSeriesStateStore& store);

}  // namespace vexel
