// The crash handler, run in real crashing processes (crash_child/): each ends with its own
// signal within five seconds and starts exactly one reporter, also when it crashed holding
// the allocator's lock or on two threads at once; the reporter itself starts none. Planted
// links are never followed, a file the process had open leaves no trace in the report, and
// report.xml is read back with tinyxml2. The signal-safe formatting is compared with
// gmtime_r and snprintf.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <tinyxml2.h>

#include <climits>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/crash_run.h"
#include "common/test_paths.h"
#include "platform/signal_safe_writer.h"
#include "platform/version.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;

std::string CrashChild() {
    return (test::BinaryDir() / "bin" / "vexel_crash_child").string();
}

std::string Launch(const fs::path& sandbox) {
    return "-crash " + test::CrashFolder(sandbox).string();
}

std::string ReadText(const fs::path& path) {
    const std::vector<uint8_t> bytes = test::ReadFileBytes(path);
    return {bytes.begin(), bytes.end()};
}

unsigned Mode(const fs::path& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// A written report: a 0700 folder holding report.xml and backtrace.txt, both 0600.
void ExpectPrivateReport(const fs::path& sandbox, int signal) {
    const fs::path folder = test::CrashFolder(sandbox);
    EXPECT_EQ(Mode(folder), 0700u);
    EXPECT_EQ(Mode(folder / "report.xml"), 0600u);
    EXPECT_EQ(Mode(folder / "backtrace.txt"), 0600u);
    const std::string trace = ReadText(folder / "backtrace.txt");
    const std::string first =
        "signal SIG" + std::string(sigabbrev_np(signal)) + " (" + std::to_string(signal) + ")\n";
    EXPECT_EQ(trace.rfind(first, 0), 0u) << trace.substr(0, 200);
}

struct EndCase {
    std::string name;
    std::vector<std::string> arguments;  // after the program
    int signal;
    bool reported;
    std::string cause;  // the lines after the signal's; PID: the child's; empty: not checked
};
void PrintTo(const EndCase& c, std::ostream* out) {
    *out << c.name;
}

class CrashEnd : public testing::TestWithParam<EndCase> {};

TEST_P(CrashEnd, DiesOfItsSignalAndStartsOneReporter) {
    const EndCase& c = GetParam();
    const fs::path sandbox = test::ScratchDir("crash_end_" + c.name);
    std::vector<std::string> arguments{CrashChild()};
    for (const std::string& argument : c.arguments)
        arguments.push_back(argument == "FOLDER" ? test::CrashFolder(sandbox).string() : argument);
    const test::CrashRun run = test::RunCrashing(arguments, sandbox);
    ASSERT_FALSE(run.timedOut) << "still running after 5 s";
    if (run.exitCode == 5) GTEST_SKIP() << c.name << " cannot be tried in this build";
    EXPECT_EQ(run.termSignal, c.signal) << "exit code " << run.exitCode;
    if (c.reported) {
        EXPECT_EQ(run.launches, std::vector<std::string>{Launch(sandbox)});
        ExpectPrivateReport(sandbox, c.signal);
        std::string cause = c.cause;
        if (const size_t at = cause.find("PID"); at != std::string::npos)
            cause.replace(at, 3, std::to_string(run.pid));
        const std::string trace = ReadText(test::CrashFolder(sandbox) / "backtrace.txt");
        EXPECT_NE(trace.find(")\n" + cause), std::string::npos) << trace.substr(0, 200);
    } else {
        EXPECT_TRUE(run.launches.empty());
        EXPECT_FALSE(fs::exists(test::CrashFolder(sandbox) / "report.xml"));
        EXPECT_FALSE(fs::exists(test::CrashFolder(sandbox) / "backtrace.txt"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ways, CrashEnd,
    testing::Values(
        EndCase{"segv", {"segv"}, SIGSEGV, true, "code 1\naddress 0x0\n"},  // SEGV_MAPERR
        EndCase{"abort", {"abort"}, SIGABRT, true, "code -6\nsent by process PID\n"},  // SI_TKILL
        EndCase{"fpe", {"fpe"}, SIGFPE, true, "code -6\nsent by process PID\n"},
        EndCase{"bus", {"bus"}, SIGBUS, true, "code -6\nsent by process PID\n"},
        EndCase{"stack_overflow", {"stack-overflow"}, SIGSEGV, true, "code 1\naddress 0x7"},
        EndCase{"new_lock", {"new-lock"}, SIGSEGV, true, ""},
        EndCase{"malloc_lock", {"malloc-lock"}, SIGSEGV, true, ""},
        EndCase{"two_threads", {"two-threads"}, SIGSEGV, true, ""},
        EndCase{"reporter_segv", {"-crash", "FOLDER", "segv"}, SIGSEGV, false, ""},
        EndCase{"reporter_abort", {"-crash", "FOLDER", "abort"}, SIGABRT, false, ""}),
    [](const testing::TestParamInfo<EndCase>& param) { return param.param.name; });

// What an attacker or an old run may have left where the report goes.
struct PlantCase {
    std::string name;
    std::function<void(const fs::path& sandbox)> plant;
    bool reported;
};
void PrintTo(const PlantCase& c, std::ostream* out) {
    *out << c.name;
}

class PlantedLinks : public testing::TestWithParam<PlantCase> {};

TEST_P(PlantedLinks, AreNeverFollowed) {
    const PlantCase& c = GetParam();
    const fs::path sandbox = test::ScratchDir("crash_links_" + c.name);
    const fs::path elsewhere = sandbox / "elsewhere";
    fs::create_directories(elsewhere);
    test::RunCommand("printf original > '" + (elsewhere / "target.txt").string() + "'");
    c.plant(sandbox);
    const test::CrashRun run = test::RunCrashing({CrashChild(), "segv"}, sandbox);
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.termSignal, SIGSEGV);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(elsewhere))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"target.txt"});
    EXPECT_EQ(ReadText(elsewhere / "target.txt"), "original");
    EXPECT_EQ(Mode(elsewhere / "target.txt"), 0644u);
    EXPECT_EQ(run.launches.size(), c.reported ? 1u : 0u);
    if (c.reported) ExpectPrivateReport(sandbox, SIGSEGV);
}

