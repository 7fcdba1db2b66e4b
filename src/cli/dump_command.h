#pragma once

namespace vexel::cli {

// vexel dump [--json] FILE...
int RunDump(int argc, char** argv);

}  // namespace vexel::cli
