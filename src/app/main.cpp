// vexel-viewer: the desktop viewer.
#include <QApplication>
#include <QIcon>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/crash_reporter_app.h"
#include "app/options.h"
#include "app/timing_lines.h"
#include "app/viewer_app.h"
#include "platform/mini_dumper.h"
#include "platform/private_folder.h"
#include "platform/version.h"

namespace {

void PrintUsage() {
    std::printf(
        "usage: vexel-viewer [-f] [PATH...] [-d FOLDER...]\n"
        "       vexel-viewer --version | --help | --crash-test\n"
        "  -f PATH...    open files and folders (the default); a .zip or .dmz opens alone\n"
        "  -d FOLDER...  open folders\n"
        "  --version     print the version and exit\n"
        "  --help        print this text and exit\n"
        "  --crash-test  crash at once, to try out the crash report\n");
}

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

// Qt aborts with a platform-plugin message when it finds no display; say what is missing.
bool HasDisplay(int argc, char** argv) {
    if (IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY") || IsSet("QT_QPA_PLATFORM")) return true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0) return true;
    }
    return false;
}

// Writes through a null pointer, for trying out the crash report: a real fault in sanitizer
// builds too, where UBSan would stop the store first.
__attribute__((no_sanitize("undefined"))) void CrashOnPurpose() {
    static int* volatile nowhere = nullptr;
    *nowhere = 1;
}

}  // namespace

int main(int argc, char** argv) {
    const auto entered = std::chrono::steady_clock::now();  // the start-up timing counts it too
    // First of all, so that everything after it is covered; not armed in reporter mode.
    vexel::CMiniDumper crashDumper(
        argc, argv,
        vexel::CrashReportFolderPath(
            vexel::ResolveUserBaseFolders(vexel::ProcessEnvironment()).cacheHome));
    if (argc >= 2 && std::strcmp(argv[1], "--crash-test") == 0) {
        if (vexel::TimingRequested())
            std::fprintf(stderr, "vexel-viewer: crashing on purpose at %.3f\n",
                         vexel::WallClockSeconds());
        CrashOnPurpose();
    }
    // Answered before Qt starts, so that they need no display.
    if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("vexel-viewer %s (build %d)\n", vexel::kVersion, vexel::kBuildNumber);
        return 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], "--help") == 0) {
        PrintUsage();
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "-crash") == 0) {
        return vexel::RunCrashReporter(argc, argv);
    }
    if (!HasDisplay(argc, argv)) {
        std::fprintf(stderr,
                     "vexel-viewer: no display: neither DISPLAY (X11) nor WAYLAND_DISPLAY "
                     "(Wayland) is set; start it in a desktop session, or set QT_QPA_PLATFORM\n");
        return 1;
    }
    QApplication qt(argc, argv);
    QApplication::setApplicationName("Vexel DICOM Viewer");
    QApplication::setApplicationVersion(vexel::kVersion);
    QApplication::setWindowIcon(QIcon(":/icons/vexel.svg"));
    vexel::ViewerAppOptions options;
    // Start-up timing: quit as soon as the main window is up.
    options.quitWhenShown = vexel::TimingRequested();
    if (options.quitWhenShown) {
        // The wall clock too, so that a launcher's time can be measured from outside.
        options.onShown = [entered] {
            std::fprintf(stderr, "vexel-viewer: main window shown %.1f ms after entry, at %.3f\n",
                         std::chrono::duration<double, std::milli>(
                             std::chrono::steady_clock::now() - entered)
                             .count(),
                         vexel::WallClockSeconds());
        };
    }
    int code = 0;
    {
        vexel::CViewerApp app(options);
        code = app.Run(argc, argv);
    }
    if (options.quitWhenShown) {
        std::fprintf(
            stderr, "vexel-viewer: ended %.1f ms after entry\n",
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - entered)
                .count());
    }
    return code;
}
