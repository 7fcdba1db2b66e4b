// Value representation codes. Codes 0 to 31 are fixed (the dictionary table and every switch
// over them use the numbers); the VRs added to the standard later take codes from 32 upward.
#pragma once

#include <cstdint>
#include <string_view>

namespace vexel {

enum class VrCode : uint8_t {
    Unknown = 0,
    AE, AS, AT, CS, DA, DS, DT, FL, FD, IS, LO, LT, OB, OF, OW,
    PN, SH, SL, SQ, SS, ST, TM, UI, UL, UN, US, UT,
    US_SS = 28,     // "US\SS": from the dictionary only (implicit VR files)
    US_SS_OW = 29,  // "US\SS\OW"
    OB_OW = 30,     // "OB\OW"
    OW_OB = 31,     // "OW\OB"
    OD = 32, OL, OV, SV, UV, UC, UR,
};

inline constexpr int kVrCodeCount = 39;

// The VR's text: "  " for Unknown, "US\SS" and the like for the dictionary's multi-VR codes.
std::string_view VrText(VrCode vr);

// The code for a two-character VR read from an explicit VR file; Unknown when it is not one
// of the standard's VRs (multi-VR codes are never matched).
VrCode VrFromText(char first, char second);

// True when an explicit VR element of this VR has 2 reserved bytes and a 32-bit length.
bool VrHasLongLength(VrCode vr);

// Unit size in bytes of the binary numeric VRs (2 for US/SS/AT/OW, 4 for UL/SL/FL/OF/OL,
// 8 for FD/OD/SV/UV/OV), 0 for everything else. Multi-VR codes read as unsigned 16-bit.
int VrNumericUnitSize(VrCode vr);

// VRs whose value is a backslash-separated list of text values.
bool VrIsMultiValuedText(VrCode vr);

// VRs whose bytes are text in the file's character set (names, descriptions, free text).
bool VrUsesCharacterSet(VrCode vr);

}  // namespace vexel
