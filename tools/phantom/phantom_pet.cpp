// The PET series: Bq/ml with a per-slice scale, and the attributes an SUV calculation needs.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "phantom/phantom_common.h"

namespace vexel::phantom {

using namespace detail;

namespace {

constexpr const char* kPetImageStorage = "1.2.840.10008.5.1.4.1.1.128";
constexpr int kSeriesTimeSeconds = 10 * 3600;  // Series Time 10:00:00
// Each slice's largest value is stored as this; the phantom's activity levels (0, 0.2, 1 and
// 4 x background) then all land on whole numbers.
constexpr double kStoredSliceMax = 32000;

std::string TimeOfDay(int seconds) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d%02d%02d", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
    return text;
}

CElementSet RadiopharmaceuticalItem(const PhantomOptions& options) {
    const PetDose& pet = options.pet;
    const std::string start = TimeOfDay(kSeriesTimeSeconds - pet.injectionToSeriesSeconds);
    CElementSet nuclide;
    nuclide.SetString(0x00080100, "SH", "C-111A1");
    nuclide.SetString(0x00080102, "SH", "SRT");
    nuclide.SetString(0x00080104, "LO", "^18^Fluorine");

    CElementSet item;
    item.SetString(0x00180031, "LO", "Fluorodeoxyglucose");
    item.SetString(0x00181072, "TM", start);
    item.SetString(0x00181074, "DS", FormatDs(pet.injectedDoseBq));
    item.SetString(0x00181075, "DS", FormatDs(pet.halfLifeSeconds));
    item.SetString(0x00181076, "DS", "0.9673");
    item.SetString(0x00181078, "DT", std::string(kStudyDate) + start);
    item.SetSequence(0x00540300, {nuclide});
    return item;
}

void AddPetModules(CElementSet& set, const PhantomOptions& options, int slices) {
    set.SetString(0x00080008, "CS", "ORIGINAL\\PRIMARY");
    set.SetString(0x00181181, "CS", "NONE");
    set.SetString(0x00181242, "IS", "300000");
    set.SetString(0x00280051, "CS", "ATTN\\DECY");
    set.SetString(0x00281052, "DS", "0");
    // Real scanners often write this sequence with undefined length; so do we.
    set.SetSequence(0x00540016, {RadiopharmaceuticalItem(options)}, true);
    set.SetUS(0x00540081, static_cast<uint16_t>(std::min(slices, 65535)));
    set.SetSequence(0x00540410, {});
    set.SetSequence(0x00540414, {});
    set.SetString(0x00541000, "CS", "STATIC\\IMAGE");
    set.SetString(0x00541001, "CS", "BQML");
    set.SetString(0x00541002, "CS", "EMISSION");
    set.SetString(0x00541102, "CS", "START");
    set.SetString(0x00541300, "DS", "0");
    set.SetString(0x00541321, "DS", "1");
}

// Pixel data and Rescale Slope of one slice.
void AddPetPixels(CElementSet& set, const CAnalyticPhantom& phantom, double background,
                  const VolumeGeometry& geometry, int slice) {
    std::vector<double> activity(size_t(geometry.columns) * size_t(geometry.rows));
    size_t index = 0;
    double sliceMax = 0;
    for (int row = 0; row < geometry.rows; ++row) {
        for (int column = 0; column < geometry.columns; ++column) {
            activity[index] = phantom.SuvAt(geometry.VoxelCenter(column, row, slice)) * background;
            sliceMax = std::max(sliceMax, activity[index++]);
        }
    }
    const double slope = sliceMax > 0 ? sliceMax / kStoredSliceMax : 1.0;
    std::vector<uint16_t> stored(activity.size());
    for (size_t i = 0; i < activity.size(); ++i)
        stored[i] = static_cast<uint16_t>(std::clamp(std::lround(activity[i] / slope), 0L, 65535L));
    set.SetString(0x00281053, "DS", FormatDs(slope));
    set.SetBytes(0x7FE00010, "OW", LittleEndianBytes(stored));
}

}  // namespace

double PetBackgroundBqPerMl(const PhantomOptions& options) {
    const PetDose& pet = options.pet;
    // SUVbw = C [Bq/ml] * W [g] / D(t); D(t) = D0 * 2^(-t / T1/2), t from injection to
    // Series Time, because Decay Correction START corrects the images to the series start.
    const double doseAtSeries =
        pet.injectedDoseBq * std::exp2(-pet.injectionToSeriesSeconds / pet.halfLifeSeconds);
    return doseAtSeries / (pet.weightKg * 1000.0);
}

double PetActivityAt(const PhantomOptions& options, const Vec3& p) {
    return MakePhantom(options).SuvAt(p) * PetBackgroundBqPerMl(options);
}

bool WritePetSeries(const std::filesystem::path& seriesDir, const PhantomOptions& options,
                    std::string* error) {
    if (!ValidateOptions(options, error)) return false;
    const VolumeGeometry geometry = PetGeometry(options);
    const CAnalyticPhantom phantom = MakePhantom(options);
    const double background = PetBackgroundBqPerMl(options);
    CSeriesStage stage(seriesDir);
    if (!stage.Begin(error)) return false;
    const SeriesInfo series{kPetSeriesNumber, "PT", kPetImageStorage, "Phantom PET AC", "100000"};
    for (int slice = 0; slice < geometry.slices; ++slice) {
        CElementSet set;
        AddPatientAndStudy(set, options);
        AddSeriesAndInstance(set, options, series, slice + 1);
        AddImagePlane(set, options, geometry, slice);
        AddGrayPixelModule(set, geometry.rows, geometry.columns, false);
        AddPetModules(set, options, geometry.slices);
        set.SetUS(0x00541330, static_cast<uint16_t>(slice + 1));
        AddPetPixels(set, phantom, background, geometry, slice);
        if (!WriteInstance(stage.FilePath("PT", slice + 1), set, options, error)) return false;
    }
    return stage.Commit(error);
}

}  // namespace vexel::phantom
