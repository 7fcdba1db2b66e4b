// Bad streams and bad requests that every codec module must refuse with a stated status,
// never writing past the output buffer.
#pragma once

#include <cstdint>
#include <vector>

#include "phantom_streams.h"

namespace vexel::test {

// What a case hands to the module: a valid stream and its exact frame, then mutated.
struct MalformedRequest {
    std::vector<uint8_t> bytes;
    uint32_t rows, columns, components, colour;
    uint64_t capacity;
};

struct MalformedCase {
    const char* name;
    int32_t expected;                     // status; kAnyStatus for data damage
    bool colour;                          // from the colour stream instead of the greyscale one
    void (*mutate)(MalformedRequest&);    // null: a check of the entry points themselves
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
