#include "engine/study_model_keys.h"

#include <algorithm>

#include "dicom/dicom_file.h"
#include "engine/study_model_text.h"
#include "imaging/dicom_image.h"

namespace vexel {
namespace {

constexpr uint32_t kPatientName = 0x00100010;
constexpr uint32_t kPatientBirthDate = 0x00100030;
constexpr uint32_t kStudyInstanceUid = 0x0020000D;
constexpr uint32_t kStudyDate = 0x00080020;
constexpr uint32_t kStudyTime = 0x00080030;
constexpr uint32_t kStudyDescription = 0x00081030;
constexpr uint32_t kSeriesInstanceUid = 0x0020000E;
constexpr uint32_t kSeriesNumber = 0x00200011;
constexpr uint32_t kSeriesDescription = 0x0008103E;
constexpr uint32_t kModality = 0x00080060;
constexpr uint32_t kSeriesDate = 0x00080021;
constexpr uint32_t kSeriesTime = 0x00080031;
constexpr uint32_t kAcquisitionNumber = 0x00200012;
constexpr uint32_t kInstanceNumber = 0x00200013;
constexpr uint32_t kNumberOfFrames = 0x00280008;
constexpr uint32_t kSopInstanceUid = 0x00080018;

std::string Plain(CDicomFile& file, uint32_t tag) {
    return TrimPadding(file.String(tag));
}
std::string Decoded(CDicomFile& file, uint32_t tag) {
    return TrimPadding(file.Text(tag));
}

SeriesFileRecord ReadFileRecord(CDicomFile& file, const CDicomImage* image) {
    SeriesFileRecord record;
    record.instanceNumber = file.Integer(kInstanceNumber, -1);
    record.acquisitionNumber = file.Integer(kAcquisitionNumber, -1);
    record.seriesNumber = file.Integer(kSeriesNumber, -1);
    const int32_t declared = file.Integer(kNumberOfFrames, 1);
    record.numberOfFrames = static_cast<uint32_t>(std::max(declared, 1));
    if (image != nullptr && image->FrameCount() > 0) {
        record.numberOfFrames =
            static_cast<uint32_t>(std::min<size_t>(image->FrameCount(), UINT32_MAX));
        record.slicePosition = SlicePositionOf(*image);
    }
    record.sopInstanceUid = Plain(file, kSopInstanceUid);
    record.path = file.Path();
    return record;
}

}  // namespace

StudyFileKeys ReadStudyFileKeys(CDicomFile& file) {
    StudyFileKeys keys;
    keys.patientName = Decoded(file, kPatientName);
    keys.birthDate = Plain(file, kPatientBirthDate);
    keys.studyInstanceUid = Plain(file, kStudyInstanceUid);
    keys.studyDate = Plain(file, kStudyDate);
    keys.studyTime = Plain(file, kStudyTime);
    keys.studyDescription = Decoded(file, kStudyDescription);
    keys.seriesNumber = file.Integer(kSeriesNumber, 0);
    keys.seriesInstanceUid = Plain(file, kSeriesInstanceUid);
    keys.seriesDescription = Decoded(file, kSeriesDescription);
    keys.modality = Plain(file, kModality);
    keys.seriesDate = Plain(file, kSeriesDate);
    keys.seriesTime = Plain(file, kSeriesTime);
    keys.file = ReadFileRecord(file, CDicomImage::Of(file));
    return keys;
}

}  // namespace vexel
