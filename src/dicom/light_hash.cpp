#include "dicom/light_hash.h"

#include "dicom/dicom_element.h"

namespace vexel {

CLightHash::CLightHash(const CElementArena& arena) : m_arena(arena) { Clear(); }

CLightHash::~CLightHash() = default;

void CLightHash::Clear() {
    // A refused allocation leaves no table: lookups then fall through to the overflow list.
    m_buckets.reset(static_cast<uint32_t*>(CheckedCalloc(sizeof(uint32_t) * kBucketCount)));
    m_used = 0;
    m_overflow.clear();
    m_overflow.shrink_to_fit();
}

void CLightHash::Insert(CDicomElement* element, uint32_t handle) {
    uint32_t* buckets = m_buckets.get();
    if (buckets == nullptr || m_used == kBucketCount || !m_overflow.empty() ||
        handle == CElementArena::kNoHandle) {
        m_overflow.push_back(element);
        return;
    }
    uint32_t index = element->Tag() % kBucketCount;
    while (buckets[index] != 0) index = index + 1 == kBucketCount ? 0 : index + 1;
    buckets[index] = handle + 1;
    ++m_used;
}

CDicomElement* CLightHash::Find(uint32_t tag) const {
    if (const uint32_t* buckets = m_buckets.get()) {
        const uint32_t home = tag % kBucketCount;
        uint32_t index = home;
        do {
            if (buckets[index] == 0) break;
            auto* element = static_cast<CDicomElement*>(m_arena.At(buckets[index] - 1));
            if (element->Tag() == tag) return element;
            index = index + 1 == kBucketCount ? 0 : index + 1;
        } while (index != home);
    }
    // Everything in the table came before everything here, so file order still holds.
    for (CDicomElement* element : m_overflow) {
        if (element->Tag() == tag) return element;
    }
    return nullptr;
}

}  // namespace vexel
