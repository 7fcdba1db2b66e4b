#include "imaging/dicom_image.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

#include "imaging/dicom_frame.h"
#include "imaging/fragment_splitter.h"
#include "imaging/sample_conversion.h"

namespace vexel {
namespace {

constexpr uint32_t kSharedFunctionalGroups = 0x52009229;
constexpr uint32_t kPerFrameFunctionalGroups = 0x52009230;
constexpr uint32_t kPixelMeasuresSequence = 0x00289110;
constexpr uint32_t kPlanePositionSequence = 0x00209113;
constexpr uint32_t kPlaneOrientationSequence = 0x00209116;
constexpr uint32_t kPixelValueTransformationSequence = 0x00289145;

// The index-th item of a sequence.
CDicomElement* ItemOf(CDicomElement* sequence, size_t index) {
    if (sequence == nullptr) return nullptr;
    for (CDicomElement* e = sequence->firstChild; e; e = e->nextSibling) {
        if (e->Tag() == tags::kItem && index-- == 0) return e;
    }
    return nullptr;
}

// item -> (sequenceTag)[0] -> tag
CDicomElement* InMacro(CDicomElement* item, uint32_t sequenceTag, uint32_t tag) {
    return CDicomFile::FindChild(ItemOf(CDicomFile::FindChild(item, sequenceTag), 0), tag);
}

bool IsEncapsulated(TransferSyntaxCode syntax) {
    const auto code = static_cast<uint32_t>(syntax);
    return (code >= 5 && code <= 12) || syntax == TransferSyntaxCode::RleLossless ||
           IsJpeg2000Syntax(syntax);
}

}  // namespace

CDicomImage::CDicomImage(CDicomFile& file) : m_file(file) {}

CDicomImage::~CDicomImage() = default;

CDicomImage* CDicomImage::Of(const CDicomFile& file) {
    return dynamic_cast<CDicomImage*>(file.Attachment());
}

CDicomImage* CDicomImage::AttachTo(CDicomFile& file, bool buildFrames) {
    auto image = std::make_unique<CDicomImage>(file);
    CDicomImage* raw = image.get();
    file.SetAttachment(std::move(image));
    raw->Initialise(buildFrames);
    return raw;
}

void CDicomImage::ReadAttributes() {
    CDicomFile& f = m_file;
    // The path keeps keys apart when SOP Instance UID is missing or repeated across files.
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, "#%d$%d!", f.Integer(0x00200011, -1),
                  f.Integer(0x00200012, -1));
    m_key = f.String(0x0020000D) + numbers + f.String(0x00080018) + "|" + f.Path();

    const std::string photometric = f.String(0x00280004);
    m_format.photometric = f.FindElement(0x00280004) == nullptr ? PhotometricCode::None
                                                                : PhotometricFromText(photometric);
    m_ybr422 = photometric.rfind("YBR_FULL_422", 0) == 0;
    m_format.bitsAllocated = static_cast<uint16_t>(std::clamp(f.Integer(0x00280100, 0), 0, 64));
    m_format.bitsStored =
        static_cast<uint16_t>(std::clamp(f.Integer(0x00280101, m_format.bitsAllocated), 0, 64));
    m_format.highBit =
        static_cast<uint16_t>(std::clamp(f.Integer(0x00280102, m_format.bitsStored - 1), 0, 63));
    m_format.isSigned = f.Integer(0x00280103, 0) == 1;
    m_format.samplesPerPixel = static_cast<uint16_t>(std::clamp(f.Integer(0x00280002, 1), 0, 4));
    m_format.planar = static_cast<uint8_t>(f.Integer(0x00280006, 0) == 1 ? 1 : 0);
    m_colour = IsColourPhotometric(m_format.photometric);
    m_columns = f.Integer(0x00280011, 0);
    m_rows = f.Integer(0x00280010, 0);
    m_rescaleIntercept = f.Float(0x00281052, 0);
    m_rescaleSlope = f.Float(0x00281053, 1);
    m_instanceNumber = f.Integer(0x00200013, -1);
    // An unreadable Number of Frames ("1A") is inferred from the pixel data length.
    constexpr int32_t kUnreadable = INT32_MIN;
    const int32_t frames = f.Integer(0x00280008, kUnreadable);
    const CDicomElement* framesElement = f.FindElement(0x00280008);
    if (frames == kUnreadable) {
        m_numberOfFrames = framesElement && framesElement->length > 0 ? 0 : 1;
    } else {
        m_numberOfFrames = std::max(frames, 1);
    }
    m_hasPixelSpacing = f.FloatArray(0x00280030, m_pixelSpacing, 2);
    ReadFunctionalGroups();
}

