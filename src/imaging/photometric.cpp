#include "imaging/photometric.h"

#include <array>
#include <utility>

namespace vexel {

PhotometricCode PhotometricFromText(std::string_view text) {
    static constexpr std::array<std::pair<std::string_view, PhotometricCode>, 9> kCodes = {{
        {"MONOCHROME2", PhotometricCode::Monochrome2},
        {"MONOCHROME1", PhotometricCode::Monochrome1},
        {"RGB", PhotometricCode::Rgb},
        {"YBR_RCT", PhotometricCode::YbrRct},
        {"YBR_ICT", PhotometricCode::YbrIct},
        {"YBR_FULL", PhotometricCode::YbrFull},
        {"YBR_PARTIAL_422", PhotometricCode::YbrPartial422},
        {"YBR_PARTIAL_420", PhotometricCode::YbrPartial420},
        {"PALETTE COLOR", PhotometricCode::PaletteColor},
    }};
    for (const auto& [name, code] : kCodes) {
        if (text.substr(0, name.size()) == name) return code;
    }
    return PhotometricCode::Unsupported;
}

bool IsColourPhotometric(PhotometricCode code) {
    switch (code) {
        case PhotometricCode::Rgb: case PhotometricCode::YbrRct: case PhotometricCode::YbrIct:
        case PhotometricCode::YbrFull: case PhotometricCode::YbrPartial422:
        case PhotometricCode::YbrPartial420: case PhotometricCode::PaletteColor:
            return true;
        default:
            return false;
    }
}

bool IsYbrPhotometric(PhotometricCode code) {
    switch (code) {
        case PhotometricCode::YbrRct: case PhotometricCode::YbrIct: case PhotometricCode::YbrFull:
        case PhotometricCode::YbrPartial422: case PhotometricCode::YbrPartial420:
            return true;
        default:
            return false;
    }
}

uint32_t SamplesPerPixelOf(PhotometricCode code) {
    switch (code) {
        case PhotometricCode::Monochrome1: case PhotometricCode::Monochrome2:
        case PhotometricCode::PaletteColor:
            return 1;
        case PhotometricCode::None: case PhotometricCode::Unsupported:
            return 0;
        default:
            return 3;
    }
}

}  // namespace vexel
