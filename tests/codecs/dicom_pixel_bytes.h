// A deliberately small, independent look into explicit little endian DICOM files written by
// DCMTK and GDCM: enough to take a compressed frame out, or a decoded frame, and the image's
// few header numbers. It searches byte patterns instead of parsing, so it only serves files
// whose pixel data is the last (7FE0,0010) and carries no icon before the image attributes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "common/test_paths.h"

namespace vexel::test {

// All fragments of encapsulated pixel data joined: the compressed stream of a single-frame
// image (PS3.5 A.4), the offset table left out.
std::optional<std::vector<uint8_t>> EncapsulatedFrame(const std::vector<uint8_t>& file);

// The value of native (7FE0,0010) OB or OW.
std::optional<std::vector<uint8_t>> NativePixelData(const std::vector<uint8_t>& file);

struct ImageShape {
    uint16_t rows = 0;
    uint16_t columns = 0;
    uint16_t samplesPerPixel = 1;
    uint16_t bitsAllocated = 16;
    uint16_t bitsStored = 16;
    uint16_t planarConfiguration = 0;
    uint16_t pixelRepresentation = 0;
};
std::optional<ImageShape> ReadImageShape(const std::vector<uint8_t>& file);

}  // namespace vexel::test
