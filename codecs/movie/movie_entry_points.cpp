// The module's C entry points over CFfmpegMovie. No exception leaves the module.
#include <cstring>
#include <new>
#include <string>

#include "movie/ffmpeg_movie.h"
#include "vexel_movie.h"

struct VexelMovie {
    vexel::movie::CFfmpegMovie encoder;
};

namespace {

void CopyError(const std::string& reason, char* error, size_t errorSize) {
    if (error == nullptr || errorSize == 0) return;
    const size_t length = std::min(reason.size(), errorSize - 1);
    std::memcpy(error, reason.data(), length);
    error[length] = '\0';
}

VexelMovie* Open(const char* path, int32_t codec, int32_t framesPerSecond, uint32_t bitRateKbps,
                 char* error, size_t errorSize) {
    std::string reason;
    try {
        auto* movie = new VexelMovie;
        vexel::movie::MovieSettings settings;
        settings.codec = codec == VEXEL_MOVIE_MP4 ? vexel::movie::MovieCodec::Mp4
                                                  : vexel::movie::MovieCodec::Wmv;
        settings.framesPerSecond = framesPerSecond;
        settings.bitRateKbps = bitRateKbps;
        if (path != nullptr && movie->encoder.Open(path, settings, &reason)) return movie;
        delete movie;
    } catch (const std::bad_alloc&) {
        reason = "not enough memory";
    }
    CopyError(path == nullptr ? "no movie file name" : reason, error, errorSize);
    return nullptr;
}

int32_t AddFrame(VexelMovie* movie, const uint32_t* pixels, int32_t width, int32_t height,
                 size_t stride, char* error, size_t errorSize) {
    if (movie == nullptr) return VEXEL_CODEC_BAD_ARGUMENT;
    std::string reason;
    try {
        if (movie->encoder.AddFrame(pixels, width, height, stride, &reason)) return VEXEL_CODEC_OK;
    } catch (const std::bad_alloc&) {
        reason = "not enough memory";
    }
    CopyError(reason, error, errorSize);
    return VEXEL_CODEC_CORRUPT;
}

int32_t Finish(VexelMovie* movie, char* error, size_t errorSize) {
    if (movie == nullptr) return VEXEL_CODEC_BAD_ARGUMENT;
    std::string reason;
    try {
        if (movie->encoder.Finish(&reason)) return VEXEL_CODEC_OK;
    } catch (const std::bad_alloc&) {
        reason = "not enough memory";
    }
    CopyError(reason, error, errorSize);
    return VEXEL_CODEC_CORRUPT;
}

void Close(VexelMovie* movie) {
    delete movie;
}

int32_t Width(const VexelMovie* movie) {
    return movie != nullptr ? movie->encoder.Width() : 0;
}

int32_t Height(const VexelMovie* movie) {
    return movie != nullptr ? movie->encoder.Height() : 0;
}

uint32_t FramesWritten(const VexelMovie* movie) {
    return movie != nullptr ? movie->encoder.FramesWritten() : 0;
}

const VexelMovieInterface kInterface = {
    sizeof(VexelMovieInterface), Open, AddFrame, Finish, Close, Width, Height, FramesWritten};

}  // namespace

extern "C" VEXEL_CODEC_EXPORT const VexelMovieInterface* VexelMovieGetInterface(void) {
    return &kInterface;
}
