// Synthetic studies for tests, benchmarks and the sample study: a CT volume of known CT
// numbers, a PET series of known SUVs over the same frame of reference, a multi-frame file
// and an RGB image. Output is deterministic: fixed dates, UIDs from a root and counters.
//
// UIDs: study <root>.1, series <root>.2.<series number>, frame of reference <root>.3,
// SOP instance <root>.4.<series number>.<instance number>. Series numbers: CT 1, PET 2,
// multi-frame 3, RGB 4.
//
// CT pixels: 16 bits allocated and stored, signed, Rescale Slope 1, Intercept -1024, so a
// stored value is HU + 1024; the corners outside the reconstruction circle hold -3024 HU.
// PET pixels: 16 bits, unsigned, Bq/ml = stored value x the slice's Rescale Slope.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "phantom/analytic_phantom.h"
#include "phantom/data_set_writer.h"

namespace vexel::phantom {

inline constexpr const char* kDefaultUidRoot = "2.25.271828182845904523536028747135";

enum class TextCharset {
    kLatin1,  // "ISO_IR 100", patient "Müller^Jürgen"
    kUtf8,    // "ISO_IR 192", patient "Yamada^Tarou=山田^太郎=やまだ^たろう"
};

// The injection and the patient that turn SUVs into Bq/ml.
struct PetDose {
    double injectedDoseBq = 370000000;  // Radionuclide Total Dose
    double halfLifeSeconds = 6586.2;    // F-18
    double weightKg = 75;
    double heightM = 1.80;
    // Radiopharmaceutical Start Time is this long before Series Time (10:00:00).
    int injectionToSeriesSeconds = 3600;
};

struct PhantomOptions {
    int columns = 256;
    int rows = 256;
    int slices = 160;
    double pixelSpacingMm = 0.8;  // between columns, and between rows unless set below
    double rowSpacingMm = 0;      // 0: the same as pixelSpacingMm
    double sliceSpacingMm = 1.25;
    VrEncoding encoding = VrEncoding::kExplicit;
    TextCharset charset = TextCharset::kLatin1;
    std::string uidRoot = kDefaultUidRoot;
    int frames = 10;  // multi-frame file
    // CT slices carry a scanner's headers too: about 200 more elements, among them private
    // blocks with about 120 KiB of OB, OW and UN values (benchmarks of real-world headers).
    bool scannerHeaders = false;
    PetDose pet;
};

// CT geometry from the options; PET halves the matrix and doubles the spacings (rounding
// odd sizes up), which keeps the field of view for even sizes.
VolumeGeometry CtGeometry(const PhantomOptions& options);
VolumeGeometry PetGeometry(const PhantomOptions& options);
// The phantom of the whole study, sized from the CT geometry.
CAnalyticPhantom MakePhantom(const PhantomOptions& options);

// Stored CT values of one slice, row by row (HU + 1024).
std::vector<int16_t> CtSliceStored(const PhantomOptions& options, int slice);
// Which CT slice frame `frame` of the multi-frame file shows: spread evenly over the volume.
int MultiFrameSourceSlice(const PhantomOptions& options, int frame);

// Bq/ml of SUVbw 1 at series time:
//   dose at series time = injected dose x 2^(-(injection to series seconds) / half life)
//   SUVbw = Bq/ml x weight in g / dose at series time  (1 ml of tissue taken as 1 g)
// so Bq/ml for SUV 1 = dose at series time / (weight kg x 1000).
double PetBackgroundBqPerMl(const PhantomOptions& options);
// Activity at a point of the phantom, Bq/ml.
double PetActivityAt(const PhantomOptions& options, const Vec3& p);

// RGB file, from the middle CT slice (slices / 2): R = clamp(round((HU + 160) x 255 / 400),
// 0, 255), a 40/400 window; G = floor(255 x column / (columns - 1)); B likewise for rows.
std::array<uint8_t, 3> RgbPixel(const PhantomOptions& options, int column, int row);

// Each writes one series into `seriesDir` (files <PREFIX>0001.dcm ...). The series is built
// in a hidden folder beside seriesDir and renamed into place, replacing what was there, so
// seriesDir never holds a partial series. False with a reason on failure.
bool WriteCtSeries(const std::filesystem::path& seriesDir, const PhantomOptions& options,
                   std::string* error);
bool WritePetSeries(const std::filesystem::path& seriesDir, const PhantomOptions& options,
                    std::string* error);
bool WriteMultiFrameCt(const std::filesystem::path& seriesDir, const PhantomOptions& options,
                       std::string* error);
bool WriteRgbImage(const std::filesystem::path& seriesDir, const PhantomOptions& options,
                   std::string* error);

// Marker image: columns x rows 16-bit unsigned MONOCHROME2, 0 everywhere but single pixels of
// kMarkerValue at MarkerPositions (a grid of 7 columns by 9 rows from (3, 4)); its window is
// kMarkerValue / 2, kMarkerValue.
inline constexpr uint16_t kMarkerValue = 4000;
struct MarkerPosition {
    int column;
    int row;
};
std::vector<MarkerPosition> MarkerPositions(const PhantomOptions& options);
bool WriteMarkerImage(const std::filesystem::path& seriesDir, const PhantomOptions& options,
                      std::string* error);

struct StudyParts {
    bool ct = true;
    bool pet = true;
    bool multiFrame = false;
    bool rgb = false;
    bool markers = false;
};
// outDir/CT, outDir/PT, outDir/MF, outDir/RGB, outDir/MK as chosen.
bool WriteStudy(const std::filesystem::path& outDir, const StudyParts& parts,
                const PhantomOptions& options, std::string* error);

// Checks sizes, spacings and the UID root before anything is written.
bool ValidateOptions(const PhantomOptions& options, std::string* error);

}  // namespace vexel::phantom
