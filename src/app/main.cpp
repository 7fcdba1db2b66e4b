// vexel-viewer: the desktop viewer.
#include <QApplication>
#include <QIcon>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/viewer_app.h"
#include "platform/version.h"

namespace {

void PrintUsage() {
    std::printf(
        "usage: vexel-viewer [-f] [PATH...] [-d FOLDER...]\n"
        "       vexel-viewer --version | --help\n"
        "  -f PATH...    open files and folders (the default); a .zip or .dmz opens alone\n"
        "  -d FOLDER...  open folders\n"
        "  --version     print the version and exit\n"
        "  --help        print this text and exit\n");
}

}  // namespace

int main(int argc, char** argv) {
    const auto entered = std::chrono::steady_clock::now();
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
        // The crash reporter is not part of this build yet.
        std::fprintf(stderr, "vexel-viewer: no crash reporter in this build\n");
        return 0;
    }
    QApplication qt(argc, argv);
    QApplication::setApplicationName("Vexel DICOM Viewer");
    QApplication::setApplicationVersion(vexel::kVersion);
    QApplication::setWindowIcon(QIcon(":/icons/vexel.svg"));
    vexel::ViewerAppOptions options;
    // Start-up timing: quit as soon as the main window is up.
    options.quitWhenShown = std::getenv("VEXEL_QUIT_WHEN_SHOWN") != nullptr;
    if (options.quitWhenShown) {
        options.onShown = [entered] {
            std::fprintf(stderr, "vexel-viewer: main window shown %.1f ms after entry\n",
                         std::chrono::duration<double, std::milli>(
                             std::chrono::steady_clock::now() - entered)
                             .count());
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
