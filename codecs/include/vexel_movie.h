/* The C ABI of libvexel-movie.so, the movie writer over FFmpeg. It is a module of its own so
 * that the programs start without loading FFmpeg and its many libraries; they load it when
 * the first movie is written. Errors come back as text in the caller's buffer. */
#ifndef VEXEL_MOVIE_H
#define VEXEL_MOVIE_H

#include <stddef.h>
#include <stdint.h>

#include "vexel_codec.h"

#ifdef __cplusplus
extern "C" {
#endif

enum { VEXEL_MOVIE_WMV = 0, VEXEL_MOVIE_MP4 = 1 };

typedef struct VexelMovie VexelMovie;

typedef struct VexelMovieInterface {
    uint32_t size; /* sizeof(VexelMovieInterface) of the module */
    /* A new movie at path (overwritten); null with the reason in error. */
    VexelMovie* (*open)(const char* path, int32_t codec, int32_t framesPerSecond,
                        uint32_t bitRateKbps, char* error, size_t errorSize);
    /* One frame of 0x00RRGGBB words, rows top-down, stride pixels a row; 0 on success. */
    int32_t (*addFrame)(VexelMovie* movie, const uint32_t* pixels, int32_t width,
                        int32_t height, size_t stride, char* error, size_t errorSize);
    /* Writes the end of the file; 0 on success. */
    int32_t (*finish)(VexelMovie* movie, char* error, size_t errorSize);
    /* Frees the movie, finished or not. */
    void (*close)(VexelMovie* movie);
    int32_t (*width)(const VexelMovie* movie);
    int32_t (*height)(const VexelMovie* movie);
    uint32_t (*framesWritten)(const VexelMovie* movie);
} VexelMovieInterface;

VEXEL_CODEC_EXPORT const VexelMovieInterface* VexelMovieGetInterface(void);

#ifdef __cplusplus
}
#endif

#endif
