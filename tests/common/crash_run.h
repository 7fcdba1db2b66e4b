// Runs code that is meant to crash in a forked child whose cache home is in a sandbox and
// whose reporter is a script appending its arguments to sandbox/launches; says how the child
// ended and what it started.
#pragma once

#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace vexel::test {

struct CrashRun {
    bool timedOut = false;
    pid_t pid = -1;
    int termSignal = 0;  // 0: it exited
    int exitCode = -1;
    std::vector<std::string> launches;  // the reporter script's argument lines
};

inline std::filesystem::path CrashFolder(const std::filesystem::path& sandbox) {
    return sandbox / "cache" / "VexelViewer" / "crash";
}

inline CrashRun RunCrashing(const std::filesystem::path& sandbox,
                            const std::function<void()>& crash) {
    const std::filesystem::path launches = sandbox / "launches", stub = sandbox / "reporter.sh";
    std::ofstream(stub) << "#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" << launches.string() << "'\n";
    std::filesystem::permissions(stub, std::filesystem::perms::owner_all);
    CrashRun run;
    int out[2];
    if (pipe(out) != 0) return run;
    run.pid = fork();
    if (run.pid == 0) {
        // As a new process: no core file, no handlers (a sanitizer's) from the test program.
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        for (const int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
            std::signal(signal, SIG_DFL);
        setenv("XDG_CACHE_HOME", (sandbox / "cache").c_str(), 1);
        setenv("TMPDIR", sandbox.c_str(), 1);
        setenv("VEXEL_CRASH_REPORTER", stub.c_str(), 1);
        // The child and the reporter it starts share the pipe as stdout: EOF when both ended.
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        crash();
        _exit(3);
    }
    close(out[1]);
    char buffer[256];
    for (pollfd wait{out[0], POLLIN, 0};;) {
        if (poll(&wait, 1, 5000) <= 0) {
            run.timedOut = true;
            kill(run.pid, SIGKILL);
            break;
        }
        if (read(out[0], buffer, sizeof buffer) <= 0) break;
    }
    close(out[0]);
    int status = 0;
    waitpid(run.pid, &status, 0);
    run.termSignal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream file(launches);
    for (std::string line; std::getline(file, line);)
        run.launches.push_back(line);
    return run;
}

}  // namespace vexel::test
