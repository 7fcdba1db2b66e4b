// The first frame header (SOFn) of a JPEG stream, found by walking the markers the way
// libjpeg does, so that every decoder behind a module sees the same frame.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexel {

struct JpegFrameHeader {
    uint8_t sofMarker = 0;  // second byte of the SOF marker: C0 baseline ... C3 lossless
    uint32_t precision = 0;
    uint32_t rows = 0;
    uint32_t columns = 0;
    uint32_t components = 0;

    bool IsLossless() const { return sofMarker == 0xC3; }
    // Huffman-coded DCT processes (baseline, extended, progressive).
    bool IsHuffmanDct() const { return sofMarker >= 0xC0 && sofMarker <= 0xC2; }
    // Arithmetic-coded DCT processes, which libjpeg also decodes.
    bool IsArithmeticDct() const { return sofMarker == 0xC9 || sofMarker == 0xCA; }
};

// The marker code after *position, skipping stray bytes and fill bytes as libjpeg does;
// 0 when the data ends first. *position ends just after the marker code.
uint8_t NextJpegMarker(const uint8_t* data, size_t size, size_t* position);

// VEXEL_CODEC_OK with the header filled, or VEXEL_CODEC_CORRUPT when the stream does not
// start with SOI or ends before a complete frame header.
int32_t ReadJpegFrameHeader(const uint8_t* data, size_t size, JpegFrameHeader* header);

}  // namespace vexel
