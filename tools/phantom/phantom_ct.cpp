// The CT series (one file per slice) and the multi-frame file made of CT slices.
#include <cmath>

#include "phantom/phantom_common.h"

namespace vexel::phantom {

using namespace detail;

namespace {

constexpr const char* kCtImageStorage = "1.2.840.10008.5.1.4.1.1.2";
constexpr const char* kMultiFrameGrayWordStorage = "1.2.840.10008.5.1.4.1.1.7.3";
constexpr double kRescaleIntercept = -1024;

std::vector<int16_t> SliceStored(const CAnalyticPhantom& phantom, const VolumeGeometry& geometry,
                                 int slice) {
    std::vector<int16_t> stored(size_t(geometry.columns) * size_t(geometry.rows));
    size_t index = 0;
    for (int row = 0; row < geometry.rows; ++row) {
        for (int column = 0; column < geometry.columns; ++column) {
            const double hu = phantom.HuAt(geometry.VoxelCenter(column, row, slice));
            stored[index++] = static_cast<int16_t>(std::lround(hu - kRescaleIntercept));
        }
    }
    return stored;
}

// Rescale to HU and two display windows, shared by both CT objects.
void AddCtValueModules(CElementSet& set) {
    set.SetString(0x00281050, "DS", "40\\-600");
    set.SetString(0x00281051, "DS", "400\\1500");
    set.SetString(0x00281052, "DS", FormatDs(kRescaleIntercept));
    set.SetString(0x00281053, "DS", "1");
    set.SetString(0x00281054, "LO", "HU");
    set.SetString(0x00281055, "LO", "SOFT TISSUE\\LUNG");
}

CElementSet CtSliceSet(const PhantomOptions& options, const CAnalyticPhantom& phantom,
                       const VolumeGeometry& geometry, int slice) {
    CElementSet set;
    AddPatientAndStudy(set, options);
    const SeriesInfo series{kCtSeriesNumber, "CT", kCtImageStorage, "Phantom CT 1.25 mm", "093500"};
    AddSeriesAndInstance(set, options, series, slice + 1);
    AddImagePlane(set, options, geometry, slice);
    AddGrayPixelModule(set, geometry.rows, geometry.columns, true);
    AddCtValueModules(set);
    set.SetString(0x00080008, "CS", "ORIGINAL\\PRIMARY\\AXIAL");
    set.SetString(0x00180060, "DS", "120");
    set.SetString(0x00181100, "DS", FormatDs(2 * phantom.FovRadiusMm()));
    set.SetString(0x00181120, "DS", "0");
    set.SetString(0x00181210, "SH", "STANDARD");
    if (options.scannerHeaders) AddScannerHeaders(set, options, slice);
    set.SetBytes(0x7FE00010, "OW", LittleEndianBytes(SliceStored(phantom, geometry, slice)));
    return set;
}

CElementSet MultiFrameSet(const PhantomOptions& options) {
    const VolumeGeometry geometry = CtGeometry(options);
    const CAnalyticPhantom phantom = MakePhantom(options);
    CElementSet set;
    AddPatientAndStudy(set, options);
    const SeriesInfo series{kMultiFrameSeriesNumber, "CT", kMultiFrameGrayWordStorage,
                            "Phantom CT cine", "093500"};
    AddSeriesAndInstance(set, options, series, 1);
    AddGrayPixelModule(set, geometry.rows, geometry.columns, true);
    AddCtValueModules(set);
    set.SetString(0x00080008, "CS", "DERIVED\\SECONDARY");
    set.SetString(0x00080064, "CS", "WSD");
    set.SetString(0x00180040, "IS", "10");
    set.SetString(0x00181063, "DS", "100");
    set.SetString(0x00280008, "IS", std::to_string(options.frames));
    set.SetAT(0x00280009, 0x00181063);  // frames follow each other in time (Frame Time)
    set.SetString(0x00280030, "DS", FormatDs({geometry.RowSpacing(), geometry.pixelSpacingMm}));

    std::vector<int16_t> frames;
    frames.reserve(size_t(geometry.columns) * size_t(geometry.rows) * size_t(options.frames));
    for (int frame = 0; frame < options.frames; ++frame) {
        const std::vector<int16_t> slice =
            SliceStored(phantom, geometry, MultiFrameSourceSlice(options, frame));
        frames.insert(frames.end(), slice.begin(), slice.end());
    }
    set.SetBytes(0x7FE00010, "OW", LittleEndianBytes(frames));
    return set;
}

}  // namespace

std::vector<int16_t> CtSliceStored(const PhantomOptions& options, int slice) {
    return SliceStored(MakePhantom(options), CtGeometry(options), slice);
}

int MultiFrameSourceSlice(const PhantomOptions& options, int frame) {
    return static_cast<int>(int64_t(frame) * options.slices / options.frames);
}

bool WriteCtSeries(const std::filesystem::path& seriesDir, const PhantomOptions& options,
                   std::string* error) {
    if (!ValidateOptions(options, error)) return false;
    const VolumeGeometry geometry = CtGeometry(options);
    const CAnalyticPhantom phantom = MakePhantom(options);
    CSeriesStage stage(seriesDir);
    if (!stage.Begin(error)) return false;
    for (int slice = 0; slice < geometry.slices; ++slice) {
        const CElementSet set = CtSliceSet(options, phantom, geometry, slice);
        if (!WriteInstance(stage.FilePath("CT", slice + 1), set, options, error)) return false;
    }
    return stage.Commit(error);
}

bool WriteMultiFrameCt(const std::filesystem::path& seriesDir, const PhantomOptions& options,
                       std::string* error) {
    if (!ValidateOptions(options, error)) return false;
    CSeriesStage stage(seriesDir);
    if (!stage.Begin(error)) return false;
    if (!WriteInstance(stage.FilePath("MF", 1), MultiFrameSet(options), options, error))
        return false;
    return stage.Commit(error);
}

}  // namespace vexel::phantom
