// Temporary files of the atomic writer that a killed run left behind are removed; anything
// else that merely looks like one (a link, a folder, a FIFO, another name, a live writer's
// file) is left alone.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "common/test_paths.h"
#include "platform/atomic_file.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;

TEST(StaleTemporaryFiles, OnlyDeadWritersRegularFilesGo) {
    const fs::path dir = test::ScratchDir("stale-temporaries");
    const fs::path outside = test::ScratchDir("stale-temporaries-outside");
    const fs::path settings = dir / "settings.ini";
    std::ofstream(settings) << "[General]\n";
    std::ofstream(outside / "precious") << "keep";
    auto make = [&](const std::string& name) { std::ofstream(dir / name) << "partial"; };

    make(".settings.ini.Ab12Cd");   // killed mid-write
    make(".settings.ini.zzzzzz");   // killed mid-write
    make(".settings.ini.Ab12C");    // one letter short
    make(".settings.ini.Ab12Cd7");  // one too many
    make(".settings.ini.Ab-2Cd");   // not what mkostemp makes
    make("settings.ini.Ab12Cd");    // not hidden
    make(".other.ini.Ab12Cd");      // another file's
    fs::create_symlink(outside / "precious", dir / ".settings.ini.Link01");
    fs::create_directory(dir / ".settings.ini.Dir001");
    ASSERT_EQ(mkfifo((dir / ".settings.ini.Fifo01").c_str(), 0600), 0);
    // A live writer holds its file locked until it renames it.
    make(".settings.ini.Live01");
    const int live = open((dir / ".settings.ini.Live01").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(live, 0);
    ASSERT_EQ(flock(live, LOCK_EX), 0);

    RemoveStaleTemporaryFiles(settings);

    struct Expectation {
        const char* name;
        bool kept;
    };
    for (const Expectation& e :
         {Expectation{".settings.ini.Ab12Cd", false}, Expectation{".settings.ini.zzzzzz", false},
          Expectation{".settings.ini.Ab12C", true}, Expectation{".settings.ini.Ab12Cd7", true},
          Expectation{".settings.ini.Ab-2Cd", true}, Expectation{"settings.ini.Ab12Cd", true},
          Expectation{".other.ini.Ab12Cd", true}, Expectation{".settings.ini.Link01", true},
          Expectation{".settings.ini.Dir001", true}, Expectation{".settings.ini.Fifo01", true},
          Expectation{".settings.ini.Live01", true}, Expectation{"settings.ini", true}}) {
        EXPECT_EQ(fs::exists(fs::symlink_status(dir / e.name)), e.kept) << e.name;
    }
    EXPECT_TRUE(fs::exists(outside / "precious"));
    close(live);

    // Once its writer is gone, the file is stale too; and a write leaves nothing behind.
    ASSERT_TRUE(WriteFileAtomically(settings, "[General]\nx=1\n"));
    RemoveStaleTemporaryFiles(settings);
    EXPECT_FALSE(fs::exists(dir / ".settings.ini.Live01"));
    size_t temporaries = 0;
    for (const auto& entry : fs::directory_iterator(dir))
        temporaries += entry.path().filename().string().rfind(".settings.ini.", 0) == 0;
    EXPECT_EQ(temporaries, 6u);  // the short, long and odd names, the link, folder and FIFO
}

}  // namespace
}  // namespace vexel
