// Inside libvexel-movie.so: writes a series of rendered frames as a movie through FFmpeg: WMV
// (ASF container, WMV2) or MP4 (H.264 by libx264). Frame n is shown at n x 1000 / fps milliseconds. One encoder writes
// one movie; it is not thread-safe, but several encoders may run on different threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vexel::movie {

enum class MovieCodec { Wmv, Mp4 };

struct MovieSettings {
    MovieCodec codec = MovieCodec::Wmv;
    int32_t framesPerSecond = 10;  // clamped to 1..60
    uint32_t bitRateKbps = 20000;
};

class CFfmpegMovie {
public:
    CFfmpegMovie();
    // A movie not finished is closed as it is; the caller deletes the file.
    ~CFfmpegMovie();
    CFfmpegMovie(const CFfmpegMovie&) = delete;
    CFfmpegMovie& operator=(const CFfmpegMovie&) = delete;

    // Opens `path` for writing (truncating it). False with a reason, also when this encoder
    // was opened before.
    bool Open(const std::string& path, const MovieSettings& settings, std::string* error);
    // One frame of 0x00RRGGBB words, rows top-down, `stride` pixels per row. The first frame
    // fixes the movie's size (rounded up to even numbers, the extra column or row black);
    // a frame of another size is fitted in keeping its aspect, centred between black bars.
    bool AddFrame(const uint32_t* pixels, int32_t width, int32_t height, size_t stride,
                  std::string* error);
    // Drains the encoder and writes the trailer; false when that fails, when no frame was
    // added, or when the movie is already finished or failed.
    bool Finish(std::string* error);

    int32_t Width() const;  // 0 before the first frame
    int32_t Height() const;
    uint32_t FramesWritten() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace vexel::movie
