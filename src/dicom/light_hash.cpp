#include "dicom/light_hash.h"

#include <cstdlib>

namespace vexel {
namespace {

CheckedPtr<void> NewBuckets(size_t size) { return CheckedPtr<void>(CheckedCalloc(size)); }

}  // namespace

CLightHash::CLightHash() { Clear(); }

CLightHash::~CLightHash() = default;

void CLightHash::Clear() {
    // A refused allocation leaves no table: lookups then fall through to the overflow list.
    m_buckets.reset(static_cast<Bucket*>(NewBuckets(sizeof(Bucket) * kBucketCount).release()));
    m_used = 0;
    m_overflow.clear();
    m_overflow.shrink_to_fit();
}

void CLightHash::Insert(uint32_t tag, CDicomElement* element) {
    Bucket* buckets = m_buckets.get();
    if (buckets == nullptr || m_used == kBucketCount) {
        m_overflow.push_back({tag, element});
        return;
    }
    uint32_t index = tag % kBucketCount;
    while (buckets[index].element != nullptr) index = (index + 1) % kBucketCount;
    buckets[index] = {tag, element};
    ++m_used;
}

CDicomElement* CLightHash::Find(uint32_t tag) const {
    if (const Bucket* buckets = m_buckets.get()) {
        const uint32_t home = tag % kBucketCount;
        uint32_t index = home;
        do {
            if (buckets[index].element == nullptr) break;
            if (buckets[index].key == tag) return buckets[index].element;
            index = (index + 1) % kBucketCount;
        } while (index != home);
    }
    // Everything in the table came before everything here, so file order still holds.
    for (const Bucket& bucket : m_overflow) {
        if (bucket.key == tag) return bucket.element;
    }
    return nullptr;
}

}  // namespace vexel