void MakeFolders(const fs::path& sandbox) {
    fs::create_directories(test::CrashFolder(sandbox));
}

INSTANTIATE_TEST_SUITE_P(
    Plants, PlantedLinks,
    testing::Values(PlantCase{"vexel_folder_link",
                              [](const fs::path& s) {
                                  fs::create_directories(test::CrashCacheHome(s));
                                  fs::create_directory_symlink(
                                      s / "elsewhere", test::CrashCacheHome(s) / "VexelViewer");
                              },
                              false},
                    PlantCase{"crash_folder_link",
                              [](const fs::path& s) {
                                  fs::create_directories(test::CrashCacheHome(s) / "VexelViewer");
                                  fs::create_directory_symlink(s / "elsewhere",
                                                               test::CrashFolder(s));
                              },
                              false},
                    PlantCase{"report_link",
                              [](const fs::path& s) {
                                  MakeFolders(s);
                                  fs::create_symlink(s / "elsewhere" / "target.txt",
                                                     test::CrashFolder(s) / "report.xml");
                              },
                              false},
                    PlantCase{"backtrace_link",
                              [](const fs::path& s) {
                                  MakeFolders(s);
                                  fs::create_symlink(s / "elsewhere" / "target.txt",
                                                     test::CrashFolder(s) / "backtrace.txt");
                              },
                              false},
                    PlantCase{"open_folder",
                              [](const fs::path& s) {
                                  MakeFolders(s);
                                  fs::permissions(test::CrashFolder(s), fs::perms::all);
                                  test::RunCommand("echo old > '" +
                                                   (test::CrashFolder(s) / "report.xml").string() +
                                                   "'");
                              },
                              true},
                    PlantCase{"no_cache_home", [](const fs::path&) {}, true}),
    [](const testing::TestParamInfo<PlantCase>& param) { return param.param.name; });

TEST(CrashReport, NamesNoFileTheProcessHadOpen) {
    const fs::path sandbox = test::ScratchDir("crash_secret");
    const fs::path study = sandbox / "PATIENTSECRET^JANE" / "PATIENTSECRET.dcm";
    fs::create_directories(study.parent_path());
    test::RunCommand("head -c 8192 /dev/zero > '" + study.string() + "'");
    const test::CrashRun run = test::RunCrashing({CrashChild(), "secret", study.string()}, sandbox);
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.termSignal, SIGSEGV);
    ASSERT_EQ(run.launches.size(), 1u);
    const std::string trace = ReadText(test::CrashFolder(sandbox) / "backtrace.txt");
    EXPECT_NE(trace.find("vexel_crash_child\n"), std::string::npos) << "no executable mappings";
    for (const auto& entry : fs::directory_iterator(test::CrashFolder(sandbox)))
        EXPECT_EQ(ReadText(entry.path()).find("PATIENTSECRET"), std::string::npos) << entry.path();
}

struct XmlCase {
    std::string name;
    std::string checkId, languageCode, languageVersion;
    std::vector<std::string> elements;
};
void PrintTo(const XmlCase& c, std::ostream* out) {
    *out << c.name;
}

class ReportXml : public testing::TestWithParam<XmlCase> {};

