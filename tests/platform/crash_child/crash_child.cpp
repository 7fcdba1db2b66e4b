// A program that arms the crash handler and then dies in the way its first argument names:
//   crash_child MODE [CID LANGCODE LANGVER]      crash_child -crash FOLDER MODE
// The report folder is the one under $XDG_CACHE_HOME, as in the viewer. Exit status 5: the
// way cannot be tried in this build.
#include <fcntl.h>
#include <malloc.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <thread>

#include "platform/mini_dumper.h"
#include "platform/private_folder.h"

namespace {

int* volatile g_nowhere = nullptr;
std::mutex g_allocatorLock;
std::atomic<bool> g_faultInNew{false};

// A real fault in sanitizer builds too, where UBSan would stop the store first.
__attribute__((no_sanitize("undefined"))) void WriteThroughNull() {
    *g_nowhere = 1;
}

// A file whose path names a patient, opened, mapped and kept in a string, then a crash.
void CrashHoldingSecret(const char* path) {
    const std::string held = path;
    const int fd = open(held.c_str(), O_RDONLY);
    void* mapped = fd >= 0 ? mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE, fd, 0) : MAP_FAILED;
    if (mapped == MAP_FAILED) std::exit(4);
    WriteThroughNull();
    std::printf("%s %p\n", held.c_str(), mapped);
}

// glibc's malloc_stats prints to stderr while it holds the main arena's lock: with stderr
// unbuffered and a writer that faults, the crash comes with malloc's lock held.
// A second thread makes glibc's fork take malloc's locks too, as it would in the viewer.
void CrashInsideMalloc() {
#if defined(__SANITIZE_ADDRESS__)
    std::exit(5);  // AddressSanitizer's malloc_stats prints its own statistics, unlocked
#endif
    std::thread([] {
        for (;;)
            pause();
    }).detach();
    cookie_io_functions_t functions{};
    functions.write = [](void*, const char*, size_t) -> ssize_t {
        WriteThroughNull();
        return 0;
    };
    FILE* faulting = fopencookie(nullptr, "w", functions);
    if (faulting == nullptr) std::exit(4);
    setvbuf(faulting, nullptr, _IONBF, 0);
    stderr = faulting;
    malloc_stats();
}

void CrashOnTwoThreads() {
    pthread_barrier_t barrier;
    pthread_barrier_init(&barrier, nullptr, 2);
    auto crash = [&barrier] {
        pthread_barrier_wait(&barrier);
        WriteThroughNull();
    };
    std::thread first(crash);
    std::thread second(crash);
    first.join();
    second.join();
}

// Recursion without end (the stop depth is never reached), each frame kept by its buffer.
volatile int g_stopDepth = -1;
int Overflow(int depth) {
    if (depth == g_stopDepth) return 0;
    volatile char frame[1024];
    frame[depth % sizeof frame] = char(depth);
    return Overflow(depth + 1) + frame[0];
}

void Crash(std::string_view mode, int argc, char** argv, int next) {
    if (mode == "segv") WriteThroughNull();
    if (mode == "abort") std::abort();
    if (mode == "fpe") std::raise(SIGFPE);
    if (mode == "bus") std::raise(SIGBUS);
    if (mode == "new-lock") {
        g_faultInNew = true;
        // A call of the function itself, which unlike a new-expression cannot be left out.
        void* volatile block = ::operator new(16);
        ::operator delete(block);
    }
    if (mode == "stack-overflow") std::printf("%d\n", Overflow(0));
    if (mode == "malloc-lock") CrashInsideMalloc();
    if (mode == "two-threads") CrashOnTwoThreads();
    if (mode == "secret" && next < argc) CrashHoldingSecret(argv[next]);
}

}  // namespace

// The allocator's lock is held at the fault: a handler that allocated would never return.
void* operator new(size_t size) {
    std::lock_guard lock(g_allocatorLock);
    if (g_faultInNew) WriteThroughNull();
    void* memory = std::malloc(size == 0 ? 1 : size);
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
}
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, size_t) noexcept {
    std::free(memory);
}

int main(int argc, char** argv) {
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    const char* cacheHome = std::getenv("XDG_CACHE_HOME");
    vexel::CMiniDumper dumper(argc, argv,
                              vexel::CrashReportFolderPath(cacheHome != nullptr ? cacheHome : ""));
    if (argc >= 4 && std::strcmp(argv[1], "-crash") == 0) {
        Crash(argv[3], argc, argv, 4);
        return 3;
    }
    if (argc < 2) return 2;
    if (argc >= 5 && std::string_view(argv[1]) != "secret") {
        dumper.SetUpdateCheckId(argv[2]);
        dumper.SetLanguage(argv[3], argv[4]);
    }
    Crash(argv[1], argc, argv, 2);
    return 3;
}
