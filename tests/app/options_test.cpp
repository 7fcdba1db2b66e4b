// Settings file values, their defaults when absent or malformed, the round trip through the
// file, and that a failed write leaves the old file whole; the per-run temporary folders:
// the held lock, and the clean-up that removes the folders of ended instances but never
// those of live ones or anything outside.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <numeric>

#include "app/instance_folder.h"
#include "app/options.h"
#include "app/settings_language_code.h"
#include "common/test_paths.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

void WriteText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

size_t CountEntries(const fs::path& folder) {
    return size_t(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(ResolveFolders, FollowsXdgRules) {
    const struct {
        const char *xdgData, *xdgConfig, *home, *xdgCache, *dataHome, *configHome, *cacheHome;
    } cases[] = {{"/d", "/c", "/h", "/k", "/d", "/c", "/k"},
                 {nullptr, nullptr, "/h", nullptr, "/h/.local/share", "/h/.config", "/h/.cache"},
                 // relative: ignored
                 {"rel", "", "/h", "k", "/h/.local/share", "/h/.config", "/h/.cache"},
                 {nullptr, nullptr, nullptr, nullptr, "", "", ""},
                 {nullptr, nullptr, "home/u", nullptr, "", "", ""},
                 {"", "", "", "", "", "", ""},
                 {"/d", nullptr, nullptr, "/k/../k2", "/d", "", "/k2"}};
    for (const auto& c : cases) {
        UserBaseFolders folders =
            ResolveUserBaseFolders({c.xdgData, c.xdgConfig, c.home, c.xdgCache});
        EXPECT_EQ(folders.dataHome, fs::path(c.dataHome)) << c.dataHome;
        EXPECT_EQ(folders.configHome, fs::path(c.configHome)) << c.configHome;
        EXPECT_EQ(folders.cacheHome, fs::path(c.cacheHome)) << c.cacheHome;
    }
}

// What the reader makes of one file's text.
struct ReadCase {
    const char* name;
    std::string text;
    StoredSettings expected;
};

// An answered "CheckUpdate"; without one the check is off.
StoredSettings Answered(bool on) {
    StoredSettings s;
    s.checkForUpdates = on;
    s.checkUpdateAnswered = true;
    return s;
}

StoredSettings With(void (*change)(StoredSettings&)) {
    StoredSettings s;
    change(s);
    return s;
}

const std::array<uint8_t, 16> kBytes = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                        0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};

const ReadCase kReadCases[] = {
    {"EmptyFile", "", StoredSettings{}},
    {"CheckUpdateZeroBlanksCrLf", "  checkupdate = 0 \r\n", Answered(false)},
    {"CheckUpdateOne", "CheckUpdate=1", Answered(true)},
    {"CheckUpdateNegative", "CheckUpdate=-5", Answered(true)},
    {"CheckUpdateTooBig", "CheckUpdate=4294967296", StoredSettings{}},
    {"CheckUpdateTrailingText", "CheckUpdate=0x", StoredSettings{}},
    {"CheckUpdateInOtherSection", "[Other]\nCheckUpdate=1\n", StoredSettings{}},
    {"FirstOfRepeatsWins", "CheckUpdate=0\nCheckUpdate=1\n", Answered(false)},
    {"UpdateHost", "UpdateHost=up.example:8080",
     With([](StoredSettings& s) { s.updateHost = "up.example:8080"; })},
    {"CrashReportUrl", "CrashReportUrl=https://reports.example/crash.php",
     With([](StoredSettings& s) { s.crashReportUrl = "https://reports.example/crash.php"; })},
    {"WindowPos", "WindowPos=10,-20,800,600,1,0",
     With([](StoredSettings& s) { s.windowPlacement = {true, 10, -20, 800, 600, true, false}; })},
    {"WindowPosBlanksAndFullScreen", "WindowPos= -5 , 7,100 ,200,0, 2",
     With([](StoredSettings& s) { s.windowPlacement = {true, -5, 7, 100, 200, false, true}; })},
    {"WindowPosFiveNumbers", "WindowPos=1,2,3,4,5", StoredSettings{}},
    {"WindowPosOverflow", "WindowPos=1,2,3,4,0,2147483648", StoredSettings{}},
    {"WindowPosHexBlob", "WindowPos=0A000000140000002003000058020000", StoredSettings{}},
    {"UpdateBytes",
     "CheckUpdateLast=00112233445566778899aabbccddEEFF\nCheckUpdateVerToIgnore="
     "00112233445566778899AABBCCDDEEFF",
     With([](StoredSettings& s) { s.lastUpdateCheck = s.versionToIgnore = kBytes; })},
    {"UpdateBytesNotHex", "CheckUpdateVerToIgnore=0011223344556677889XAABBCCDDEEFF", StoredSettings{}},
    {"IdCutAt64", "CheckUpdateID=" + std::string(64, '7') + "XYZ",
     With([](StoredSettings& s) { s.updateCheckId = std::string(64, '7'); })},
    {"ScanFolderEscapes", "DicomScanFolder=\\x20/data/My Scans\\\\x\\n=\\x20",
     With([](StoredSettings& s) { s.dicomScanFolder = " /data/My Scans\\x\n= "; })},
};

// Every stored field, so that gtest prints both sides when they differ.
auto Fields(const StoredSettings& s) {
    const WindowPlacement& w = s.windowPlacement;
    return std::tie(w.valid, w.x, w.y, w.width, w.height, w.maximized, w.fullScreen,
                    s.checkForUpdates, s.checkUpdateAnswered, s.updateHost, s.lastUpdateCheck, s.versionToIgnore, s.updateCheckId,
                    s.dicomScanFolder, s.crashReportUrl);
}

class ReadSettings : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadSettings, GivesValuesOrTheirDefaults) {
    CSettingsFile file;
    file.Parse(GetParam().text);
    EXPECT_EQ(Fields(ReadStoredSettings(file, true)), Fields(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(Texts, ReadSettings, testing::ValuesIn(kReadCases),
                         [](const auto& p) { return std::string(p.param.name); });

class OptionsFiles : public testing::Test {
protected:
    void SetUp() override {
        m_root = test::ScratchDir(testing::UnitTest::GetInstance()->current_test_info()->name());
        m_folders = UserBaseFolders{m_root / "data", m_root / "config", m_root / "cache"};
        m_settings = m_root / "config" / "VexelViewer" / "settings.ini";
    }
    fs::path m_root;
    UserBaseFolders m_folders;
    fs::path m_settings;
};

StoredSettings SampleSettings() {
    StoredSettings s;
    s.windowPlacement = {true, -1920, 24, 1280, 1000, false, true};
    s.checkForUpdates = true;
    s.checkUpdateAnswered = true;
    s.lastUpdateCheck = kBytes;
    for (size_t i = 0; i < 16; ++i)
        s.versionToIgnore[i] = static_cast<uint8_t>(i);
    s.updateCheckId = "id=7\nCheckUpdate=0";  // must not turn into a line of its own
    s.dicomScanFolder = " /data/scans\\new\tfolder ";
    return s;
}

TEST_F(OptionsFiles, SavedValuesReadBackAndFileHasTheWrittenForm) {
    {
        COptions options(m_folders);
        options.LoadSettings();
        EXPECT_FALSE(options.Settings().checkForUpdates);  // first run: no file
        options.Settings() = SampleSettings();
        ASSERT_TRUE(options.SaveSettings());
    }
    EXPECT_EQ(ReadText(m_settings),
              "WindowPos=-1920,24,1280,1000,0,1\n"
              "CheckUpdate=1\n"
              "CheckUpdateLast=00112233445566778899AABBCCDDEEFF\n"
              "CheckUpdateVerToIgnore=000102030405060708090A0B0C0D0E0F\n"
              "CheckUpdateID=id=7\\nCheckUpdate=0\n"
              "DicomScanFolder=\\x20/data/scans\\\\new\\tfolder\\x20\n");
    COptions reopened(m_folders);
    reopened.LoadSettings();
    // The answer is written back; UpdateHost never is.
    EXPECT_EQ(Fields(reopened.Settings()), Fields(SampleSettings()));
    // Every byte survives the file on one line, a trailing blank included.
    std::string all(256, '\0');
    std::iota(all.begin(), all.end(), '\0');
    reopened.Settings().dicomScanFolder = all + ' ';
    ASSERT_TRUE(reopened.SaveSettings());
    const std::string text = ReadText(m_settings);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6);
    COptions again(m_folders);
    again.LoadSettings();
    EXPECT_EQ(again.Settings().dicomScanFolder, all + ' ');
}

TEST_F(OptionsFiles, StartRemovesAKilledWritersTemporaryAndSaveKeepsLinesOfOthers) {
    WriteText(m_settings,
              "; written by hand\n"
              "CheckUpdate=0\n"
              "LanguageCode=fr\n"
              "windowpos=1,1,1,1,0,0\n"
              "WindowPos=2,2,2,2,0,0\n"
              "\n"
              "[Extra]\n"
              "WindowPos=keep\n");
    // A run killed while it wrote its settings left a hidden temporary file: the start removes it.
    const fs::path temporary = m_settings.parent_path() / ".settings.ini.q7X2pL";
    WriteText(temporary, "CheckUpd");
    COptions options(m_folders);
    options.LoadSettings();
    EXPECT_FALSE(fs::exists(temporary));
    EXPECT_FALSE(options.Settings().checkForUpdates);
    EXPECT_EQ(options.Settings().windowPlacement.x, 1);
    options.Settings().windowPlacement = {true, 5, 6, 7, 8, true, false};
    options.Settings().dicomScanFolder = "/scans";
    ASSERT_TRUE(options.SaveSettings());
    EXPECT_EQ(ReadText(m_settings),
              "; written by hand\n"
              "CheckUpdate=0\n"
              "LanguageCode=fr\n"
              "WindowPos=5,6,7,8,1,0\n"
              "\n"
              "CheckUpdateLast=00000000000000000000000000000000\n"
              "CheckUpdateVerToIgnore=00000000000000000000000000000000\n"
              "CheckUpdateID=\n"
              "DicomScanFolder=/scans\n"
              "[Extra]\n"
              "WindowPos=keep\n");
}

// A write that fails part-way (here: the file size limit, as on a full disk) must leave
// the old file byte for byte and no temporary file behind.
TEST_F(OptionsFiles, FailedWriteLeavesOldFileWhole) {
    const std::string old = "CheckUpdate=0\nDicomScanFolder=/old\n";
    WriteText(m_settings, old);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{16, 16};
        setrlimit(RLIMIT_FSIZE, &limit);
        COptions options(UserBaseFolders{{}, m_folders.configHome, {}});
        options.Settings().dicomScanFolder = "/" + std::string(200, 'n');
        _exit(options.SaveSettings() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the save reported success";
    EXPECT_EQ(ReadText(m_settings), old);
    EXPECT_EQ(CountEntries(m_settings.parent_path()), 1u);
}

TEST_F(OptionsFiles, UnreadableFileIsNeitherUsedNorReplaced) {
    fs::create_directories(m_settings);  // a folder where the file should be
    COptions options(m_folders);
    options.LoadSettings();
    EXPECT_FALSE(options.Settings().checkForUpdates);
    EXPECT_FALSE(options.SaveSettings());
    EXPECT_TRUE(fs::is_directory(m_settings));

    fs::remove(m_settings);
    const std::string huge = "CheckUpdate=1\n; " + std::string(2 << 20, 'x') + "\n";
    WriteText(m_settings, huge);
    options.LoadSettings();
    EXPECT_FALSE(options.Settings().checkForUpdates);
    EXPECT_FALSE(options.SaveSettings());
    EXPECT_EQ(fs::file_size(m_settings), huge.size());
}

TEST_F(OptionsFiles, LinkedSettingsFileIsUpdatedThroughTheLink) {
    const fs::path real = m_root / "dotfiles" / "settings.ini";
    WriteText(real, "LanguageCode=it\n");
    fs::create_directories(m_settings.parent_path());
    fs::create_symlink(real, m_settings);
    COptions options(m_folders);
    options.Settings().dicomScanFolder = "/linked";
    ASSERT_TRUE(options.SaveSettings());
    EXPECT_TRUE(fs::is_symlink(m_settings));
    EXPECT_NE(ReadText(real).find("DicomScanFolder=/linked\n"), std::string::npos);
}

// The language chosen during a run (written beside the settings) survives the save at exit.
TEST_F(OptionsFiles, LanguageChoiceSurvivesTheSaveAtExit) {
    {
        COptions options(m_folders);
        options.LoadSettings();
        CSettingsLanguageCode code(options.SettingsPath());
        EXPECT_FALSE(code.LanguageCode());
        ASSERT_TRUE(code.SetLanguageCode("de"));
        EXPECT_TRUE(options.SaveSettings());
    }
    EXPECT_EQ(CSettingsLanguageCode(COptions(m_folders).SettingsPath()).LanguageCode(), "de");
}

// Asks the kernel directly whether someone holds the lock file.
bool IsLockHeld(const fs::path& lock) {
    int fd = open(lock.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return held;
}

// The same scratch folders as the settings tests; instance folders live under data.
class InstanceFolders : public OptionsFiles {
protected:
    void SetUp() override {
        OptionsFiles::SetUp();
        m_tmp = m_root / "data" / "VexelViewer" / "tmp";
    }
    fs::path m_tmp;
};

// Two live instances in this process (flock belongs to each open file), one folder without
// a lock file and one whose lock file nobody holds.
TEST_F(InstanceFolders, ExitRemovesOwnAndDeadFoldersButNotLiveOnes) {
    auto first = std::make_unique<COptions>(m_folders);
    COptions second(m_folders);
    ASSERT_NE(first->InstanceFolder(), second.InstanceFolder());
    EXPECT_EQ(first->InstanceFolder().parent_path(), m_tmp);
    EXPECT_TRUE(IsLockHeld(first->LockFilePath()));
    const fs::path firstFolder = first->InstanceFolder();
    WriteText(firstFolder / "cache" / "frame.bin", "x");
    const fs::path noLock = m_tmp / "tmp0000DEAD";
    WriteText(noLock / "sub" / "file", "x");
    const fs::path freeLock = m_tmp / "tmp0001DEAD";
    WriteText(freeLock / "lock", "x");

    first.reset();
    EXPECT_FALSE(fs::exists(firstFolder));
    EXPECT_FALSE(fs::exists(noLock));
    EXPECT_FALSE(fs::exists(freeLock));
    EXPECT_TRUE(IsLockHeld(second.LockFilePath()));
    EXPECT_TRUE(fs::is_directory(second.InstanceFolder()));

    const fs::path secondFolder = second.InstanceFolder();
    second.Shutdown();
    EXPECT_FALSE(fs::exists(secondFolder));
    EXPECT_TRUE(fs::is_directory(m_tmp));
}

TEST_F(InstanceFolders, CleanUpTouchesOnlyRealInstanceFolders) {
    fs::create_directories(m_tmp);
    const fs::path outside = m_root / "outside";
    WriteText(outside / "precious", "x");
    const std::vector<std::string> keptFolders = {"tmpXYZ",      "tmp1234567",  "tmp123456789",
                                                  "tmpABCDEFGH", "TMP12345678", "tmp1234567g"};
    for (const std::string& name : keptFolders)
        fs::create_directories(m_tmp / name);
    WriteText(m_tmp / "tmp12345678", "x");  // a regular file with an instance name
    fs::create_directory_symlink(outside, m_tmp / "tmp1234ABCD");
    // A stale folder holding a link to the outside: the link goes, not what it points to.
    const fs::path stale = m_tmp / "tmp0000abcd";
    fs::create_directories(stale);
    fs::create_directory_symlink(outside, stale / "link");

    EXPECT_EQ(RemoveStaleInstanceFolders(m_tmp), 1);
    EXPECT_FALSE(fs::exists(stale));
    for (const std::string& name : keptFolders)
        EXPECT_TRUE(fs::is_directory(m_tmp / name)) << name;
    EXPECT_TRUE(fs::is_regular_file(m_tmp / "tmp12345678"));
    EXPECT_TRUE(fs::is_symlink(m_tmp / "tmp1234ABCD"));
    EXPECT_TRUE(fs::is_regular_file(outside / "precious"));
}

}  // namespace
}  // namespace vexel
