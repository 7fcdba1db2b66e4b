// Where the main window may be put back: a stored rectangle that lies on no screen any more
// (a monitor unplugged since) is moved onto the primary screen's work area.
#pragma once

#include <QRect>
#include <vector>

namespace vexel {

// `rect` unchanged when it meets any of `screens`. Otherwise its left and top are raised to
// the work area's; an edge beyond the work area moves it back to end there; a window larger
// than the work area starts at its edge and takes its width or height.
QRect KeepOnScreens(QRect rect, const std::vector<QRect>& screens, const QRect& primaryWorkArea);

}  // namespace vexel
