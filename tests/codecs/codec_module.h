// Loads a built codec module (build/bin/libvexel-<name>.so) the way the program does, and
// decodes with it into a buffer followed by a guard region that must stay untouched.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vexel_codec.h"

namespace vexel::test {

struct DecodeResult {
    int32_t status = 0;
    std::vector<uint8_t> output;  // capacity bytes
    bool guardIntact = true;      // nothing written past capacity
    VexelDecodeRequest request{};
};

class CCodecModule {
public:
    // Null when the module is missing; `error` says why.
    static std::unique_ptr<CCodecModule> Load(const std::string& name, std::string* error);
    ~CCodecModule();

    static constexpr uint64_t kFrameCapacity = ~uint64_t{0};
    // rows/columns/components 0 = unknown. capacity: bytes of output available; by default
    // those of the expected frame.
    DecodeResult Decode(const std::vector<uint8_t>& data, uint32_t rows, uint32_t columns,
                        uint32_t components, uint32_t colour,
                        uint64_t capacity = kFrameCapacity) const;

    void* Symbol(const char* name) const;

private:
    explicit CCodecModule(void* handle) : m_handle(handle) {}
    void* m_handle;
    int32_t (*m_decodeEx)(VexelDecodeRequest*) = nullptr;
};

}  // namespace vexel::test
