// Creates an archive of deflated entries from memory buffers; libzip writes it on Close into
// a temporary file beside the target and renames it into place.
#pragma once

#include <zip.h>

#include <cstdint>
#include <memory>

namespace vexel::zip {

class CZipWriter {
public:
    // Null with a VEXEL_ZIP_* reason when the file exists or cannot be created.
    static std::unique_ptr<CZipWriter> Create(const char* path, int32_t* reason);
    ~CZipWriter();

    int32_t Add(const char* name, const void* data, uint64_t size);
    // Writes the archive; afterwards the writer holds nothing.
    int32_t Close();

private:
    explicit CZipWriter(zip_t* archive) : m_archive(archive) {}
    zip_t* m_archive;
};

}  // namespace vexel::zip
