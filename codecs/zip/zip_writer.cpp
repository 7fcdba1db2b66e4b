#include "zip/zip_writer.h"

#include <cstdlib>
#include <cstring>

#include "vexel_zip.h"

namespace vexel::zip {

std::unique_ptr<CZipWriter> CZipWriter::Create(const char* path, int32_t* reason) {
    int error = 0;
    // ZIP_EXCL: an existing file is never replaced.
    zip_t* archive = zip_open(path, ZIP_CREATE | ZIP_EXCL, &error);
    if (archive == nullptr) {
        *reason = error == ZIP_ER_EXISTS ? VEXEL_ZIP_EXISTS : VEXEL_ZIP_WRITE_FAILED;
        return nullptr;
    }
    std::unique_ptr<CZipWriter> writer(new (std::nothrow) CZipWriter(archive));
    if (writer == nullptr) {
        zip_discard(archive);
        *reason = VEXEL_ZIP_NO_MEMORY;
    }
    return writer;
}

CZipWriter::~CZipWriter() {
    if (m_archive != nullptr) zip_discard(m_archive);
}

int32_t CZipWriter::Add(const char* name, const void* data, uint64_t size) {
    if (m_archive == nullptr || name == nullptr || name[0] == '\0' ||
        (data == nullptr && size > 0)) {
        return VEXEL_ZIP_BAD_ARGUMENT;
    }
    // libzip reads sources only when the archive is written; a copy frees the caller at once.
    void* copy = std::malloc(size > 0 ? size : 1);
    if (copy == nullptr) return VEXEL_ZIP_NO_MEMORY;
    if (size > 0) std::memcpy(copy, data, size);
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(copy, size, 1, &error);
    zip_error_fini(&error);
    if (source == nullptr) {
        std::free(copy);
        return VEXEL_ZIP_NO_MEMORY;
    }
    const zip_int64_t index = zip_file_add(m_archive, name, source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
        zip_source_free(source);
        return VEXEL_ZIP_BAD_ARGUMENT;  // a duplicate or unusable name
    }
    if (zip_set_file_compression(m_archive, zip_uint64_t(index), ZIP_CM_DEFLATE, 0) != 0) {
        return VEXEL_ZIP_UNSUPPORTED;
    }
    return VEXEL_ZIP_OK;
}

int32_t CZipWriter::Close() {
    if (m_archive == nullptr) return VEXEL_ZIP_BAD_ARGUMENT;
    zip_t* archive = m_archive;
    m_archive = nullptr;
    if (zip_close(archive) == 0) return VEXEL_ZIP_OK;
    zip_discard(archive);  // libzip removes its temporary file; the target stays untouched
    return VEXEL_ZIP_WRITE_FAILED;
}

}  // namespace vexel::zip
