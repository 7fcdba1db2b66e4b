#include "platform/mini_dumper.h"

#include <dirent.h>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/private_folder.h"
#include "platform/signal_safe_writer.h"
#include "platform/version.h"

extern char** environ;

namespace vexel {
namespace {

std::atomic<CMiniDumper*> g_instance{nullptr};
// The thread id of the first crashing thread; 0 while nobody crashed.
std::atomic<long> g_crashingThread{0};

constexpr size_t kAltStackSize = 256 * 1024;  // room for sanitizer builds as well

// Marks up one value: & < > " ' escaped, control characters and malformed UTF-8 as '?', so
// that a broken identifier or language file still gives a well-formed report.
std::string EscapeXml(std::string_view value) {
    std::string out;
    for (size_t i = 0; i < value.size();) {
        const auto byte = uint8_t(value[i]);
        size_t length = byte < 0x80                   ? 1
                        : byte >= 0xC2 && byte < 0xE0 ? 2
                        : byte >= 0xE0 && byte < 0xF0 ? 3
                        : byte >= 0xF0 && byte < 0xF5 ? 4
                                                      : 0;
        for (size_t k = 1; k < length; ++k) {
            if (i + k >= value.size() || (uint8_t(value[i + k]) & 0xC0) != 0x80) length = 0;
        }
        if (length == 0 || byte < 0x20 || byte == 0x7F) {
            out += '?';
            i += 1;
            continue;
        }
        switch (byte) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out.append(value.substr(i, length));
        }
        i += length;
    }
    return out;
}

std::string Element(std::string_view name, std::string_view escapedValue) {
    return "  <" + std::string(name) + ">" + std::string(escapedValue) + "</" + std::string(name) +
           ">\n";
}

// PRETTY_NAME of os-release, its shell quoting undone.
std::string PrettyOsName() {
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        std::ifstream file(path);
        std::string line;
        while (std::getline(file, line)) {
            if (line.rfind("PRETTY_NAME=", 0) != 0) continue;
            std::string value = line.substr(12);
            if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                value.back() == value.front()) {
                value = value.substr(1, value.size() - 2);
            }
            std::string plain;
            for (size_t i = 0; i < value.size(); ++i) {
                if (value[i] == '\\' && i + 1 < value.size()) ++i;
                plain += value[i];
            }
            return plain;
        }
        if (file.is_open()) break;
    }
    return {};
}

std::string OperatingSystemText() {
    std::string text = PrettyOsName().substr(0, 200);
    utsname names{};
    if (uname(&names) == 0) {
        for (const char* part : {names.sysname, names.release, names.machine}) {
            if (!text.empty()) text += ' ';
            text += part;
        }
    }
    return text;
}

std::string ReadExecutablePath() {
    std::string path(4096, '\0');
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || size_t(length) >= path.size()) return {};
    path.resize(size_t(length));
    return path;
}

size_t CopyCut(char* target, size_t capacity, std::string_view value) {
    const size_t length = std::min(capacity, value.size());
    std::memcpy(target, value.data(), length);
    return length;
}

const char* SignalName(int signal) {
    switch (signal) {
        case SIGSEGV:
            return "SIGSEGV";
        case SIGBUS:
            return "SIGBUS";
        case SIGFPE:
            return "SIGFPE";
        case SIGILL:
            return "SIGILL";
        case SIGABRT:
            return "SIGABRT";
        default:
            return "signal";
    }
}

// The value of "Name:" in a /proc status text, as a number; -1 when absent.
long StatusNumber(std::string_view status, std::string_view name) {
    size_t at = 0;
    while (at < status.size()) {
        const size_t lineEnd = std::min(status.find('\n', at), status.size());
        std::string_view line = status.substr(at, lineEnd - at);
        at = lineEnd + 1;
        if (line.substr(0, name.size()) != name) continue;
        line.remove_prefix(name.size());
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        long value = 0;
        size_t digits = 0;
        for (; digits < line.size() && line[digits] >= '0' && line[digits] <= '9'; ++digits)
            value = value * 10 + (line[digits] - '0');
        return digits > 0 ? value : -1;
    }
    return -1;
}

}  // namespace

