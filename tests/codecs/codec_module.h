// The codec tests' support: a built codec module (build/bin/libvexel-<name>.so) loaded the way
// the program does, decoding into a buffer followed by a guard region that must stay
// untouched; phantom images converted by DCMTK and GDCM; and a small look into the files those
// tools write, by byte patterns (explicit little endian; pixel data last).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/test_paths.h"
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
// All fragments of encapsulated pixel data joined: the compressed stream of a single-frame
// image (PS3.5 A.4), the offset table left out.
std::optional<std::vector<uint8_t>> EncapsulatedFrame(const std::vector<uint8_t>& file);

// The value of native (7FE0,0010) OB or OW.
std::optional<std::vector<uint8_t>> NativePixelData(const std::vector<uint8_t>& file);

struct ImageShape {
    uint16_t rows = 0, columns = 0, samplesPerPixel = 1, bitsAllocated = 16, bitsStored = 16,
             planarConfiguration = 0, pixelRepresentation = 0;
};
std::optional<ImageShape> ReadImageShape(const std::vector<uint8_t>& file);

// Phantom images written by tools/phantom, once per run, under the build's test-scratch folder.
enum class PhantomImage {
    kCt,       // 16-bit signed CT slice, 160 columns x 128 rows
    kPet,      // 16-bit unsigned PET slice, 80 x 64
    kRgb,      // 8-bit RGB, 160 x 128
    kLargeCt,  // the CT at 1280 x 960: OpenJPEG decodes a million pixels on several threads
};

// The uncompressed phantom file; empty path when it cannot be written.
std::filesystem::path PhantomSource(PhantomImage image);

// Runs `command` once per run, with {in} replaced by `input` and {out} by the result's
// path, and returns that path; empty, with the tool's output in *log, when it fails.
std::filesystem::path ConvertOnce(const std::string& key, const std::string& command,
                                  const std::filesystem::path& input, std::string* log);

}  // namespace vexel::test
