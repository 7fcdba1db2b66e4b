#include "imaging/dicom_frame.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>

#include "dicom/dicom_file.h"
#include "imaging/binary_value_cacher.h"
#include "imaging/colour_conversion.h"
#include "imaging/dicom_image.h"
#include "imaging/ellipse_region.h"
#include "imaging/jpeg_engine.h"
#include "imaging/palette.h"
#include "imaging/pixel_caches.h"
#include "imaging/rle_decoder.h"
#include "imaging/sample_byte_order.h"
#include "imaging/sample_conversion.h"

namespace vexel {
namespace {

constexpr uint32_t kOverlayData = 0x60003000;
constexpr uint32_t kOverlayRows = 0x60000010;
constexpr uint32_t kOverlayColumns = 0x60000011;

uint8_t* AllocateBuffer(size_t size, bool zeroed) {
    return static_cast<uint8_t*>(zeroed ? CheckedCalloc(size) : CheckedAlloc(size));
}

DecodeStatus FromCodecStatus(int32_t status) {
    switch (status) {
        case VEXEL_CODEC_OK:
            return DecodeStatus::Ok;
        case VEXEL_CODEC_SIZE_MISMATCH:
        case VEXEL_CODEC_OUTPUT_TOO_SMALL:
            return DecodeStatus::SizeMismatch;
        case VEXEL_CODEC_UNSUPPORTED:
            return DecodeStatus::Unsupported;
        case VEXEL_CODEC_NO_MEMORY:
            return DecodeStatus::OutOfMemory;
        case CJPEGEngine::kNotLoaded:
            return DecodeStatus::CodecMissing;
        default:
            return DecodeStatus::Corrupt;
    }
}

uint32_t ColourModeOf(const PixelFormat& format) {
    switch (format.photometric) {
        case PhotometricCode::Rgb:
            return VEXEL_COLOUR_RGB;
        case PhotometricCode::YbrFull:
        case PhotometricCode::YbrPartial422:
        case PhotometricCode::YbrPartial420:
            return VEXEL_COLOUR_YBR;
        default:
            return VEXEL_COLOUR_UNKNOWN;
    }
}

}  // namespace

CDicomFrame::CDicomFrame(CDicomImage& image, uint32_t index)
    : m_image(image), m_index(index), m_key(image.Key() + "@" + std::to_string(index)) {}

CDicomFrame::~CDicomFrame() {
    // Out of the queue before anything else goes, so no release pass sees a half-destroyed
    // frame.
    LeaveReleaseQueue();
    if (m_cacheId != 0) {
        if (CBinaryValueCacher* cache = InstalledPixelCaches().diskCache) cache->Delete(m_cacheId);
    }
}

void CDicomFrame::SetLayout(uint32_t columns, uint32_t rows, bool colour, size_t bufferSize) {
    m_columns = columns;
    m_rows = rows;
    m_colour = colour;
    m_bufferSize = bufferSize;
}

void CDicomFrame::SetGeometry(const float* position, const float* orientation, float thickness) {
    if (position) m_position = std::array<float, 3>{position[0], position[1], position[2]};
    if (orientation) {
        std::array<float, 6> o;
        std::copy_n(orientation, 6, o.begin());
        m_orientation = o;
    }
    m_sliceThickness = thickness;
}

void CDicomFrame::AdoptBuffer(uint8_t* buffer) {
    std::lock_guard lock(m_image.File().StructureLock());
    m_buffer.reset(buffer);
    m_inMemory = true;
    TookBuffer();
}

void CDicomFrame::TookBuffer() {
    SetResidentSize(static_cast<int64_t>(m_bufferSize));
    EnterReleaseQueue(InstalledPixelCaches().releaseQueue);
}

void CDicomFrame::SetDecodeTimeMs(int32_t ms) {
    std::lock_guard lock(m_image.File().StructureLock());
    m_decodeTimeMs = ms;
}

bool CDicomFrame::IsInUse() const {
    return m_image.File().ReferenceCount() > 0;
}

const uint8_t* CDicomFrame::Pixels(std::vector<CDicomFrame*>* holders) {
    std::lock_guard lock(m_image.File().StructureLock());
    if (holders) {
        ++m_users;
        holders->push_back(this);
    }
    if (!m_buffer && m_cacheId != 0) RestoreFromDiskCache();
    if (!m_buffer) Decode();
    return m_buffer.get();
}

void CDicomFrame::RestoreFromDiskCache() {
    CBinaryValueCacher* cache = InstalledPixelCaches().diskCache;
    CheckedPtr<uint8_t> buffer(AllocateBuffer(m_bufferSize, false));
    if (!buffer) return;
    if (cache && cache->Load(m_cacheId, buffer.get(), m_bufferSize)) {
        m_buffer = std::move(buffer);
        TookBuffer();
        return;
    }
    // Evicted, missing or damaged: decode again from the file.
    if (cache) cache->Delete(m_cacheId);
    m_cacheId = 0;
}

void CDicomFrame::ReleaseHolders(std::vector<CDicomFrame*>& holders) {
    for (CDicomFrame* frame : holders) {
        std::lock_guard lock(frame->m_image.File().StructureLock());
        if (frame->m_users > 0) --frame->m_users;
    }
    holders.clear();
}

bool CDicomFrame::Release() {
    // Busy counts as in use: release never waits for another thread's decode.
    std::unique_lock lock(m_image.File().StructureLock(), std::try_to_lock);
    if (!lock.owns_lock() || m_users > 0 || !m_buffer) return false;
    CBinaryValueCacher* cache = InstalledPixelCaches().diskCache;
    if (m_cacheId == 0 && (m_decodeTimeMs >= kDiskCacheDecodeMs || m_inMemory) && cache) {
        m_cacheId = cache->Store(m_buffer, m_bufferSize, !m_inMemory);
        if (m_cacheId != 0) return true;
    }
    // A reconstruction cannot be decoded again: it keeps its buffer when the disk cache
    // cannot take it.
    if (m_inMemory && m_cacheId == 0) return false;
    m_buffer.reset();
    return true;
}

DecodeStatus CDicomFrame::Decode() {
    std::lock_guard lock(m_image.File().StructureLock());
    if (m_buffer) return DecodeStatus::Ok;
    const auto start = std::chrono::steady_clock::now();
    CheckedPtr<uint8_t> out;
    const DecodeStatus status =
        m_source.fragments.empty() ? DecodeNative(out) : DecodeEncapsulated(out);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    if (m_decodeTimeMs == 0 && elapsed.count() >= 1) {
        m_decodeTimeMs = static_cast<int32_t>(std::min<int64_t>(elapsed.count(), INT32_MAX));
    }
    m_lastStatus = status;
    if (status != DecodeStatus::Ok) return status;
    m_buffer = std::move(out);
    TookBuffer();
    LoadOverlay();
    return status;
}

DecodeStatus CDicomFrame::DecodeNative(CheckedPtr<uint8_t>& out) {
    CDicomFile& file = m_image.File();
    const CDicomElement* pixelData = m_image.PixelData();
    if (pixelData == nullptr || m_source.size == 0) return DecodeStatus::NoPixelData;
    const PixelFormat& format = m_image.Format();
    const size_t pixels = size_t(m_columns) * m_rows;
    out.reset(AllocateBuffer(m_bufferSize, false));
    if (!out) return DecodeStatus::OutOfMemory;

    // 16-bit greyscale is read straight into the buffer.
    if (!m_colour && format.bitsAllocated == 16 && m_source.size == m_bufferSize) {
        if (!file.ReadBytes(pixelData, out.get(), m_source.offset, m_source.size)) {
            return DecodeStatus::ReadFailed;
        }
        auto* words = reinterpret_cast<uint16_t*>(out.get());
        if (file.IsBigEndian()) {
            for (size_t i = 0; i < pixels; ++i)
                words[i] = static_cast<uint16_t>((words[i] >> 8) | (words[i] << 8));
        }
        NormaliseWords({words, pixels}, format);
        return DecodeStatus::Ok;
    }
    CheckedPtr<uint8_t> source(AllocateBuffer(m_source.size, false));
    if (!source) return DecodeStatus::OutOfMemory;
    // Samples narrower than a word are unpacked from little-endian order; wider ones are
    // swapped as whole samples by their readers below.
    const bool narrow = format.bitsAllocated < 16;
    if (!(narrow ? ReadSampleBytes(file, pixelData, m_source.offset, m_source.size, source.get())
                 : file.ReadBytes(pixelData, source.get(), m_source.offset, m_source.size))) {
        return DecodeStatus::ReadFailed;
    }
    const std::span<const uint8_t> bytes(source.get(), m_source.size);
    if (format.photometric == PhotometricCode::PaletteColor) {
        CPalette palette;
        if (!palette.Load(file)) return DecodeStatus::Unsupported;
        if (format.bitsAllocated == 8) {
            palette.Apply(bytes.data(), pixels, out.get());
        } else if (format.bitsAllocated == 16) {
            std::vector<uint16_t> indices(pixels);
            if (!UnpackGreyscale(bytes, 0, {16, 16, 15, 1, false, 0, format.photometric},
                                 file.IsBigEndian(), 0, indices)) {
                return DecodeStatus::ReadFailed;
            }
            palette.Apply(indices.data(), pixels, out.get());
        } else {
            return DecodeStatus::Unsupported;
        }
        return DecodeStatus::Ok;
    }
    if (m_colour) {
        return NativeColourToRgb(bytes, format, m_image.IsYbr422(), file.IsBigEndian(), m_columns,
                                 m_rows, out.get());
    }
    int wideShift = 0;
    if (format.bitsAllocated == 32) {
        wideShift = m_image.AdoptWideSampleShift(
            WideSampleShift(bytes, format.isSigned, file.IsBigEndian()));
    }
    auto* words = reinterpret_cast<uint16_t*>(out.get());
    if (!UnpackGreyscale(bytes, m_source.bitOffset, format, file.IsBigEndian(), wideShift,
                         {words, pixels})) {
        return DecodeStatus::ReadFailed;
    }
    return DecodeStatus::Ok;
}

namespace {

// RLE planes (most significant byte of each sample first) to the frame buffer.
DecodeStatus ComposeRle(const std::vector<uint8_t>& planes, size_t pixels,
                        const PixelFormat& format, CDicomFile& file, bool colour, uint8_t* out,
                        CDicomImage& image) {
    const size_t bytesPerSample = (format.bitsAllocated + 7u) / 8u;
    auto sampleOf = [&](size_t firstPlane, size_t p) {
        uint32_t v = 0;
        for (size_t b = 0; b < bytesPerSample; ++b)
            v = (v << 8) | planes[(firstPlane + b) * pixels + p];
        return v;
    };
    if (format.photometric == PhotometricCode::PaletteColor) {
        CPalette palette;
        if (!palette.Load(file)) return DecodeStatus::Unsupported;
        std::vector<uint16_t> indices(pixels);
        for (size_t p = 0; p < pixels; ++p)
            indices[p] = static_cast<uint16_t>(sampleOf(0, p));
        palette.Apply(indices.data(), pixels, out);
        return DecodeStatus::Ok;
    }
    if (colour) {
        const int shift = std::clamp<int>(format.bitsStored, 8, 32) - 8;
        for (size_t p = 0; p < pixels; ++p) {
            for (size_t c = 0; c < 3; ++c) {
                out[3 * p + c] = static_cast<uint8_t>(
                    std::min<uint32_t>(sampleOf(c * bytesPerSample, p) >> shift, 255));
            }
        }
        if (format.photometric == PhotometricCode::YbrFull) YbrFullToRgb({out, pixels * 3});
        return DecodeStatus::Ok;
    }
    auto* words = reinterpret_cast<uint16_t*>(out);
    if (bytesPerSample == 4) {
        std::vector<uint8_t> little(pixels * 4);
        for (size_t p = 0; p < pixels; ++p) {
            const uint32_t v = sampleOf(0, p);
            std::memcpy(little.data() + 4 * p, &v, 4);
        }
        const int shift =
            image.AdoptWideSampleShift(WideSampleShift(little, format.isSigned, false));
        return UnpackGreyscale(little, 0, format, false, shift, {words, pixels})
                   ? DecodeStatus::Ok
                   : DecodeStatus::Corrupt;
    }
    for (size_t p = 0; p < pixels; ++p)
        words[p] = static_cast<uint16_t>(sampleOf(0, p));
    NormaliseWords({words, pixels}, format);
    return DecodeStatus::Ok;
}

// The frame's fragments joined into one guarded block.
DecodeStatus ReadFragments(CDicomFile& file, const std::vector<const CDicomElement*>& fragments,
                           CheckedPtr<uint8_t>& source, uint64_t& total) {
    total = 0;
    for (const CDicomElement* fragment : fragments)
        total += fragment->length;
    if (total == 0) return DecodeStatus::NoPixelData;
    if (total > MaxCheckedSize()) return DecodeStatus::OutOfMemory;
    source.reset(AllocateBuffer(total, false));
    if (!source) return DecodeStatus::OutOfMemory;
    uint64_t at = 0;
    for (const CDicomElement* fragment : fragments) {
        if (fragment->length == 0) continue;
        if (!file.ReadBytes(fragment, source.get() + at, 0, fragment->length)) {
            return DecodeStatus::ReadFailed;
        }
        at += fragment->length;
    }
    return DecodeStatus::Ok;
}

}  // namespace

DecodeStatus CDicomFrame::DecodeEncapsulated(CheckedPtr<uint8_t>& out) {
    CDicomFile& file = m_image.File();
    const PixelFormat& format = m_image.Format();
    const size_t pixels = size_t(m_columns) * m_rows;

    CheckedPtr<uint8_t> source;
    uint64_t total = 0;
    if (DecodeStatus status = ReadFragments(file, m_source.fragments, source, total);
        status != DecodeStatus::Ok) {
        return status;
    }
    out.reset(AllocateBuffer(m_bufferSize, true));
    if (!out) return DecodeStatus::OutOfMemory;

    const TransferSyntaxCode syntax = file.TransferSyntax();
    const bool palette = format.photometric == PhotometricCode::PaletteColor;
    if (syntax == TransferSyntaxCode::RleLossless) {
        const uint32_t bytesPerSample = (format.bitsAllocated + 7u) / 8u;
        const uint32_t segments = (m_colour && !palette ? 3u : 1u) * bytesPerSample;
        std::vector<uint8_t> planes;
        const DecodeStatus status =
            DecodeRlePlanes({source.get(), total}, pixels, segments, planes);
        if (status != DecodeStatus::Ok) return status;
        return ComposeRle(planes, pixels, format, file, m_colour, out.get(), m_image);
    }

    CJPEGEngine* engine = CJPEGEngine::Instance();
    if (engine == nullptr) return DecodeStatus::CodecMissing;
    CJPEGEngine::Module module;
    if (syntax == TransferSyntaxCode::JpegLsLossless ||
        syntax == TransferSyntaxCode::JpegLsNearLossless) {
        module = CJPEGEngine::Module::Jpeg4;
    } else if (IsJpeg2000Syntax(syntax)) {
        module = CJPEGEngine::Module::Jpeg2000;
    } else if (!CJPEGEngine::ModuleForPrecision(
                   CJPEGEngine::SamplePrecision(source.get(), total), module)) {
        return DecodeStatus::Corrupt;
    }
    // Palette indices come out as greyscale words first.
    std::vector<uint16_t> indices;
    VexelDecodeRequest request{};
    request.structSize = sizeof request;
    request.data = source.get();
    request.size = total;
    request.rows = m_rows;
    request.columns = m_columns;
    request.components = m_colour && !palette ? 3 : 1;
    request.colour = ColourModeOf(format);
    if (palette) {
        indices.resize(pixels);
        request.output = reinterpret_cast<uint8_t*>(indices.data());
        request.capacity = pixels * 2;
    } else {
        request.output = out.get();
        request.capacity = m_bufferSize;
    }
    const DecodeStatus status = FromCodecStatus(engine->Decode(module, request));
    if (status != DecodeStatus::Ok) return status;
    if (palette) {
        CPalette table;
        if (!table.Load(file)) return DecodeStatus::Unsupported;
        table.Apply(indices.data(), pixels, out.get());
    } else if (!m_colour) {
        NormaliseWords({reinterpret_cast<uint16_t*>(out.get()), pixels}, format);
    }
    return DecodeStatus::Ok;
}

void CDicomFrame::LoadOverlay() {
    if (m_overlayLoaded) return;
    m_overlayLoaded = true;
    CDicomFile& file = m_image.File();
    CDicomElement* data = file.FindElement(kOverlayData);
    if (data == nullptr) return;
    const int32_t columns = file.Integer(kOverlayColumns, 0);
    const int32_t rows = file.Integer(kOverlayRows, 0);
    if (columns <= 0 || rows <= 0) return;
    // Only an overlay whose data covers every one of its bits is used.
    const uint64_t bytes = (uint64_t(columns) * uint64_t(rows) + 7) / 8;
    if (data->length < bytes) return;
    CheckedPtr<uint8_t> bits(AllocateBuffer(bytes, false));
    if (!bits || !ReadSampleBytes(file, data, 0, bytes, bits.get())) return;
    m_overlay = std::move(bits);
    m_overlayColumns = uint32_t(columns);
    m_overlayRows = uint32_t(rows);
}

bool CDicomFrame::ComputeValueRange(float& centre, float& width) {
    if (m_colour) {
        centre = 128;
        width = 256;
        return true;
    }
    std::vector<CDicomFrame*> holders;
    const uint8_t* pixels = Pixels(&holders);
    if (pixels == nullptr) {
        ReleaseHolders(holders);
        return false;
    }
    const size_t count = size_t(m_columns) * m_rows;
    const auto* words = reinterpret_cast<const uint16_t*>(pixels);
    int32_t low = m_image.IsSigned() ? 32767 : 65535;
    int32_t high = m_image.IsSigned() ? -32768 : 0;
    for (size_t i = 0; i < count; ++i) {
        const int32_t v = m_image.IsSigned() ? int32_t(int16_t(words[i])) : int32_t(words[i]);
        low = std::min(low, v);
        high = std::max(high, v);
    }
    ReleaseHolders(holders);
    float minimum = float(low), maximum = float(high);
    const float slope = m_image.RescaleSlope(), intercept = m_image.RescaleIntercept();
    if (!(intercept == 0 && slope == 1)) {
        minimum = minimum * slope + intercept;
        maximum = maximum * slope + intercept;
        if (minimum > maximum) std::swap(minimum, maximum);
    }
    width = std::max(maximum - minimum + 1, 1.0f);
    centre = minimum + width / 2;
    return true;
}

EllipseStatistics CDicomFrame::Ellipse(float x1, float y1, float x2, float y2) {
    EllipseStatistics stats;
    const float a = std::fabs(x2 - x1) / 2, b = std::fabs(y2 - y1) / 2;
    constexpr float kPi = 3.1415925f;
    stats.areaPixels = a * kPi * b;
    float spacing[2];
    if (m_image.PixelSpacing(spacing))
        stats.areaSquareCm = spacing[0] * spacing[1] * stats.areaPixels / 100;
    if (m_colour || a <= 0 || b <= 0) return stats;

    std::vector<CDicomFrame*> holders;
    const auto* words = reinterpret_cast<const uint16_t*>(Pixels(&holders));
    const EllipseSums sums = SumEllipse(words, int32_t(m_columns), int32_t(m_rows),
                                        m_image.IsSigned(), {x1, y1, x2, y2});
    ReleaseHolders(holders);
    const int64_t sum = sums.sum;
    const int64_t count = sums.count;
    const int32_t low = sums.minimum, high = sums.maximum;
    stats.pixelCount = sums.count;
    if (count == 0) return stats;
    const double mean = double(sum / count) + double(sum % count) / double(count);
    const float slope = m_image.RescaleSlope(), intercept = m_image.RescaleIntercept();
    const bool identity = intercept == 0 && slope == 1;
    stats.minimum = identity ? float(low) : float(low) * slope + intercept;
    stats.maximum = identity ? float(high) : float(high) * slope + intercept;
    stats.mean = identity ? float(mean) : float(mean) * slope + intercept;
    const double exactMean = double(sum) / double(count);
    const double variance = sums.sumOfSquares / double(count) - exactMean * exactMean;
    stats.stddev = std::sqrt(std::max(variance, 0.0)) * std::fabs(double(slope));
    return stats;
}

std::string CDicomFrame::ValueText(int x, int y) {
    if (x < 0 || y < 0 || x >= int(m_columns) || y >= int(m_rows)) return {};
    std::vector<CDicomFrame*> holders;
    const uint8_t* pixels = Pixels(&holders);
    std::string text;
    if (pixels != nullptr) {
        const size_t at = size_t(y) * m_columns + size_t(x);
        char buffer[64];
        if (m_colour) {
            std::snprintf(buffer, sizeof buffer, "%d,%d,%d", pixels[3 * at], pixels[3 * at + 1],
                          pixels[3 * at + 2]);
        } else {
            const uint16_t w = reinterpret_cast<const uint16_t*>(pixels)[at];
            const int32_t v = m_image.IsSigned() ? int32_t(int16_t(w)) : int32_t(w);
            const float slope = m_image.RescaleSlope(), intercept = m_image.RescaleIntercept();
            if (intercept == 0 && slope == 1) {
                std::snprintf(buffer, sizeof buffer, "%d", v);
            } else {
                std::snprintf(buffer, sizeof buffer, "%.0f", double(v) * slope + intercept);
            }
        }
        text = buffer;
    }
    ReleaseHolders(holders);
    return text;
}

}  // namespace vexel
