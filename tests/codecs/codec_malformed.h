// Bad streams and bad requests that every codec module must refuse with a stated status,
// never writing past the output buffer.
#pragma once

#include <cstdint>
#include <vector>

#include "phantom_streams.h"

namespace vexel::test {

enum class Mutation {
    kTruncatedHalf,    // the first half of the stream
    kHeaderOnly,       // the first 40 bytes
    kGarbage,          // bytes that are no stream at all
    kEmpty,            // size 0
    kCorruptedMiddle,  // bytes flipped inside the coded data: any status, but safe
    kRowsPlusOne,      // the request expects one more row
    kColumnsMinusOne,
    kComponentsDiffer,    // three components expected from a greyscale stream
    kCapacityShortByOne,  // capacity one byte below the frame
    kColourCapacityShort,
    kNullOutput,
    kShortStructSize,
    kOriginalEntryPoint,  // DecompressJPEG decodes what DecompressJPEGEx decodes
};

struct MalformedCase {
    const char* name;
    Mutation mutation;
    int32_t expected;  // status; kAnyStatus for kCorruptedMiddle
};
inline constexpr int32_t kAnyStatus = 1;

struct StreamSource {
    PhantomImage image;
    const char* encodeCommand;
    const char* key;
};

std::vector<MalformedCase> MalformedCases();

void RunMalformedCase(const char* module, const StreamSource& grey, const StreamSource& colour,
                      const MalformedCase& c);

}  // namespace vexel::test
