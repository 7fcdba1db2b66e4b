// An 8-bit RGB secondary capture whose three channels differ, so a swapped channel order or
// a planar/interleaved mix-up shows at once.
#include <algorithm>
#include <cmath>

#include "phantom/phantom_common.h"

namespace vexel::phantom {

using namespace detail;

namespace {

constexpr const char* kSecondaryCaptureStorage = "1.2.840.10008.5.1.4.1.1.7";

uint8_t Ramp(int index, int count) {
    return static_cast<uint8_t>(255 * int64_t(index) / std::max(1, count - 1));
}

uint8_t WindowedGray(double hu) {
    // Window centre 40, width 400: [-160, 240] maps onto [0, 255].
    const double level = std::round((hu + 160.0) * 255.0 / 400.0);
    return static_cast<uint8_t>(std::clamp(level, 0.0, 255.0));
}

}  // namespace

std::array<uint8_t, 3> RgbPixel(const PhantomOptions& options, int column, int row) {
    const VolumeGeometry geometry = CtGeometry(options);
    const double hu =
        MakePhantom(options).HuAt(geometry.VoxelCenter(column, row, options.slices / 2));
    return {WindowedGray(hu), Ramp(column, options.columns), Ramp(row, options.rows)};
}

bool WriteRgbImage(const std::filesystem::path& seriesDir, const PhantomOptions& options,
                   std::string* error) {
    if (!ValidateOptions(options, error)) return false;
    const VolumeGeometry geometry = CtGeometry(options);
    const CAnalyticPhantom phantom = MakePhantom(options);
    std::vector<uint8_t> pixels;
    pixels.reserve(size_t(geometry.columns) * size_t(geometry.rows) * 3);
    for (int row = 0; row < geometry.rows; ++row) {
        for (int column = 0; column < geometry.columns; ++column) {
            const double hu = phantom.HuAt(geometry.VoxelCenter(column, row, options.slices / 2));
            pixels.push_back(WindowedGray(hu));
            pixels.push_back(Ramp(column, geometry.columns));
            pixels.push_back(Ramp(row, geometry.rows));
        }
    }

    CElementSet set;
    AddPatientAndStudy(set, options);
    const SeriesInfo series{kRgbSeriesNumber, "OT", kSecondaryCaptureStorage, "Phantom RGB",
                            "094000"};
    AddSeriesAndInstance(set, options, series, 1);
    set.SetString(0x00080008, "CS", "DERIVED\\SECONDARY");
    set.SetString(0x00080064, "CS", "WSD");
    set.SetUS(0x00280002, 3);
    set.SetString(0x00280004, "CS", "RGB");
    set.SetUS(0x00280006, 0);
    set.SetUS(0x00280010, static_cast<uint16_t>(geometry.rows));
    set.SetUS(0x00280011, static_cast<uint16_t>(geometry.columns));
    set.SetUS(0x00280100, 8);
    set.SetUS(0x00280101, 8);
    set.SetUS(0x00280102, 7);
    set.SetUS(0x00280103, 0);
    set.SetBytes(0x7FE00010, "OB", std::move(pixels));

    CSeriesStage stage(seriesDir);
    if (!stage.Begin(error)) return false;
    if (!WriteInstance(stage.FilePath("RGB", 1), set, options, error)) return false;
    return stage.Commit(error);
}

}  // namespace vexel::phantom
