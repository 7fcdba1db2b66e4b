#include "zip/zip_reader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace vexel::zip {
namespace {

// One read never asks for more than this, so the byte count fits the int32_t result.
constexpr uint32_t kLargestRead = 1u << 30;

void CopyName(const char* full, size_t length, char* name, uint32_t nameSize) {
    if (name == nullptr || nameSize == 0) return;
    const size_t kept = std::min<size_t>(length, nameSize - 1);
    std::memcpy(name, full, kept);
    name[kept] = '\0';
}

// The Unix file type kept in the high half of the external attributes by Unix archivers.
mode_t UnixFileType(zip_t* archive, zip_uint64_t index) {
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(archive, index, 0, &system, &attributes) != 0 ||
        system != ZIP_OPSYS_UNIX) {
        return 0;
    }
    return static_cast<mode_t>(attributes >> 16) & S_IFMT;
}

}  // namespace

CZipReader::CZipReader(zip_t* archive)
    : m_archive(archive),
      m_count(uint64_t(std::max<zip_int64_t>(0, zip_get_num_entries(archive, 0)))) {}

std::unique_ptr<CZipReader> CZipReader::OpenFile(const char* path) {
    int error = 0;
    zip_t* archive = zip_open(path, ZIP_RDONLY, &error);
    if (archive == nullptr) return nullptr;
    std::unique_ptr<CZipReader> reader(new (std::nothrow) CZipReader(archive));
    if (reader == nullptr) zip_discard(archive);
    return reader;
}

std::unique_ptr<CZipReader> CZipReader::OpenMemory(const void* data, uint64_t size) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(data, size, 0, &error);
    zip_t* archive = source != nullptr ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
    zip_error_fini(&error);
    if (archive == nullptr) {
        if (source != nullptr) zip_source_free(source);
        return nullptr;
    }
    std::unique_ptr<CZipReader> reader(new (std::nothrow) CZipReader(archive));
    if (reader == nullptr) zip_discard(archive);
    return reader;
}

int32_t CZipReader::CurrentInfo(VexelZipEntryInfo* info, char* name, uint32_t nameSize) const {
    if (m_index >= m_count) return VEXEL_ZIP_END;
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(m_archive.get(), m_index, 0, &stat) != 0 || stat.name == nullptr) {
        return VEXEL_ZIP_DAMAGED;
    }
    const size_t length = std::strlen(stat.name);
    CopyName(stat.name, length, name, nameSize);
    if (info == nullptr) return VEXEL_ZIP_OK;
    *info = VexelZipEntryInfo{};
    info->uncompressedSize = (stat.valid & ZIP_STAT_SIZE) ? stat.size : 0;
    info->compressedSize = (stat.valid & ZIP_STAT_COMP_SIZE) ? stat.comp_size : 0;
    info->crc32 = (stat.valid & ZIP_STAT_CRC) ? stat.crc : 0;
    info->compressionMethod = (stat.valid & ZIP_STAT_COMP_METHOD) ? stat.comp_method : -1;
    info->nameLength = static_cast<uint32_t>(std::min<size_t>(length, UINT32_MAX));
    info->methodSupported = (stat.valid & ZIP_STAT_COMP_METHOD) &&
                            zip_compression_method_supported(stat.comp_method, 0);
    info->encrypted =
        (stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE;
    const mode_t type = UnixFileType(m_archive.get(), m_index);
    info->directory = (length > 0 && stat.name[length - 1] == '/') || type == S_IFDIR;
    info->symbolicLink = type == S_IFLNK;
    return VEXEL_ZIP_OK;
}

int32_t CZipReader::Next() {
    CloseEntry();
    if (m_index >= m_count) return VEXEL_ZIP_END;
    ++m_index;
    return m_index < m_count ? VEXEL_ZIP_OK : VEXEL_ZIP_END;
}

int32_t CZipReader::OpenFailure() const {
    switch (zip_error_code_zip(zip_get_error(m_archive.get()))) {
        case ZIP_ER_NOPASSWD:
        case ZIP_ER_WRONGPASSWD:
            return VEXEL_ZIP_ENCRYPTED;
        case ZIP_ER_COMPNOTSUPP:
        case ZIP_ER_ENCRNOTSUPP:
            return VEXEL_ZIP_UNSUPPORTED;
        case ZIP_ER_MEMORY:
            return VEXEL_ZIP_NO_MEMORY;
        default:
            return VEXEL_ZIP_DAMAGED;
    }
}

int32_t CZipReader::OpenEntry() {
    CloseEntry();
    VexelZipEntryInfo info;
    const int32_t status = CurrentInfo(&info, nullptr, 0);
    if (status != VEXEL_ZIP_OK) return status == VEXEL_ZIP_END ? VEXEL_ZIP_DAMAGED : status;
    // No password is ever set, so libzip would refuse too; say why before it tries.
    if (info.encrypted) return VEXEL_ZIP_ENCRYPTED;
    if (!info.methodSupported) return VEXEL_ZIP_UNSUPPORTED;
    zip_error_clear(m_archive.get());
    m_entry.reset(zip_fopen_index(m_archive.get(), m_index, 0));
    if (m_entry == nullptr) return OpenFailure();
    m_entrySize = info.uncompressedSize;
    m_entryRead = 0;
    m_entryFailed = false;
    return VEXEL_ZIP_OK;
}

int32_t CZipReader::Read(void* buffer, uint32_t size) {
    if (m_entry == nullptr || m_entryFailed || buffer == nullptr || size == 0) return -1;
    // libzip checks the CRC and the size only once the data ends, so an entry that inflates
    // beyond its declared size is stopped here, before it fills the caller's disk.
    const uint64_t left = m_entrySize - m_entryRead;
    const uint32_t wanted =
        static_cast<uint32_t>(std::min<uint64_t>(std::min(size, kLargestRead), left + 1));
    const zip_int64_t got = zip_fread(m_entry.get(), buffer, wanted);
    if (got < 0 || uint64_t(got) > left || (got == 0 && left != 0)) {
        m_entryFailed = true;
        return -1;
    }
    m_entryRead += uint64_t(got);
    // libzip verifies the CRC only once its data ends, and a failure found after a short read
    // comes on the next call; so the block that completes the entry is handed out only after
    // the end has been seen and checked. Whoever got every declared byte got good bytes.
    if (m_entryRead == m_entrySize && got > 0) {
        uint8_t beyond = 0;
        if (zip_fread(m_entry.get(), &beyond, 1) != 0) {
            m_entryFailed = true;
            return -1;
        }
    }
    return static_cast<int32_t>(got);
}

void CZipReader::CloseEntry() {
    m_entry.reset();
    m_entrySize = m_entryRead = 0;
    m_entryFailed = false;
}

}  // namespace vexel::zip
