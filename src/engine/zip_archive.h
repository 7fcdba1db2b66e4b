// Thin RAII wrappers over the ZIP module's table: an archive handle that walks its entries,
// and a reader of the current entry in 64 KiB blocks. Entry names are reported, never used
// as paths.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "vexel_zip.h"

namespace vexel {

class CZipEntryReader;

class CZipArchive {
public:
    CZipArchive() = default;
    // Takes the handle (null makes an empty archive).
    CZipArchive(const VexelZipInterface* api, VexelZip* handle);
    ~CZipArchive();
    CZipArchive(CZipArchive&& other) noexcept;
    CZipArchive& operator=(CZipArchive&& other) noexcept;
    CZipArchive(const CZipArchive&) = delete;
    CZipArchive& operator=(const CZipArchive&) = delete;

    explicit operator bool() const { return m_handle != nullptr; }

    // False when the archive cannot tell.
    bool EntryCount(uint64_t& count) const;
    // The current entry's whole name and facts; a VEXEL_ZIP_* status.
    int32_t CurrentEntry(std::string& name, VexelZipEntryInfo& info) const;
    // VEXEL_ZIP_OK when another entry is current, VEXEL_ZIP_END after the last.
    int32_t Next();
    // Opens the current entry into reader (closing what it had open); a VEXEL_ZIP_* status.
    // The reader must not outlive this archive.
    int32_t OpenEntry(CZipEntryReader& reader);

private:
    void Close();
    const VexelZipInterface* m_api = nullptr;
    VexelZip* m_handle = nullptr;
};

class CZipEntryReader {
public:
    static constexpr uint32_t kBlockSize = 65536;

    CZipEntryReader() = default;
    ~CZipEntryReader() { Close(); }
    CZipEntryReader(const CZipEntryReader&) = delete;
    CZipEntryReader& operator=(const CZipEntryReader&) = delete;

    bool IsOpen() const { return m_handle != nullptr; }
    // The next block: bytes read, 0 at the end, -1 on any error (CRC mismatch included).
    int32_t ReadBlock();
    const uint8_t* Block() const { return m_block.data(); }
    // Hands every block to sink until the end; false on a read error or when sink says stop.
    bool ReadAll(const std::function<bool(const uint8_t* data, size_t size)>& sink);
    void Close();

private:
    friend class CZipArchive;
    const VexelZipInterface* m_api = nullptr;
    VexelZip* m_handle = nullptr;
    std::vector<uint8_t> m_block;
};

}  // namespace vexel
