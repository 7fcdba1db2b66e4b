#include "app/window_placement.h"

#include <algorithm>

namespace vexel {
namespace {

// One axis: start and length against the area's.
void FitAxis(int& start, int& length, int areaStart, int areaLength) {
    start = std::max(start, areaStart);
    if (start + length > areaStart + areaLength) start = areaStart + areaLength - length;
    if (start < areaStart) {
        start = areaStart;
        length = areaLength;
    }
}

}  // namespace

QRect KeepOnScreens(QRect rect, const std::vector<QRect>& screens, const QRect& primaryWorkArea) {
    const bool shown = std::any_of(screens.begin(), screens.end(),
                                   [&](const QRect& screen) { return screen.intersects(rect); });
    if (shown || primaryWorkArea.isEmpty()) return rect;
    int x = rect.x(), y = rect.y(), width = rect.width(), height = rect.height();
    FitAxis(x, width, primaryWorkArea.x(), primaryWorkArea.width());
    FitAxis(y, height, primaryWorkArea.y(), primaryWorkArea.height());
    return {x, y, width, height};
}

}  // namespace vexel
