// The crash handler in real crashing processes: each ends with its own signal within five
// seconds and starts exactly one reporter, also on a stack overflow, with the allocator's
// lock held or on two threads at once; the reporter itself starts none. Planted links are
// never followed, a file the process had open leaves no trace, and report.xml is read back
// with tinyxml2. The signal-safe formatting is compared with gmtime_r and snprintf.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <tinyxml2.h>

#include <atomic>
#include <climits>
#include <ctime>
#include <map>
#include <mutex>
#include <thread>

#include "common/crash_run.h"
#include "common/test_paths.h"
#include "platform/mini_dumper.h"
#include "platform/private_folder.h"
#include "platform/signal_safe_writer.h"
#include "platform/version.h"

namespace {
std::mutex g_allocatorLock;
std::atomic<bool> g_faultInNew{false};
int* volatile g_nowhere = nullptr;
volatile int g_stopDepth = -1;

// A real fault in sanitizer builds too, where UBSan would stop the store first.
__attribute__((no_sanitize("undefined"))) void WriteThroughNull() {
    *g_nowhere = 1;
}
}  // namespace

// Once armed, operator new faults holding its lock: a handler that allocated would hang.
void* operator new(size_t size) {
    if (g_faultInNew) {
        std::lock_guard lock(g_allocatorLock);
        WriteThroughNull();
    }
    void* memory = std::malloc(size == 0 ? 1 : size);
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
}
// Not inlined, so that the compiler does not pair free with a new-expression.
__attribute__((noinline)) void operator delete(void* memory) noexcept {
    std::free(memory);
}
__attribute__((noinline)) void operator delete(void* memory, size_t) noexcept {
    std::free(memory);
}

namespace vexel {
namespace {

namespace fs = std::filesystem;
using Crash = std::function<void(CMiniDumper&)>;

// The dumper made as main makes it, then the crash.
test::CrashRun RunDumper(const fs::path& sandbox, const Crash& crash, bool reporter = false) {
    return test::RunCrashing(sandbox, [&] {
        std::string folder = test::CrashFolder(sandbox).string();
        char program[] = "vexel-viewer", mode[] = "-crash";
        char* argv[] = {program, reporter ? mode : nullptr, folder.data(), nullptr};
        CMiniDumper dumper(reporter ? 3 : 1, argv, CrashReportFolderPath(sandbox / "cache"));
        crash(dumper);
    });
}

std::string ReadText(const fs::path& path) {
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), {}};
}

