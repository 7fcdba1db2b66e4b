#include "bench_frames.h"

#include <dlfcn.h>
#include <openjpeg.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "phantom/phantom_writer.h"

namespace vexel::bench {
namespace {

OPJ_SIZE_T AppendBytes(void* buffer, OPJ_SIZE_T count, void* user) {
    auto* out = static_cast<std::vector<uint8_t>*>(user);
    out->insert(out->end(), static_cast<uint8_t*>(buffer), static_cast<uint8_t*>(buffer) + count);
    return count;
}

}  // namespace

std::vector<uint16_t> NoisyCtSlice(uint32_t size) {
    phantom::PhantomOptions options;
    options.columns = options.rows = static_cast<int>(size);
    options.slices = 64;
    const std::vector<int16_t> stored = phantom::CtSliceStored(options, 32);
    std::vector<uint16_t> samples(stored.size());
    uint32_t state = 12345;
    std::transform(stored.begin(), stored.end(), samples.begin(), [&state](int16_t v) {
        state = state * 1664525u + 1013904223u;
        const int noise = static_cast<int>(state >> 28) - 8;  // -8 .. 7
        return static_cast<uint16_t>(v + 2048 + noise);
    });
    return samples;
}

std::vector<uint8_t> EncodeJ2kLossless(const std::vector<uint16_t>& samples, uint32_t columns,
                                       uint32_t rows) {
    if (samples.size() < size_t(columns) * rows) return {};
    opj_image_cmptparm_t component{};
    component.dx = component.dy = 1;
    component.w = columns;
    component.h = rows;
    component.prec = 16;
    opj_image_t* image = opj_image_create(1, &component, OPJ_CLRSPC_GRAY);
    if (image == nullptr) return {};
    image->x1 = columns;
    image->y1 = rows;
    std::copy_n(samples.begin(), size_t(columns) * rows, image->comps[0].data);
    opj_cparameters_t parameters;
    opj_set_default_encoder_parameters(&parameters);
    opj_codec_t* codec = opj_create_compress(OPJ_CODEC_J2K);
    std::vector<uint8_t> out;
    opj_stream_t* stream = opj_stream_create(1 << 16, OPJ_FALSE);
    opj_stream_set_user_data(stream, &out, nullptr);
    opj_stream_set_write_function(stream, &AppendBytes);
    const bool ok = opj_setup_encoder(codec, &parameters, image) &&
                    opj_start_compress(codec, image, stream) && opj_encode(codec, stream) &&
                    opj_end_compress(codec, stream);
    opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    opj_image_destroy(image);
    return ok ? out : std::vector<uint8_t>{};
}

CodecDecode LoadCodecModule(const char* name) {
    const auto dir = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    const std::string path = (dir / (std::string("libvexel-") + name + ".so")).string();
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);  // kept for the whole run
    return handle ? reinterpret_cast<CodecDecode>(dlsym(handle, "DecompressJPEGEx")) : nullptr;
}

bool DecodeGreyFrame(CodecDecode decode, const std::vector<uint8_t>& stream, uint32_t size,
                     std::vector<uint8_t>& output) {
    VexelDecodeRequest request{};
    request.structSize = sizeof request;
    request.data = stream.data();
    request.size = stream.size();
    request.output = output.data();
    request.capacity = output.size();
    request.rows = request.columns = size;
    request.components = 1;
    return decode(&request) == VEXEL_CODEC_OK;
}

}  // namespace vexel::bench
