#include "viewer/series_state_store.h"

#include <cstring>

namespace vexel {

std::string CSeriesStateStore::MakeKey(std::string_view key, StateRecord type) {
    // "<key>*<type>": the type never holds '*', so the last '*' separates the two.
    std::string full(key);
    full += '*';
    full += std::to_string(static_cast<int32_t>(type));
    return full;
}

std::optional<std::vector<uint8_t>> CSeriesStateStore::Get(std::string_view key,
                                                           StateRecord type) const {
    const std::string full = MakeKey(key, type);
    std::lock_guard lock(m_mutex);
    const auto found = m_blocks.find(full);
    if (found == m_blocks.end()) return std::nullopt;
    return found->second;
}

void CSeriesStateStore::Put(std::string_view key, StateRecord type, const uint8_t* bytes,
                            size_t length) {
    std::vector<uint8_t> block;
    if (bytes != nullptr) block.assign(bytes, bytes + length);
    std::string full = MakeKey(key, type);
    std::lock_guard lock(m_mutex);
    m_blocks.insert_or_assign(std::move(full), std::move(block));
}

void CSeriesStateStore::Remove(std::string_view key, StateRecord type) {
    const std::string full = MakeKey(key, type);
    std::lock_guard lock(m_mutex);
    const auto found = m_blocks.find(full);
    if (found != m_blocks.end()) m_blocks.erase(found);
}

size_t CSeriesStateStore::Size() const {
    std::lock_guard lock(m_mutex);
    return m_blocks.size();
}

std::optional<WindowState> CSeriesStateStore::GetWindowState(std::string_view seriesKey) const {
    const auto block = Get(seriesKey, StateRecord::kWindowState);
    if (!block) return std::nullopt;
    return DecodeWindowState(block->data(), block->size());
}

void CSeriesStateStore::PutWindowState(std::string_view seriesKey, const WindowState& state) {
    const auto block = EncodeWindowState(state);
    Put(seriesKey, StateRecord::kWindowState, block.data(), block.size());
}

std::optional<WindowLevel> CSeriesStateStore::GetComputedWindow(std::string_view imageKey) const {
    const auto block = Get(imageKey, StateRecord::kComputedWindow);
    if (!block || block->size() != 2 * sizeof(float)) return std::nullopt;
    WindowLevel window;
    std::memcpy(&window.centre, block->data(), sizeof(float));
    std::memcpy(&window.width, block->data() + sizeof(float), sizeof(float));
    return window;
}

void CSeriesStateStore::PutComputedWindow(std::string_view imageKey, const WindowLevel& window) {
    uint8_t block[2 * sizeof(float)];
    std::memcpy(block, &window.centre, sizeof(float));
    std::memcpy(block + sizeof(float), &window.width, sizeof(float));
    Put(imageKey, StateRecord::kComputedWindow, block, sizeof(block));
}

}  // namespace vexel
