// Memory for the many small records of one file (elements, value records): guarded blocks
// of kBlockSize bytes handed out in order and given back all at once, since a file's tree is
// only ever released whole. One block holds 32 elements, where each element used to be a
// guarded block of its own (a 128-byte malloc chunk for a 96-byte element).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vexel {

class CElementArena {
public:
    static constexpr size_t kBlockSize = 2048;
    static constexpr size_t kAlignment = 16;
    // Handles name a 16-byte slot: block number times kSlotsPerBlock plus the slot.
    static constexpr uint32_t kSlotsPerBlock = kBlockSize / kAlignment;
    static constexpr uint32_t kNoHandle = 0xFFFFFFFFu;

    CElementArena() = default;
    ~CElementArena();
    CElementArena(const CElementArena&) = delete;
    CElementArena& operator=(const CElementArena&) = delete;

    // size bytes (1 to kBlockSize), 16-byte aligned, uninitialised; null when memory is
    // refused. handle, when given, receives a 32-bit name of the place that At turns back
    // into the pointer (kNoHandle if the arena ever grows past 2^25 blocks).
    void* Allocate(size_t size, uint32_t* handle = nullptr);
    void* At(uint32_t handle) const {
        return m_blocks[handle / kSlotsPerBlock] + (handle % kSlotsPerBlock) * kAlignment;
    }
    // Gives every block back; earlier pointers and handles are void.
    void Release();
    size_t BlockCount() const { return m_blocks.size(); }

private:
    std::vector<uint8_t*> m_blocks;
    size_t m_used = kBlockSize;  // bytes taken in the last block
};

}  // namespace vexel
