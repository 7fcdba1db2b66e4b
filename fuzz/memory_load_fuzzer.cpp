// The memory counters' parsers on arbitrary text: /proc/meminfo, /proc/self/cgroup and the
// cgroup limit files.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/memory_load.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto status = vexel::ParseMemInfo(text);
    const size_t half = size / 2;
    vexel::ApplyCgroupLimit(status.value_or(vexel::MemoryStatus{}), text.substr(0, half),
                            text.substr(half));
    vexel::CgroupFolderOf(text);
    return 0;
}
