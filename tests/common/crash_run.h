// Runs a program that is meant to crash, with its cache home in a sandbox and a stand-in
// reporter that appends its arguments to a file, and says how it ended and what it started.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace vexel::test {

struct CrashRun {
    bool timedOut = false;
    pid_t pid = -1;
    int termSignal = 0;  // 0: it exited
    int exitCode = -1;
    std::vector<std::string> launches;  // the stand-in reporter's argument lines
};

inline std::filesystem::path CrashCacheHome(const std::filesystem::path& sandbox) {
    return sandbox / "cache";
}
inline std::filesystem::path CrashFolder(const std::filesystem::path& sandbox) {
    return sandbox / "cache" / "VexelViewer" / "crash";
}

inline std::vector<std::string> ReadLines(const std::filesystem::path& path) {
    std::vector<std::string> lines;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    return lines;
}

// The sandbox gets cache/, tmp/, reporter.sh and, after the run, launches.
inline CrashRun RunCrashing(const std::vector<std::string>& arguments,
                            const std::filesystem::path& sandbox) {
    std::filesystem::create_directories(sandbox / "tmp");
    const std::filesystem::path stub = sandbox / "reporter.sh";
    const std::filesystem::path launches = sandbox / "launches";
    {
        std::ofstream script(stub);
        script << "#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" << launches.string() << "'\n";
    }
    std::filesystem::permissions(stub, std::filesystem::perms::owner_all);
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text = *entry;
        if (text.starts_with("XDG_CACHE_HOME=") || text.starts_with("TMPDIR=") ||
            text.starts_with("VEXEL_CRASH_REPORTER=") || text.starts_with("ASAN_OPTIONS="))
            continue;
        environment.emplace_back(text);
    }
    // Sanitizer builds: where no crash handler is armed, the signal ends the program as in
    // a normal build instead of the sanitizer's report and exit status.
    const char* asanOptions = std::getenv("ASAN_OPTIONS");
    environment.push_back(std::string("ASAN_OPTIONS=") +
                          (asanOptions != nullptr && asanOptions[0] != '\0'
                               ? std::string(asanOptions) + ":"
                               : std::string()) +
                          "handle_segv=0:handle_sigbus=0:handle_sigfpe=0");
    environment.push_back("XDG_CACHE_HOME=" + CrashCacheHome(sandbox).string());
    environment.push_back("TMPDIR=" + (sandbox / "tmp").string());
    environment.push_back("VEXEL_CRASH_REPORTER=" + stub.string());
    std::vector<char*> envp;
    for (std::string& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> argumentCopy = arguments;
    std::vector<char*> argv;
    for (std::string& argument : argumentCopy)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    // No core files of the crashing programs in the tree: they inherit the soft limit.
    rlimit core{};
    if (getrlimit(RLIMIT_CORE, &core) == 0 && core.rlim_cur != 0) {
        core.rlim_cur = 0;
        setrlimit(RLIMIT_CORE, &core);
    }
    // The child and the reporter it starts share the pipe as stdout: its end is both gone.
    int pipeFds[2];
    CrashRun run;
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    pid_t child = -1;
    const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    run.pid = child;
    close(pipeFds[1]);
    if (spawned != 0) {
        close(pipeFds[0]);
        return run;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd wait{pipeFds[0], POLLIN, 0};
        if (left.count() <= 0 || poll(&wait, 1, int(left.count())) == 0) {
            run.timedOut = true;
            kill(child, SIGKILL);
            break;
        }
        char buffer[256];
        if (read(pipeFds[0], buffer, sizeof buffer) <= 0) break;
    }
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFSIGNALED(status)) run.termSignal = WTERMSIG(status);
    if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    run.launches = ReadLines(launches);
    return run;
}

}  // namespace vexel::test
