// Per-process memory of what the user set for a series or an image, kept for the run only:
// blocks of bytes under a text key and a record type. Nothing is written to disc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "viewer/window_state.h"

namespace vexel {

enum class StateRecord : int32_t {
    kMeasurements = 1,    // key: the image's key
    kWindowState = 2,     // key: the series key; a 16-byte WindowState
    kComputedWindow = 3,  // key: the image's key; the full dynamic window of its first frame
};

class CSeriesStateStore {
public:
    CSeriesStateStore() = default;
    CSeriesStateStore(const CSeriesStateStore&) = delete;
    CSeriesStateStore& operator=(const CSeriesStateStore&) = delete;

    // A copy of the stored block, or nothing.
    std::optional<std::vector<uint8_t>> Get(std::string_view key, StateRecord type) const;
    // Replaces the block; a null pointer stores an empty block.
    void Put(std::string_view key, StateRecord type, const uint8_t* bytes, size_t length);
    void Remove(std::string_view key, StateRecord type);
    size_t Size() const;

    // Nothing when absent or when the stored block is not a window state.
    std::optional<WindowState> GetWindowState(std::string_view seriesKey) const;
    void PutWindowState(std::string_view seriesKey, const WindowState& state);
    std::optional<WindowLevel> GetComputedWindow(std::string_view imageKey) const;
    void PutComputedWindow(std::string_view imageKey, const WindowLevel& window);

private:
    static std::string MakeKey(std::string_view key, StateRecord type);

    mutable std::mutex m_mutex;
    std::map<std::string, std::vector<uint8_t>, std::less<>> m_blocks;
};

}  // namespace vexel
