// What a desktop hands the viewer: Exec=%F paths, file:// URIs, other URIs, a DICOMDIR, and a
// start without any display.
#include <gtest/gtest.h>

#include <fstream>

#include "app/command_line.h"
#include "common/test_paths.h"

namespace vexel {
namespace {

using Strings = std::vector<std::string>;

TEST(DesktopLaunch, UrisAndDicomDir) {
    const std::filesystem::path dir = test::ScratchDir("desktop_launch") / "my study";
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "DICOMDIR") << "x";
    std::ofstream(dir / "a.dcm") << "x";
    const std::string d = dir.string();
    struct Case {
        Strings arguments;
        Strings folders, files, refused;
    };
    const Case cases[] = {
        {{d + "/a.dcm", d}, {d}, {d + "/a.dcm"}, {}},
        {{"http://x/y.dcm", "smb://server/share/a.dcm", "file://otherhost/a.dcm"},
         {}, {}, {"http://x/y.dcm", "smb://server/share/a.dcm", "file://otherhost/a.dcm"}},
        {{"file://" + std::string(dir.parent_path()) + "/my%20study/a.dcm"}, {}, {d + "/a.dcm"}, {}},
        {{"FILE://localhost" + d}, {d}, {}, {}},
        {{d + "/DICOMDIR"}, {d}, {}, {}},
        {{"-d", "sftp://h/x"}, {}, {}, {"sftp://h/x"}},
        {{"no-such-dicomdir/DICOMDIR"}, {}, {"no-such-dicomdir/DICOMDIR"}, {}},
    };
    for (const Case& c : cases) {
        const CommandLineRequest request = ParseCommandLine(c.arguments);
        EXPECT_EQ(request.folders, c.folders) << c.arguments[0];
        EXPECT_EQ(request.files, c.files) << c.arguments[0];
        EXPECT_EQ(request.refused, c.refused) << c.arguments[0];
    }
}

TEST(DesktopLaunch, NoDisplayNamesBothVariables) {
    const std::string viewer = (test::BinaryDir() / "bin" / "vexel-viewer").string();
    int code = 0;
    const std::string out = test::RunCommand(
        "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + test::Quote(viewer) + " 2>&1", &code);
    EXPECT_NE(code, 0);
    EXPECT_NE(out.find("DISPLAY"), std::string::npos) << out;
    EXPECT_NE(out.find("WAYLAND_DISPLAY"), std::string::npos) << out;
    EXPECT_EQ(out.find("platform plugin"), std::string::npos) << out;
    const std::string version = test::RunCommand(
        "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + test::Quote(viewer) + " --version", &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(version.rfind("vexel-viewer ", 0), 0u) << version;
}

}  // namespace
}  // namespace vexel
