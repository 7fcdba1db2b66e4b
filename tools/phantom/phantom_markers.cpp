// A marker image for geometry checks: single bright pixels on a black ground at positions
// MarkerPositions names, so that where each lands on screen shows the whole mapping from image
// to screen at once.
#include "phantom/phantom_common.h"

namespace vexel::phantom {

using namespace detail;

namespace {

constexpr const char* kSecondaryCaptureStorage = "1.2.840.10008.5.1.4.1.1.7";

}  // namespace

std::vector<MarkerPosition> MarkerPositions(const PhantomOptions& options) {
    // Columns and rows both odd and unequal steps, so rotations and mirrors cannot map the
    // grid onto itself.
    std::vector<MarkerPosition> markers;
    for (int row = 4; row < options.rows; row += 9)
        for (int column = 3; column < options.columns; column += 7)
            markers.push_back({column, row});
    return markers;
}

bool WriteMarkerImage(const std::filesystem::path& seriesDir, const PhantomOptions& options,
                      std::string* error) {
    if (!ValidateOptions(options, error)) return false;
    const size_t columns = size_t(options.columns);
    std::vector<uint8_t> pixels(columns * size_t(options.rows) * 2, 0);
    for (const MarkerPosition& m : MarkerPositions(options)) {
        const size_t at = (size_t(m.row) * columns + size_t(m.column)) * 2;
        pixels[at] = uint8_t(kMarkerValue & 0xFF);
        pixels[at + 1] = uint8_t(kMarkerValue >> 8);
    }

    CElementSet set;
    AddPatientAndStudy(set, options);
    const SeriesInfo series{kMarkerSeriesNumber, "OT", kSecondaryCaptureStorage, "Phantom markers",
                            "095000"};
    AddSeriesAndInstance(set, options, series, 1);
    set.SetString(0x00080008, "CS", "DERIVED\\SECONDARY");
    set.SetString(0x00080064, "CS", "WSD");
    set.SetUS(0x00280002, 1);
    set.SetString(0x00280004, "CS", "MONOCHROME2");
    set.SetUS(0x00280010, static_cast<uint16_t>(options.rows));
    set.SetUS(0x00280011, static_cast<uint16_t>(options.columns));
    const VolumeGeometry geometry = CtGeometry(options);
    set.SetString(0x00280030, "DS", FormatDs({geometry.RowSpacing(), geometry.pixelSpacingMm}));
    set.SetUS(0x00280100, 16);
    set.SetUS(0x00280101, 16);
    set.SetUS(0x00280102, 15);
    set.SetUS(0x00280103, 0);
    set.SetString(0x00281050, "DS", FormatDs(kMarkerValue / 2.0));
    set.SetString(0x00281051, "DS", FormatDs(double(kMarkerValue)));
    set.SetBytes(0x7FE00010, "OW", std::move(pixels));

    CSeriesStage stage(seriesDir);
    if (!stage.Begin(error)) return false;
    if (!WriteInstance(stage.FilePath("MK", 1), set, options, error)) return false;
    return stage.Commit(error);
}

}  // namespace vexel::phantom
