#include "volume/mpr_slice_file.h"

#include <cstdio>
#include <cstring>
#include <random>

#include "dicom/tag.h"
#include "imaging/dicom_image.h"
#include "platform/checked_alloc.h"

namespace vexel {
namespace {

using tags::kItem;
using tags::kModality;
using tags::kSpecificCharacterSet;

// Copied as they are: who and what the slices show, and what PET values need to stay
// quantitative (units, decay, weight, the dose).
constexpr uint32_t kCopiedTags[] = {
    kSpecificCharacterSet,
    0x00080020,
    0x00080021,
    0x00080022,
    0x00080023,  // study, series, acquisition, content date
    0x00080030,
    0x00080031,
    0x00080032,
    0x00080033,  // the same times
    kModality,
    0x00080080,
    0x0008103E,  // institution, series description
    0x00100010,
    0x00100020,
    0x00100030,
    0x00100040,  // patient name, id, birth date, sex
    0x00101030,  // patient's weight
    0x0020000D,
    0x00200010,
    0x00200052,  // study uid, study id, frame of reference
    0x00204000,
    0x00324000,  // image and study comments
    0x00280051,  // corrected image
    0x00181242,
    0x00541300,  // frame duration, frame reference time
    0x00281050,
    0x00281051,  // window centre and width
    0x00541001,
    0x00541102,
    0x00541321,  // units, decay correction, decay factor
};
constexpr uint32_t kRadiopharmaceuticalSequence = 0x00540016;

// Copies `from` (a value, or a sequence with at most `maxItems` items and what they hold)
// under `parent` of `to`.
void CopyElement(CDicomFile& source, CDicomElement* from, CDicomFile& to, CDicomElement* parent,
                 uint32_t maxItems) {
    if (from->group == 0xFFFE && from->Tag() != kItem) return;  // delimiters
    uint8_t* raw = nullptr;
    uint32_t length = 0;
    if (from->firstChild == nullptr && from->vr != VrCode::SQ && from->Tag() != kItem) {
        const uint8_t* value = source.RawValue(from);
        if (value == nullptr) return;
        length = from->length;
        raw = static_cast<uint8_t*>(CheckedAlloc(size_t(length) + 1));
        if (raw == nullptr) return;
        std::memcpy(raw, value, length);
        raw[length] = 0;
    }
    CDicomElement* copy =
        to.AddElement(parent, from->group, from->element, from->vr, raw, 0, length, 0);
    if (copy == nullptr) return;
    uint32_t items = 0;
    for (CDicomElement* child = from->firstChild; child != nullptr; child = child->nextSibling) {
        if (child->Tag() == kItem && items++ >= maxItems) break;
        CopyElement(source, child, to, copy, UINT32_MAX);
    }
}

// DS holds at most 16 characters a value: as many digits as fit.
std::string DsText(std::initializer_list<double> values) {
    std::string text;
    for (double v : values) {
        char buffer[32] = "0";
        for (int digits = 10; digits > 0; --digits) {
            const int n = std::snprintf(buffer, sizeof buffer, "%.*g", digits, v);
            if (n > 0 && n <= 16) break;
        }
        if (!text.empty()) text += '\\';
        text += buffer;
    }
    return text;
}

}  // namespace

std::string NewUuidUid() {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    // 128 bits as four 32-bit limbs, most significant first, divided down to decimal digits.
    uint32_t limbs[4];
    for (int i = 0; i < 4; i += 2) {
        const uint64_t r = random();
        limbs[i] = uint32_t(r >> 32);
        limbs[i + 1] = uint32_t(r);
    }
    std::string digits;
    for (bool zero = false; !zero;) {
        uint64_t remainder = 0;
        zero = true;
        for (uint32_t& limb : limbs) {
            const uint64_t part = (remainder << 32) | limb;
            limb = uint32_t(part / 10);
            remainder = part % 10;
            zero = zero && limb == 0;
        }
        digits += char('0' + remainder);
    }
    return "2.25." + std::string(digits.rbegin(), digits.rend());
}

std::unique_ptr<CDicomFile> MakeMprSliceFile(CDicomFile& source, const MprLayout& layout,
                                             const MprSliceHeader& header, uint8_t* pixels) {
    auto file = std::make_unique<CDicomFile>();
    file->MakeInMemory();
    file->SetCharacterSets(source.CharacterSets());
    file->SetModality(source.Modality());
    CDicomElement* root = file->Root();
    for (uint32_t tag : kCopiedTags)
        if (CDicomElement* e = source.FindElement(tag)) CopyElement(source, e, *file, root, 0);
    if (CDicomElement* e = source.FindElement(kRadiopharmaceuticalSequence))
        CopyElement(source, e, *file, root, 1);
    if (file->FindElement(0x00080060) == nullptr) file->SetText(nullptr, 0x00080060, "OT");

    const std::string photometric = source.String(0x00280004);
    file->SetText(nullptr, 0x00280004,
                  photometric.rfind("MONOCHROME1", 0) == 0 ? "MONOCHROME1" : "MONOCHROME2");
    file->SetText(nullptr, 0x00080008, "DERIVED\\SECONDARY\\REFORMATTED");
    if (layout.sheared) {
        char text[96];
        std::snprintf(text, sizeof text, "Reformatted across a gantry tilt of %.1f degrees",
                      layout.tiltDegrees);
        file->SetText(nullptr, 0x00082111, text);
    }
    file->SetText(nullptr, 0x0020000E, header.seriesInstanceUid);
    file->SetText(nullptr, 0x00080018, header.sopInstanceUid);
    const int32_t series = source.Integer(0x00200011, 1);
    file->SetText(nullptr, 0x00200011, std::to_string(series));
    file->SetText(nullptr, 0x00200012, "1");
    file->SetText(nullptr, 0x00200013, std::to_string(header.index + 1));

    file->SetUS(0x00280002, 1);
    file->SetUS(0x00280010, uint16_t(layout.rows));
    file->SetUS(0x00280011, uint16_t(layout.columns));
    file->SetUS(0x00280100, 16);
    file->SetUS(0x00280101, 16);
    file->SetUS(0x00280102, 15);
    file->SetUS(0x00280103, header.scale.isSigned ? 1 : 0);

    const Vec3d& r = layout.rowDirection;
    const Vec3d& c = layout.columnDirection;
    const double k = double(header.index) * layout.sliceStep;
    const Vec3d p = {layout.firstPosition[0] + k * layout.stepDirection[0],
                     layout.firstPosition[1] + k * layout.stepDirection[1],
                     layout.firstPosition[2] + k * layout.stepDirection[2]};
    file->SetText(nullptr, 0x00200037, DsText({r[0], r[1], r[2], c[0], c[1], c[2]}));
    file->SetText(nullptr, 0x00200032, DsText({p[0], p[1], p[2]}));
    file->SetText(nullptr, 0x00280030, DsText({layout.rowSpacing, layout.columnSpacing}));
    file->SetText(nullptr, 0x00180050, DsText({layout.sliceStep}));
    file->SetText(nullptr, 0x00281052, DsText({header.scale.intercept}));
    file->SetText(nullptr, 0x00281053, DsText({header.scale.slope}));

    CDicomImage* image = CDicomImage::AttachTo(*file, false);
    const size_t bytes = size_t(layout.rows) * layout.columns * 2;
    const float position[3] = {float(p[0]), float(p[1]), float(p[2])};
    const float orientation[6] = {float(r[0]), float(r[1]), float(r[2]),
                                  float(c[0]), float(c[1]), float(c[2])};
    const float thickness = float(layout.sliceStep);
    if (image == nullptr) {
        CheckedFree(pixels);
        return nullptr;
    }
    if (!image->AddFrameFromBuffer(pixels, bytes, position, orientation, &thickness))
        return nullptr;
    return file;
}

}  // namespace vexel
