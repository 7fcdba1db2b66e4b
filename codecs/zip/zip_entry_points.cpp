// The module's C entry points over CZipReader and CZipWriter. No exception leaves the module.
#include <new>

#include "vexel_zip.h"
#include "zip/zip_reader.h"
#include "zip/zip_writer.h"

struct VexelZip {
    std::unique_ptr<vexel::zip::CZipReader> reader;
};

struct VexelZipWriter {
    std::unique_ptr<vexel::zip::CZipWriter> writer;
};

namespace {

using vexel::zip::CZipReader;
using vexel::zip::CZipWriter;

VexelZip* Wrap(std::unique_ptr<CZipReader> reader) {
    if (reader == nullptr) return nullptr;
    auto* zip = new (std::nothrow) VexelZip;
    if (zip != nullptr) zip->reader = std::move(reader);
    return zip;
}

VexelZip* OpenArchive(const char* utf8Path) {
    if (utf8Path == nullptr || utf8Path[0] == '\0') return nullptr;
    return Wrap(CZipReader::OpenFile(utf8Path));
}

VexelZip* OpenArchiveInMemory(const void* data, uint64_t size) {
    if (data == nullptr && size > 0) return nullptr;
    static const char kEmpty = 0;
    return Wrap(CZipReader::OpenMemory(data != nullptr ? data : &kEmpty, size));
}

void CloseArchive(VexelZip* zip) {
    delete zip;
}

int32_t GetGlobalInfo(VexelZip* zip, VexelZipGlobalInfo* info) {
    if (zip == nullptr || info == nullptr) return VEXEL_ZIP_BAD_ARGUMENT;
    info->entryCount = zip->reader->EntryCount();
    return VEXEL_ZIP_OK;
}

int32_t GetCurrentEntryInfo(VexelZip* zip, char* name, uint32_t nameSize) {
    if (zip == nullptr || name == nullptr || nameSize == 0) return VEXEL_ZIP_BAD_ARGUMENT;
    return zip->reader->CurrentInfo(nullptr, name, nameSize);
}

int32_t GetCurrentEntryInfoEx(VexelZip* zip, VexelZipEntryInfo* info, char* name,
                              uint32_t nameSize) {
    if (zip == nullptr || info == nullptr) return VEXEL_ZIP_BAD_ARGUMENT;
    return zip->reader->CurrentInfo(info, name, nameSize);
}

int32_t GoToNextEntry(VexelZip* zip) {
    return zip != nullptr ? zip->reader->Next() : VEXEL_ZIP_BAD_ARGUMENT;
}

int32_t OpenCurrentEntry(VexelZip* zip) {
    return zip != nullptr ? zip->reader->OpenEntry() : VEXEL_ZIP_BAD_ARGUMENT;
}

int32_t ReadCurrentEntry(VexelZip* zip, void* buffer, uint32_t size) {
    return zip != nullptr ? zip->reader->Read(buffer, size) : -1;
}

void CloseCurrentEntry(VexelZip* zip) {
    if (zip != nullptr) zip->reader->CloseEntry();
}

VexelZipWriter* CreateArchive(const char* utf8Path) {
    if (utf8Path == nullptr || utf8Path[0] == '\0') return nullptr;
    int32_t reason = VEXEL_ZIP_OK;
    std::unique_ptr<CZipWriter> writer = CZipWriter::Create(utf8Path, &reason);
    if (writer == nullptr) return nullptr;
    auto* result = new (std::nothrow) VexelZipWriter;
    if (result != nullptr) result->writer = std::move(writer);
    return result;
}

int32_t AddFile(VexelZipWriter* writer, const char* name, const void* data, uint64_t size) {
    return writer != nullptr ? writer->writer->Add(name, data, size) : VEXEL_ZIP_BAD_ARGUMENT;
}

int32_t CloseWriter(VexelZipWriter* writer) {
    if (writer == nullptr) return VEXEL_ZIP_BAD_ARGUMENT;
    const int32_t status = writer->writer->Close();
    delete writer;
    return status;
}

}  // namespace

extern "C" VEXEL_CODEC_EXPORT int32_t ZipGetInterface(VexelZipInterface* table) {
    if (table == nullptr || table->size < sizeof(VexelZipInterface)) return VEXEL_ZIP_BAD_ARGUMENT;
    *table = VexelZipInterface{
        sizeof(VexelZipInterface), OpenArchive,        CloseArchive,     GetGlobalInfo,
        GetCurrentEntryInfo,       GoToNextEntry,      OpenCurrentEntry, ReadCurrentEntry,
        CloseCurrentEntry,         CreateArchive,      AddFile,          CloseWriter,
        GetCurrentEntryInfoEx,     OpenArchiveInMemory};
    return VEXEL_ZIP_OK;
}
