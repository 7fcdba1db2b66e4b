#pragma once

namespace vexel::cli {

// vexel decode FILE [--frame N | --all] [--out PATH]
int RunDecode(int argc, char** argv);

}  // namespace vexel::cli
