#include "imaging/jpeg_engine.h"

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>

#include "platform/checked_alloc.h"
#include "platform/module_folders.h"

namespace vexel {
namespace {

std::atomic<CJPEGEngine*> g_engine{nullptr};

const char* FileNameOf(CJPEGEngine::Module module) {
    switch (module) {
        case CJPEGEngine::Module::Jpeg1: return "libvexel-jpeg1.so";
        case CJPEGEngine::Module::Jpeg3: return "libvexel-jpeg3.so";
        case CJPEGEngine::Module::Jpeg2: return "libvexel-jpeg2.so";
        case CJPEGEngine::Module::Jpeg2000: return "libvexel-jpeg2000.so";
        case CJPEGEngine::Module::Jpeg4: return "libvexel-jpeg4.so";
    }
    return "";
}

const VexelMemoryFunctions kGuardedAllocator = {CheckedAlloc, CheckedCalloc, CheckedRealloc,
                                                CheckedFree};

uint16_t Marker(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

}  // namespace

CJPEGEngine::CJPEGEngine(std::filesystem::path moduleDir)
    : m_moduleDir(moduleDir.empty() ? ModuleFolderFor(FileNameOf(Module::Jpeg1)) : std::move(moduleDir)) {
    CJPEGEngine* expected = nullptr;
    g_engine.compare_exchange_strong(expected, this);
}

CJPEGEngine::~CJPEGEngine() {
    CJPEGEngine* self = this;
    g_engine.compare_exchange_strong(self, nullptr);
    for (Loaded& slot : m_modules) {
        if (slot.handle) dlclose(slot.handle);
    }
}

CJPEGEngine* CJPEGEngine::Instance() { return g_engine.load(); }

bool CJPEGEngine::Load(Module module, Loaded& slot) {
    std::lock_guard lock(m_loadLock);
    if (slot.ready.load(std::memory_order_relaxed)) return true;
    if (slot.tried) return false;  // a module without its entry points is not retried
    slot.tried = true;
    // A bare or relative name would be looked up along the search path or in the working folder.
    if (!IsUsableModuleFolder(m_moduleDir)) return false;
    const std::string path = (m_moduleDir / FileNameOf(module)).string();
    slot.handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (slot.handle == nullptr) return false;
    auto decodeEx = reinterpret_cast<decltype(&DecompressJPEGEx)>(dlsym(slot.handle, "DecompressJPEGEx"));
    auto original = dlsym(slot.handle, "DecompressJPEG");
    if (decodeEx == nullptr || original == nullptr) return false;
    if (module == Module::Jpeg1) {
        slot.readSize = reinterpret_cast<decltype(&ReadJPEGsize)>(dlsym(slot.handle, "ReadJPEGsize"));
        slot.compress = reinterpret_cast<decltype(&CompressJPEG)>(dlsym(slot.handle, "CompressJPEG"));
        if (slot.readSize == nullptr || slot.compress == nullptr) return false;
    }
    if (module == Module::Jpeg2000) {
        auto initMem = reinterpret_cast<decltype(&InitMem)>(dlsym(slot.handle, "InitMem"));
        if (initMem == nullptr) return false;
        initMem(&kGuardedAllocator);
    }
    slot.decodeEx = decodeEx;
    slot.ready.store(true, std::memory_order_release);
    return true;
}

bool CJPEGEngine::Ensure(Module module) {
    Loaded& slot = m_modules[static_cast<size_t>(module)];
    if (slot.ready.load(std::memory_order_acquire)) return true;
    return Load(module, slot);
}

int32_t CJPEGEngine::Decode(Module module, VexelDecodeRequest& request) {
    if (!Ensure(module)) return kNotLoaded;
    return m_modules[static_cast<size_t>(module)].decodeEx(&request);
}

bool CJPEGEngine::CompressJpeg(const uint8_t* rgb, int32_t width, int32_t height,
                               int32_t quality, const std::string& path) {
    if (!Ensure(Module::Jpeg1)) return false;
    return m_modules[0].compress(rgb, width, height, quality, path.c_str()) == VEXEL_CODEC_OK;
}

bool CJPEGEngine::ReadJpegSize(const uint8_t* data, uint32_t size, int32_t& width,
                               int32_t& height) {
    if (!Ensure(Module::Jpeg1)) return false;
    return m_modules[0].readSize(data, size, &width, &height) == VEXEL_CODEC_OK;
}

int CJPEGEngine::SamplePrecision(const uint8_t* data, size_t size) {
    if (data == nullptr || size < 5) return 0;
    size_t position = 0;
    while (position + 4 < size) {
        const uint16_t code = Marker(data + position);
        switch (code) {
            case 0xFFC0: case 0xFFC1: case 0xFFC2: case 0xFFC3: case 0xFFC5: case 0xFFC6:
            case 0xFFC7: case 0xFFC9: case 0xFFCA: case 0xFFCB: case 0xFFCD: case 0xFFCE:
            case 0xFFCF:
                return data[position + 4];
            default:
                break;
        }
        if (code == 0xFFC4 || code == 0xFFC8 || code == 0xFFCC || (code >= 0xFFDA && code <= 0xFFFE)) {
            position += 2 + Marker(data + position + 2);
        } else if ((code >= 0xFFD0 && code <= 0xFFD9) || code == 0xFF01) {
            position += 2;
        } else if ((code >> 8) != 0xFF || (code & 0xFF) < 0x03 || (code & 0xFF) > 0xBF) {
            return 0;
        } else {
            position += 2;
        }
    }
    return 0;
}

bool CJPEGEngine::ModuleForPrecision(int precision, Module& module) {
    if (precision >= 1 && precision <= 8) {
        module = Module::Jpeg1;
    } else if (precision >= 9 && precision <= 12) {
        module = Module::Jpeg3;
    } else if (precision >= 13 && precision <= 16) {
        module = Module::Jpeg2;
    } else {
        return false;
    }
    return true;
}

}  // namespace vexel