TEST_P(ReportXml, HasTheElementsInOrder) {
    const XmlCase& c = GetParam();
    const fs::path sandbox = test::ScratchDir("crash_xml_" + c.name);
    const time_t before = time(nullptr);
    const test::CrashRun run = test::RunCrashing(
        {CrashChild(), "segv", c.checkId, c.languageCode, c.languageVersion}, sandbox);
    const time_t after = time(nullptr);
    ASSERT_EQ(run.launches.size(), 1u);
    tinyxml2::XMLDocument document;
    ASSERT_EQ(document.LoadFile((test::CrashFolder(sandbox) / "report.xml").c_str()),
              tinyxml2::XML_SUCCESS);
    const tinyxml2::XMLElement* root = document.RootElement();
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(root->Name(), "CrashRpt");
    EXPECT_STREQ(root->Attribute("version"), "1");
    std::vector<std::string> names;
    std::map<std::string, std::string> values;
    for (auto* e = root->FirstChildElement(); e != nullptr; e = e->NextSiblingElement()) {
        names.push_back(e->Name());
        values[e->Name()] = e->GetText() != nullptr ? e->GetText() : "";
    }
    EXPECT_EQ(names, c.elements);
    EXPECT_EQ(values["AppName"], "Vexel DICOM Viewer");
    EXPECT_EQ(values["AppVersion"], kFullVersion);
    EXPECT_EQ(values["AppPlatform"], "linux-x64");
    // Absent elements read as empty, as their values were.
    EXPECT_EQ(values["CID"], c.checkId);
    EXPECT_EQ(values["LangCode"], c.languageCode);
    EXPECT_EQ(values["LangVer"], c.languageCode.empty() ? "" : c.languageVersion);
    tm parsed{};
    ASSERT_NE(strptime(values["SystemTimeUTC"].c_str(), "%Y-%m-%dT%H:%M:%SZ", &parsed), nullptr);
    EXPECT_GE(timegm(&parsed), before);
    EXPECT_LE(timegm(&parsed), after);
    utsname names_{};
    uname(&names_);
    EXPECT_NE(values["OperatingSystem"].find(names_.release), std::string::npos);
    EXPECT_EQ(values["OSIs64Bit"], "1");
    EXPECT_GE(std::stol(values["OpenHandleCount"]), 3);  // at least stdin, stdout, stderr
    EXPECT_GT(std::stol(values["MemoryUsageKbytes"]), 500);
}

const std::vector<std::string> kAll{
    "AppName",   "AppVersion",      "AppPlatform",      "CID",
    "LangCode",  "LangVer",         "SystemTimeUTC",    "OperatingSystem",
    "OSIs64Bit", "OpenHandleCount", "MemoryUsageKbytes"};

std::vector<std::string> Without(std::vector<std::string> names,
                                 const std::vector<std::string>& gone) {
    for (const std::string& name : gone)
        std::erase(names, name);
    return names;
}

INSTANTIATE_TEST_SUITE_P(
    Values, ReportXml,
    testing::Values(XmlCase{"escaped", "a<b>&\"c'd", "de&x", "1.2<3>", kAll},
                    XmlCase{"id_of_64", std::string(64, 'k'), "pt-BR", "1.0.4.4439", kAll},
                    XmlCase{"none", "", "", "", Without(kAll, {"CID", "LangCode", "LangVer"})},
                    XmlCase{"version_without_code", "id", "", "2.0",
                            Without(kAll, {"LangCode", "LangVer"})}),
    [](const testing::TestParamInfo<XmlCase>& param) { return param.param.name; });

TEST(SignalSafeWriter, MatchesTheCLibrary) {
    std::vector<int64_t> times{0,
                               -1,
                               951782400,
                               951868799,
                               4107542400,
                               253402300799,
                               -30610224000,
                               1700000000,
                               INT32_MAX,
                               int64_t(INT32_MAX) + 1};
    for (int64_t t = -2208988800; t < 4102444800; t += 86400 * 37 + 3607)
        times.push_back(t);
    for (const int64_t t : times) {
        char buffer[64];
        CSignalSafeWriter writer(buffer, sizeof buffer);
        writer.UtcTime(t);
        const time_t value = time_t(t);
        tm broken{};
        ASSERT_NE(gmtime_r(&value, &broken), nullptr);
        char expected[64];
        strftime(expected, sizeof expected, "%Y-%m-%dT%H:%M:%SZ", &broken);
        ASSERT_EQ(writer.View(), std::string(expected)) << t;
    }
    for (const uint64_t n :
         {uint64_t(0), uint64_t(9), uint64_t(10), uint64_t(4294967296), UINT64_MAX}) {
        char buffer[64];
        CSignalSafeWriter writer(buffer, sizeof buffer);
        writer.Decimal(n);
        writer.Text(" ");
        writer.Hex(n);
        char expected[64];
        snprintf(expected, sizeof expected, "%llu 0x%llx", (unsigned long long)n,
                 (unsigned long long)n);
        EXPECT_EQ(writer.View(), std::string(expected));
    }
    char small[4];
    CSignalSafeWriter cut(small, sizeof small);
    cut.Text("abcdef");
    EXPECT_EQ(cut.View(), "abcd");
    EXPECT_TRUE(cut.Overflowed());
}

}  // namespace
}  // namespace vexel