CMiniDumper::CMiniDumper(int argc, char** argv, const std::filesystem::path& reportFolder) {
    CMiniDumper* expected = nullptr;
    if (!g_instance.compare_exchange_strong(expected, this)) return;
    if (argc >= 3 && std::strcmp(argv[1], kReporterArgument) == 0) {
        // The reporter: default actions from the start, even where an ignored one was inherited.
        struct sigaction defaults {};
        defaults.sa_handler = SIG_DFL;
        for (const int signal : kSignals)
            sigaction(signal, &defaults, nullptr);
        return;
    }
    if (!PrepareStartUp(reportFolder)) return;
    m_armed = InstallHandlers();
}

CMiniDumper::~CMiniDumper() {
    if (m_armed) {
        for (size_t i = 0; i < std::size(kSignals); ++i)
            sigaction(kSignals[i], &m_previous[i], nullptr);
    }
    if (m_altStack != nullptr) {
        stack_t current{};
        if (sigaltstack(nullptr, &current) == 0 && current.ss_sp == m_altStack) {
            stack_t off{};
            off.ss_flags = SS_DISABLE;
            sigaltstack(&off, nullptr);
        }
        munmap(m_altStack, m_altStackSize);
    }
    if (m_folderFd >= 0) close(m_folderFd);
    CMiniDumper* self = this;
    g_instance.compare_exchange_strong(self, nullptr);
}

CMiniDumper* CMiniDumper::Instance() {
    return g_instance.load();
}

bool CMiniDumper::PrepareStartUp(const std::filesystem::path& reportFolder) {
    m_folderFd = OpenPrivateFolder(reportFolder);
    if (m_folderFd < 0) return false;
    m_folderPath = reportFolder.string();
    const char* reporter = std::getenv(kReporterVariable);
    m_reporterPath = reporter != nullptr && reporter[0] != '\0' ? reporter : ReadExecutablePath();
    if (m_reporterPath.empty()) return false;
    m_argv = {m_reporterPath.data(), const_cast<char*>(kReporterArgument), m_folderPath.data(),
              nullptr};
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry)
        m_environment.emplace_back(*entry);
    for (std::string& entry : m_environment)
        m_envp.push_back(entry.data());
    m_envp.push_back(nullptr);
    m_middle = Element("OperatingSystem", EscapeXml(OperatingSystemText())) +
               Element("OSIs64Bit", sizeof(void*) == 8 ? "1" : "0");
    RebuildHead();
    // The first call loads the unwinder library, which the handler could not do.
    backtrace(m_frames, 1);
    return true;
}

