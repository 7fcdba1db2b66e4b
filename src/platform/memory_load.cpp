#include "platform/memory_load.h"

#include <unistd.h>

#include <charconv>
#include <fstream>
#include <iterator>

namespace vexel {
namespace {

std::string ReadSmallFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::string text;
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return text;
}

std::optional<uint64_t> ParseNumber(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data()) return std::nullopt;
    return value;
}

// The value in kB of a "Name:   1234 kB" line, in bytes.
std::optional<uint64_t> MemInfoField(std::string_view text, std::string_view name) {
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = std::min(text.find('\n', at), text.size());
        std::string_view line = text.substr(at, end - at);
        if (line.size() > name.size() && line.substr(0, name.size()) == name &&
            line[name.size()] == ':') {
            const auto kib = ParseNumber(line.substr(name.size() + 1));
            if (!kib || *kib > (UINT64_MAX >> 10)) return std::nullopt;
            return *kib << 10;
        }
        at = end + 1;
    }
    return std::nullopt;
}

uint32_t LoadPercent(uint64_t total, uint64_t available) {
    if (total == 0) return 100;
    if (available >= total) return 0;
    return static_cast<uint32_t>(100 - (available * 100 + total - 1) / total);
}

}  // namespace

std::optional<MemoryStatus> ParseMemInfo(std::string_view text) {
    const auto total = MemInfoField(text, "MemTotal");
    const auto available = MemInfoField(text, "MemAvailable");
    if (!total || !available || *total == 0) return std::nullopt;
    MemoryStatus status;
    status.totalBytes = *total;
    status.availableBytes = std::min(*available, *total);
    status.loadPercent = LoadPercent(*total, status.availableBytes);
    return status;
}

MemoryStatus ApplyCgroupLimit(MemoryStatus status, std::string_view memoryMax,
                              std::string_view memoryCurrent) {
    const auto limit = ParseNumber(memoryMax);
    const auto current = ParseNumber(memoryCurrent);
    if (!limit || !current || *limit == 0) return status;
    const uint64_t available = *current >= *limit ? 0 : *limit - *current;
    const uint32_t load = LoadPercent(*limit, available);
    if (load > status.loadPercent) {
        status.loadPercent = load;
        status.totalBytes = *limit;
        status.availableBytes = std::min(available, status.availableBytes);
    }
    return status;
}

std::string CgroupFolderOf(std::string_view procSelfCgroup) {
    size_t at = 0;
    while (at < procSelfCgroup.size()) {
        const size_t end = std::min(procSelfCgroup.find('\n', at), procSelfCgroup.size());
        std::string_view line = procSelfCgroup.substr(at, end - at);
        if (line.substr(0, 3) == "0::") {
            std::string_view relative = line.substr(3);
            // Paths climbing out of the mount are not ours to read.
            if (relative.find("..") != std::string_view::npos) return {};
            std::string folder = "/sys/fs/cgroup";
            if (relative != "/") folder += relative;
            return folder;
        }
        at = end + 1;
    }
    return {};
}

CSystemMemoryLoad::CSystemMemoryLoad() {
    std::string folder = CgroupFolderOf(ReadSmallFile("/proc/self/cgroup"));
    // Only a folder with a real limit is worth reading every poll.
    if (!folder.empty() && ParseNumber(ReadSmallFile(folder + "/memory.max"))) {
        m_cgroupFolder = std::move(folder);
    }
}

std::optional<MemoryStatus> CSystemMemoryLoad::Read() const {
    auto status = ParseMemInfo(ReadSmallFile("/proc/meminfo"));
    if (!status) return std::nullopt;
    if (!m_cgroupFolder.empty()) {
        *status = ApplyCgroupLimit(*status, ReadSmallFile(m_cgroupFolder + "/memory.max"),
                                   ReadSmallFile(m_cgroupFolder + "/memory.current"));
    }
    const std::string statm = ReadSmallFile("/proc/self/statm");
    const size_t space = statm.find(' ');
    if (space != std::string::npos) {
        if (const auto pages = ParseNumber(std::string_view(statm).substr(space + 1))) {
            status->processResidentBytes = *pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
        }
    }
    return status;
}

std::optional<MemoryStatus> CSimulatedMemoryLoad::Read() const {
    MemoryStatus status;
    status.loadPercent = m_percent;
    status.totalBytes = m_totalBytes;
    status.availableBytes = m_totalBytes / 100 * (100 - status.loadPercent);
    status.processResidentBytes = 256ull << 20;
    return status;
}

}  // namespace vexel
