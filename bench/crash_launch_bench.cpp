// From a fault to the crash reporter's first line of main, against a plain fork and execve
// of the same program from the same process, so the difference is what the fatal-signal
// handler adds: clearing the folder, report.xml, backtrace.txt with the executable mappings.
// This program is its own reporter: with "-crash" it prints CLOCK_MONOTONIC and ends.
//   vexel_crash_launch_bench [RUNS]      (default 50; the report folder is under $TMPDIR)
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/mini_dumper.h"
#include "platform/private_folder.h"

extern char** environ;

namespace {

int64_t Now() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int* volatile g_nowhere = nullptr;

// One run in a forked child: the fault (or the plain launch) at the time left in *start; the
// launched copy prints its own start time on the pipe. Nanoseconds between them, or -1.
int64_t OneRun(bool crash, const std::filesystem::path& folder, volatile int64_t* start) {
    int out[2];
    if (pipe(out) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        char self[] = "vexel_crash_launch_bench";
        char* argv[] = {self, nullptr};
        vexel::CMiniDumper dumper(1, argv, folder);
        if (!dumper.IsArmed()) _exit(2);
        std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
        std::string folderText = folder.string();
        char crashArgument[] = "-crash";
        char* launch[] = {exe.data(), crashArgument, folderText.data(), nullptr};
        *start = Now();
        if (crash) *g_nowhere = 1;
        if (fork() == 0) {
            execve(launch[0], launch, environ);
            _exit(127);
        }
        _exit(0);
    }
    close(out[1]);
    std::string text;
    char buffer[64];
    for (ssize_t got; (got = read(out[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, size_t(got));
    close(out[0]);
    waitpid(child, nullptr, 0);
    if (text.empty()) return -1;
    return std::strtoll(text.c_str(), nullptr, 10) - *start;
}

void Report(const char* name, std::vector<int64_t> times) {
    std::sort(times.begin(), times.end());
    if (times.empty()) return;
    auto ms = [](int64_t ns) { return double(ns) / 1e6; };
    std::printf("%-26s median %7.3f ms   p10 %7.3f   p90 %7.3f   (%zu runs)\n", name,
                ms(times[times.size() / 2]), ms(times[times.size() / 10]),
                ms(times[times.size() * 9 / 10]), times.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "-crash") == 0) {
        std::printf("%lld\n", static_cast<long long>(Now()));
        return 0;
    }
    const int runs = argc >= 2 ? std::max(1, std::atoi(argv[1])) : 50;
    const char* tmp = std::getenv("TMPDIR");
    const std::filesystem::path home =
        std::filesystem::path(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") /
        ("vexel-crash-bench-" + std::to_string(getpid()));
    const std::filesystem::path folder = vexel::CrashReportFolderPath(home);
    unsetenv(vexel::CMiniDumper::kReporterVariable);  // this program is the reporter
    auto* start = static_cast<int64_t*>(
        mmap(nullptr, sizeof(int64_t), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    std::vector<int64_t> faults, plain;
    for (int i = 0; i < runs; ++i) {
        for (const bool crash : {true, false}) {
            const int64_t ns = OneRun(crash, folder, start);
            if (ns < 0) {
                std::fprintf(stderr, "run %d (%s) failed\n", i, crash ? "fault" : "plain");
                return 1;
            }
            (crash ? faults : plain).push_back(ns);
        }
    }
    Report("fault -> reporter exec", faults);
    Report("plain fork+execve", plain);
    std::filesystem::remove_all(home);
    return 0;
}
