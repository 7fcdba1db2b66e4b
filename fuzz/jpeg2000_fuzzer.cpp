// libFuzzer target: DecompressJPEGEx of libvexel-jpeg2000.so on arbitrary bytes, with an output
// capacity that lets small images decode fully and makes larger ones fail the size check.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "vexel_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::vector<uint8_t> output(1 << 20);
    VexelDecodeRequest request{};
    request.structSize = sizeof request;
    request.data = data;
    request.size = size;
    request.output = output.data();
    request.capacity = output.size();
    request.colour = static_cast<uint32_t>(size % 3);  // unknown, RGB and YBR in turn
    DecompressJPEGEx(&request);
    return 0;
}
