// How the stored samples of an image are laid out, and the failures of decoding them.
#pragma once

#include <cstdint>

#include "imaging/photometric.h"

namespace vexel {

struct PixelFormat {
    uint16_t bitsAllocated = 0;
    uint16_t bitsStored = 0;
    uint16_t highBit = 0;
    uint16_t samplesPerPixel = 1;
    bool isSigned = false;
    uint8_t planar = 0;  // Planar Configuration of native colour data
    PhotometricCode photometric = PhotometricCode::None;
};

enum class DecodeStatus {
    Ok,
    NoPixelData,
    ReadFailed,         // the pixel bytes could not be read from the file
    OutOfMemory,
    Unsupported,        // a layout or syntax the program does not decode
    Corrupt,            // the compressed stream is damaged
    SizeMismatch,       // the stream's size differs from the image attributes
    CodecMissing,       // the codec module could not be loaded
};

const char* DecodeStatusText(DecodeStatus status);

}  // namespace vexel
