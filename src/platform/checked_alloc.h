// Guarded heap blocks for every large buffer of the data and image layers.
//
// Layout of a block: u64 payload size, u32 spare, u32 guard, payload, u32 guard. Both guards
// hold kGuardAlive while the block lives; freeing checks them, overwrites them with
// kGuardFreed and only then returns the memory. A block whose guards are damaged is never
// freed or resized: a heap overrun is contained instead of being spread by free().
//
// When the system refuses memory, the installed failure handler is asked, attempt after
// attempt, whether to try again; the memory manager frees memory there. Damaged blocks and
// requests larger than the machine's memory fail at once, without bothering the handler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vexel {

inline constexpr uint32_t kGuardAlive = 0xFADEDEADu;
inline constexpr uint32_t kGuardFreed = 0xACADFACEu;
inline constexpr size_t kGuardOverhead = 20;

// Called after a refused allocation with the attempt number (0 for the first refusal);
// returns true to try again. Runs on the allocating thread.
using AllocationFailureHandler = bool (*)(uint32_t attempt);
void SetAllocationFailureHandler(AllocationFailureHandler handler);

// Tests simulate a refusal: when the injector returns true, the attempt fails as if the
// system had no memory. Null (the default) injects nothing.
using AllocationFaultInjector = bool (*)(size_t size);
void SetAllocationFaultInjector(AllocationFaultInjector injector);

// Requests above this fail at once: the physical memory of the machine.
size_t MaxCheckedSize();

// Size 0 and sizes above MaxCheckedSize() give null.
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

// Runs attempt() until it succeeds or the failure handler gives up; used for allocations
// and thread creation alike.
template <typename Attempt>
auto RetryAfterFailure(Attempt attempt) -> decltype(attempt());

struct CheckedDeleter {
    void operator()(void* block) const { CheckedFree(block); }
};
template <typename T>
using CheckedPtr = std::unique_ptr<T, CheckedDeleter>;

// Implementation detail of RetryAfterFailure.
bool AskFailureHandler(uint32_t attempt);

template <typename Attempt>
auto RetryAfterFailure(Attempt attempt) -> decltype(attempt()) {
    for (uint32_t tries = 0;; ++tries) {
        if (auto result = attempt()) return result;
        if (!AskFailureHandler(tries)) return {};
    }
}

}  // namespace vexel
