#include "dicom/data_set_inflater.h"

#include <zlib.h>

#include <memory>

#include "dicom/byte_stream.h"

namespace vexel {
namespace {

struct InflateStream {
    z_stream z{};
    bool open = false;
    ~InflateStream() {
        if (open) inflateEnd(&z);
    }
};

}  // namespace

bool InflateDataSet(CByteStream& stream, std::vector<uint8_t>& out) {
    InflateStream inflater;
    // Negative window bits: a raw deflate stream without zlib header, as the standard uses.
    if (inflateInit2(&inflater.z, -MAX_WBITS) != Z_OK) return false;
    inflater.open = true;

    std::vector<uint8_t> input(64 * 1024);
    out.clear();
    size_t produced = 0;
    int result = Z_OK;
    while (result != Z_STREAM_END) {
        if (inflater.z.avail_in == 0) {
            const uint64_t chunk = std::min<uint64_t>(input.size(), stream.Remaining());
            if (chunk == 0) break;  // a stream without its final block: keep what came out
            if (!stream.Read(input.data(), chunk)) return false;
            inflater.z.next_in = input.data();
            inflater.z.avail_in = static_cast<uInt>(chunk);
        }
        if (out.size() - produced < 64 * 1024) {
            if (out.size() >= kMaxInflatedSize) return false;
            out.resize(std::min<uint64_t>(kMaxInflatedSize, std::max<size_t>(out.size() * 2, 256 * 1024)));
        }
        inflater.z.next_out = out.data() + produced;
        inflater.z.avail_out = static_cast<uInt>(std::min<size_t>(out.size() - produced, 1u << 30));
        const uInt before = inflater.z.avail_out;
        result = inflate(&inflater.z, Z_NO_FLUSH);
        produced += before - inflater.z.avail_out;
        if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) return false;
        if (result == Z_BUF_ERROR && inflater.z.avail_in != 0 && inflater.z.avail_out != 0) return false;
    }
    out.resize(produced);
    return true;
}

}  // namespace vexel
