#pragma once

namespace vexel {
class CJPEGEngine;
class CMemoryManager;
}  // namespace vexel

namespace vexel::cli {

// vexel export PATH... --out DIR [--scope image|series|all] [--series N] [--image N]
//   [--format jpeg|bmp|wmv|mp4] [--size default|fit:WxH|WxH] [--quality 0-10]
//   [--annotations full|basic|none] [--prefix P] [--fps N] [--preset NAME | --window C,W]
//   [--rotate 90|180|270] [--flip h|v] [--overwrite]
// Writes what the viewer's export window writes for the shown image of that series (series
// and image count from 0 in display order); prints each file written.
int RunExport(int argc, char** argv, CMemoryManager& files, CJPEGEngine& jpeg);

}  // namespace vexel::cli
