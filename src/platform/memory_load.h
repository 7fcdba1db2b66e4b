// How full the machine's memory is. The memory manager polls this to decide when to give
// memory back; tests and benchmarks put a simulated source in its place.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vexel {

struct MemoryStatus {
    uint32_t loadPercent = 0;  // 0 to 100
    uint64_t totalBytes = 0;   // physical memory, or the control group's limit when tighter
    uint64_t availableBytes = 0;
    uint64_t processResidentBytes = 0;  // 0 when unknown
};

class IMemoryLoadSource {
public:
    virtual ~IMemoryLoadSource() = default;
    // Empty when the counters cannot be read.
    virtual std::optional<MemoryStatus> Read() const = 0;
};

// /proc/meminfo (MemTotal, MemAvailable), tightened by the cgroup v2 limit of this process
// (memory.max, memory.current) and completed with the resident size from /proc/self/statm.
class CSystemMemoryLoad final : public IMemoryLoadSource {
public:
    CSystemMemoryLoad();
    std::optional<MemoryStatus> Read() const override;

private:
    std::string m_cgroupFolder;  // empty without a cgroup v2 limit
};

// A load that tests set by hand; the byte counts follow the percentage.
class CSimulatedMemoryLoad final : public IMemoryLoadSource {
public:
    explicit CSimulatedMemoryLoad(uint32_t percent = 0, uint64_t totalBytes = 16ull << 30)
        : m_percent(percent), m_totalBytes(totalBytes) {}
    void Set(uint32_t percent) { m_percent = percent > 100 ? 100 : percent; }
    uint32_t Percent() const { return m_percent; }
    std::optional<MemoryStatus> Read() const override;

private:
    std::atomic<uint32_t> m_percent;
    uint64_t m_totalBytes;
};

// Parsers, public for tests. Load = 100 x (1 - available / total), rounded down.
std::optional<MemoryStatus> ParseMemInfo(std::string_view text);
// The tighter of the machine and a cgroup limit; "max" (no limit) leaves status alone.
MemoryStatus ApplyCgroupLimit(MemoryStatus status, std::string_view memoryMax,
                              std::string_view memoryCurrent);
// The cgroup v2 folder of this process from the text of /proc/self/cgroup ("0::/path").
std::string CgroupFolderOf(std::string_view procSelfCgroup);

}  // namespace vexel
