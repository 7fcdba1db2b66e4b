#include "imaging/pet_suv.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "dicom/dicom_date_time.h"
#include "dicom/dicom_file.h"
#include "dicom/tag.h"

namespace vexel {
namespace {

constexpr uint32_t kRadiopharmaceuticalSequence = 0x00540016;
constexpr uint32_t kStartTime = 0x00181072;
constexpr uint32_t kTotalDose = 0x00181074;
constexpr uint32_t kHalfLife = 0x00181075;
constexpr uint32_t kStartDateTime = 0x00181078;
// A dose below this cannot be in Bq; it is a dose in MBq written where Bq belong.
constexpr double kSmallestDoseBq = 1e4;

std::string Trim(std::string text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::optional<double> Number(const std::string& raw) {
    const std::string text = Trim(raw);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::string ItemText(CDicomFile& file, CDicomElement* item, uint32_t tag) {
    CDicomElement* element = item != nullptr ? CDicomFile::FindChild(item, tag) : nullptr;
    return element != nullptr ? Trim(file.Text(element)) : std::string();
}

// Seconds the activity counted in a frame of `duration` seconds lies, on average, after its
// start: where a decaying source's counts have their centre.
double CountWeightedMiddle(double duration, double halfLife) {
    if (!(duration > 0)) return 0;
    const double lambda = std::log(2.0) / halfLife;
    const double x = lambda * duration;
    return std::log(x / -std::expm1(-x)) / lambda;
}

std::optional<double> MsToSeconds(CDicomFile& file, uint32_t tag) {
    const std::optional<double> ms = Number(file.String(tag));
    return ms ? std::optional<double>(*ms / 1000) : std::nullopt;
}

std::string Upper(std::string text) {
    for (char& c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

std::optional<double> AcquisitionInstant(CDicomFile& file) {
    if (auto instant = DicomInstant(file.String(0x0008002A))) return instant;
    return DicomInstant(file.String(0x00080022), file.String(0x00080032));
}

SuvInfo ComputeSuv(CDicomFile& file, std::optional<double> earliestAcquisition) {
    SuvInfo info;
    if (file.Modality() != ModalityCode::PT) {
        info.reason = "not a PET image";
        return info;
    }
    info.units = Upper(Trim(file.String(0x00541001)));
    const std::string suvType = Upper(Trim(file.String(0x00541006)));
    if (info.units == "GML" || info.units == "CM2ML") {
        // Stored as SUV already: never converted a second time.
        info.state = SuvState::Suv;
        info.factor = 1;
        info.suvType = !suvType.empty() ? suvType : info.units == "GML" ? "BW" : "BSA";
        return info;
    }
    if (info.units != "BQML") {
        info.reason = info.units.empty() ? "no Units" : "Units " + info.units + " are not Bq/ml";
        return info;
    }
    info.state = SuvState::Activity;
    const auto fail = [&info](std::string why) {
        info.reason = std::move(why);
        return info;
    };

    CDicomElement* sequence = file.FindElement(kRadiopharmaceuticalSequence);
    CDicomElement* item = sequence != nullptr ? sequence->firstChild : nullptr;
    if (item == nullptr || item->Tag() != tags::kItem)
        return fail("no Radiopharmaceutical Information Sequence");
    const std::optional<double> dose = Number(ItemText(file, item, kTotalDose));
    if (!dose || !(*dose > 0)) return fail("no Radionuclide Total Dose");
    if (*dose < kSmallestDoseBq) {
        char text[128];
        std::snprintf(text, sizeof text, "a Radionuclide Total Dose of %g Bq is not possible",
                      *dose);
        return fail(text);
    }
    const std::optional<double> halfLife = Number(ItemText(file, item, kHalfLife));
    if (!halfLife || !(*halfLife > 0)) return fail("no Radionuclide Half Life");
    const std::optional<double> weight = Number(file.String(0x00101030));
    if (!weight || !(*weight > 0)) return fail("no Patient's Weight");

    // How the pixels were corrected for decay.
    const std::string corrected = Upper(file.String(0x00280051));
    std::string mode = Upper(Trim(file.String(0x00541102)));
    const bool decayCorrected = corrected.find("DECY") != std::string::npos;
    if (mode.empty() && decayCorrected) mode = "START";
    if (mode == "START" && !corrected.empty() && !decayCorrected) mode = "NONE";

    double elapsed = 0;
    if (mode == "START" || mode == "NONE") {
        const std::string seriesDate = file.String(0x00080021);
        const std::optional<double> series = DicomInstant(seriesDate, file.String(0x00080031));
        std::optional<double> injection = DicomInstant(ItemText(file, item, kStartDateTime));
        if (!injection) {
            injection = DicomInstant(seriesDate, ItemText(file, item, kStartTime));
            if (!injection) return fail("no Radiopharmaceutical Start DateTime or Time");
            if (!series) return fail("no Series Date or Time");
            if (*injection > *series) *injection -= 86400;  // injected the day before
        }
        double reference = 0;
        const std::optional<double> duration = MsToSeconds(file, 0x00181242);
        if (mode == "START") {
            if (!series) return fail("no Series Date or Time");
            const std::optional<double> acquisition = AcquisitionInstant(file);
            const std::optional<double> earliest =
                earliestAcquisition ? earliestAcquisition : acquisition;
            reference = *series;
            if (earliest && *series > *earliest) {
                // Made again after the scan: its start comes back from this image's own
                // acquisition and the time its frame was referred to.
                const std::optional<double> frameReference = MsToSeconds(file, 0x00541300);
                if (!acquisition || !frameReference || !duration)
                    return fail(
                        "the series is later than its acquisition, and Acquisition "
                        "Time, Frame Reference Time or Actual Frame Duration is missing");
                reference =
                    *acquisition - *frameReference + CountWeightedMiddle(*duration, *halfLife);
            }
        } else {
            const std::optional<double> acquisition = AcquisitionInstant(file);
            if (!acquisition) return fail("no Acquisition Date or Time");
            if (!duration) return fail("no Actual Frame Duration");
            reference = *acquisition + CountWeightedMiddle(*duration, *halfLife);
        }
        elapsed = reference - *injection;
        if (elapsed < 0) return fail("the scan starts before the injection");
    } else if (mode != "ADMIN") {
        return fail(mode.empty() ? "no Decay Correction" : "Decay Correction " + mode + " unknown");
    }
    const double factor = *weight * 1000 / (*dose * std::exp2(-elapsed / *halfLife));
    if (!std::isfinite(factor) || !(factor > 0)) return fail("the SUV factor is not a number");
    info.state = SuvState::Suv;
    info.factor = factor;
    info.suvType = "BW";
    return info;
}

std::string SuvUnitText(const SuvInfo& info) {
    if (info.state == SuvState::Suv) return "SUV" + Lower(info.suvType);
    return info.state == SuvState::Activity ? "Bq/ml" : "";
}

}  // namespace vexel
