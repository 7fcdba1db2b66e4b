#include "engine/zip_archive.h"

#include <algorithm>
#include <utility>

namespace vexel {
namespace {

// The name buffer of the common case; longer names are asked for again at their length.
constexpr uint32_t kNameBuffer = 1024;

}  // namespace

CZipArchive::CZipArchive(const VexelZipInterface* api, VexelZip* handle)
    : m_api(handle != nullptr ? api : nullptr), m_handle(handle) {}

CZipArchive::~CZipArchive() {
    Close();
}

CZipArchive::CZipArchive(CZipArchive&& other) noexcept
    : m_api(std::exchange(other.m_api, nullptr)),
      m_handle(std::exchange(other.m_handle, nullptr)) {}

CZipArchive& CZipArchive::operator=(CZipArchive&& other) noexcept {
    if (this != &other) {
        Close();
        m_api = std::exchange(other.m_api, nullptr);
        m_handle = std::exchange(other.m_handle, nullptr);
    }
    return *this;
}

void CZipArchive::Close() {
    if (m_handle != nullptr) m_api->closeArchive(m_handle);
    m_handle = nullptr;
    m_api = nullptr;
}

bool CZipArchive::EntryCount(uint64_t& count) const {
    VexelZipGlobalInfo info{};
    if (m_handle == nullptr || m_api->getGlobalInfo(m_handle, &info) != VEXEL_ZIP_OK) return false;
    count = info.entryCount;
    return true;
}

int32_t CZipArchive::CurrentEntry(std::string& name, VexelZipEntryInfo& info) const {
    if (m_handle == nullptr) return VEXEL_ZIP_BAD_ARGUMENT;
    name.assign(kNameBuffer, '\0');
    int32_t status = m_api->getCurrentEntryInfoEx(m_handle, &info, name.data(), kNameBuffer);
    if (status == VEXEL_ZIP_OK && info.nameLength >= kNameBuffer) {
        name.assign(size_t(info.nameLength) + 1, '\0');
        status = m_api->getCurrentEntryInfoEx(m_handle, &info, name.data(), info.nameLength + 1);
    }
    name.resize(status == VEXEL_ZIP_OK ? std::min<size_t>(info.nameLength, name.size() - 1) : 0);
    return status;
}

int32_t CZipArchive::Next() {
    return m_handle != nullptr ? m_api->goToNextEntry(m_handle) : VEXEL_ZIP_BAD_ARGUMENT;
}

int32_t CZipArchive::OpenEntry(CZipEntryReader& reader) {
    reader.Close();
    if (m_handle == nullptr) return VEXEL_ZIP_BAD_ARGUMENT;
    const int32_t status = m_api->openCurrentEntry(m_handle);
    if (status != VEXEL_ZIP_OK) return status;
    reader.m_api = m_api;
    reader.m_handle = m_handle;
    reader.m_block.resize(CZipEntryReader::kBlockSize);
    return VEXEL_ZIP_OK;
}

int32_t CZipEntryReader::ReadBlock() {
    if (m_handle == nullptr) return -1;
    return m_api->readCurrentEntry(m_handle, m_block.data(), kBlockSize);
}

bool CZipEntryReader::ReadAll(const std::function<bool(const uint8_t* data, size_t size)>& sink) {
    for (;;) {
        const int32_t got = ReadBlock();
        if (got == 0) return true;
        if (got < 0 || !sink(m_block.data(), size_t(got))) return false;
    }
}

void CZipEntryReader::Close() {
    if (m_handle != nullptr) m_api->closeCurrentEntry(m_handle);
    m_handle = nullptr;
    m_api = nullptr;
}

}  // namespace vexel
