#pragma once

namespace vexel {
class CMemoryManager;
}

namespace vexel::cli {

// vexel render PATH --out FILE.png [--size WxH] [--series N] [--image N] [--frame N]
//   [--preset NAME | --window C,W] [--negative] [--zoom F] [--pan DX,DY]
//   [--rotate 90|180|270] [--flip h|v] [--no-layers] [--annotations full|basic|none]
//   [--print-annotations]
// Draws what an off-screen viewport of that size shows and writes it as PNG; with
// --print-annotations also lists the texts drawn at the corners and edges.
int RunRender(int argc, char** argv, CMemoryManager& files);

}  // namespace vexel::cli
