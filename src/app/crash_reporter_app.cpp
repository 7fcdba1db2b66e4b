#include "app/crash_reporter_app.h"

#include <signal.h>

#include <QApplication>
#include <QIcon>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "app/crash_report_wnd.h"
#include "app/options.h"
#include "app/settings_language_code.h"
#include "app/timing_lines.h"
#include "engine/zip_engine.h"
#include "platform/executable_folder.h"
#include "platform/private_folder.h"
#include "support/language_environment.h"
#include "support/language_manager.h"

namespace vexel {
namespace {

constexpr uint32_t kApplicationTitleText = 13002;

// The reporter never handles a signal: a fault in it ends it by default, so it can never
// start another reporter. A mask inherited from the dying process's handler is lifted too.
void RestoreDefaultSignals() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int sig = 1; sig < NSIG; ++sig)
        sigaction(sig, &action, nullptr);  // SIGKILL, SIGSTOP and the C library's own refuse
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

std::filesystem::path Normalised(const std::filesystem::path& path) {
    std::filesystem::path normal = path.lexically_normal();
    // "/a/b/" names the same folder as "/a/b".
    if (!normal.has_filename() && normal != normal.root_path()) normal = normal.parent_path();
    return normal;
}

bool HasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') return true;
    }
    return false;
}

StoredSettings ReadSettings(const std::filesystem::path& path) {
    CSettingsFile file;
    const bool found = !path.empty() && file.Load(path) == SettingsLoadStatus::Loaded;
    return ReadStoredSettings(file, found);
}

// The user's languages folder only when the viewer made it: the reporter creates nothing.
std::filesystem::path ExistingUserDataFolder(const std::filesystem::path& dataHome) {
    if (dataHome.empty()) return {};
    const std::filesystem::path folder = dataHome / "VexelViewer";
    std::error_code ec;
    return std::filesystem::is_directory(UserLanguagesFolder(folder), ec) ? folder
                                                                          : std::filesystem::path();
}

}  // namespace

UniqueFd OpenAcceptedReportFolder(const std::string& given, const std::filesystem::path& cacheHome,
                                  std::string* error) {
    const std::filesystem::path expected = CrashReportFolderPath(cacheHome);
    if (expected.empty()) {
        *error = "no cache folder (neither XDG_CACHE_HOME nor HOME is set)";
        return {};
    }
    if (given.empty() || Normalised(given) != Normalised(expected)) {
        *error = "not this user's crash report folder (" + expected.string() + ")";
        return {};
    }
    UniqueFd folder(OpenExistingPrivateFolder(expected));
    if (!folder.Valid())
        *error = "not a private folder of this user (missing, a link, or someone else's)";
    return folder;
}

int RunCrashReporter(int argc, char** argv) {
    RestoreDefaultSignals();
    const std::string given = argc >= 3 ? argv[2] : "";
    const UserBaseFolders folders = ResolveUserBaseFolders(ProcessEnvironment());
    std::string error;
    const UniqueFd folder = OpenAcceptedReportFolder(given, folders.cacheHome, &error);
    if (!folder.Valid()) {
        std::fprintf(stderr, "vexel-viewer: -crash %s: %s; nothing done\n", given.c_str(),
                     error.c_str());
        return 2;
    }
    const std::optional<CrashReportSummary> summary = ReadCrashReport(folder.Get());
    if (!summary) {
        std::fprintf(stderr, "vexel-viewer: -crash %s: no readable report.xml\n", given.c_str());
        return 1;
    }
    if (!HasDisplay()) {
        std::fprintf(stderr,
                     "vexel-viewer: no display to show the crash report on; it stays "
                     "in %s\n",
                     given.c_str());
        return 1;
    }
    const std::filesystem::path settingsPath = SettingsFilePath(folders.configHome);
    const StoredSettings settings = ReadSettings(settingsPath);
    QApplication qt(argc, argv);
    CSettingsLanguageCode languageCode(settingsPath);
    CLanguageManager languages;
    languages.Initialise({ExistingUserDataFolder(folders.dataHome),
                          ProgramLanguageFolders(ExecutableFolder()), SessionLocaleName(),
                          &languageCode});
    QApplication::setApplicationName("Vexel DICOM Viewer Crash Report");
    QApplication::setApplicationDisplayName(
        QString::fromStdString(GetString(kApplicationTitleText)));
    QApplication::setWindowIcon(QIcon(":/icons/vexel.svg"));
    CZIPEngine zip;
    const char* caFile = std::getenv(kCrashCaFileVariable);
    CrashReportSetup setup{CrashReportFolderPath(folders.cacheHome),
                           folder.Get(),
                           *summary,
                           settings.crashReportUrl,
                           settings.webSite,
                           caFile != nullptr ? caFile : "",
                           zip.Interface(),
                           {}};
    CCrashReportWnd window(std::move(setup));
    QObject::connect(&window, &QDialog::finished, &qt, &QApplication::quit);
    window.show();
    // Timing (bench/crash_report_bench.sh): the wall clock once the window is up, then the end,
    // with the report kept.
    if (TimingRequested()) {
        QTimer::singleShot(0, &qt, [&qt] {
            std::fprintf(stderr, "vexel-viewer: crash report window shown at %.3f\n",
                         WallClockSeconds());
            qt.exit(0);
        });
    }
    return qt.exec();
}

}  // namespace vexel
