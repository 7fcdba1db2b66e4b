// Lossless JPEG (ITU T.81 process 14: non-hierarchical, Huffman coded), predictors 1 to 7,
// point transform, precision 2 to 16, up to four components in interleaved or separate
// scans, restart intervals. Output matches the IJG lossless decoder that DCMTK uses.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "huffman_table.h"
#include "jpeg_frame_header.h"
#include "lossless_scan.h"

namespace vexel {

class CLosslessJpegDecoder {
public:
    CLosslessJpegDecoder();
    ~CLosslessJpegDecoder();

    // Decodes a whole stream into `samples`: one plane of rows x columns words per component,
    // planes one after another, each sample with the point transform applied (precision 8
    // or less keeps 8 bits, as an 8-bit IJG build does). `sampleCount` is the room at
    // `samples`; a frame that needs more gives VEXEL_CODEC_OUTPUT_TOO_SMALL before anything
    // is written. Returns a VEXEL_CODEC_* status; Frame() tells what was read.
    int32_t Decode(const uint8_t* data, size_t size, uint16_t* samples, size_t sampleCount);

    const JpegFrameHeader& Frame() const { return m_frame; }

private:
    struct Component {
        uint8_t id = 0;
        bool decoded = false;
    };

    int32_t ReadHuffmanTables(const uint8_t* segment, size_t length);
    int32_t ReadFrame(const uint8_t* segment, size_t length, uint8_t marker);
    int32_t DecodeScan(const uint8_t* data, size_t size, size_t* position, size_t length);
    int32_t ReadScanHeader(const uint8_t* segment, size_t length, LosslessScan* scan,
                           int* pointTransform, int* indices);
    void ApplyPointTransform(uint16_t* plane, int pointTransform) const;

    JpegFrameHeader m_frame;
    std::array<Component, 4> m_components{};
    std::array<std::unique_ptr<CHuffmanTable>, 4> m_tables;
    uint32_t m_restartInterval = 0;
    uint16_t* m_samples = nullptr;
};

}  // namespace vexel
