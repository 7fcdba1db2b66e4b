// Stored samples to the 16-bit greyscale buffer: unpacking of 1, 8, 12 (packed), 16 and
// 32-bit data, and the masking to Bits Stored with sign extension that every decode ends with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "imaging/pixel_format.h"

namespace vexel {

// Bytes of stored data for this many samples (1-bit and packed 12-bit rounded up).
uint64_t StoredBytesFor(uint64_t samples, uint16_t bitsAllocated);

// PS3.5 8.1.1: keeps bits [highBit - bitsStored + 1, highBit], moves them down and
// sign-extends them for signed images. Words hold 16-bit two's complement afterwards.
void NormaliseWords(std::span<uint16_t> words, const PixelFormat& format);

// Native greyscale bytes to words. 1-bit data starts at bitOffset of the first byte.
// 32-bit samples are shifted right by wideShift and clamped into 16 bits.
bool UnpackGreyscale(std::span<const uint8_t> source, uint8_t bitOffset,
                     const PixelFormat& format, bool bigEndian, int wideShift,
                     std::span<uint16_t> out);

// The smallest right shift that brings every 32-bit sample into 16 bits.
int WideSampleShift(std::span<const uint8_t> source, bool isSigned, bool bigEndian);

}  // namespace vexel
