// A codec module's DecompressJPEGEx on arbitrary streams; every module's fuzzer is built
// from this file. The first byte picks the request's expectations (unknown or the stream's
// own size, colour handling, a tight capacity), so the size checks and every decoding path
// are exercised. Writes past the capacity are caught by AddressSanitizer: the output buffer
// is exactly as large as the capacity.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "vexel_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t mode = data[0];
    VexelDecodeRequest probe{};
    probe.structSize = sizeof(probe);
    probe.data = data + 1;
    probe.size = size - 1;
    uint8_t none = 0;
    probe.output = &none;
    probe.capacity = 0;
    DecompressJPEGEx(&probe);  // reads the header only: the capacity is 0
    const uint64_t pixels = uint64_t{probe.streamRows} * probe.streamColumns;
    if (pixels == 0 || pixels > (1u << 22)) return 0;
    const uint32_t components = probe.streamComponents == 3 ? 3 : 1;
    uint64_t capacity = pixels * (components == 3 ? 3 : 2);
    if (mode & 4) capacity -= 1 + (mode >> 4);  // too small: must be refused
    if (capacity > (uint64_t{1} << 24)) return 0;
    std::vector<uint8_t> output(capacity);
    VexelDecodeRequest request = probe;
    request.output = output.data();
    request.capacity = capacity;
    request.rows = (mode & 1) ? probe.streamRows : 0;
    request.columns = (mode & 1) ? probe.streamColumns : 0;
    request.components = (mode & 1) ? components : 0;
    request.colour = (mode >> 1) % 3;
    DecompressJPEGEx(&request);
    return 0;
}
