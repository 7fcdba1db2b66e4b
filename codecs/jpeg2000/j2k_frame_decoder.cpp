#include "j2k_frame_decoder.h"

#include <openjpeg.h>

#include <array>
#include <cstring>
#include <memory>

#include "common/decode_request.h"
#include "common/rgb_output.h"
#include "j2k_decode_threads.h"
#include "j2k_memory_stream.h"

namespace vexel::codec {
namespace {

struct CodecDeleter {
    void operator()(opj_codec_t* codec) const { opj_destroy_codec(codec); }
};
struct ImageDeleter {
    void operator()(opj_image_t* image) const { opj_image_destroy(image); }
};
using CodecHandle = std::unique_ptr<opj_codec_t, CodecDeleter>;
using ImageHandle = std::unique_ptr<opj_image_t, ImageDeleter>;

void IgnoreMessage(const char* /*message*/, void* /*user*/) {}

// JP2 signature box (ISO/IEC 15444-1 I.5.1) or the codestream's SOC and SIZ markers.
bool DetectFormat(const uint8_t* data, uint64_t size, OPJ_CODEC_FORMAT* format) {
    static constexpr std::array<uint8_t, 12> kJp2 = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50,
                                                     0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A};
    static constexpr std::array<uint8_t, 4> kCodestream = {0xFF, 0x4F, 0xFF, 0x51};
    if (size >= kJp2.size() && std::memcmp(data, kJp2.data(), kJp2.size()) == 0) {
        *format = OPJ_CODEC_JP2;
        return true;
    }
    if (size >= kCodestream.size() &&
        std::memcmp(data, kCodestream.data(), kCodestream.size()) == 0) {
        *format = OPJ_CODEC_J2K;
        return true;
    }
    return false;
}

CodecHandle CreateCodec(OPJ_CODEC_FORMAT format, uint32_t threads) {
    CodecHandle codec(opj_create_decompress(format));
    if (!codec) return codec;
    opj_set_info_handler(codec.get(), &IgnoreMessage, nullptr);
    opj_set_warning_handler(codec.get(), &IgnoreMessage, nullptr);
    opj_set_error_handler(codec.get(), &IgnoreMessage, nullptr);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    if (!opj_setup_decoder(codec.get(), &parameters)) return nullptr;
    // A truncated codestream is an error, not a partly grey image.
    opj_decoder_set_strict_mode(codec.get(), OPJ_TRUE);
    // Must come before the header is read. A library built without threads refuses; it then
    // decodes on this thread, with the same result.
    opj_codec_set_threads(codec.get(), static_cast<int>(threads));
    return codec;
}

// Fills the stream fields from the header and checks that every component has the same
// size, precision and signedness as the first.
int32_t DescribeImage(const opj_image_t& image, VexelDecodeRequest& request) {
    if (image.numcomps == 0 || image.comps == nullptr) return VEXEL_CODEC_CORRUPT;
    const opj_image_comp_t& first = image.comps[0];
    request.streamRows = first.h;
    request.streamColumns = first.w;
    request.streamComponents = image.numcomps;
    request.streamPrecision = first.prec;
    request.streamSigned = first.sgnd != 0 ? 1 : 0;
    for (OPJ_UINT32 c = 0; c < image.numcomps; ++c) {
        const opj_image_comp_t& component = image.comps[c];
        if (component.dx != 1 || component.dy != 1) return VEXEL_CODEC_UNSUPPORTED;
        if (component.w != first.w || component.h != first.h || component.prec != first.prec ||
            component.sgnd != first.sgnd)
            return VEXEL_CODEC_UNSUPPORTED;
    }
    return CheckStreamAgainstRequest(request);
}

// True when the main header's COD asks for the inverse component transform (RCT or ICT),
// which OpenJPEG applies while decoding: the components then come out as R, G, B.
bool UsesComponentTransform(opj_codec_t* codec) {
    opj_codestream_info_v2_t* info = opj_get_cstr_info(codec);
    if (info == nullptr) return false;
    const bool mct = info->m_default_tile_info.mct != 0;
    opj_destroy_cstr_info(&info);
    return mct;
}

void WriteGrey(const opj_image_t& image, uint8_t* output) {
    const OPJ_INT32* samples = image.comps[0].data;
    const size_t pixels = static_cast<size_t>(image.comps[0].w) * image.comps[0].h;
    for (size_t i = 0; i < pixels; ++i) {
        // Signed samples become their 16-bit two's complement.
        const auto word = static_cast<uint16_t>(samples[i]);
        std::memcpy(output + 2 * i, &word, sizeof word);
    }
}

void WriteColour(const opj_image_t& image, bool fromYbr, uint8_t* output) {
    const opj_image_comp_t& first = image.comps[0];
    const size_t pixels = static_cast<size_t>(first.w) * first.h;
    const int precision = static_cast<int>(first.prec);
    const int shift = precision > 8 ? precision - 8 : 0;
    // Signed colour samples are offset to unsigned before the shift.
    const int32_t offset = first.sgnd != 0 ? int32_t{1} << (precision - 1) : 0;
    const std::array<const OPJ_INT32*, 3> planes = {image.comps[0].data, image.comps[1].data,
                                                    image.comps[2].data};
    WriteRgb(output, pixels, shift, fromYbr,
             [&](size_t i, size_t c) { return planes[c][i] + offset; });
}

int32_t DecodeImage(opj_codec_t* codec, opj_stream_t* stream, opj_image_t* image,
                    const VexelDecodeRequest& request) {
    if (!opj_decode(codec, stream, image) || !opj_end_decompress(codec, stream))
        return VEXEL_CODEC_CORRUPT;
    // A JP2 palette or channel definition may change the components while decoding.
    VexelDecodeRequest decoded = request;
    const int32_t status = DescribeImage(*image, decoded);
    if (status != VEXEL_CODEC_OK) return status;
    if (decoded.streamRows != request.streamRows ||
        decoded.streamColumns != request.streamColumns ||
        decoded.streamComponents != request.streamComponents ||
        decoded.streamPrecision != request.streamPrecision)
        return VEXEL_CODEC_SIZE_MISMATCH;
    for (OPJ_UINT32 c = 0; c < image->numcomps; ++c)
        if (image->comps[c].data == nullptr) return VEXEL_CODEC_CORRUPT;
    return VEXEL_CODEC_OK;
}

}  // namespace

