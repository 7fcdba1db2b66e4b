// The image of a DICOM file: the attributes the display pipeline needs and its frames.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dicom/dicom_file.h"
#include "imaging/pixel_format.h"

namespace vexel {

class CDicomFrame;

class CDicomImage : public CFileAttachment {
public:
    explicit CDicomImage(CDicomFile& file);
    ~CDicomImage() override;

    // The image of a file, or null when none is attached.
    static CDicomImage* Of(const CDicomFile& file);
    // Attaches a new image to the file and initialises it.
    static CDicomImage* AttachTo(CDicomFile& file, bool buildFrames);

    // Reads the attributes and, with buildFrames, lays out the frames. Returns the number
    // of frames; 0 with a reason in InitialiseStatus() when the image cannot be shown.
    uint32_t Initialise(bool buildFrames);
    DecodeStatus InitialiseStatus() const { return m_initialiseStatus; }

    // Appends a frame made in memory (reconstructions): rows x columns 16-bit words.
    bool AddFrameFromBuffer(uint8_t* buffer, size_t size, const float* position,
                            const float* orientation, const float* thickness);
    void DecodeFirstFrameIfIdle();
    uint32_t DecodeAllIdleFrames();

    CDicomFile& File() const { return m_file; }
    const std::string& Key() const { return m_key; }
    size_t FrameCount() const { return m_frames.size(); }
    CDicomFrame* Frame(size_t index) const {
        return index < m_frames.size() ? m_frames[index].get() : nullptr;
    }
    bool FramesBuilt() const { return m_framesBuilt; }

    int32_t Columns() const { return m_columns; }
    int32_t Rows() const { return m_rows; }
    PhotometricCode Photometric() const { return m_format.photometric; }
    const PixelFormat& Format() const { return m_format; }
    bool IsSigned() const { return m_format.isSigned; }
    bool IsColour() const { return m_colour; }
    uint8_t Planar() const { return m_format.planar; }
    bool IsYbr422() const { return m_ybr422; }
    float RescaleIntercept() const { return m_rescaleIntercept; }
    float RescaleSlope() const { return m_rescaleSlope; }
    int32_t InstanceNumber() const { return m_instanceNumber; }
    // Pixel Spacing (row spacing, column spacing) in mm, from the data set or its functional
    // groups; false when unknown or unusable (either value not above 0, above 1000 mm or
    // not a number).
    bool PixelSpacing(float spacing[2]) const;
    CDicomElement* PixelData() const { return m_pixelData; }

    // 32-bit samples are shifted into 16 bits; the shift is chosen at the first decode and
    // the rescale slope grows to match, so modality values stay right.
    int AdoptWideSampleShift(int shift);

private:
    friend class CDicomFrame;
    void ReadAttributes();
    void ReadFunctionalGroups();
    void BuildNativeFrames();
    void BuildEncapsulatedFrames();
    void SetFrameGeometry(CDicomFrame& frame, size_t index);

    CDicomFile& m_file;
    CDicomElement* m_pixelData = nullptr;
    std::string m_key;
    std::vector<std::unique_ptr<CDicomFrame>> m_frames;
    bool m_framesBuilt = false;
    int32_t m_columns = 0;
    int32_t m_rows = 0;
    PixelFormat m_format;
    bool m_colour = false;
    bool m_ybr422 = false;  // YBR_FULL_422: two pixels share their chroma
    float m_rescaleIntercept = 0;
    float m_rescaleSlope = 1;
    int32_t m_instanceNumber = -1;
    int32_t m_numberOfFrames = 1;
    float m_pixelSpacing[2] = {0, 0};
    bool m_hasPixelSpacing = false;
    int m_wideSampleShift = -1;  // -1 until the first 32-bit frame is decoded
    DecodeStatus m_initialiseStatus = DecodeStatus::Ok;
};

}  // namespace vexel
