#include "viewer/viewer_texts.h"

namespace vexel {

const char* BuiltInViewerText(uint32_t id) {
    // The same English as the program's text table; the viewer cannot reach that layer.
    static constexpr const char* kTexts[] = {
        "Im: %d/%d", "%d fps", "Se: ", "TR: %.1f TE: %.1f", "FS: ", "T: %.1fmm", "L: %.1fmm",
        "WL: %.0f WW: %.0f [%s]", "WL: %.0f WW: %.0f", "X: %d Y: %d", "Val: ", "L", "R", "S",
        "I", "A", "P", "%dy", "N", "R: ", "90\u00b0 CW", "90\u00b0 CCW", "180\u00b0", "F: ",
        "H", "V"};
    if (id < 9001 || id >= 9001 + std::size(kTexts)) return "";
    return kTexts[id - 9001];
}

}  // namespace vexel
