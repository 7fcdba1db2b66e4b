// Heap accounting for the bytes-per-file benchmark: live heap from malloc's own statistics,
// and a walk of a parsed file that says where those bytes sit.
#pragma once

#include <cstddef>

namespace vexel {
class CDicomFile;
}

namespace vexel::bench {

// Bytes currently handed out by malloc (arena plus mmapped blocks), chunk headers included.
size_t HeapInUse();

// What glibc's malloc takes for a request: the request plus its 8-byte chunk header, rounded
// up to 16, at least 32. An estimate for the breakdown; the totals are measured.
size_t MallocChunkSize(size_t request);

struct HeapBreakdown {
    size_t elements = 0;      // below the root, delimiters and items included
    size_t elementBytes = 0;  // arena blocks of elements and value records as malloc chunks,
                              // beyond the one an empty file has
    size_t values = 0;        // value blocks in memory (raw, floats, integers, text)
    size_t valuePayload = 0;  // their payload bytes
    size_t valueBytes = 0;    // the same as malloc chunks, guards included
};

// Adds the elements and values of file's tree (the root itself is part of the fixed cost).
void AccountFile(const CDicomFile& file, HeapBreakdown& total);

}  // namespace vexel::bench
