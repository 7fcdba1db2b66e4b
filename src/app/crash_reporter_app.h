// The crash-reporter mode of vexel-viewer: "vexel-viewer -crash DIR" offers the report that
// the dying viewer left in DIR. Only this user's own report folder is accepted.
#pragma once

#include <filesystem>
#include <string>

#include "platform/unique_fd.h"

namespace vexel {

// The name of the variable that names certificates to trust for the upload instead of the
// system's (for tests with their own server certificate).
inline constexpr char kCrashCaFileVariable[] = "VEXEL_CRASH_CA_FILE";

// The folder, opened, when `given` is (after lexical normalisation) the report folder under
// cacheHome and that folder is a real directory of this user closed to others; otherwise
// invalid, with the reason in *error. Nothing is created or changed but a report folder's
// mode narrowed to 0700.
UniqueFd OpenAcceptedReportFolder(const std::string& given, const std::filesystem::path& cacheHome,
                                  std::string* error);

// The whole reporter process: exit status 2 for a folder that is not accepted (nothing read
// or deleted), 1 when there is no report or no display, 0 when its window was closed.
int RunCrashReporter(int argc, char** argv);

}  // namespace vexel
