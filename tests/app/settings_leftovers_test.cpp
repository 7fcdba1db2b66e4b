// A run killed while it wrote its settings leaves a hidden temporary file beside them; the
// next start removes it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/options.h"
#include "common/test_paths.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;

TEST(SettingsLeftovers, TheNextStartRemovesAKilledWritersTemporaryFile) {
    const fs::path root = test::ScratchDir("settings-leftovers");
    const fs::path folder = root / "config" / "VexelViewer";
    fs::create_directories(folder);
    std::ofstream(folder / "settings.ini") << "CheckUpdate=0\n";
    std::ofstream(folder / ".settings.ini.q7X2pL") << "CheckUpd";
    COptions options(UserBaseFolders{root / "data", root / "config"});
    options.LoadSettings();
    EXPECT_FALSE(fs::exists(folder / ".settings.ini.q7X2pL"));
    EXPECT_FALSE(options.Settings().checkForUpdates) << "the settings themselves were read";
}

}  // namespace
}  // namespace vexel
