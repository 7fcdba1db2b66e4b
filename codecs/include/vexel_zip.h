/* The C ABI of libvexel-zip.so, the ZIP archive module over libzip. The program loads it on
 * first use and calls it through one table of functions that ZipGetInterface fills in.
 * Archives come from outside: every call checks its arguments, no exception or signal leaves
 * the module, and an entry's name is only reported, never used as a path. */
#ifndef VEXEL_ZIP_H
#define VEXEL_ZIP_H

#include <stddef.h>
#include <stdint.h>

#include "vexel_codec.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Results: 0 success; VEXEL_ZIP_END when there is no further entry; negative failures. */
enum {
    VEXEL_ZIP_OK = 0,
    VEXEL_ZIP_END = 1,
    VEXEL_ZIP_BAD_ARGUMENT = -1,
    VEXEL_ZIP_DAMAGED = -2,     /* unreadable archive or entry */
    VEXEL_ZIP_ENCRYPTED = -3,   /* the entry needs a password; none is ever asked for */
    VEXEL_ZIP_UNSUPPORTED = -4, /* a compression or encryption method libzip lacks */
    VEXEL_ZIP_EXISTS = -5,      /* the archive to be created is already there */
    VEXEL_ZIP_NO_MEMORY = -6,
    VEXEL_ZIP_WRITE_FAILED = -7
};

typedef struct VexelZip VexelZip;             /* an archive opened for reading */
typedef struct VexelZipWriter VexelZipWriter; /* an archive being created */

typedef struct VexelZipGlobalInfo {
    uint64_t entryCount;
} VexelZipGlobalInfo;

typedef struct VexelZipEntryInfo {
    uint64_t uncompressedSize; /* as declared by the central directory (ZIP64 included) */
    uint64_t compressedSize;
    uint32_t crc32;
    int32_t compressionMethod; /* the ZIP method number: 0 stored, 8 deflated, ... */
    uint32_t nameLength;       /* bytes of the whole name; the caller's buffer may hold less */
    uint8_t methodSupported;   /* 1 when the entry's method can be read */
    uint8_t encrypted;
    uint8_t directory;    /* name ends with '/' or the Unix mode says directory */
    uint8_t symbolicLink; /* the Unix mode in the external attributes says S_IFLNK */
} VexelZipEntryInfo;

typedef struct VexelZipInterface {
    uint32_t size; /* set by the caller to sizeof(VexelZipInterface) */

    /* Reading. An archive has a current entry, the first one after opening. */
    /* Opens the archive read-only (it is never modified); null on failure. */
    VexelZip* (*openArchive)(const char* utf8Path);
    /* Closes the archive and its open entry; null is ignored. */
    void (*closeArchive)(VexelZip* zip);
    /* 0 with the number of entries. */
    int32_t (*getGlobalInfo)(VexelZip* zip, VexelZipGlobalInfo* info);
    /* 0 with the current entry's name (UTF-8, CP437 names converted; zero-terminated and cut
     * to nameSize - 1 bytes when longer). */
    int32_t (*getCurrentEntryInfo)(VexelZip* zip, char* name, uint32_t nameSize);
    /* 0 when the next entry is current; VEXEL_ZIP_END after the last. Closes an open entry. */
    int32_t (*goToNextEntry)(VexelZip* zip);
    /* 0 when the current entry is open for reading; VEXEL_ZIP_ENCRYPTED, VEXEL_ZIP_UNSUPPORTED
     * or VEXEL_ZIP_DAMAGED otherwise. */
    int32_t (*openCurrentEntry)(VexelZip* zip);
    /* Bytes read (at most size), 0 at the end of the entry, -1 on any error: damaged data, a
     * CRC mismatch, or more or fewer bytes than the entry declares. After -1 every further
     * read is -1. */
    int32_t (*readCurrentEntry)(VexelZip* zip, void* buffer, uint32_t size);
    void (*closeCurrentEntry)(VexelZip* zip);

    /* Writing (the crash reporter). */
    /* A new archive at utf8Path, written when closed; null when the file exists. */
    VexelZipWriter* (*createArchive)(const char* utf8Path);
    /* Adds size bytes (copied at once) as a deflated entry called name (UTF-8); 0 on success. */
    int32_t (*addFile)(VexelZipWriter* writer, const char* name, const void* data, uint64_t size);
    /* Writes the archive and frees the writer; 0 on success. An archive without entries
     * leaves no file. */
    int32_t (*closeWriter)(VexelZipWriter* writer);

    /* The current entry's sizes, method and kind, and its name as getCurrentEntryInfo gives
     * it (name may be null). */
    int32_t (*getCurrentEntryInfoEx)(VexelZip* zip, VexelZipEntryInfo* info, char* name,
                                     uint32_t nameSize);
    /* Opens an archive held in the caller's memory, which must outlive the handle. */
    VexelZip* (*openArchiveInMemory)(const void* data, uint64_t size);
} VexelZipInterface;

/* Fills table (whose size the caller has set) with the module's functions; 0 on success. */
VEXEL_CODEC_EXPORT int32_t ZipGetInterface(VexelZipInterface* table);

#ifdef __cplusplus
}
#endif

#endif
