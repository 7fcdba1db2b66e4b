#include "dicom/element_arena.h"

#include "platform/checked_alloc.h"

namespace vexel {

CElementArena::~CElementArena() { Release(); }

void* CElementArena::Allocate(size_t size, uint32_t* handle) {
    if (size == 0 || size > kBlockSize) return nullptr;
    const size_t rounded = (size + kAlignment - 1) & ~(kAlignment - 1);
    if (m_used + rounded > kBlockSize) {
        auto* block = static_cast<uint8_t*>(CheckedAlloc(kBlockSize));
        if (block == nullptr) return nullptr;
        m_blocks.push_back(block);
        m_used = 0;
    }
    uint8_t* place = m_blocks.back() + m_used;
    if (handle != nullptr) {
        const size_t index = m_blocks.size() - 1;
        *handle = index < kNoHandle / kSlotsPerBlock
                      ? static_cast<uint32_t>(index * kSlotsPerBlock + m_used / kAlignment)
                      : kNoHandle;
    }
    m_used += rounded;
    return place;
}

void CElementArena::Release() {
    for (uint8_t* block : m_blocks) CheckedFree(block);
    m_blocks.clear();
    m_blocks.shrink_to_fit();
    m_used = kBlockSize;
}

}  // namespace vexel
