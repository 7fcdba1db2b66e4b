#pragma once

namespace vexel {
class CMemoryManager;
}

namespace vexel::cli {

// vexel measure FILE [--frame N] (--length X1,Y1,X2,Y2 | --ellipse X1,Y1,X2,Y2 |
//   --angle AX,AY,BX,BY,CX,CY | --cobb X1,Y1,X2,Y2,X3,Y3,X4,Y4) [--json]
// Points in image coordinates (column, row; the first pixel's centre is 0.5,0.5). Prints the
// label the viewer shows, or with --json the unrounded numbers.
int RunMeasure(int argc, char** argv, CMemoryManager& files);

}  // namespace vexel::cli
