#include "jpegls_frame_decoder.h"

#include <charls/charls.h>

#include <cstring>
#include <memory>
#include <vector>

#include "common/decode_request.h"
#include "common/rgb_output.h"

namespace vexel::codec {
namespace {

struct DecoderDeleter {
    void operator()(charls_jpegls_decoder* decoder) const {
        charls_jpegls_decoder_destroy(decoder);
    }
};
using DecoderHandle = std::unique_ptr<charls_jpegls_decoder, DecoderDeleter>;

int32_t StatusFromCharLs(charls::jpegls_errc error) {
    switch (error) {
        case charls::jpegls_errc::success:
            return VEXEL_CODEC_OK;
        case charls::jpegls_errc::not_enough_memory:
            return VEXEL_CODEC_NO_MEMORY;
        case charls::jpegls_errc::parameter_value_not_supported:
        case charls::jpegls_errc::bit_depth_for_transform_not_supported:
        case charls::jpegls_errc::color_transform_not_supported:
        case charls::jpegls_errc::encoding_not_supported:
        case charls::jpegls_errc::jpegls_preset_extended_parameter_type_not_supported:
            return VEXEL_CODEC_UNSUPPORTED;
        default:
            return VEXEL_CODEC_CORRUPT;
    }
}

// One component of 2-8 bits: CharLS writes bytes into the upper half of the output, which
// are then widened to words from the front; word i is written only after byte i was read.
int32_t DecodeNarrowGrey(charls_jpegls_decoder* decoder, uint8_t* output, size_t pixels) {
    uint8_t* bytes = output + pixels;
    const int32_t status =
        StatusFromCharLs(charls_jpegls_decoder_decode_to_buffer(decoder, bytes, pixels, 0));
    if (status != VEXEL_CODEC_OK) return status;
    for (size_t i = 0; i < pixels; ++i) {
        const uint16_t word = bytes[i];
        std::memcpy(output + 2 * i, &word, sizeof word);
    }
    return VEXEL_CODEC_OK;
}

// Three components: CharLS gives planes for interleave mode none and pixel-interleaved
// samples for line and sample interleave; the output is always interleaved RGB bytes.
int32_t DecodeColour(charls_jpegls_decoder* decoder, const VexelDecodeRequest& request,
                     size_t pixels) {
    charls_interleave_mode mode{};
    if (charls_jpegls_decoder_get_interleave_mode(decoder, &mode) != charls::jpegls_errc::success)
        return VEXEL_CODEC_CORRUPT;
    const size_t bytesPerSample = request.streamPrecision > 8 ? 2 : 1;
    const size_t size = pixels * 3 * bytesPerSample;
    const auto samples = std::make_unique_for_overwrite<uint8_t[]>(size);
    const int32_t status =
        StatusFromCharLs(charls_jpegls_decoder_decode_to_buffer(decoder, samples.get(), size, 0));
    if (status != VEXEL_CODEC_OK) return status;

    const bool planar = mode == charls::interleave_mode::none;
    const size_t pixelStep = planar ? 1 : 3;
    const size_t componentStep = planar ? pixels : 1;
    const int shift =
        request.streamPrecision > 8 ? static_cast<int>(request.streamPrecision) - 8 : 0;
    const bool fromYbr = request.colour == VEXEL_COLOUR_YBR;
    if (bytesPerSample == 1) {
        const uint8_t* base = samples.get();
        WriteRgb(request.output, pixels, shift, fromYbr,
                 [&](size_t i, size_t c) { return base[i * pixelStep + c * componentStep]; });
    } else {
        const uint8_t* base = samples.get();
        WriteRgb(request.output, pixels, shift, fromYbr, [&](size_t i, size_t c) {
            uint16_t word;
            std::memcpy(&word, base + 2 * (i * pixelStep + c * componentStep), sizeof word);
            return word;
        });
    }
    return VEXEL_CODEC_OK;
}

// CharLS 2.4 spins for seconds on a scan that runs out of data without an end-of-image
// marker (seen on 48-375 byte fuzz inputs); with the marker in place it fails at once.
// Valid streams end with one already, so they are passed as they are.
bool EndsWithEndOfImage(const uint8_t* data, uint64_t size) {
    while (size > 0 && data[size - 1] == 0x00) --size;  // even-length padding
    return size >= 2 && data[size - 2] == 0xFF && data[size - 1] == 0xD9;
}

int32_t ReadHeader(charls_jpegls_decoder* decoder, VexelDecodeRequest& request,
                   const uint8_t* data, uint64_t size) {
    int32_t status =
        StatusFromCharLs(charls_jpegls_decoder_set_source_buffer(decoder, data, size));
    if (status == VEXEL_CODEC_OK)
        status = StatusFromCharLs(charls_jpegls_decoder_read_header(decoder));
    if (status != VEXEL_CODEC_OK) return status;
    charls_frame_info frame{};
    status = StatusFromCharLs(charls_jpegls_decoder_get_frame_info(decoder, &frame));
    if (status != VEXEL_CODEC_OK) return status;
    request.streamRows = frame.height;
    request.streamColumns = frame.width;
    request.streamComponents = static_cast<uint32_t>(frame.component_count);
    request.streamPrecision = static_cast<uint32_t>(frame.bits_per_sample);
    request.streamSigned = 0;
    return CheckStreamAgainstRequest(request);
}

}  // namespace

int32_t DecodeJpegLsFrame(VexelDecodeRequest& request) {
    const DecoderHandle decoder(charls_jpegls_decoder_create());
    if (!decoder) return VEXEL_CODEC_NO_MEMORY;
    std::vector<uint8_t> terminated;
    const uint8_t* data = request.data;
    uint64_t size = request.size;
    if (!EndsWithEndOfImage(data, size)) {
        terminated.assign(data, data + size);
        terminated.push_back(0xFF);
        terminated.push_back(0xD9);
        data = terminated.data();
        size = terminated.size();
    }
    const int32_t status = ReadHeader(decoder.get(), request, data, size);
    if (status != VEXEL_CODEC_OK) return status;

    const size_t pixels = static_cast<size_t>(request.streamRows) * request.streamColumns;
    if (request.streamComponents == 3) return DecodeColour(decoder.get(), request, pixels);
    if (request.streamPrecision <= 8)
        return DecodeNarrowGrey(decoder.get(), request.output, pixels);
    // 9-16 bits: CharLS writes native-order 16-bit words, which is the output layout.
    return StatusFromCharLs(
        charls_jpegls_decoder_decode_to_buffer(decoder.get(), request.output, pixels * 2, 0));
}

}  // namespace vexel::codec
