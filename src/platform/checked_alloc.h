// Guarded heap blocks for every large buffer of the data and image layers.
//
// Layout of a block: u32 payload size, u32 guard, payload, u32 guard. Both guards hold
// kGuardAlive while the block lives; freeing checks them, overwrites them with kGuardFreed
// and only then returns the memory. A block whose guards are damaged is never freed or
// resized: a heap overrun is contained instead of being spread by free().
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vexel {

inline constexpr uint32_t kGuardAlive = 0xFADEDEADu;
inline constexpr uint32_t kGuardFreed = 0xACADFACEu;
inline constexpr size_t kGuardOverhead = 12;
// The size field is 32 bits wide.
inline constexpr size_t kMaxCheckedSize = 0xFFFFFFFFu - kGuardOverhead;

// Called when the system refuses memory; returns true when it freed something worth a retry.
// The memory manager installs its emergency release here.
using AllocationFailureHandler = bool (*)();
void SetAllocationFailureHandler(AllocationFailureHandler handler);

// Size 0 and sizes above kMaxCheckedSize give null.
void* CheckedAlloc(size_t size);
void* CheckedCalloc(size_t size);
// Null pointer behaves as CheckedAlloc. A damaged block, or size 0, gives null and the
// original block is left as it was.
void* CheckedRealloc(void* block, size_t size);
// Null is ignored; a damaged block is left alone.
void CheckedFree(void* block);

// Payload size of a live block, 0 for null or a damaged block.
size_t CheckedSize(const void* block);
// True when both guards of the block read kGuardAlive.
bool CheckedIsIntact(const void* block);

struct CheckedDeleter {
    void operator()(void* block) const { CheckedFree(block); }
};
template <typename T>
using CheckedPtr = std::unique_ptr<T, CheckedDeleter>;

}  // namespace vexel
