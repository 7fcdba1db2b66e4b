#include "phantom/dicom_file_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace vexel::phantom {

namespace {

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

void SetError(std::string* error, std::string message) {
    if (error) *error = std::move(message);
}

std::string SystemError(const std::string& what, const std::filesystem::path& path) {
    return what + " " + path.string() + ": " + std::strerror(errno);
}

}  // namespace

const char* TransferSyntaxUid(VrEncoding encoding) {
    return encoding == VrEncoding::kImplicit ? kImplicitVrLittleEndianUid
                                             : kExplicitVrLittleEndianUid;
}

std::vector<uint8_t> BuildFileHeader(const FileMeta& meta, VrEncoding encoding) {
    // PS3.10 7.1: the meta group is explicit VR little endian whatever follows it.
    CDataSetWriter group(VrEncoding::kExplicit);
    const uint8_t version[2] = {0x00, 0x01};
    group.AddRaw(0x00020001, "OB", version);
    group.AddString(0x00020002, "UI", meta.sopClassUid);
    group.AddString(0x00020003, "UI", meta.sopInstanceUid);
    group.AddString(0x00020010, "UI",
                    meta.transferSyntaxUid.empty() ? std::string(TransferSyntaxUid(encoding))
                                                   : meta.transferSyntaxUid);
    group.AddString(0x00020012, "UI", meta.implementationClassUid);
    if (!meta.implementationVersionName.empty())
        group.AddString(0x00020013, "SH", meta.implementationVersionName);

    CDataSetWriter lengthElement(VrEncoding::kExplicit);
    lengthElement.AddUL(0x00020000, static_cast<uint32_t>(group.Bytes().size()));

    // 128 zero bytes of preamble, then the prefix.
    const std::vector<uint8_t>& length = lengthElement.Bytes();
    const std::vector<uint8_t>& elements = group.Bytes();
    std::vector<uint8_t> header(132 + length.size() + elements.size(), 0);
    const char prefix[] = "DICM";
    std::copy(prefix, prefix + 4, header.begin() + 128);
    std::copy(length.begin(), length.end(), header.begin() + 132);
    std::copy(elements.begin(), elements.end(), header.begin() + 132 + length.size());
    return header;
}

bool WriteFileAtomically(const std::filesystem::path& path,
                         std::span<const std::span<const uint8_t>> parts, std::string* error) {
    std::filesystem::path temporary = path;
    temporary.replace_filename("." + path.filename().string() + ".part");
    {
        FilePtr file(std::fopen(temporary.c_str(), "wb"));
        if (!file) {
            SetError(error, SystemError("cannot create", temporary));
            return false;
        }
        for (std::span<const uint8_t> part : parts) {
            if (!part.empty() &&
                std::fwrite(part.data(), 1, part.size(), file.get()) != part.size()) {
                SetError(error, SystemError("cannot write", temporary));
                file.reset();
                std::remove(temporary.c_str());
                return false;
            }
        }
        if (std::fclose(file.release()) != 0) {
            SetError(error, SystemError("cannot write", temporary));
            std::remove(temporary.c_str());
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    if (ec) {
        SetError(error, "cannot rename " + temporary.string() + ": " + ec.message());
        std::filesystem::remove(temporary, ec);
        return false;
    }
    return true;
}

bool WriteDicomFile(const std::filesystem::path& path, const FileMeta& meta,
                     const CDataSetWriter& dataSet, std::string* error) {
    if (!dataSet.Ok() || dataSet.Open()) {
        SetError(error,
                 "data set not encodable: " +
                     (dataSet.Ok() ? std::string("unclosed sequence or item") : dataSet.Error()));
        return false;
    }
    const std::vector<uint8_t> header = BuildFileHeader(meta, dataSet.Encoding());
    const std::span<const uint8_t> parts[] = {header, dataSet.Bytes()};
    return WriteFileAtomically(path, parts, error);
}

}  // namespace vexel::phantom
