#include "phantom/phantom_writer.h"

#include <cstdint>

namespace vexel::phantom {

VolumeGeometry CtGeometry(const PhantomOptions& options) {
    return {options.columns, options.rows, options.slices, options.pixelSpacingMm,
            options.sliceSpacingMm, options.rowSpacingMm};
}

VolumeGeometry PetGeometry(const PhantomOptions& options) {
    return {(options.columns + 1) / 2, (options.rows + 1) / 2, (options.slices + 1) / 2,
            options.pixelSpacingMm * 2, options.sliceSpacingMm * 2, options.rowSpacingMm * 2};
}

CAnalyticPhantom MakePhantom(const PhantomOptions& options) {
    return CAnalyticPhantom::ForGeometry(CtGeometry(options));
}

bool ValidateOptions(const PhantomOptions& options, std::string* error) {
    auto fail = [error](const std::string& message) {
        if (error) *error = message;
        return false;
    };
    if (options.columns < 2 || options.rows < 2 || options.columns > 8192 || options.rows > 8192)
        return fail("columns and rows must be between 2 and 8192");
    if (options.slices < 1 || options.slices > 9999) return fail("slices must be 1 to 9999");
    if (options.frames < 1 || options.frames > 9999) return fail("frames must be 1 to 9999");
    const uint64_t frameBytes = uint64_t(options.columns) * uint64_t(options.rows) * 3;
    if (frameBytes * uint64_t(options.frames) >= 0xFFFFFFF0ull)
        return fail("multi-frame pixel data would not fit a 32-bit length");
    if (!(options.pixelSpacingMm > 0 && options.pixelSpacingMm < 100) ||
        !(options.rowSpacingMm >= 0 && options.rowSpacingMm < 100) ||
        !(options.sliceSpacingMm > 0 && options.sliceSpacingMm < 100))
        return fail("spacings must be between 0 and 100 mm");
    const PetDose& pet = options.pet;
    if (!(pet.injectedDoseBq > 0) || !(pet.halfLifeSeconds > 0) || !(pet.weightKg > 0) ||
        !(pet.heightM > 0) || pet.injectionToSeriesSeconds < 0 ||
        pet.injectionToSeriesSeconds >= 10 * 3600)
        return fail("PET dose, half life, weight and height must be positive, uptake under 10 h");
    // Longest UID we make: <root>.4.<series>.<instance up to 9999>.
    if (options.uidRoot.empty() || options.uidRoot.size() + 9 > 64)
        return fail("UID root must be 1 to 55 characters");
    for (char c : options.uidRoot)
        if (!(c == '.' || (c >= '0' && c <= '9'))) return fail("UID root must be digits and dots");
    return true;
}

bool WriteStudy(const std::filesystem::path& outDir, const StudyParts& parts,
                const PhantomOptions& options, std::string* error) {
    if (!ValidateOptions(options, error)) return false;
    if (parts.ct && !WriteCtSeries(outDir / "CT", options, error)) return false;
    if (parts.pet && !WritePetSeries(outDir / "PT", options, error)) return false;
    if (parts.multiFrame && !WriteMultiFrameCt(outDir / "MF", options, error)) return false;
    if (parts.rgb && !WriteRgbImage(outDir / "RGB", options, error)) return false;
    if (parts.markers && !WriteMarkerImage(outDir / "MK", options, error)) return false;
    return true;
}

}  // namespace vexel::phantom