bool CMiniDumper::InstallHandlers() {
    // A stack of its own, so that a stack overflow of the main thread is reported too.
    m_altStack = mmap(nullptr, kAltStackSize, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (m_altStack == MAP_FAILED) {
        m_altStack = nullptr;
    } else {
        m_altStackSize = kAltStackSize;
        stack_t stack{};
        stack.ss_sp = m_altStack;
        stack.ss_size = m_altStackSize;
        sigaltstack(&stack, nullptr);
    }
    struct sigaction action {};
    action.sa_sigaction = &CMiniDumper::OnFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    // A fault inside the handler then ends the process at once instead of re-entering it.
    sigemptyset(&action.sa_mask);
    for (const int signal : kSignals)
        sigaddset(&action.sa_mask, signal);
    for (size_t i = 0; i < std::size(kSignals); ++i) {
        if (sigaction(kSignals[i], &action, &m_previous[i]) != 0) return false;
    }
    return true;
}

void CMiniDumper::SetUpdateCheckId(std::string_view id) {
    std::lock_guard lock(m_setterLock);
    m_checkIdLength = CopyCut(m_checkId, sizeof m_checkId, id);
    RebuildHead();
}

void CMiniDumper::SetLanguage(std::string_view code, std::string_view version) {
    std::lock_guard lock(m_setterLock);
    m_languageCodeLength = CopyCut(m_languageCode, sizeof m_languageCode - 1, code);
    m_languageVersionLength = CopyCut(m_languageVersion, sizeof m_languageVersion - 1, version);
    RebuildHead();
}

void CMiniDumper::RebuildHead() {
    std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<CrashRpt version=\"1\">\n";
    head += Element("AppName", "Vexel DICOM Viewer");
    head += Element("AppVersion", kFullVersion);
    head += Element("AppPlatform", kBuildPlatform);
    if (m_checkIdLength > 0) head += Element("CID", EscapeXml({m_checkId, m_checkIdLength}));
    if (m_languageCodeLength > 0) {
        head += Element("LangCode", EscapeXml({m_languageCode, m_languageCodeLength}));
        if (m_languageVersionLength > 0)
            head += Element("LangVer", EscapeXml({m_languageVersion, m_languageVersionLength}));
    }
    // Six bytes per escaped byte at most: always fits; the check guards the copy all the same.
    if (head.size() > kHeadCapacity) return;
    const int next = 1 - m_headIndex.load();
    std::memcpy(m_heads[next], head.data(), head.size());
    m_headLengths[next] = head.size();
    m_headIndex.store(next);
}

// ---- The handler: async-signal-safe calls only from here on. ----

void CMiniDumper::OnFatalSignal(int signal, siginfo_t* info, void* /*context*/) {
    const long self = syscall(SYS_gettid);
    long expected = 0;
    if (!g_crashingThread.compare_exchange_strong(expected, self) && expected != self) {
        // Another thread is reporting and will end the process.
        for (;;)
            pause();
    }
    CMiniDumper* dumper = g_instance.load();
    if (expected == 0 && dumper != nullptr && dumper->m_armed) dumper->HandleCrash(signal, *info);
    // Die of the same signal: the default action, raised now and delivered when the handler
    // returns and unblocks it, before a faulting instruction could run again.
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    sigaction(signal, &defaults, nullptr);
    raise(signal);
}

void CMiniDumper::HandleCrash(int signal, const siginfo_t& info) {
    ClearPrivateFolder(m_folderFd);
    const bool reported = WriteReport();
    if (WriteBacktrace(signal, info) && reported) StartReporter();
}

bool CMiniDumper::WriteReport() {
    CSignalSafeWriter xml(m_report, sizeof m_report);
    const int head = m_headIndex.load();
    xml.Text({m_heads[head], m_headLengths[head]});
    timespec now{};
    if (clock_gettime(CLOCK_REALTIME, &now) == 0) {
        xml.Text("  <SystemTimeUTC>");
        xml.UtcTime(now.tv_sec);
        xml.Text("</SystemTimeUTC>\n");
    }
    xml.Text(m_middle);
    const long openFiles = CountOpenFiles();
    if (openFiles >= 0) {
        xml.Text("  <OpenHandleCount>");
        xml.Decimal(uint64_t(openFiles));
        xml.Text("</OpenHandleCount>\n");
    }
    const long resident = ResidentKilobytes();
    if (resident >= 0) {
        xml.Text("  <MemoryUsageKbytes>");
        xml.Decimal(uint64_t(resident));
        xml.Text("</MemoryUsageKbytes>\n");
    }
    xml.Text("</CrashRpt>\n");
    if (xml.Overflowed()) return false;
    const int fd = CreatePrivateFile(m_folderFd, "report.xml");
    if (fd < 0) return false;
    const bool written = WriteAll(fd, xml.View());
    return close(fd) == 0 && written;
}

long CMiniDumper::CountOpenFiles() {
    const int fd = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    long count = 0;
    for (;;) {
        const long length = syscall(SYS_getdents64, fd, m_readBuffer, sizeof m_readBuffer);
        if (length < 0) count = -1;
        if (length <= 0) break;
        for (long at = 0; at < length;) {
            const auto& entry = *reinterpret_cast<const struct dirent64*>(m_readBuffer + at);
            at += entry.d_reclen;
            if (entry.d_name[0] != '.') ++count;
        }
    }
    close(fd);
    return count > 0 ? count - 1 : count;  // not the descriptor that listed them
}

long CMiniDumper::ResidentKilobytes() {
    const int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    // VmRSS is in the first kilobyte; the rest of the text is not needed.
    size_t length = 0;
    while (length < sizeof m_readBuffer) {
        const ssize_t got = read(fd, m_readBuffer + length, sizeof m_readBuffer - length);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        length += size_t(got);
    }
    close(fd);
    return StatusNumber({m_readBuffer, length}, "VmRSS:");
}

bool CMiniDumper::WriteBacktrace(int signal, const siginfo_t& info) {
    const int fd = CreatePrivateFile(m_folderFd, "backtrace.txt");
    if (fd < 0) return false;
    CSignalSafeWriter text(m_lineBuffer, sizeof m_lineBuffer);
    text.Text("signal ");
    text.Text(SignalName(signal));
    text.Text(" (");
    text.Decimal(uint64_t(signal));
    text.Text(")\ncode ");
    if (info.si_code < 0) text.Text("-");
    text.Decimal(uint64_t(info.si_code < 0 ? -int64_t(info.si_code) : info.si_code));
    // A fault carries the address; a signal sent by kill, raise or abort the sender instead.
    if (info.si_code > 0) {
        text.Text("\naddress ");
        text.Hex(uint64_t(reinterpret_cast<uintptr_t>(info.si_addr)));
    } else {
        text.Text("\nsent by process ");
        text.Decimal(uint64_t(info.si_pid));
    }
    text.Text("\n\nbacktrace:\n");
    bool written = WriteAll(fd, text.View());
    const int frames = backtrace(m_frames, int(kMaxFrames));
    backtrace_symbols_fd(m_frames, frames, fd);
    written = WriteAll(fd, "\nexecutable mappings:\n") && written;
    WriteExecutableMappings(fd);
    return close(fd) == 0 && written;
}

void CMiniDumper::WriteExecutableMappings(int fd) {
    // Only mappings that may run code: programs and libraries. Data mappings are left out,
    // since a mapped file's path (a study's folder) may name a patient.
    const int maps = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (maps < 0) return;
    size_t lineLength = 0;
    for (;;) {
        const ssize_t got = read(maps, m_readBuffer, sizeof m_readBuffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        for (ssize_t i = 0; i < got; ++i) {
            const char c = m_readBuffer[i];
            if (c != '\n') {
                // A longer line is cut; its start still names the range and permissions.
                if (lineLength < sizeof m_lineBuffer - 1) m_lineBuffer[lineLength++] = c;
                continue;
            }
            const std::string_view line(m_lineBuffer, lineLength);
            lineLength = 0;
            // "start-end perms offset device inode path": perms is "r-xp" and the like.
            const size_t space = line.find(' ');
            if (space == std::string_view::npos || space + 3 >= line.size() ||
                line[space + 3] != 'x')
                continue;
            WriteAll(fd, line);
            WriteAll(fd, "\n");
        }
    }
    close(maps);
}

void CMiniDumper::StartReporter() {
    // _Fork, not fork: fork runs the atfork handlers and takes malloc's locks, which the
    // crashing thread may hold.
    const pid_t child = _Fork();
    if (child != 0) return;  // the reporter lives on by itself; init reaps it
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    for (const int signal : kSignals)
        sigaction(signal, &defaults, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    // Its own session, so it outlives the terminal the viewer was started from; none of the
    // viewer's descriptors (the files it was showing) go with it.
    setsid();
    close_range(3, ~0U, 0);
    execve(m_argv[0], m_argv.data(), m_envp.data());
    _exit(127);
}

}  // namespace vexel
