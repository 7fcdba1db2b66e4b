#include "j2k_memory_stream.h"

#include <algorithm>
#include <cstring>

namespace vexel::codec {
namespace {

OPJ_SIZE_T ReadBytes(void* buffer, OPJ_SIZE_T count, void* user) {
    auto* source = static_cast<MemorySource*>(user);
    const uint64_t left = source->size - source->position;
    if (left == 0) return static_cast<OPJ_SIZE_T>(-1);  // OpenJPEG's end-of-stream value
    const uint64_t taken = std::min<uint64_t>(left, count);
    std::memcpy(buffer, source->data + source->position, taken);
    source->position += taken;
    return static_cast<OPJ_SIZE_T>(taken);
}

OPJ_OFF_T SkipBytes(OPJ_OFF_T count, void* user) {
    auto* source = static_cast<MemorySource*>(user);
    if (count < 0) {
        const uint64_t back = static_cast<uint64_t>(-(count + 1)) + 1;
        if (back > source->position) return -1;
        source->position -= back;
        return count;
    }
    const uint64_t left = source->size - source->position;
    if (left == 0 && count > 0) return -1;
    const uint64_t skipped = std::min<uint64_t>(left, static_cast<uint64_t>(count));
    source->position += skipped;
    return static_cast<OPJ_OFF_T>(skipped);
}

OPJ_BOOL SeekTo(OPJ_OFF_T position, void* user) {
    auto* source = static_cast<MemorySource*>(user);
    if (position < 0 || static_cast<uint64_t>(position) > source->size) return OPJ_FALSE;
    source->position = static_cast<uint64_t>(position);
    return OPJ_TRUE;
}

}  // namespace

StreamHandle OpenMemoryStream(MemorySource& source) {
    // The chunk is OpenJPEG's read buffer: no bigger than the data, at most 1 MiB.
    const uint64_t chunk = std::clamp<uint64_t>(source.size, 4096, 1 << 20);
    StreamHandle stream(opj_stream_create(static_cast<OPJ_SIZE_T>(chunk), OPJ_TRUE));
    if (!stream) return stream;
    opj_stream_set_user_data(stream.get(), &source, nullptr);
    opj_stream_set_user_data_length(stream.get(), source.size);
    opj_stream_set_read_function(stream.get(), &ReadBytes);
    opj_stream_set_skip_function(stream.get(), &SkipBytes);
    opj_stream_set_seek_function(stream.get(), &SeekTo);
    return stream;
}

}  // namespace vexel::codec
