#include "app/options.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/atomic_file.h"

namespace vexel {

namespace {

constexpr const char* kFolderName = "VexelViewer";
constexpr const char* kWindowPos = "WindowPos";
constexpr const char* kCheckUpdate = "CheckUpdate";
constexpr const char* kCheckUpdateLast = "CheckUpdateLast";
constexpr const char* kCheckUpdateVerToIgnore = "CheckUpdateVerToIgnore";
constexpr const char* kCheckUpdateId = "CheckUpdateID";
constexpr const char* kDicomScanFolder = "DicomScanFolder";
constexpr const char* kWebSite = "WebSite";
constexpr size_t kMaxWebSiteLength = 1024;
constexpr const char* kUpdateHost = "UpdateHost";
constexpr size_t kMaxUpdateHostLength = 259;  // a host name and ":port"
constexpr const char* kCrashReportUrl = "CrashReportUrl";
constexpr size_t kMaxCrashReportUrlLength = 2048;

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// A whole decimal number, nothing else around it but blanks.
std::optional<int64_t> ParseInteger(std::string_view text) {
    text = TrimBlanks(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<int32_t> ParseInt32(std::string_view text) {
    std::optional<int64_t> value = ParseInteger(text);
    if (!value || *value < std::numeric_limits<int32_t>::min() ||
        *value > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return static_cast<int32_t>(*value);
}

// "x,y,width,height,maximized,fullScreen"; anything else leaves the placement invalid.
WindowPlacement ParseWindowPlacement(std::string_view text) {
    std::vector<int32_t> numbers;
    size_t pos = 0;
    while (numbers.size() < 7) {
        size_t comma = text.find(',', pos);
        std::optional<int32_t> number = ParseInt32(text.substr(pos, comma - pos));
        if (!number) return {};
        numbers.push_back(*number);
        if (comma == std::string_view::npos) break;
        pos = comma + 1;
    }
    if (numbers.size() != 6) return {};
    return WindowPlacement{true,       numbers[0],      numbers[1],     numbers[2],
                           numbers[3], numbers[4] != 0, numbers[5] != 0};
}

// The user's stored answer; a value that is not a 32-bit number is no answer.
std::optional<bool> ParseCheckUpdate(std::string_view text) {
    std::optional<int64_t> value = ParseInteger(text);
    if (!value || *value < std::numeric_limits<int32_t>::min() ||
        *value > std::numeric_limits<uint32_t>::max())
        return std::nullopt;
    return *value != 0;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Exactly 32 hexadecimal digits; anything else gives all zeros.
std::array<uint8_t, 16> ParseBytes16(std::string_view text) {
    text = TrimBlanks(text);
    std::array<uint8_t, 16> bytes{};
    if (text.size() != 32) return bytes;
    for (size_t i = 0; i < 16; ++i) {
        const int high = HexDigit(text[2 * i]);
        const int low = HexDigit(text[2 * i + 1]);
        if (high < 0 || low < 0) return {};
        bytes[i] = static_cast<uint8_t>(high * 16 + low);
    }
    return bytes;
}

std::string FormatBytes16(const std::array<uint8_t, 16>& bytes) {
    std::string text;
    char digits[3];
    for (uint8_t byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned>(byte));
        text += digits;
    }
    return text;
}

std::string FormatWindowPlacement(const WindowPlacement& p) {
    char text[96];
    std::snprintf(text, sizeof text, "%d,%d,%d,%d,%d,%d", p.x, p.y, p.width, p.height,
                  p.maximized ? 1 : 0, p.fullScreen ? 1 : 0);
    return text;
}

std::filesystem::path ResolveBase(const char* xdgValue, const char* home, const char* underHome) {
    if (xdgValue != nullptr && xdgValue[0] == '/')
        return std::filesystem::path(xdgValue).lexically_normal();
    if (home != nullptr && home[0] == '/')
        return (std::filesystem::path(home) / underHome).lexically_normal();
    return {};
}

}  // namespace

UserBaseFolders ResolveUserBaseFolders(const UserEnvironment& environment) {
    return UserBaseFolders{ResolveBase(environment.xdgDataHome, environment.home, ".local/share"),
                           ResolveBase(environment.xdgConfigHome, environment.home, ".config"),
                           ResolveBase(environment.xdgCacheHome, environment.home, ".cache")};
}

UserEnvironment ProcessEnvironment() {
    return UserEnvironment{std::getenv("XDG_DATA_HOME"), std::getenv("XDG_CONFIG_HOME"),
                           std::getenv("HOME"), std::getenv("XDG_CACHE_HOME")};
}

StoredSettings ReadStoredSettings(const CSettingsFile& file, bool fileFound) {
    StoredSettings settings;
    if (!fileFound) return settings;
    if (auto value = file.Get(kWindowPos)) settings.windowPlacement = ParseWindowPlacement(*value);
    // Nothing is sent over the network before the user said yes: no answer means off.
    if (auto value = file.Get(kCheckUpdate)) {
        std::optional<bool> answer = ParseCheckUpdate(*value);
        settings.checkUpdateAnswered = answer.has_value();
        settings.checkForUpdates = answer.value_or(false);
    }
    if (auto value = file.Get(kCheckUpdateLast)) settings.lastUpdateCheck = ParseBytes16(*value);
    if (auto value = file.Get(kCheckUpdateVerToIgnore))
        settings.versionToIgnore = ParseBytes16(*value);
    if (auto value = file.Get(kCheckUpdateId))
        settings.updateCheckId = value->substr(0, kMaxUpdateCheckIdLength);
    if (auto value = file.Get(kDicomScanFolder); value && value->size() <= kMaxScanFolderLength)
        settings.dicomScanFolder = *value;
    if (auto value = file.Get(kWebSite); value && value->size() <= kMaxWebSiteLength)
        settings.webSite = *value;
    if (auto value = file.Get(kUpdateHost); value && value->size() <= kMaxUpdateHostLength)
        settings.updateHost = *value;
    if (auto value = file.Get(kCrashReportUrl); value && value->size() <= kMaxCrashReportUrlLength)
        settings.crashReportUrl = *value;
    return settings;
}

void WriteStoredSettings(const StoredSettings& settings, CSettingsFile& file) {
    if (settings.windowPlacement.valid)
        file.Set(kWindowPos, FormatWindowPlacement(settings.windowPlacement));
    else
        file.Remove(kWindowPos);
    if (settings.checkUpdateAnswered) file.Set(kCheckUpdate, settings.checkForUpdates ? "1" : "0");
    file.Set(kCheckUpdateLast, FormatBytes16(settings.lastUpdateCheck));
    file.Set(kCheckUpdateVerToIgnore, FormatBytes16(settings.versionToIgnore));
    file.Set(kCheckUpdateId, settings.updateCheckId.substr(0, kMaxUpdateCheckIdLength));
    file.Set(kDicomScanFolder, settings.dicomScanFolder);
}

std::filesystem::path SettingsFilePath(const std::filesystem::path& configHome) {
    if (configHome.empty()) return {};
    return configHome / kFolderName / "settings.ini";
}

COptions::COptions(const UserBaseFolders& folders, FolderNameRandom random)
    : m_settingsPath(SettingsFilePath(folders.configHome)) {
    if (!folders.dataHome.empty()) CreateFolders(folders.dataHome, random);
}

std::unique_ptr<COptions> COptions::FromEnvironment() {
    return std::make_unique<COptions>(ResolveUserBaseFolders(ProcessEnvironment()));
}

COptions::~COptions() {
    Shutdown();
}

void COptions::CreateFolders(const std::filesystem::path& dataHome,
                             const FolderNameRandom& random) {
    m_userDataFolder = dataHome / kFolderName;
    m_temporaryRoot = m_userDataFolder / "tmp";
    std::error_code ec;
    std::filesystem::create_directories(m_userDataFolder, ec);
    if (mkdir(m_temporaryRoot.c_str(), 0700) != 0 && errno != EEXIST) return;
    m_instance.Create(m_temporaryRoot, random);
}

void COptions::LoadSettings() {
    // A run killed while it wrote the settings left its temporary file beside them.
    if (!m_settingsPath.empty()) RemoveStaleTemporaryFiles(m_settingsPath);
    CSettingsFile file;
    const SettingsLoadStatus status = file.Load(m_settingsPath);
    m_settings = ReadStoredSettings(file, status == SettingsLoadStatus::Loaded);
}

bool COptions::SaveSettings() {
    if (m_settingsPath.empty()) return false;
    CSettingsFile file;
    if (file.Load(m_settingsPath) == SettingsLoadStatus::Unreadable) return false;
    WriteStoredSettings(m_settings, file);
    std::error_code ec;
    std::filesystem::create_directories(m_settingsPath.parent_path(), ec);
    return WriteFileAtomically(m_settingsPath, file.Serialize());
}

void COptions::Shutdown() {
    if (m_shutDown) return;
    m_shutDown = true;
    m_instance.ReleaseLock();
    if (!m_temporaryRoot.empty()) RemoveStaleInstanceFolders(m_temporaryRoot);
}

}  // namespace vexel
