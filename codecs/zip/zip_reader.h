// Reads an archive through libzip one entry at a time: the current entry's name and kind, and
// its bytes checked against what the central directory declares.
#pragma once

#include <zip.h>

#include <cstdint>
#include <memory>

#include "vexel_zip.h"

namespace vexel::zip {

class CZipReader {
public:
    // Read-only; null when libzip cannot open the archive.
    static std::unique_ptr<CZipReader> OpenFile(const char* path);
    // data must outlive the reader.
    static std::unique_ptr<CZipReader> OpenMemory(const void* data, uint64_t size);

    uint64_t EntryCount() const { return m_count; }
    // VEXEL_ZIP_* results as the interface table describes them.
    int32_t CurrentInfo(VexelZipEntryInfo* info, char* name, uint32_t nameSize) const;
    int32_t Next();
    int32_t OpenEntry();
    int32_t Read(void* buffer, uint32_t size);
    void CloseEntry();

private:
    struct Discard {
        void operator()(zip_t* archive) const { zip_discard(archive); }
    };
    struct Fclose {
        void operator()(zip_file_t* file) const { zip_fclose(file); }
    };
    explicit CZipReader(zip_t* archive);
    int32_t OpenFailure() const;

    std::unique_ptr<zip_t, Discard> m_archive;
    uint64_t m_count = 0;
    uint64_t m_index = 0;
    std::unique_ptr<zip_file_t, Fclose> m_entry;
    uint64_t m_entrySize = 0;  // declared
    uint64_t m_entryRead = 0;
    bool m_entryFailed = false;
};

}  // namespace vexel::zip
