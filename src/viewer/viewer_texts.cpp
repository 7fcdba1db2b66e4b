#include "viewer/viewer_texts.h"

namespace vexel {

const char* BuiltInViewerText(uint32_t id) {
    // The same English as the program's text table; the viewer cannot reach that layer.
    static constexpr const char* kTexts[] = {
        "Im: %d/%d", "%d fps", "Se: ", "TR: %.1f TE: %.1f", "FS: ", "T: %.1fmm", "L: %.1fmm",
        "WL: %.0f WW: %.0f [%s]", "WL: %.0f WW: %.0f", "X: %d Y: %d", "Val: ", "L", "R", "S",
        "I", "A", "P", "%dy", "N", "R: ", "90\u00b0 CW", "90\u00b0 CCW", "180\u00b0", "F: ",
        "H", "V", "%.01f\u00b0"};
    // Measurement labels.
    static constexpr const char* kMeasureTexts[] = {
        "px", "mm", "Area", "cm\u00b2", "px\u00b2", "Mean", "Min", "Max", "SUVbw", "g/ml", "Bq/ml",
        "Warning! Interpolated image.\nAll values are approximate."};
    if (id >= 6001 && id < 6001 + std::size(kMeasureTexts)) return kMeasureTexts[id - 6001];
    if (id < 9001 || id >= 9001 + std::size(kTexts)) return "";
    return kTexts[id - 9001];
}

}  // namespace vexel
