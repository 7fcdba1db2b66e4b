// One table row of the codec conformance tests: a compressed file (from the shared corpus or
// made from a phantom image), the tool whose decode is the expected answer, and how close
// the module's output must come.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "common/test_paths.h"
#include "phantom_streams.h"
#include "vexel_codec.h"

namespace vexel::test {

enum class Oracle {
    kDecodedDicom,  // oracle command writes a DICOM file with native pixel data
    kPpm,           // oracle command writes an 8-bit RGB PPM (dcm2pnm: YBR converted by DCMTK)
    kOriginal,      // the uncompressed phantom the stream was made from
};

struct ConformanceCase {
    const char* name;
    const char* testDataPath;  // relative to the shared corpus, or null for a phantom image
    PhantomImage phantom;
    const char* encodeCommand;  // phantom only: {in} -> {out}
    Oracle oracle;
    const char* oracleCommand;  // {in} -> {out}; unused for kOriginal
    uint32_t colour;            // VEXEL_COLOUR_* handed to the module
    int maxDifference;          // per sample; 0 for lossless
    double maxMeanDifference;
    int precision = 0;  // of the stream, checked against what the module reports; 0: any
};

// A compressed file of the shared corpus, decoded by oracleCommand.
constexpr ConformanceCase CorpusCase(const char* name, const char* path, const char* oracleCommand,
                                     uint32_t colour, int maxDifference = 0,
                                     double maxMean = 0) {
    return {name, path, {}, nullptr, Oracle::kDecodedDicom, oracleCommand, colour, maxDifference,
            maxMean};
}

inline std::ostream& operator<<(std::ostream& out, const ConformanceCase& c) {
    return out << c.name;
}

// Decodes the case's frame with the module and compares it with the oracle, sample by
// sample; a failure names the file and the first differing pixel.
void RunConformanceCase(const std::string& module, const ConformanceCase& c);

}  // namespace vexel::test
