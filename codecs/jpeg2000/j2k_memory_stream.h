// An OpenJPEG input stream over bytes in memory; every callback checks its bounds.
#pragma once

#include <openjpeg.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vexel::codec {

struct MemorySource {
    const uint8_t* data = nullptr;
    uint64_t size = 0;
    uint64_t position = 0;
};

struct StreamDeleter {
    void operator()(opj_stream_t* stream) const { opj_stream_destroy(stream); }
};
using StreamHandle = std::unique_ptr<opj_stream_t, StreamDeleter>;

// The stream reads `source`, which must outlive it. Null when OpenJPEG cannot allocate.
StreamHandle OpenMemoryStream(MemorySource& source);

}  // namespace vexel::codec
