// Photometric Interpretation (0028,0004) as a code.
#pragma once

#include <cstdint>
#include <string_view>

namespace vexel {

enum class PhotometricCode : uint32_t {
    None = 0,  // the element is missing
    Monochrome1 = 1,
    Monochrome2 = 2,
    Rgb = 3,
    YbrRct = 4,
    YbrIct = 5,
    YbrFull = 6,  // also YBR_FULL_422, which begins with it
    YbrPartial422 = 8,
    YbrPartial420 = 9,
    PaletteColor = 10,
    Unsupported = 0xFFFFFFFF,  // present but not one of the above (ARGB, CMYK, empty, ...)
};

// Values are compared as prefixes, so padded values match.
PhotometricCode PhotometricFromText(std::string_view text);
bool IsColourPhotometric(PhotometricCode code);
bool IsYbrPhotometric(PhotometricCode code);
// Samples per Pixel that the interpretation requires (1 or 3); 0 when unknown.
uint32_t SamplesPerPixelOf(PhotometricCode code);

}  // namespace vexel
