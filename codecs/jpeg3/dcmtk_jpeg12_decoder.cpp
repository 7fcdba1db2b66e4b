#include "dcmtk_jpeg12_decoder.h"

#include <cstring>
#include <mutex>
#include <vector>

#include "dcmtk/config/osconfig.h"
#include "dcmtk/dcmjpeg/djcparam.h"
#include "dcmtk/dcmjpeg/djdijg12.h"
#include "dcmtk/oflog/oflog.h"

namespace vexel {

namespace {

// DCMTK reports corrupt data through its loggers, which print to stderr by default; a
// module never prints, the status says it all.
void SilenceDcmtk() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (const char* name : {"dcmtk.dcmjpeg", "dcmtk.dcmdata", "dcmtk.dcmimgle"}) {
            OFLog::getLogger(name).setLogLevel(OFLogger::OFF_LOG_LEVEL);
        }
    });
}

E_DecompressionColorSpaceConversion Conversion(uint32_t colour) {
    if (colour == VEXEL_COLOUR_RGB) return EDC_never;
    if (colour == VEXEL_COLOUR_YBR) return EDC_always;
    return EDC_guess;  // as libjpeg concludes from the stream's markers
}

}  // namespace

int32_t DecodeWithDcmtk12(VexelDecodeRequest& request, const JpegFrameHeader& frame) {
    if (frame.precision != 12 || !frame.IsHuffmanDct()) return VEXEL_CODEC_UNSUPPORTED;
    SilenceDcmtk();
    const size_t pixels = static_cast<size_t>(frame.rows) * frame.columns;
    const size_t samples = pixels * frame.components;
    if (samples * 2 > UINT32_MAX || request.size > UINT32_MAX) return VEXEL_CODEC_UNSUPPORTED;
    // The codec's interface takes a writable input; it gets a copy.
    std::vector<Uint8> input(request.data, request.data + request.size);
    // The codec writes the frame its stream declares; this buffer holds exactly the frame
    // the request was checked against, the same first frame header.
    std::vector<uint16_t> decoded(samples);
    DJCodecParameter parameters(ECC_lossyYCbCr, Conversion(request.colour), EUC_never,
                                EPC_colorByPixel);
    DJDecompressIJG12Bit codec(parameters, request.colour == VEXEL_COLOUR_YBR);
    if (codec.init().bad()) return VEXEL_CODEC_NO_MEMORY;
    const OFCondition result = codec.decode(input.data(), static_cast<Uint32>(input.size()),
                                            reinterpret_cast<Uint8*>(decoded.data()),
                                            static_cast<Uint32>(samples * 2), OFFalse);
    if (result.bad()) return VEXEL_CODEC_CORRUPT;
    if (frame.components == 1) {
        std::memcpy(request.output, decoded.data(), samples * 2);
        return VEXEL_CODEC_OK;
    }
    for (size_t i = 0; i < samples; ++i) {
        request.output[i] = static_cast<uint8_t>((decoded[i] >> 4) & 0xFF);
    }
    return VEXEL_CODEC_OK;
}

}  // namespace vexel
