#include "dicom/dicom_dictionary.h"

#include <atomic>
#include <iterator>
#include <mutex>

#include "dicom/tag.h"

namespace vexel {
namespace {

// Loading threads read the pointer while start-up or shutdown may write it.
std::atomic<CDicomDictionary*> g_instance{nullptr};

constexpr const char* kUnknownName = "Unknown";

// Tags whose values the reader keeps in memory at parse time from the first file on: what the
// study browser, the overlays and the image pipeline ask of every file.
constexpr uint32_t kInitialPreloadTags[] = {
    0x00020010, 0x00080005, 0x00080020, 0x00080021, 0x00080022, 0x00080023, 0x00080030, 0x00080031,
    0x00080032, 0x00080033, 0x00080060, 0x00080080, 0x00081030, 0x0008103E, 0x00082144, 0x00100010,
    0x00100020, 0x00100030, 0x00100040, 0x00180050, 0x00180080, 0x00180081, 0x00180087, 0x00181510,
    0x00181511, 0x0020000D, 0x0020000E, 0x00200010, 0x00200011, 0x00200012, 0x00200013, 0x00200032,
    0x00200037, 0x00280004, 0x00280006, 0x00280008, 0x00280010, 0x00280011, 0x00280030, 0x00280100,
    0x00280103, 0x00281050, 0x00281051, 0x00281052, 0x00281053, 0xFFFEE000,
};
static_assert(std::size(kInitialPreloadTags) == 46);

}  // namespace

CDicomDictionary::CDicomDictionary() {
    for (size_t i = 0; i < kDictionaryTableSize; ++i) {
        // emplace keeps the first entry of a repeated tag.
        m_entries.emplace(kDictionaryTable[i].tag, kDictionaryTable[i]);
    }
    for (uint32_t tag : kInitialPreloadTags)
        m_preload.emplace(tag, 1u);

    // The first dictionary alive is the process's; a later one (a test's private instance)
    // works on its own and never replaces it.
    CDicomDictionary* expected = nullptr;
    g_instance.compare_exchange_strong(expected, this, std::memory_order_acq_rel);
}

CDicomDictionary::~CDicomDictionary() {
    CDicomDictionary* expected = this;
    g_instance.compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel);
}

CDicomDictionary* CDicomDictionary::Instance() {
    return g_instance.load(std::memory_order_acquire);
}

VrCode CDicomDictionary::VrOf(uint32_t tag) const {
    const auto it = m_entries.find(tag);
    return it != m_entries.end() ? it->second.vr : VrCode::Unknown;
}

const char* CDicomDictionary::NameOf(uint16_t group, uint16_t element) const {
    const auto it = m_entries.find(MakeTag(group, element));
    return it != m_entries.end() ? it->second.name : kUnknownName;
}

bool CDicomDictionary::IsPreloaded(uint32_t tag) const {
    std::shared_lock lock(m_preloadLock);
    return m_preload.contains(tag);
}

void CDicomDictionary::AddPreloaded(uint32_t tag) {
    // Called for every stored value; almost always the tag is known already, and readers
    // must not queue behind an exclusive lock for nothing.
    if (IsPreloaded(tag)) return;
    std::unique_lock lock(m_preloadLock);
    m_preload.emplace(tag, 1u);
}

VrCode DictionaryVrOf(uint32_t tag) {
    const CDicomDictionary* dictionary = CDicomDictionary::Instance();
    return dictionary ? dictionary->VrOf(tag) : VrCode::Unknown;
}

const char* DictionaryNameOf(uint16_t group, uint16_t element) {
    const CDicomDictionary* dictionary = CDicomDictionary::Instance();
    return dictionary ? dictionary->NameOf(group, element) : kUnknownName;
}

}  // namespace vexel
