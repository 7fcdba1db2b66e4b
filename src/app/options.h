// The viewer's settings and working folders: where the user's data and the settings file
// live, this run's temporary folder, and the values kept between runs.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "app/instance_folder.h"
#include "app/settings_file.h"

namespace vexel {

struct WindowPlacement {
    bool valid = false;
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool maximized = false;
    bool fullScreen = false;
};

// The values of the settings file.
struct StoredSettings {
    WindowPlacement windowPlacement;
    // "CheckUpdate": the user's answer to the first-start question. Absent or not a number
    // means off and not yet answered; the answer, once given, is written back.
    bool checkForUpdates = false;
    bool checkUpdateAnswered = false;
    std::array<uint8_t, 16> lastUpdateCheck{};
    std::array<uint8_t, 16> versionToIgnore{};
    std::string updateCheckId;    // at most kMaxUpdateCheckIdLength bytes
    std::string dicomScanFolder;  // empty: no initial folder
    // The program's web site ("WebSite", set by hand, never written): empty, the default,
    // leaves the help and web commands off.
    std::string webSite;
    // The update server ("UpdateHost", host[:port], set by hand, never written): empty, the
    // default, leaves both update checks off.
    std::string updateHost;
    // Where crash reports are sent ("CrashReportUrl", https only, set by hand, never
    // written): empty, the default, leaves sending off.
    std::string crashReportUrl;
};

inline constexpr size_t kMaxUpdateCheckIdLength = 64;
// Longer stored folders are not real paths and are dropped rather than cut short.
inline constexpr size_t kMaxScanFolderLength = 4096;

// The base folders of the XDG directory rules; empty when they cannot be resolved.
struct UserBaseFolders {
    std::filesystem::path dataHome;    // $XDG_DATA_HOME or ~/.local/share
    std::filesystem::path configHome;  // $XDG_CONFIG_HOME or ~/.config
    std::filesystem::path cacheHome;   // $XDG_CACHE_HOME or ~/.cache
};

// Environment values, each null when unset.
struct UserEnvironment {
    const char* xdgDataHome = nullptr;
    const char* xdgConfigHome = nullptr;
    const char* home = nullptr;
    const char* xdgCacheHome = nullptr;
};

// A relative or empty XDG value is ignored for the one under HOME; a relative or missing
// HOME leaves that folder unresolved.
UserBaseFolders ResolveUserBaseFolders(const UserEnvironment& environment);
UserEnvironment ProcessEnvironment();

// The settings file under the configuration home; empty when that is unknown.
std::filesystem::path SettingsFilePath(const std::filesystem::path& configHome);

// Reads the values out of a settings file; fileFound false gives the first-run defaults.
StoredSettings ReadStoredSettings(const CSettingsFile& file, bool fileFound);
// Puts every value the viewer writes into the file; other lines are left alone.
void WriteStoredSettings(const StoredSettings& settings, CSettingsFile& file);

class COptions {
public:
    // Resolves the folders under the given bases, creates the user data folder, the
    // temporary root and this run's instance folder with its held lock. Whatever cannot be
    // made leaves its path empty; the program runs on.
    explicit COptions(const UserBaseFolders& folders,
                      FolderNameRandom random = DefaultFolderNameRandom());
    // Same, from this process's environment.
    static std::unique_ptr<COptions> FromEnvironment();
    ~COptions();
    COptions(const COptions&) = delete;
    COptions& operator=(const COptions&) = delete;

    // Reads the settings file once at start-up.
    void LoadSettings();
    // Writes the values at shutdown. The file is read again first, so lines written by
    // others meanwhile are kept, and then replaced atomically. False when nothing could be
    // written, or when an existing file cannot be read (it is then left as it is rather
    // than replaced by one that lost its other lines).
    bool SaveSettings();
    // Deletes this run's lock and removes every stale instance folder, this run's included.
    // Called by the destructor; further calls do nothing.
    void Shutdown();

    const std::filesystem::path& UserDataFolder() const { return m_userDataFolder; }
    const std::filesystem::path& TemporaryRoot() const { return m_temporaryRoot; }
    const std::filesystem::path& InstanceFolder() const { return m_instance.Path(); }
    const std::filesystem::path& LockFilePath() const { return m_instance.LockPath(); }
    const std::filesystem::path& SettingsPath() const { return m_settingsPath; }

    StoredSettings& Settings() { return m_settings; }
    const StoredSettings& Settings() const { return m_settings; }

    uint32_t AnnotationDisplayBits() const { return m_annotationDisplayBits; }
    void SetAnnotationDisplayBits(uint32_t bits) { m_annotationDisplayBits = bits; }
    bool AutomaticSynchronisation() const { return m_automaticSynchronisation; }
    void SetAutomaticSynchronisation(bool on) { m_automaticSynchronisation = on; }

private:
    void CreateFolders(const std::filesystem::path& dataHome, const FolderNameRandom& random);

    std::filesystem::path m_userDataFolder;
    std::filesystem::path m_temporaryRoot;
    std::filesystem::path m_settingsPath;
    CInstanceFolder m_instance;
    StoredSettings m_settings;
    uint32_t m_annotationDisplayBits = 0xFFFFFFFFu;
    bool m_automaticSynchronisation = true;
    bool m_shutDown = false;
};

}  // namespace vexel
