// Test streams made once per run from phantom images with DCMTK's and GDCM's encoders, and
// the pixels their decoders give for them (the oracle).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vexel::test {

// Pixels of a native (uncompressed) DICOM file's first frame, read through dcmdump +W.
struct NativePixels {
    uint32_t rows = 0;
    uint32_t columns = 0;
    uint32_t samplesPerPixel = 0;
    std::vector<uint16_t> grey;  // one component: the stored words (8-bit widened)
    std::vector<uint8_t> rgb;    // three components: interleaved bytes, >8 bits shifted to 8
    std::string photometric;
};

// Folder with the phantom sources: ct16.dcm (signed 16-bit CT), ct12.dcm and ct8.dcm
// (the same slice through DCMTK's 12- and 8-bit lossy codecs), rgb.dcm. Built on first use.
const std::filesystem::path& CorpusDir();

// Runs a shell command with $IN, $OUT set; false (and the output in `log`) on failure.
bool RunTool(const std::string& command, const std::filesystem::path& in,
             const std::filesystem::path& out, std::string* log);

// A DICOM attribute's value as dcmdump prints it (brackets removed), "" when absent.
std::string Attribute(const std::filesystem::path& file, const std::string& tag);

// The first frame's compressed bytes (all fragments of a one-frame file).
std::vector<uint8_t> FirstFrame(const std::filesystem::path& file, std::string* error);

bool ReadNativePixels(const std::filesystem::path& file, NativePixels* pixels, std::string* error);

// Sample precision of a JPEG stream's first frame header, 0 if none (scanned here, not by
// the code under test).
int StreamPrecision(const std::vector<uint8_t>& jpeg);

}  // namespace vexel::test
