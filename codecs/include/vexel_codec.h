/* The C ABI of Vexel's codec modules (libvexel-jpeg1.so, -jpeg2, -jpeg3, -jpeg4, -jpeg2000).
 * The contract is written out in codecs/README.md; every module is tested against it. */
#ifndef VEXEL_CODEC_H
#define VEXEL_CODEC_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VEXEL_CODEC_EXPORT __attribute__((visibility("default")))

/* Status codes: 0 success, negative failure. */
enum {
    VEXEL_CODEC_OK = 0,
    VEXEL_CODEC_BAD_ARGUMENT = -1,
    VEXEL_CODEC_CORRUPT = -2,        /* the stream cannot be decoded */
    VEXEL_CODEC_SIZE_MISMATCH = -3,  /* the stream's rows, columns or components differ */
    VEXEL_CODEC_UNSUPPORTED = -4,    /* valid but not handled (precision, process, ...) */
    VEXEL_CODEC_NO_MEMORY = -5,
    VEXEL_CODEC_OUTPUT_TOO_SMALL = -6
};

/* How the decoder treats three-component data. */
enum {
    VEXEL_COLOUR_UNKNOWN = 0,  /* follow the stream's own markers (JFIF, Adobe, JP2 colour space) */
    VEXEL_COLOUR_RGB = 1,      /* samples are R, G, B: never colour-transform them */
    VEXEL_COLOUR_YBR = 2       /* samples are Y, Cb, Cr (YBR_FULL, YBR_FULL_422): convert to RGB */
};

typedef struct VexelDecodeRequest {
    uint32_t structSize;      /* sizeof(VexelDecodeRequest) */
    const uint8_t* data;      /* the frame's compressed bytes */
    uint64_t size;
    uint8_t* output;          /* zero-filled by the caller */
    uint64_t capacity;        /* bytes available at output */
    uint32_t rows;            /* expected (0: not known); the decoder fails on a mismatch */
    uint32_t columns;
    uint32_t components;      /* 1 or 3 */
    uint32_t colour;          /* VEXEL_COLOUR_* (three components only) */
    /* Filled by the decoder (also on failure, as far as known): */
    uint32_t streamRows;
    uint32_t streamColumns;
    uint32_t streamComponents;
    uint32_t streamPrecision; /* bits per sample in the stream */
    uint32_t streamSigned;    /* 1 for signed samples (JPEG 2000) */
} VexelDecodeRequest;

typedef struct VexelMemoryFunctions {
    void* (*allocate)(size_t);
    void* (*allocateZeroed)(size_t);
    void* (*reallocate)(void*, size_t);
    void (*release)(void*);
} VexelMemoryFunctions;

/* Output layout, for every module:
 *  one component:   rows x columns unsigned 16-bit words in machine order, row by row; the
 *                   stream's samples as they are (8-bit widened by zero extension; signed
 *                   samples as their 16-bit two's complement);
 *  three components: rows x columns x 3 bytes, R G B interleaved, row by row; samples of more
 *                   than 8 bits are scaled to 8 bits (v >> (precision - 8)). */

/* Extended entry point: checks sizes and the output capacity before writing anything. */
VEXEL_CODEC_EXPORT int32_t DecompressJPEGEx(VexelDecodeRequest* request);

/* The original entry point: output has the frame's buffer size, which the module cannot
 * check; kept for callers of the old contract. */
VEXEL_CODEC_EXPORT int32_t DecompressJPEG(const uint8_t* data, uint32_t size, uint8_t* output);

/* jpeg1 only. */
VEXEL_CODEC_EXPORT int32_t ReadJPEGsize(const uint8_t* data, uint32_t size, int32_t* width,
                                        int32_t* height);
/* Writes a baseline JPEG file from interleaved 8-bit RGB; path is UTF-8. */
VEXEL_CODEC_EXPORT int32_t CompressJPEG(const uint8_t* rgb, int32_t width, int32_t height,
                                        int32_t quality, const char* path);

/* jpeg2000 only: the program's allocator; called once right after loading. */
VEXEL_CODEC_EXPORT void InitMem(const VexelMemoryFunctions* functions);

#ifdef __cplusplus
}
#endif

#endif /* VEXEL_CODEC_H */