unsigned Mode(const fs::path& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

int Overflow(int depth) {  // without end, as the stop depth is never reached
    if (depth == g_stopDepth) return 0;
    volatile char frame[1024];
    frame[depth % sizeof frame] = char(depth);
    return Overflow(depth + 1) + frame[0];
}

// glibc's malloc_stats prints to stderr holding the main arena's lock: unbuffered, with a
// writer that faults, the crash comes with malloc locked. A second thread makes glibc's
// fork take that lock too, as it would in the viewer.
void CrashInsideMalloc() {
#if defined(__SANITIZE_ADDRESS__)
    _exit(5);  // AddressSanitizer's malloc_stats takes no glibc lock
#endif
    std::thread([] { pause(); }).detach();
    cookie_io_functions_t functions{};
    functions.write = [](void*, const char*, size_t) -> ssize_t {
        WriteThroughNull();
        return 0;
    };
    stderr = fopencookie(nullptr, "w", functions);
    setvbuf(stderr, nullptr, _IONBF, 0);
    malloc_stats();
}

void CrashOnTwoThreads() {
    pthread_barrier_t barrier;
    pthread_barrier_init(&barrier, nullptr, 2);
    auto crash = [&barrier] {
        pthread_barrier_wait(&barrier);
        WriteThroughNull();
    };
    std::thread first(crash), second(crash);
    first.join();
    second.join();
}

struct EndCase {
    std::string name;
    Crash crash;
    int signal;
    std::string cause;  // backtrace.txt's lines after the signal; PID: the child's
    bool reporter = false;
};
void PrintTo(const EndCase& c, std::ostream* out) {
    *out << c.name;
}

class CrashEnd : public testing::TestWithParam<EndCase> {};

TEST_P(CrashEnd, DiesOfItsSignalAndStartsOneReporter) {
    const EndCase& c = GetParam();
    const fs::path sandbox = test::ScratchDir("crash_end_" + c.name);
    const test::CrashRun run = RunDumper(sandbox, c.crash, c.reporter);
    ASSERT_FALSE(run.timedOut) << "still running after 5 s";
    if (run.exitCode == 5) GTEST_SKIP() << "cannot be tried in this build";
    EXPECT_EQ(run.termSignal, c.signal) << "exit code " << run.exitCode;
    const fs::path folder = test::CrashFolder(sandbox);
    if (c.reporter) {
        EXPECT_TRUE(run.launches.empty());
        EXPECT_FALSE(fs::exists(folder / "report.xml") || fs::exists(folder / "backtrace.txt"));
        return;
    }
    EXPECT_EQ(run.launches, std::vector<std::string>{"-crash " + folder.string()});
    EXPECT_EQ(Mode(folder), 0700u);
    EXPECT_EQ(Mode(folder / "report.xml"), 0600u);
    EXPECT_EQ(Mode(folder / "backtrace.txt"), 0600u);
    std::string cause = c.cause;
    if (const size_t at = cause.find("PID"); at != std::string::npos)
        cause.replace(at, 3, std::to_string(run.pid));
    const std::string head = "signal SIG" + std::string(sigabbrev_np(c.signal)) + " (" +
                             std::to_string(c.signal) + ")\n" + cause;
    const std::string trace = ReadText(folder / "backtrace.txt");
    EXPECT_EQ(trace.substr(0, head.size()), head);
}

const std::string kFault = "code 1\naddress 0x";               // SEGV_MAPERR
const std::string kRaised = "code -6\nsent by process PID\n";  // SI_TKILL

INSTANTIATE_TEST_SUITE_P(
    Ways, CrashEnd,
    testing::Values(
        EndCase{"segv", [](CMiniDumper&) { WriteThroughNull(); }, SIGSEGV, kFault + "0\n"},
        EndCase{"abort", [](CMiniDumper&) { abort(); }, SIGABRT, kRaised},
        EndCase{"fpe", [](CMiniDumper&) { raise(SIGFPE); }, SIGFPE, kRaised},
        EndCase{"stack_overflow", [](CMiniDumper&) { exit(Overflow(0)); }, SIGSEGV, kFault + "7"},
        EndCase{"new_lock",
                [](CMiniDumper&) {
                    g_faultInNew = true;
                    void* volatile block = ::operator new(16);  // a call cannot be left out
                    ::operator delete(block);
                },
                SIGSEGV, kFault},
        EndCase{"malloc_lock", [](CMiniDumper&) { CrashInsideMalloc(); }, SIGSEGV, kFault},
        EndCase{"two_threads", [](CMiniDumper&) { CrashOnTwoThreads(); }, SIGSEGV, kFault},
        EndCase{"reporter_segv", [](CMiniDumper&) { WriteThroughNull(); }, SIGSEGV, "", true},
        EndCase{"reporter_abort", [](CMiniDumper&) { abort(); }, SIGABRT, "", true}),
    [](const testing::TestParamInfo<EndCase>& param) { return param.param.name; });

// What an attacker or an old run may have left where the report goes.
struct PlantCase {
    std::string name;
    std::vector<std::string> folders;  // made under the sandbox, mode 0777
    std::string link, target;          // a link planted at sandbox/link
    bool reported;
};
void PrintTo(const PlantCase& c, std::ostream* out) {
    *out << c.name;
}

class PlantedLinks : public testing::TestWithParam<PlantCase> {};

TEST_P(PlantedLinks, AreNeverFollowed) {
    const PlantCase& c = GetParam();
    const fs::path sandbox = test::ScratchDir("crash_links_" + c.name);
    fs::create_directories(sandbox / "elsewhere");
    std::ofstream(sandbox / "elsewhere" / "target.txt") << "original";
    for (const std::string& folder : c.folders) {  // open to all: narrowed when used
        fs::create_directories(sandbox / folder);
        fs::permissions(sandbox / folder, fs::perms::all);
    }
    if (!c.link.empty()) fs::create_symlink(sandbox / c.target, sandbox / c.link);
    const test::CrashRun run = RunDumper(sandbox, [](CMiniDumper&) { WriteThroughNull(); });
    EXPECT_EQ(run.termSignal, SIGSEGV);
    EXPECT_EQ(run.launches.size(), c.reported ? 1u : 0u);
    EXPECT_EQ(std::distance(fs::directory_iterator(sandbox / "elsewhere"), {}), 1);
    EXPECT_EQ(ReadText(sandbox / "elsewhere" / "target.txt"), "original");
    if (c.reported) {
        EXPECT_EQ(Mode(test::CrashFolder(sandbox)), 0700u);
        EXPECT_EQ(Mode(test::CrashFolder(sandbox) / "report.xml"), 0600u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Plants, PlantedLinks,
    testing::Values(
        PlantCase{"vexel_folder_link", {"cache"}, "cache/VexelViewer", "elsewhere", false},
        PlantCase{"crash_folder_link",
                  {"cache/VexelViewer"},
                  "cache/VexelViewer/crash",
                  "elsewhere",
                  false},
        PlantCase{"report_link",
                  {"cache/VexelViewer/crash"},
                  "cache/VexelViewer/crash/report.xml",
                  "elsewhere/target.txt",
                  false},
        PlantCase{"backtrace_link",
                  {"cache/VexelViewer/crash"},
                  "cache/VexelViewer/crash/backtrace.txt",
                  "elsewhere/target.txt",
                  false},
        PlantCase{"open_folder", {"cache/VexelViewer/crash"}, "", "", true},
        PlantCase{"no_cache_home", {}, "", "", true}),
    [](const testing::TestParamInfo<PlantCase>& param) { return param.param.name; });

TEST(CrashReport, NamesNoFileTheProcessHadOpen) {
    const fs::path sandbox = test::ScratchDir("crash_secret");
    const fs::path study = sandbox / "PATIENTSECRET^JANE" / "PATIENTSECRET.dcm";
    fs::create_directories(study.parent_path());
    std::ofstream(study) << std::string(8192, 'x');
    const test::CrashRun run = RunDumper(sandbox, [&](CMiniDumper&) {
        const std::string held = study.string();
        const int fd = open(held.c_str(), O_RDONLY);
        if (mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE, fd, 0) != MAP_FAILED) WriteThroughNull();
    });
    ASSERT_EQ(run.launches.size(), 1u);
    const std::string trace = ReadText(test::CrashFolder(sandbox) / "backtrace.txt");
    EXPECT_NE(trace.find("vexel_platform_tests\n"), std::string::npos) << "no mappings";
    for (const auto& entry : fs::directory_iterator(test::CrashFolder(sandbox)))
        EXPECT_EQ(ReadText(entry.path()).find("PATIENTSECRET"), std::string::npos) << entry;
}

struct XmlCase {
    std::string name, checkId, languageCode, languageVersion;
};
void PrintTo(const XmlCase& c, std::ostream* out) {
    *out << c.name;
}

class ReportXml : public testing::TestWithParam<XmlCase> {};

TEST_P(ReportXml, HasTheElementsInOrder) {
    const XmlCase& c = GetParam();
    const fs::path sandbox = test::ScratchDir("crash_xml_" + c.name);
    const time_t before = time(nullptr);
    const test::CrashRun run = RunDumper(sandbox, [&](CMiniDumper& dumper) {
        dumper.SetUpdateCheckId(c.checkId);
        dumper.SetLanguage(c.languageCode, c.languageVersion);
        WriteThroughNull();
    });
    const time_t after = time(nullptr);
    ASSERT_EQ(run.launches.size(), 1u);
    tinyxml2::XMLDocument document;
    ASSERT_EQ(document.LoadFile((test::CrashFolder(sandbox) / "report.xml").c_str()),
              tinyxml2::XML_SUCCESS);
    const tinyxml2::XMLElement* root = document.RootElement();
    EXPECT_STREQ(root->Name(), "CrashRpt");
    EXPECT_STREQ(root->Attribute("version"), "1");
    std::vector<std::string> names;
    std::map<std::string, std::string> values;
    for (auto* e = root->FirstChildElement(); e != nullptr; e = e->NextSiblingElement()) {
        names.push_back(e->Name());
        values[e->Name()] = e->GetText() != nullptr ? e->GetText() : "";
    }
    std::vector<std::string> expected{"AppName", "AppVersion", "AppPlatform"};
    if (!c.checkId.empty()) expected.push_back("CID");
    if (!c.languageCode.empty()) expected.push_back("LangCode");
    if (!c.languageCode.empty() && !c.languageVersion.empty()) expected.push_back("LangVer");
    for (const char* name :
         {"SystemTimeUTC", "OperatingSystem", "OSIs64Bit", "OpenHandleCount", "MemoryUsageKbytes"})
        expected.push_back(name);
    EXPECT_EQ(names, expected);
    EXPECT_EQ(values["AppName"], "Vexel DICOM Viewer");
    EXPECT_EQ(values["AppVersion"], kFullVersion);
    EXPECT_EQ(values["AppPlatform"], "linux-x64");
    EXPECT_EQ(values["CID"], c.checkId);
    EXPECT_EQ(values["LangCode"], c.languageCode);
    EXPECT_EQ(values["LangVer"], c.languageCode.empty() ? "" : c.languageVersion);
    tm parsed{};
    ASSERT_NE(strptime(values["SystemTimeUTC"].c_str(), "%Y-%m-%dT%H:%M:%SZ", &parsed), nullptr);
    EXPECT_GE(timegm(&parsed), before);
    EXPECT_LE(timegm(&parsed), after);
    utsname system{};
    uname(&system);
    EXPECT_NE(values["OperatingSystem"].find(system.release), std::string::npos);
    EXPECT_EQ(values["OSIs64Bit"], "1");
    EXPECT_GE(std::stol(values["OpenHandleCount"]), 3);  // stdin, stdout, stderr at least
    EXPECT_GT(std::stol(values["MemoryUsageKbytes"]), 500);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ReportXml,
    testing::Values(XmlCase{"escaped", "a<b>&\"c'd", "de&x", "1.2<3>"},
                    XmlCase{"id_of_64", std::string(64, 'k'), "pt-BR", "1.0.4.4439"},
                    XmlCase{"none", "", "", ""}, XmlCase{"version_without_code", "id", "", "2.0"}),
    [](const testing::TestParamInfo<XmlCase>& param) { return param.param.name; });

TEST(SignalSafeWriter, MatchesTheCLibrary) {
    std::vector<int64_t> times{0,
                               -1,
                               951782400,
                               951868799,
                               4107542400,
                               253402300799,
                               -30610224000,
                               INT32_MAX,
                               int64_t(INT32_MAX) + 1};
    for (int64_t t = -2208988800; t < 4102444800; t += 86400 * 37 + 3607)
        times.push_back(t);
    for (const int64_t t : times) {
        char buffer[64], expected[64];
        CSignalSafeWriter writer(buffer, sizeof buffer);
        writer.UtcTime(t);
        const time_t value = time_t(t);
        tm broken{};
        strftime(expected, sizeof expected, "%Y-%m-%dT%H:%M:%SZ", gmtime_r(&value, &broken));
        ASSERT_EQ(writer.View(), std::string(expected)) << t;
    }
    for (const uint64_t n :
         {uint64_t(0), uint64_t(9), uint64_t(10), uint64_t(1) << 32, UINT64_MAX}) {
        char buffer[64], expected[64];
        CSignalSafeWriter writer(buffer, sizeof buffer);
        writer.Decimal(n);
        writer.Text(" ");
        writer.Hex(n);
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
