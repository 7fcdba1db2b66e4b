// Fixed-size open-addressing table of a file's top-level elements.
#pragma once

#include <cstdint>
#include <vector>

#include "dicom/element_arena.h"
#include "platform/checked_alloc.h"

namespace vexel {

struct CDicomElement;

class CLightHash {
public:
    static constexpr uint32_t kBucketCount = 769;

    // Elements are entered by their handle in arena (4-byte buckets: 3 KiB a file, a quarter
    // of a table of tag and pointer pairs); their tags are compared through the arena.
    explicit CLightHash(const CElementArena& arena);
    virtual ~CLightHash();
    CLightHash(const CLightHash&) = delete;
    CLightHash& operator=(const CLightHash&) = delete;

    // No duplicate check: a repeated tag lands in a later bucket, so the first entered wins.
    void Insert(CDicomElement* element, uint32_t handle);
    CDicomElement* Find(uint32_t tag) const;
    void Clear();

private:
    const CElementArena& m_arena;
    CheckedPtr<uint32_t> m_buckets;  // the element's handle + 1; 0 is an empty bucket
    uint32_t m_used = 0;
    // Elements that arrive once every bucket is taken (files with large private blocks), in
    // file order: they must still be found. Once it holds one, every later element joins it.
    std::vector<CDicomElement*> m_overflow;
};

}  // namespace vexel
