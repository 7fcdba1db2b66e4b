#include "platform/checked_alloc.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace vexel {
namespace {

std::atomic<AllocationFailureHandler> g_failureHandler{nullptr};

constexpr size_t kHeader = 8;

uint8_t* HeaderOf(const void* block) {
    return static_cast<uint8_t*>(const_cast<void*>(block)) - kHeader;
}

uint32_t Load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

void Store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

void* LayOut(void* raw, size_t size) {
    auto* header = static_cast<uint8_t*>(raw);
    Store32(header, static_cast<uint32_t>(size));
    Store32(header + 4, kGuardAlive);
    Store32(header + kHeader + size, kGuardAlive);
    return header + kHeader;
}

// Runs the allocation, and after a refusal the failure handler, until one succeeds or the
// handler has nothing more to give.
template <typename Attempt>
void* AllocateWithRetry(Attempt attempt) {
    if (void* raw = attempt()) return raw;
    for (int tries = 0; tries < 3; ++tries) {
        AllocationFailureHandler handler = g_failureHandler.load();
        if (handler == nullptr || !handler()) return nullptr;
        if (void* raw = attempt()) return raw;
    }
    return nullptr;
}

}  // namespace

void SetAllocationFailureHandler(AllocationFailureHandler handler) { g_failureHandler = handler; }

bool CheckedIsIntact(const void* block) {
    if (block == nullptr) return false;
    const uint8_t* header = HeaderOf(block);
    if (Load32(header + 4) != kGuardAlive) return false;
    return Load32(header + kHeader + Load32(header)) == kGuardAlive;
}

size_t CheckedSize(const void* block) {
    return CheckedIsIntact(block) ? Load32(HeaderOf(block)) : 0;
}

void* CheckedAlloc(size_t size) {
    if (size == 0 || size > kMaxCheckedSize) return nullptr;
    void* raw = AllocateWithRetry([size] { return std::malloc(size + kGuardOverhead); });
    return raw ? LayOut(raw, size) : nullptr;
}

void* CheckedCalloc(size_t size) {
    void* block = CheckedAlloc(size);
    if (block) std::memset(block, 0, size);
    return block;
}

void* CheckedRealloc(void* block, size_t size) {
    if (block == nullptr) return CheckedAlloc(size);
    if (size == 0 || size > kMaxCheckedSize || !CheckedIsIntact(block)) return nullptr;
    uint8_t* header = HeaderOf(block);
    // The old tail guard would sit inside a grown payload: clear it so that a stale copy
    // never passes for a guard.
    Store32(header + kHeader + Load32(header), 0);
    void* raw = AllocateWithRetry([header, size] { return std::realloc(header, size + kGuardOverhead); });
    if (raw == nullptr) {
        Store32(header + kHeader + Load32(header), kGuardAlive);
        return nullptr;
    }
    return LayOut(raw, size);
}

void CheckedFree(void* block) {
    if (!CheckedIsIntact(block)) return;
    uint8_t* header = HeaderOf(block);
    Store32(header + kHeader + Load32(header), kGuardFreed);
    Store32(header + 4, kGuardFreed);
    std::free(header);
}

}  // namespace vexel
