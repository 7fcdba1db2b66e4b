// Transfer syntax and modality codes taken from the file.
#pragma once

#include <cstdint>
#include <string_view>

namespace vexel {

enum class TransferSyntaxCode : uint32_t {
    Unknown = 0,
    ImplicitLittleEndian = 1,
    ExplicitLittleEndian = 2,
    DeflatedExplicitLittleEndian = 3,
    ExplicitBigEndian = 4,
    JpegBaseline = 5,
    JpegExtended = 6,
    JpegLossless = 7,
    JpegLosslessSV1 = 8,
    JpegLsLossless = 9,
    JpegLsNearLossless = 10,
    Jpeg2000Lossless = 11,
    Jpeg2000 = 12,
    Mpeg2 = 13,
    RleLossless = 14,
    // High-Throughput JPEG 2000 (ISO/IEC 15444-15), decoded by the JPEG 2000 module.
    HtJpeg2000Lossless = 15,
    HtJpeg2000LosslessRpcl = 16,
    HtJpeg2000 = 17,
};

// JPEG 2000 code streams of either block coder: Part 1 (11, 12) and High-Throughput (15-17).
constexpr bool IsJpeg2000Syntax(TransferSyntaxCode code) {
    switch (code) {
        case TransferSyntaxCode::Jpeg2000Lossless:
        case TransferSyntaxCode::Jpeg2000:
        case TransferSyntaxCode::HtJpeg2000Lossless:
        case TransferSyntaxCode::HtJpeg2000LosslessRpcl:
        case TransferSyntaxCode::HtJpeg2000:
            return true;
        default:
            return false;
    }
}

enum class ModalityCode : uint32_t {
    Other = 0, CR = 1, CT = 2, MR = 3, US = 5, PT = 13, XA = 17, DX = 25,
};

// From the Transfer Syntax UID as stored (trailing blanks and NUL padding ignored).
TransferSyntaxCode TransferSyntaxFromUid(std::string_view uid);
// From the Modality value as stored (trailing blanks ignored).
ModalityCode ModalityFromText(std::string_view text);

}  // namespace vexel
