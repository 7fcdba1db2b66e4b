// A DICOM file as stored on media: 128-byte preamble, "DICM", the file meta group (always
// explicit VR little endian, with its group length) and the encoded data set.
#pragma once

#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "phantom/data_set_writer.h"

namespace vexel::phantom {

inline constexpr const char* kImplicitVrLittleEndianUid = "1.2.840.10008.1.2";
inline constexpr const char* kExplicitVrLittleEndianUid = "1.2.840.10008.1.2.1";
inline constexpr const char* kImplementationClassUid = "2.25.271828182845904523536028747135.9";
inline constexpr const char* kImplementationVersionName = "VEXEL_PHANTOM_1";

struct FileMeta {
    std::string sopClassUid;
    std::string sopInstanceUid;
    std::string transferSyntaxUid;  // empty: follows the data set's VR encoding
    std::string implementationClassUid = kImplementationClassUid;
    std::string implementationVersionName = kImplementationVersionName;
};

// The transfer syntax UID of a little endian data set with this VR encoding.
const char* TransferSyntaxUid(VrEncoding encoding);

// Preamble, "DICM" and the meta group, ready to be followed by the data set.
std::vector<uint8_t> BuildFileHeader(const FileMeta& meta, VrEncoding encoding);

// Writes the bytes under a temporary name beside `path`, then renames it into place, so a
// reader never sees a half-written file under the final name.
bool WriteFileAtomically(const std::filesystem::path& path,
                         std::span<const std::span<const uint8_t>> parts, std::string* error);

// Header plus data set; fails when the data set writer recorded a misuse or is unbalanced.
bool WriteDicomFile(const std::filesystem::path& path, const FileMeta& meta,
                     const CDataSetWriter& dataSet, std::string* error);

}  // namespace vexel::phantom
