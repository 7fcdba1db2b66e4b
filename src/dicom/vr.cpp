#include "dicom/vr.h"

#include <array>

namespace vexel {
namespace {

constexpr std::array<std::string_view, kVrCodeCount> kVrTexts = {
    "  ", "AE", "AS", "AT", "CS", "DA", "DS", "DT", "FL", "FD", "IS", "LO", "LT",
    "OB", "OF", "OW", "PN", "SH", "SL", "SQ", "SS", "ST", "TM", "UI", "UL", "UN",
    "US", "UT", "US\\SS", "US\\SS\\OW", "OB\\OW", "OW\\OB",
    "OD", "OL", "OV", "SV", "UV", "UC", "UR",
};

}  // namespace

std::string_view VrText(VrCode vr) {
    const auto index = static_cast<size_t>(vr);
    return index < kVrTexts.size() ? kVrTexts[index] : kVrTexts[0];
}

VrCode VrFromText(char first, char second) {
    for (size_t i = 1; i < kVrTexts.size(); ++i) {
        const std::string_view text = kVrTexts[i];
        if (text.size() == 2 && text[0] == first && text[1] == second) {
            return static_cast<VrCode>(i);
        }
    }
    return VrCode::Unknown;
}

bool VrHasLongLength(VrCode vr) {
    switch (vr) {
        case VrCode::OB: case VrCode::OW: case VrCode::OF: case VrCode::SQ:
        case VrCode::UT: case VrCode::UN: case VrCode::OD: case VrCode::OL:
        case VrCode::OV: case VrCode::SV: case VrCode::UV: case VrCode::UC:
        case VrCode::UR:
        // Dictionary codes that may stand for OB or OW.
        case VrCode::US_SS_OW: case VrCode::OB_OW: case VrCode::OW_OB:
            return true;
        default:
            return false;
    }
}

int VrNumericUnitSize(VrCode vr) {
    switch (vr) {
        case VrCode::US: case VrCode::SS: case VrCode::AT: case VrCode::OW:
        case VrCode::US_SS: case VrCode::US_SS_OW:
            return 2;
        case VrCode::UL: case VrCode::SL: case VrCode::FL: case VrCode::OF: case VrCode::OL:
            return 4;
        case VrCode::FD: case VrCode::OD: case VrCode::SV: case VrCode::UV: case VrCode::OV:
            return 8;
        default:
            return 0;
    }
}

bool VrIsMultiValuedText(VrCode vr) {
    switch (vr) {
        case VrCode::CS: case VrCode::DS: case VrCode::IS: case VrCode::LO: case VrCode::LT:
        case VrCode::SH: case VrCode::ST: case VrCode::UT: case VrCode::UC:
            return true;
        default:
            return false;
    }
}

bool VrUsesCharacterSet(VrCode vr) {
    switch (vr) {
        case VrCode::SH: case VrCode::LO: case VrCode::ST: case VrCode::LT: case VrCode::PN:
        case VrCode::UT: case VrCode::UC:
            return true;
        default:
            return false;
    }
}

}  // namespace vexel
