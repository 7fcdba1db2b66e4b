// A crash report as the dying process left it in its private folder: the description
// (report.xml) and the backtrace (backtrace.txt). The reporter lists what they hold and packs
// them into the archive (creport.zip) that it sends.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/unique_fd.h"
#include "vexel_zip.h"

namespace vexel {

inline constexpr char kCrashDescriptionName[] = "report.xml";
inline constexpr char kCrashBacktraceName[] = "backtrace.txt";
inline constexpr char kCrashArchiveName[] = "creport.zip";

// The description's values; an element the report lacks stays empty. Each value is cut to
// kMaxCrashValueLength bytes and control characters are dropped, so it can be shown as is.
struct CrashReportSummary {
    std::string appName;
    std::string appVersion;
    std::string appPlatform;
    std::string updateCheckId;  // CID
    std::string languageCode;
    std::string languageVersion;
    std::string systemTimeUtc;
    std::string operatingSystem;
    std::string openHandleCount;
    std::string memoryUsageKbytes;
    bool hasBacktrace = false;
};

inline constexpr size_t kMaxCrashValueLength = 256;

// A regular file of the folder, never read through a link; nullopt when it is missing, not
// a regular file or larger than maxBytes.
std::optional<std::string> ReadReportFile(int folderFd, const char* name, size_t maxBytes);

// The description in the folder; nullopt when report.xml is missing, too large or has no
// CrashRpt root.
std::optional<CrashReportSummary> ReadCrashReport(int folderFd);

enum class PackResult {
    Packed,
    NoZipModule,    // nothing packed, nothing to send
    NoDescription,  // report.xml is gone
    WriteFailed,    // the archive could not be made, or is not a private file of ours
};

struct PackedReport {
    PackResult result = PackResult::WriteFailed;
    UniqueFd archive;  // creport.zip open for reading, when packed
    uint64_t size = 0;
};

// Makes creport.zip in the folder (path names the folder folderFd is open on) through the
// ZIP module's write operations: report.xml and, when present, backtrace.txt. An archive
// left by an earlier attempt is replaced. The archive is a regular file of this user with
// mode 0600; the upload reads the returned descriptor, never the path again.
PackedReport PackCrashReport(int folderFd, const std::filesystem::path& folder,
                             const VexelZipInterface* zip);

}  // namespace vexel
