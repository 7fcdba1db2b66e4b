#include "support/crash_report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <tinyxml2.h>
#include <cerrno>

namespace vexel {
namespace {

constexpr size_t kMaxDescriptionBytes = 1 << 20;
// /proc/self/maps of a large process stays well below this.
constexpr size_t kMaxBacktraceBytes = 16 << 20;

// Control characters dropped and the text cut at a character boundary.
std::string Displayable(const char* text) {
    std::string value;
    if (text == nullptr) return value;
    for (const char* at = text; *at != '\0'; ++at) {
        const auto byte = static_cast<unsigned char>(*at);
        if (byte >= 0x20 && byte != 0x7F) value += *at;
    }
    if (value.size() > kMaxCrashValueLength) {
        size_t end = kMaxCrashValueLength;
        while (end > 0 && (static_cast<unsigned char>(value[end]) & 0xC0) == 0x80)
            --end;
        value.resize(end);
    }
    return value;
}

std::string ElementText(const tinyxml2::XMLElement& root, const char* name) {
    const tinyxml2::XMLElement* element = root.FirstChildElement(name);
    return element != nullptr ? Displayable(element->GetText()) : std::string();
}

// The archive as the ZIP module left it, checked: a regular file of ours with one link
// and no access for others.
PackedReport OpenArchive(int folderFd) {
    PackedReport packed;
    UniqueFd fd(openat(folderFd, kCrashArchiveName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (!fd.Valid() || fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_uid != geteuid() || info.st_nlink != 1) {
        return packed;
    }
    if ((info.st_mode & 077) != 0 && fchmod(fd.Get(), 0600) != 0) return packed;
    packed.result = PackResult::Packed;
    packed.archive = std::move(fd);
    packed.size = static_cast<uint64_t>(info.st_size);
    return packed;
}

}  // namespace

std::optional<std::string> ReadReportFile(int folderFd, const char* name, size_t maxBytes) {
    // O_NONBLOCK: a FIFO planted under the name must not block the open.
    UniqueFd fd(openat(folderFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!fd.Valid() || fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<uint64_t>(info.st_size) > maxBytes) {
        return std::nullopt;
    }
    std::string data(static_cast<size_t>(info.st_size), '\0');
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = read(fd.Get(), data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    data.resize(done);  // a file cut short meanwhile gives what was there
    return data;
}

std::optional<CrashReportSummary> ReadCrashReport(int folderFd) {
    const std::optional<std::string> xml =
        ReadReportFile(folderFd, kCrashDescriptionName, kMaxDescriptionBytes);
    if (!xml) return std::nullopt;
    tinyxml2::XMLDocument document;
    if (document.Parse(xml->data(), xml->size()) != tinyxml2::XML_SUCCESS) return std::nullopt;
    const tinyxml2::XMLElement* root = document.RootElement();
    if (root == nullptr || std::string_view(root->Name()) != "CrashRpt") return std::nullopt;
    CrashReportSummary summary;
    summary.appName = ElementText(*root, "AppName");
    summary.appVersion = ElementText(*root, "AppVersion");
    summary.appPlatform = ElementText(*root, "AppPlatform");
    summary.updateCheckId = ElementText(*root, "CID");
    summary.languageCode = ElementText(*root, "LangCode");
    summary.languageVersion = ElementText(*root, "LangVer");
    summary.systemTimeUtc = ElementText(*root, "SystemTimeUTC");
    summary.operatingSystem = ElementText(*root, "OperatingSystem");
    summary.openHandleCount = ElementText(*root, "OpenHandleCount");
    summary.memoryUsageKbytes = ElementText(*root, "MemoryUsageKbytes");
    struct stat info {};
    summary.hasBacktrace =
        fstatat(folderFd, kCrashBacktraceName, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(info.st_mode);
    return summary;
}

PackedReport PackCrashReport(int folderFd, const std::filesystem::path& folder,
                             const VexelZipInterface* zip) {
    PackedReport packed;
    const std::optional<std::string> description =
        ReadReportFile(folderFd, kCrashDescriptionName, kMaxDescriptionBytes);
    if (!description) {
        packed.result = PackResult::NoDescription;
        return packed;
    }
    if (zip == nullptr) {
        packed.result = PackResult::NoZipModule;
        return packed;
    }
    const std::optional<std::string> backtrace =
        ReadReportFile(folderFd, kCrashBacktraceName, kMaxBacktraceBytes);
    // The archive of a failed attempt goes; the module never replaces a file.
    if (unlinkat(folderFd, kCrashArchiveName, 0) != 0 && errno != ENOENT) return packed;
    // libzip writes a temporary file and renames it into place with a mode taken from the
    // umask: a closed umask keeps every step of it private.
    const mode_t savedMask = umask(077);
    const std::string path = (folder / kCrashArchiveName).string();
    bool written = false;
    if (VexelZipWriter* writer = zip->createArchive(path.c_str())) {
        bool added = zip->addFile(writer, kCrashDescriptionName, description->data(),
                                  description->size()) == VEXEL_ZIP_OK;
        if (added && backtrace) {
            added = zip->addFile(writer, kCrashBacktraceName, backtrace->data(),
                                 backtrace->size()) == VEXEL_ZIP_OK;
        }
        written = zip->closeWriter(writer) == VEXEL_ZIP_OK && added;
    }
    umask(savedMask);
    if (!written) {
        unlinkat(folderFd, kCrashArchiveName, 0);
        return packed;
    }
    return OpenArchive(folderFd);
}

}  // namespace vexel
