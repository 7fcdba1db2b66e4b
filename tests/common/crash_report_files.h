// A crash report folder filled as the dying viewer leaves it, for the reporter's tests.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>

#include "common/test_paths.h"
#include "platform/private_folder.h"
#include "platform/unique_fd.h"

namespace vexel::test {

inline bool WritePrivate(int folderFd, const char* name, const std::string& text) {
    UniqueFd fd(CreatePrivateFile(folderFd, name));
    return fd.Valid() && write(fd.Get(), text.data(), text.size()) == ssize_t(text.size());
}

inline std::string ReadText(const std::filesystem::path& path) {
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    return {bytes.begin(), bytes.end()};
}

inline std::string ReportXml(const std::string& cid, const std::string& langCode,
                             const std::string& langVer) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<CrashRpt version=\"1\">\n"
        "<AppName>Vexel DICOM Viewer</AppName><AppVersion>1.2.3.45</AppVersion>"
        "<AppPlatform>x86_64</AppPlatform>";
    if (!cid.empty()) xml += "<CID>" + cid + "</CID>";
    if (!langCode.empty()) xml += "<LangCode>" + langCode + "</LangCode>";
    if (!langVer.empty()) xml += "<LangVer>" + langVer + "</LangVer>";
    return xml +
           "<SystemTimeUTC>2026-12-08T16:00:00Z</SystemTimeUTC>"
           "<OperatingSystem>Linux 6.1.0 x86_64</OperatingSystem><OSIs64Bit>1</OSIs64Bit>"
           "<OpenHandleCount>17</OpenHandleCount><MemoryUsageKbytes>81234</MemoryUsageKbytes>"
           "</CrashRpt>\n";
}

inline const std::string kBacktrace =
    "signal 11 (SIGSEGV)\nfault address 0x0\n#0 0x55d0c0ffee00 vexel-viewer+0x1234\n"
    "55d0c0000000-55d0c1000000 r-xp 00000000 08:01 42 /usr/bin/vexel-viewer\n";

// Makes <cacheHome>/VexelViewer/crash with report.xml and backtrace.txt; returns it open.
inline UniqueFd MakeReportFolder(const std::filesystem::path& cacheHome,
                                 const std::string& xml = ReportXml("", "", "")) {
    std::filesystem::create_directories(cacheHome);
    UniqueFd folder(OpenPrivateFolder(CrashReportFolderPath(cacheHome)));
    if (folder.Valid() && (!WritePrivate(folder.Get(), "report.xml", xml) ||
                           !WritePrivate(folder.Get(), "backtrace.txt", kBacktrace))) {
        folder.Reset();
    }
    return folder;
}

}  // namespace vexel::test
