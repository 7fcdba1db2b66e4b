// Which paths the loaders open as ZIP archives.
#pragma once

#include <string>

namespace vexel {

// ".zip" or ".dmz" as the last extension, in any case.
bool IsArchivePath(const std::string& path);
// "PK\3\4" at the start and no DICOM prefix at 128: an archive named otherwise
// ("study.2024.zip" reads as the extension "2024.zip" elsewhere). False for anything but a
// regular file.
bool IsZipByContent(const std::string& path);

}  // namespace vexel
