// One frame of an image: where its bytes are, and its decoded buffer.
//
// Buffers: greyscale frames hold rows x columns 16-bit words with the stored value masked
// to Bits Stored and sign-extended for signed images; colour frames hold rows x columns
// interleaved R, G, B bytes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dicom/dicom_element.h"
#include "imaging/pixel_format.h"
#include "imaging/releasable_object.h"
#include "platform/checked_alloc.h"

namespace vexel {

class CDicomImage;

struct EllipseStatistics {
    float minimum = 0;
    float maximum = 0;
    float mean = 0;
    double stddev = 0;  // population, in modality units
    float areaPixels = 0;
    float areaSquareCm = 0;
    uint32_t pixelCount = 0;
};

// Frames whose first decode took at least this long go to the disk cache on release;
// quicker ones are decoded again.
inline constexpr int32_t kDiskCacheDecodeMs = 21;

class CDicomFrame final : public CReleasableObject {
public:
    CDicomFrame(CDicomImage& image, uint32_t index);
    ~CDicomFrame() override;
    CDicomFrame(const CDicomFrame&) = delete;
    CDicomFrame& operator=(const CDicomFrame&) = delete;

    // The decoded buffer, decoding on first use, under the file's structure lock. With a
    // holder list the frame counts the caller as a user and is appended to the list; the
    // buffer then stays valid until ReleaseHolders.
    const uint8_t* Pixels(std::vector<CDicomFrame*>* holders);
    static void ReleaseHolders(std::vector<CDicomFrame*>& holders);

    DecodeStatus Decode();
    DecodeStatus LastStatus() const { return m_lastStatus; }
    // Gives up the buffer unless someone holds it or another thread works on the file: to
    // the disk cache when the frame was slow to decode or cannot be decoded again, else to
    // nothing. True when it did.
    bool Release() override;
    // True while the owning file is referenced.
    bool IsInUse() const override;

    // Full-dynamic window (centre, width) in modality units.
    bool ComputeValueRange(float& centre, float& width);
    EllipseStatistics Ellipse(float x1, float y1, float x2, float y2);
    // "R,G,B" for colour, the (rescaled) value for greyscale; empty outside the frame.
    std::string ValueText(int x, int y);

    CDicomImage& Image() const { return m_image; }
    uint32_t Index() const { return m_index; }
    const std::string& Key() const { return m_key; }
    uint32_t Columns() const { return m_columns; }
    uint32_t Rows() const { return m_rows; }
    bool IsColour() const { return m_colour; }
    size_t BufferSize() const { return m_bufferSize; }
    bool HasBuffer() const { return m_buffer != nullptr; }
    // Id of the buffer in the disk cache, 0 when none.
    uint32_t CacheId() const { return m_cacheId; }
    int32_t DecodeTimeMs() const { return m_decodeTimeMs; }
    // Benchmarks and tests pose as slow or quick decodes.
    void SetDecodeTimeMs(int32_t ms);
    bool InMemory() const { return m_inMemory; }
    const std::optional<std::array<float, 3>>& Position() const { return m_position; }
    const std::optional<std::array<float, 6>>& Orientation() const { return m_orientation; }
    float SliceThickness() const { return m_sliceThickness; }
    bool HasOverlay() const { return m_overlay != nullptr; }
    const uint8_t* OverlayBits() const { return m_overlay.get(); }
    uint32_t OverlayColumns() const { return m_overlayColumns; }
    uint32_t OverlayRows() const { return m_overlayRows; }

    // Layout, set when the image builds its frames.
    struct Source {
        uint64_t offset = 0;    // native: byte offset in the pixel data value
        uint64_t size = 0;      // native: bytes of the frame (rounded up for 1-bit data)
        uint8_t bitOffset = 0;  // native 1-bit data: first bit inside the first byte
        std::vector<const CDicomElement*> fragments;  // encapsulated
    };
    Source& MutableSource() { return m_source; }
    const Source& GetSource() const { return m_source; }
    void SetLayout(uint32_t columns, uint32_t rows, bool colour, size_t bufferSize);
    void SetGeometry(const float* position, const float* orientation, float thickness);
    // Takes over a guarded buffer of BufferSize() bytes (frames made in memory).
    void AdoptBuffer(uint8_t* buffer);

private:
    void TookBuffer();
    void RestoreFromDiskCache();
    DecodeStatus DecodeNative(CheckedPtr<uint8_t>& out);
    DecodeStatus DecodeEncapsulated(CheckedPtr<uint8_t>& out);
    void LoadOverlay();

    CDicomImage& m_image;
    uint32_t m_index;
    std::string m_key;
    Source m_source;
    uint32_t m_columns = 0;
    uint32_t m_rows = 0;
    bool m_colour = false;
    bool m_inMemory = false;
    size_t m_bufferSize = 0;
    CheckedPtr<uint8_t> m_buffer;
    uint32_t m_users = 0;
    uint32_t m_cacheId = 0;
    int32_t m_decodeTimeMs = 0;
    DecodeStatus m_lastStatus = DecodeStatus::Ok;
    std::optional<std::array<float, 3>> m_position;
    std::optional<std::array<float, 6>> m_orientation;
    float m_sliceThickness = 0;
    bool m_overlayLoaded = false;
    CheckedPtr<uint8_t> m_overlay;
    uint32_t m_overlayColumns = 0;
    uint32_t m_overlayRows = 0;
};

}  // namespace vexel