// Enhanced multi-frame objects keep rescale and spacing in the shared or per-frame groups.
void CDicomImage::ReadFunctionalGroups() {
    CDicomElement* shared = ItemOf(m_file.FindElement(kSharedFunctionalGroups), 0);
    CDicomElement* first = ItemOf(m_file.FindElement(kPerFrameFunctionalGroups), 0);
    if (shared == nullptr && first == nullptr) return;
    for (CDicomElement* group : {shared, first}) {
        if (group == nullptr) continue;
        if (m_file.FindElement(0x00281053) == nullptr) {
            CDicomElement* slope = InMacro(group, kPixelValueTransformationSequence, 0x00281053);
            CDicomElement* intercept =
                InMacro(group, kPixelValueTransformationSequence, 0x00281052);
            if (slope) m_rescaleSlope = m_file.Float(slope, m_rescaleSlope);
            if (intercept) m_rescaleIntercept = m_file.Float(intercept, m_rescaleIntercept);
        }
        if (!m_hasPixelSpacing) {
            m_hasPixelSpacing = m_file.FloatArray(
                InMacro(group, kPixelMeasuresSequence, 0x00280030), m_pixelSpacing, 2);
        }
    }
}

bool CDicomImage::PixelSpacing(float spacing[2]) const {
    if (!m_hasPixelSpacing) return false;
    // A spacing of 0, below 0, beyond a metre per pixel or not a number measures nothing.
    const auto usable = [](float mm) { return std::isfinite(mm) && mm > 0 && mm <= 1000; };
    if (!usable(m_pixelSpacing[0]) || !usable(m_pixelSpacing[1])) return false;
    spacing[0] = m_pixelSpacing[0];
    spacing[1] = m_pixelSpacing[1];
    return true;
}

uint32_t CDicomImage::Initialise(bool buildFrames) {
    ReadAttributes();
    m_initialiseStatus = DecodeStatus::Ok;
    if (m_format.photometric == PhotometricCode::Unsupported) {
        m_initialiseStatus = DecodeStatus::Unsupported;
        return 0;
    }
    if (!buildFrames) return 0;
    const uint32_t samples = SamplesPerPixelOf(m_format.photometric);
    if ((samples != 0 && samples != m_format.samplesPerPixel) || m_columns <= 0 || m_rows <= 0 ||
        m_columns > 65535 || m_rows > 65535) {
        m_initialiseStatus = DecodeStatus::Unsupported;
        return 0;
    }
    m_frames.clear();
    if (IsEncapsulated(m_file.TransferSyntax())) {
        BuildEncapsulatedFrames();
    } else {
        BuildNativeFrames();
    }
    m_framesBuilt = !m_frames.empty();
    return static_cast<uint32_t>(m_frames.size());
}

void CDicomImage::SetFrameGeometry(CDicomFrame& frame, size_t index) {
    float position[3], orientation[6];
    CDicomElement* perFrame = ItemOf(m_file.FindElement(kPerFrameFunctionalGroups), index);
    CDicomElement* shared = ItemOf(m_file.FindElement(kSharedFunctionalGroups), 0);
    bool hasPosition = m_file.FloatArray(0x00200032, position, 3);
    bool hasOrientation = m_file.FloatArray(0x00200037, orientation, 6);
    for (CDicomElement* group : {perFrame, shared}) {
        if (!hasPosition) {
            hasPosition =
                m_file.FloatArray(InMacro(group, kPlanePositionSequence, 0x00200032), position, 3);
        }
        if (!hasOrientation) {
            hasOrientation = m_file.FloatArray(
                InMacro(group, kPlaneOrientationSequence, 0x00200037), orientation, 6);
        }
    }
    float thickness = m_file.Float(0x00180050, 0);
    if (thickness == 0) {
        for (CDicomElement* group : {perFrame, shared}) {
            CDicomElement* t = InMacro(group, kPixelMeasuresSequence, 0x00180050);
            if (t && thickness == 0) thickness = m_file.Float(t, 0);
        }
    }
    frame.SetGeometry(hasPosition ? position : nullptr, hasOrientation ? orientation : nullptr,
                      thickness);
}

