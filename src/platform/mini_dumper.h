// The dying process's side of crash reporting. On SIGSEGV, SIGBUS, SIGFPE, SIGILL or SIGABRT
// the handler writes "report.xml" (what the program and machine are) and "backtrace.txt"
// (signal, fault address, the faulting thread's frames, the executable mappings) into the
// private crash folder, starts `<this executable> -crash <folder>` and lets the process die
// of its signal. Everything the handler needs is prepared here beforehand: it allocates
// nothing and takes no lock. No memory contents and no paths of opened files are written.
#pragma once

#include <signal.h>

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace vexel {

class CMiniDumper {
public:
    // Names another program to start instead of this executable (read once, here).
    static constexpr char kReporterVariable[] = "VEXEL_CRASH_REPORTER";
    static constexpr char kReporterArgument[] = "-crash";
    static constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

    // Arms the handlers unless argv[1] is "-crash" with a folder after it, which is how main
    // tells the reporter: it keeps the default actions, so a crashing reporter starts no
    // other. Nothing is armed either when the report folder cannot be opened as a private
    // folder (see platform/private_folder.h). One instance per process, made first thing in
    // main and kept for the whole run.
    CMiniDumper(int argc, char** argv, const std::filesystem::path& reportFolder);
    ~CMiniDumper();
    CMiniDumper(const CMiniDumper&) = delete;
    CMiniDumper& operator=(const CMiniDumper&) = delete;

    // The process's instance, or null.
    static CMiniDumper* Instance();

    bool IsArmed() const { return m_armed; }
    // The update-check identifier (at most 64 bytes kept) for the "CID" element.
    void SetUpdateCheckId(std::string_view id);
    // The loaded translation's code (at most 15 bytes) and full version (at most 31).
    void SetLanguage(std::string_view code, std::string_view version);

private:
    static constexpr size_t kHeadCapacity = 2048;
    static constexpr size_t kMaxFrames = 64;

    static void OnFatalSignal(int signal, siginfo_t* info, void* context);
    void HandleCrash(int signal, const siginfo_t& info);
    bool PrepareStartUp(const std::filesystem::path& reportFolder);
    bool InstallHandlers();
    void RebuildHead();
    bool WriteReport();
    bool WriteBacktrace(int signal, const siginfo_t& info);
    void WriteExecutableMappings(int fd);
    long CountOpenFiles();
    long ResidentKilobytes();
    void StartReporter();

    bool m_armed = false;
    int m_folderFd = -1;
    void* m_altStack = nullptr;
    size_t m_altStackSize = 0;
    struct sigaction m_previous[std::size(kSignals)]{};

    // Start-up values; the handler only reads them.
    std::string m_folderPath;
    std::string m_reporterPath;
    std::vector<std::string> m_environment;
    std::vector<char*> m_argv;
    std::vector<char*> m_envp;
    std::string m_middle;  // OperatingSystem and OSIs64Bit

    // Set by the start-up code, copied into the report's head.
    std::mutex m_setterLock;
    char m_checkId[64]{};
    size_t m_checkIdLength = 0;
    char m_languageCode[16]{};
    size_t m_languageCodeLength = 0;
    char m_languageVersion[32]{};
    size_t m_languageVersionLength = 0;
    // report.xml up to LangVer, twice: a setter fills the one the handler does not read.
    char m_heads[2][kHeadCapacity]{};
    size_t m_headLengths[2]{};
    std::atomic<int> m_headIndex{0};

    // The handler's own buffers: only the first crashing thread gets this far.
    void* m_frames[kMaxFrames]{};
    alignas(8) char m_readBuffer[4096]{};
    char m_lineBuffer[4352]{};
    char m_report[8192]{};
};

}  // namespace vexel