int32_t DecodeJ2kFrame(VexelDecodeRequest& request) {
    OPJ_CODEC_FORMAT format{};
    if (!DetectFormat(request.data, request.size, &format) ||
        !HasRoomForEveryTile(request.data, request.size))
        return VEXEL_CODEC_CORRUPT;
    MemorySource source{request.data, request.size, 0};
    const StreamHandle stream = OpenMemoryStream(source);
    const CodecHandle codec = CreateCodec(format, DecodeThreadsFor(request.data, request.size));
    if (!stream || !codec) return VEXEL_CODEC_NO_MEMORY;

    opj_image_t* rawImage = nullptr;
    const bool headerRead = opj_read_header(stream.get(), codec.get(), &rawImage) != 0;
    const ImageHandle image(rawImage);
    if (!headerRead || !image) return VEXEL_CODEC_CORRUPT;
    int32_t status = DescribeImage(*image, request);
    if (status != VEXEL_CODEC_OK) return status;
    const bool componentTransform = UsesComponentTransform(codec.get());
    status = DecodeImage(codec.get(), stream.get(), image.get(), request);
    if (status != VEXEL_CODEC_OK) return status;
    // OpenJPEG sets the JP2 colour space while decoding, not while reading the header.
    const OPJ_COLOR_SPACE colourSpace = image->color_space;
    if (request.streamComponents == 1) {
        WriteGrey(*image, request.output);
        return VEXEL_CODEC_OK;
    }
    // After an inverse RCT/ICT the samples are RGB whatever the data set says.
    const bool ybrSamples =
        request.colour == VEXEL_COLOUR_YBR ||
        (request.colour == VEXEL_COLOUR_UNKNOWN && colourSpace == OPJ_CLRSPC_SYCC);
    WriteColour(*image, ybrSamples && !componentTransform, request.output);
    return VEXEL_CODEC_OK;
}

}  // namespace vexel::codec
