#include "heap_meter.h"

#include <malloc.h>

#include "dicom/dicom_file.h"
#include "platform/checked_alloc.h"

namespace vexel::bench {
namespace {

void AccountBlock(const void* block, HeapBreakdown& total) {
    if (block == nullptr) return;
    const size_t payload = CheckedSize(block);
    ++total.values;
    total.valuePayload += payload;
    total.valueBytes += MallocChunkSize(payload + kGuardOverhead);
}

void AccountTree(const CDicomElement* element, HeapBreakdown& total) {
    for (const CDicomElement* child = element->firstChild; child; child = child->nextSibling) {
        ++total.elements;
        if (const DicomValue* value = child->value) {
            AccountBlock(value->raw, total);
            AccountBlock(value->floats, total);
            AccountBlock(value->integers, total);
            AccountBlock(value->text, total);
        }
        AccountTree(child, total);
    }
}

}  // namespace

size_t HeapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

size_t MallocChunkSize(size_t request) {
    const size_t chunk = (request + 8 + 15) & ~size_t{15};
    return chunk < 32 ? 32 : chunk;
}

void AccountFile(const CDicomFile& file, HeapBreakdown& total) {
    if (file.Root() != nullptr) AccountTree(file.Root(), total);
    // An empty file has one block already (its root): that one is part of the fixed cost.
    const size_t blocks = file.ArenaBlockCount();
    if (blocks > 1) {
        total.elementBytes +=
            (blocks - 1) * MallocChunkSize(CElementArena::kBlockSize + kGuardOverhead);
    }
}

}  // namespace vexel::bench
