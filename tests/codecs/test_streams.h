// The codec tests' streams: phantom images converted by DCMTK and GDCM, and a small look into
// the files those tools write, by byte patterns (explicit little endian; pixel data last).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/test_paths.h"

namespace vexel::test {

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
