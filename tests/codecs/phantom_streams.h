// Test streams made once per test run: phantom images written by tools/phantom and converted
// with DCMTK and GDCM command-line tools, kept under the build's test-scratch folder.
#pragma once

#include <filesystem>
#include <string>

namespace vexel::test {

enum class PhantomImage {
    kCt,       // 16-bit signed CT slice, 160 columns x 128 rows
    kPet,      // 16-bit unsigned PET slice, 80 x 64
    kRgb,      // 8-bit RGB, 160 x 128
    kLargeCt,  // the CT at 1280 x 960: OpenJPEG decodes a million pixels on several threads
};

// The uncompressed phantom file; empty path when it cannot be written.
std::filesystem::path PhantomSource(PhantomImage image);

// Runs `command` once per run, with {in} replaced by `input` and {out} by the result's
// path, and returns that path; empty, with the tool's output in *log, when it fails.
std::filesystem::path ConvertOnce(const std::string& key, const std::string& command,
                                  const std::filesystem::path& input, std::string* log);

}  // namespace vexel::test
