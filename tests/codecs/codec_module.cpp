#include "codec_module.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>

#include "common/test_paths.h"

namespace vexel::test {
namespace {

constexpr size_t kGuardBytes = 4096;
constexpr uint8_t kGuard = 0xA5;

}  // namespace

std::unique_ptr<CCodecModule> CCodecModule::Load(const std::string& name, std::string* error) {
    const auto path = BinaryDir() / "bin" / ("libvexel-" + name + ".so");
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        *error = dlerror();
        return nullptr;
    }
    std::unique_ptr<CCodecModule> module(new CCodecModule(handle));
    module->m_decodeEx =
        reinterpret_cast<int32_t (*)(VexelDecodeRequest*)>(dlsym(handle, "DecompressJPEGEx"));
    if (module->m_decodeEx == nullptr) {
        *error = path.string() + " lacks DecompressJPEGEx";
        return nullptr;
    }
    return module;
}

CCodecModule::~CCodecModule() {
    dlclose(m_handle);
}

void* CCodecModule::Symbol(const char* name) const {
    return dlsym(m_handle, name);
}

DecodeResult CCodecModule::Decode(const std::vector<uint8_t>& data, uint32_t rows, uint32_t columns,
                                  uint32_t components, uint32_t colour, uint64_t capacity) const {
    if (capacity == kFrameCapacity) capacity = uint64_t{rows} * columns * (components == 3 ? 3 : 2);
    DecodeResult result;
    std::vector<uint8_t> buffer(capacity + kGuardBytes, kGuard);
    std::memset(buffer.data(), 0, capacity);
    result.request = {.structSize = sizeof(VexelDecodeRequest), .data = data.data(),
                      .size = data.size(), .output = buffer.data(), .capacity = capacity,
                      .rows = rows, .columns = columns, .components = components, .colour = colour,
                      .streamRows = 0, .streamColumns = 0, .streamComponents = 0,
                      .streamPrecision = 0, .streamSigned = 0};
    result.status = m_decodeEx(&result.request);
    result.guardIntact = std::all_of(buffer.begin() + long(capacity), buffer.end(),
                                     [](uint8_t b) { return b == kGuard; });
    buffer.resize(capacity);
    result.output = std::move(buffer);
    return result;
}

}  // namespace vexel::test
