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
};

enum class ModalityCode : uint32_t {
    Other = 0, CR = 1, CT = 2, MR = 3, US = 5, PT = 13, XA = 17, DX = 25,
};

// From the Transfer Syntax UID as stored (trailing blanks and NUL padding ignored).
TransferSyntaxCode TransferSyntaxFromUid(std::string_view uid);
// From the Modality value as stored (trailing blanks ignored).
ModalityCode ModalityFromText(std::string_view text);

}  // namespace vexel
