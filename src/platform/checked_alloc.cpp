#include "platform/checked_alloc.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace vexel {
namespace {

std::atomic<AllocationFailureHandler> g_failureHandler{nullptr};
std::atomic<AllocationFaultInjector> g_faultInjector{nullptr};

constexpr size_t kHeader = 16;

uint8_t* HeaderOf(const void* block) {
    return static_cast<uint8_t*>(const_cast<void*>(block)) - kHeader;
}

template <typename T>
T Load(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename T>
void Store(uint8_t* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

uint64_t SizeOf(const uint8_t* header) {
    return Load<uint64_t>(header);
}

void* LayOut(void* raw, size_t size) {
    auto* header = static_cast<uint8_t*>(raw);
    Store<uint64_t>(header, size);
    Store<uint32_t>(header + 8, 0);
    Store<uint32_t>(header + 12, kGuardAlive);
    Store<uint32_t>(header + kHeader + size, kGuardAlive);
    return header + kHeader;
}

bool Injected(size_t size) {
    const AllocationFaultInjector injector = g_faultInjector.load();
    return injector != nullptr && injector(size);
}

void* TryMalloc(size_t size) {
    return Injected(size) ? nullptr : std::malloc(size + kGuardOverhead);
}

}  // namespace

void SetAllocationFailureHandler(AllocationFailureHandler handler) {
    g_failureHandler = handler;
}
void SetAllocationFaultInjector(AllocationFaultInjector injector) {
    g_faultInjector = injector;
}

bool AskFailureHandler(uint32_t attempt) {
    const AllocationFailureHandler handler = g_failureHandler.load();
    return handler != nullptr && handler(attempt);
}

size_t MaxCheckedSize() {
    static const size_t limit = [] {
        const long pages = sysconf(_SC_PHYS_PAGES);
        const long pageSize = sysconf(_SC_PAGESIZE);
        if (pages <= 0 || pageSize <= 0) return size_t{1} << 40;
        return static_cast<size_t>(pages) * static_cast<size_t>(pageSize);
    }();
    return limit;
}

bool CheckedIsIntact(const void* block) {
    if (block == nullptr) return false;
    const uint8_t* header = HeaderOf(block);
    if (Load<uint32_t>(header + 12) != kGuardAlive) return false;
    const uint64_t size = SizeOf(header);
    if (size == 0 || size > MaxCheckedSize()) return false;
    return Load<uint32_t>(header + kHeader + size) == kGuardAlive;
}

size_t CheckedSize(const void* block) {
    return CheckedIsIntact(block) ? SizeOf(HeaderOf(block)) : 0;
}

void* CheckedAlloc(size_t size) {
    if (size == 0 || size > MaxCheckedSize()) return nullptr;
    void* raw = RetryAfterFailure([size] { return TryMalloc(size); });
    return raw ? LayOut(raw, size) : nullptr;
}

void* CheckedCalloc(size_t size) {
    void* block = CheckedAlloc(size);
    if (block) std::memset(block, 0, size);
    return block;
}

void* CheckedRealloc(void* block, size_t size) {
    if (block == nullptr) return CheckedAlloc(size);
    if (size == 0 || size > MaxCheckedSize() || !CheckedIsIntact(block)) return nullptr;
    uint8_t* header = HeaderOf(block);
    // The old tail guard would sit inside a grown payload: clear it so that a stale copy
    // never passes for a guard.
    uint8_t* oldTail = header + kHeader + SizeOf(header);
    Store<uint32_t>(oldTail, 0);
    void* raw = RetryAfterFailure([header, size]() -> void* {
        return Injected(size) ? nullptr : std::realloc(header, size + kGuardOverhead);
    });
    if (raw == nullptr) {
        Store<uint32_t>(oldTail, kGuardAlive);
        return nullptr;
    }
    return LayOut(raw, size);
}

void CheckedFree(void* block) {
    if (!CheckedIsIntact(block)) return;
    uint8_t* header = HeaderOf(block);
    Store<uint32_t>(header + kHeader + SizeOf(header), kGuardFreed);
    Store<uint32_t>(header + 12, kGuardFreed);
    std::free(header);
}

}  // namespace vexel
