// Fixed-size open-addressing table of a file's top-level elements.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/checked_alloc.h"

namespace vexel {

struct CDicomElement;

class CLightHash {
public:
    static constexpr uint32_t kBucketCount = 769;

    CLightHash();
    virtual ~CLightHash();
    CLightHash(const CLightHash&) = delete;
    CLightHash& operator=(const CLightHash&) = delete;

    // No duplicate check: a repeated tag lands in a later bucket, so the first entered wins.
    void Insert(uint32_t tag, CDicomElement* element);
    CDicomElement* Find(uint32_t tag) const;
    void Clear();

private:
    struct Bucket {
        uint32_t key;
        CDicomElement* element;
    };

    CheckedPtr<Bucket> m_buckets;
    uint32_t m_used = 0;
    // Elements that arrive once every bucket is taken (files with large private blocks), in
    // file order: they must still be found.
    std::vector<Bucket> m_overflow;
};

}  // namespace vexel