void CDicomImage::BuildNativeFrames() {
    for (CDicomElement* e = m_file.Root()->firstChild; e; e = e->nextSibling) {
        if (e->Tag() == tags::kPixelData) {
            m_pixelData = e;
            break;
        }
    }
    if (m_pixelData == nullptr || m_pixelData->length == 0) {
        // Encapsulated data under a syntax we do not decode (MPEG, HEVC, ...) is not native.
        m_initialiseStatus = m_pixelData && m_pixelData->firstChild ? DecodeStatus::Unsupported
                                                                    : DecodeStatus::NoPixelData;
        return;
    }
    const uint16_t bits = m_format.bitsAllocated;
    if (bits != 1 && bits != 8 && bits != 12 && bits != 16 && bits != 32) {
        m_initialiseStatus = DecodeStatus::Unsupported;
        return;
    }
    const uint64_t pixels = uint64_t(m_columns) * uint64_t(m_rows);
    const PhotometricCode code = m_format.photometric;
    const bool palette = code == PhotometricCode::PaletteColor;
    const bool subsampled = m_ybr422 || code == PhotometricCode::YbrPartial422 ||
                            code == PhotometricCode::YbrPartial420;
    uint64_t samples = pixels * (m_colour && !palette ? 3 : 1);
    // 4:2:2 data stores Y1 Y2 Cb Cr for each pair of pixels of a row.
    if (subsampled) samples = ((uint64_t(m_columns) + 1) / 2) * 4 * uint64_t(m_rows);
    const bool bitPacked = bits == 1;
    const uint64_t frameBytes = bitPacked ? 0 : StoredBytesFor(samples, bits);
    const size_t bufferSize = static_cast<size_t>(pixels * (m_colour ? 3 : 2));
    int32_t frameCount = m_numberOfFrames;
    if (frameCount == 0) {
        const uint64_t bitsPerFrame = bitPacked ? pixels : frameBytes * 8;
        frameCount = static_cast<int32_t>(std::clamp<uint64_t>(
            bitsPerFrame ? uint64_t{m_pixelData->length} * 8 / bitsPerFrame : 1, 1, INT32_MAX));
    }
    for (int32_t i = 0; i < frameCount; ++i) {
        CDicomFrame::Source source;
        if (bitPacked) {
            // Frames of 1-bit data follow each other without padding to a byte.
            const uint64_t firstBit = pixels * uint64_t(i);
            source.offset = firstBit / 8;
            source.bitOffset = static_cast<uint8_t>(firstBit % 8);
            source.size = (source.bitOffset + pixels + 7) / 8;
        } else {
            source.offset = frameBytes * uint64_t(i);
            source.size = frameBytes;
        }
        // Data cut short: only the frames it covers.
        if (source.offset + source.size > m_pixelData->length) break;
        auto frame = std::make_unique<CDicomFrame>(*this, static_cast<uint32_t>(i));
        frame->MutableSource() = std::move(source);
        frame->SetLayout(uint32_t(m_columns), uint32_t(m_rows), m_colour, bufferSize);
        SetFrameGeometry(*frame, static_cast<size_t>(i));
        m_frames.push_back(std::move(frame));
    }
    if (m_frames.empty()) m_initialiseStatus = DecodeStatus::ReadFailed;
}

void CDicomImage::BuildEncapsulatedFrames() {
    m_pixelData = m_file.FindElement(tags::kPixelData);
    std::vector<FragmentList> frames = SplitFragmentsIntoFrames(
        m_file, m_pixelData, std::max(m_numberOfFrames, 1), m_file.TransferSyntax());
    if (frames.empty()) {
        m_initialiseStatus = DecodeStatus::NoPixelData;
        return;
    }
    const size_t pixels = size_t(m_columns) * size_t(m_rows);
    for (size_t i = 0; i < frames.size(); ++i) {
        auto frame = std::make_unique<CDicomFrame>(*this, static_cast<uint32_t>(i));
        frame->MutableSource().fragments = std::move(frames[i]);
        frame->SetLayout(uint32_t(m_columns), uint32_t(m_rows), m_colour,
                         pixels * (m_colour ? 3 : 2));
        SetFrameGeometry(*frame, i);
        m_frames.push_back(std::move(frame));
    }
}

bool CDicomImage::AddFrameFromBuffer(uint8_t* buffer, size_t size, const float* position,
                                     const float* orientation, const float* thickness) {
    ReadAttributes();
    const size_t expected = size_t(std::max(m_columns, 0)) * size_t(std::max(m_rows, 0)) * 2;
    if (buffer == nullptr || expected == 0 || size != expected) {
        CheckedFree(buffer);
        return false;
    }
    auto frame = std::make_unique<CDicomFrame>(*this, static_cast<uint32_t>(m_frames.size()));
    frame->SetLayout(uint32_t(m_columns), uint32_t(m_rows), false, size);
    frame->SetGeometry(position, orientation, thickness ? *thickness : 0);
    frame->AdoptBuffer(buffer);
    m_frames.push_back(std::move(frame));
    m_framesBuilt = true;
    return true;
}

void CDicomImage::DecodeFirstFrameIfIdle() {
    std::lock_guard lock(m_file.StructureLock());
    if (!m_frames.empty() && !m_frames[0]->HasBuffer() && m_frames[0]->CacheId() == 0) {
        m_frames[0]->Decode();
    }
}

uint32_t CDicomImage::DecodeAllIdleFrames() {
    std::lock_guard lock(m_file.StructureLock());
    for (auto& frame : m_frames) {
        if (!frame->HasBuffer() && frame->CacheId() == 0) frame->Decode();
    }
    return static_cast<uint32_t>(m_frames.size());
}

int CDicomImage::AdoptWideSampleShift(int shift) {
    std::lock_guard lock(m_file.StructureLock());
    if (m_wideSampleShift < 0) {
        m_wideSampleShift = shift;
        m_rescaleSlope *= static_cast<float>(1u << std::min(shift, 31));
    }
    return m_wideSampleShift;
}

}  // namespace vexel
