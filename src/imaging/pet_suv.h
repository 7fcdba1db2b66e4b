// Standardized uptake value of a PET image: the factor that turns its values (after the
// image's own rescale) into SUV, or why there is none.
//
// SUVbw = activity (Bq/ml) x weight (g) / (injected dose (Bq) x 2^(-dt / half-life)), with dt
// as the image declares its decay correction:
//   START  the pixels are decay-corrected to the scan start: dt runs from the injection to the
//          Series Date/Time, or, when that is later than the series' earliest acquisition (a
//          series made again later), to the image's acquisition start minus its Frame
//          Reference Time plus the count-weighted middle of its Actual Frame Duration;
//   ADMIN  corrected to the injection: no decay;
//   NONE   not corrected: each image decays to the count-weighted middle of its own frame.
// The injection is Radiopharmaceutical Start DateTime, else the Series Date with
// Radiopharmaceutical Start Time, taken as the day before when that lies after the series.
// Every instant is a full date and time, so delays of days (Zr-89, I-124) come out right.
// Nothing is ever taken from a default: a value that is missing or cannot be read leaves the
// image in Bq/ml, with the reason. Units GML and CM2ML are SUV already (factor 1, with their
// SUV Type).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vexel {

class CDicomFile;

enum class SuvState : uint32_t {
    None = 0,      // not PET, or values that are not an activity (counts, unknown units)
    Activity = 1,  // Bq/ml, but SUV cannot be worked out (the reason says why)
    Suv = 2,       // value x factor is SUV of suvType
};

struct SuvInfo {
    SuvState state = SuvState::None;
    double factor = 0;    // for state Suv: SUV = value (after the rescale) x factor
    std::string units;    // Units (0054,1001) as written, e.g. "BQML", "GML"
    std::string suvType;  // "BW" for SUVbw; for units already SUV, their SUV Type
    std::string reason;   // why the state is not Suv; empty when it is
};

// The SUV of one single-frame image. `earliestAcquisition`: the earliest acquisition instant of
// its series when the caller knows it (the image's own is used otherwise); a series dated after
// it was made again later.
SuvInfo ComputeSuv(CDicomFile& file, std::optional<double> earliestAcquisition = std::nullopt);

// The acquisition instant of an image (Acquisition DateTime, else Date and Time).
std::optional<double> AcquisitionInstant(CDicomFile& file);

// "SUVbw", "SUVlbm", ... for state Suv; "Bq/ml" for Activity; empty for None.
std::string SuvUnitText(const SuvInfo& info);

}  // namespace vexel
