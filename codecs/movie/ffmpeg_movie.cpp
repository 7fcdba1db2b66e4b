#include "movie/ffmpeg_movie.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdarg>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace vexel::movie {

namespace {

// Larger than any screen or export size; keeps a hostile size from allocating gigabytes.
constexpr int32_t kMaxSide = 8192;
// Limited-range YUV black.
constexpr uint8_t kBlackLuma = 16;
constexpr uint8_t kBlackChroma = 128;

struct FormatDeleter {
    void operator()(AVFormatContext* format) const {
        if (format->pb != nullptr) avio_closep(&format->pb);
        avformat_free_context(format);
    }
};
struct CodecDeleter {
    void operator()(AVCodecContext* codec) const { avcodec_free_context(&codec); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct ScalerDeleter {
    void operator()(SwsContext* scaler) const { sws_freeContext(scaler); }
};

// FFmpeg writes nothing to the terminal; the last error line of the calling thread is kept
// for the reason we return.
thread_local std::string t_lastLog;

void KeepLastError(void* object, int level, const char* format, va_list args) {
    if (level > AV_LOG_ERROR) return;
    std::array<char, 512> line{};
    int printPrefix = 1;
    av_log_format_line2(object, level, format, args, line.data(), int(line.size()), &printPrefix);
    t_lastLog = line.data();
    while (!t_lastLog.empty() && (t_lastLog.back() == '\n' || t_lastLog.back() == '\r'))
        t_lastLog.pop_back();
}

void QuietLog() {
    static std::once_flag once;
    std::call_once(once, [] {
        av_log_set_level(AV_LOG_ERROR);
        av_log_set_callback(KeepLastError);
    });
}

bool Fail(std::string* error, const std::string& what, int code = 0) {
    if (error == nullptr) return false;
    *error = what;
    if (code < 0) {
        std::array<char, AV_ERROR_MAX_STRING_SIZE> text{};
        av_strerror(code, text.data(), text.size());
        *error += std::string(": ") + text.data();
    }
    if (!t_lastLog.empty()) *error += " (" + t_lastLog + ")";
    t_lastLog.clear();
    return false;
}

struct Rect {
    int32_t x = 0, y = 0, width = 0, height = 0;
};

// `width` x `height` fitted into `outWidth` x `outHeight` keeping the aspect, centred, with
// even sizes and offsets so that the chroma planes line up with the luma plane.
Rect FitInto(int32_t width, int32_t height, int32_t outWidth, int32_t outHeight) {
    Rect rect{0, 0, outWidth, outHeight};
    const int64_t across = int64_t(width) * outHeight, down = int64_t(outWidth) * height;
    if (across < down)
        rect.width = int32_t((across + height / 2) / height);
    else if (across > down)
        rect.height = int32_t((int64_t(height) * outWidth + width / 2) / width);
    rect.width = std::max(2, rect.width & ~1);
    rect.height = std::max(2, rect.height & ~1);
    rect.x = ((outWidth - rect.width) / 2) & ~1;
    rect.y = ((outHeight - rect.height) / 2) & ~1;
    return rect;
}

void FillBlack(AVFrame& frame) {
    for (int plane = 0; plane < 3; ++plane) {
        const int rows = plane == 0 ? frame.height : (frame.height + 1) / 2;
        const int bytes = plane == 0 ? frame.width : (frame.width + 1) / 2;
        const uint8_t value = plane == 0 ? kBlackLuma : kBlackChroma;
        for (int row = 0; row < rows; ++row)
            std::memset(frame.data[plane] + ptrdiff_t(row) * frame.linesize[plane], value,
                        size_t(bytes));
    }
}

}  // namespace

struct CFfmpegMovie::Impl {
    enum class State { Closed, Open, Writing, Finished, Failed };

    State state = State::Closed;
    MovieCodec codecKind = MovieCodec::Wmv;
    int32_t fps = 10;
    int64_t bitRate = 0;
    const AVCodec* codec = nullptr;
    std::unique_ptr<AVFormatContext, FormatDeleter> format;
    std::unique_ptr<AVCodecContext, CodecDeleter> encoder;
    std::unique_ptr<AVFrame, FrameDeleter> frame;
    std::unique_ptr<AVPacket, PacketDeleter> packet;
    std::unique_ptr<SwsContext, ScalerDeleter> scaler;
    AVStream* stream = nullptr;               // owned by format
    int32_t width = 0, height = 0;            // the movie's
    int32_t firstWidth = 0, firstHeight = 0;  // the first frame's own size
    uint32_t frames = 0;

    bool Open(const std::string& path, const MovieSettings& settings, std::string* error);
    bool Start(int32_t frameWidth, int32_t frameHeight, std::string* error);
    bool ConfigureEncoder(std::string* error);
    bool Convert(const uint32_t* pixels, int32_t frameWidth, int32_t frameHeight, size_t stride,
                 std::string* error);
    bool Encode(const AVFrame* input, std::string* error);
    bool WritePacket(std::string* error);
    bool Finish(std::string* error);
    // Frees every FFmpeg object (closing the file) and leaves the encoder in `next`.
    void Release(State next);
    bool Failed(std::string* error, const std::string& what, int code = 0) {
        Release(State::Failed);
        return Fail(error, what, code);
    }
};

bool CFfmpegMovie::Impl::Open(const std::string& path, const MovieSettings& settings,
                               std::string* error) {
    codecKind = settings.codec;
    fps = std::clamp(settings.framesPerSecond, 1, 60);
    bitRate = int64_t(std::clamp<uint32_t>(settings.bitRateKbps, 1, 1000000)) * 1000;
    codec = codecKind == MovieCodec::Wmv ? avcodec_find_encoder(AV_CODEC_ID_WMV2)
                                         : avcodec_find_encoder_by_name("libx264");
    if (codec == nullptr)
        return Fail(error, codecKind == MovieCodec::Wmv ? "FFmpeg has no WMV2 encoder"
                                                        : "FFmpeg has no libx264 encoder");
    // FFmpeg reads "pipe:1" or "tcp://..." as protocols; the caller always means a file.
    const std::string url = "file:" + path;
    AVFormatContext* raw = nullptr;
    const char* container = codecKind == MovieCodec::Wmv ? "asf" : "mp4";
    int code = avformat_alloc_output_context2(&raw, nullptr, container, url.c_str());
    if (code < 0 || raw == nullptr)
        return Fail(error, std::string("cannot create the ") + container + " writer", code);
    format.reset(raw);
    code = avio_open(&format->pb, url.c_str(), AVIO_FLAG_WRITE);
    if (code < 0) return Failed(error, "cannot write " + path, code);
    frame.reset(av_frame_alloc());
    packet.reset(av_packet_alloc());
    if (!frame || !packet) return Failed(error, "out of memory");
    state = State::Open;
    return true;
}

// Encoder settings. The bit rate is the quality slider's; each encoder keeps its own rate
// control. WMV2: a key frame every 12 frames; the quantiser may go down to 1 (FFmpeg stops
// at 2 unless the Lagrange floor `lmin` is lowered too), so that high bit rates reach the
// colour conversion's own limit (about 40 dB on noisy frames) instead of stalling at 37.5.
// H.264: libx264 preset "medium" in average-bit-rate mode with its own key frame spacing.
// The colour matrix is the one libswscale converts with (BT.601, limited range), written
// into the stream so that players convert back alike.
bool CFfmpegMovie::Impl::ConfigureEncoder(std::string* error) {
    encoder.reset(avcodec_alloc_context3(codec));
    if (!encoder) return Failed(error, "out of memory");
    AVCodecContext& c = *encoder;
    c.width = width;
    c.height = height;
    c.pix_fmt = AV_PIX_FMT_YUV420P;
    c.time_base = AVRational{1, fps};
    c.framerate = AVRational{fps, 1};
    c.sample_aspect_ratio = AVRational{1, 1};
    c.bit_rate = bitRate;
    c.colorspace = AVCOL_SPC_SMPTE170M;
    c.color_range = AVCOL_RANGE_MPEG;
    c.thread_count = 0;  // as many as the encoder finds useful
    if (codecKind == MovieCodec::Wmv) {
        c.gop_size = 12;
        c.qmin = 1;
        c.qmax = 31;
        av_opt_set_int(c.priv_data, "lmin", FF_QP2LAMBDA, 0);
    } else {
        av_opt_set(c.priv_data, "preset", "medium", 0);
    }
    if ((format->oformat->flags & AVFMT_GLOBALHEADER) != 0) c.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const int code = avcodec_open2(&c, codec, nullptr);
    if (code < 0)
        return Failed(error, std::string("cannot open the ") + codec->name + " encoder", code);
    return true;
}

bool CFfmpegMovie::Impl::Start(int32_t frameWidth, int32_t frameHeight, std::string* error) {
    firstWidth = frameWidth;
    firstHeight = frameHeight;
    width = frameWidth + (frameWidth & 1);
    height = frameHeight + (frameHeight & 1);
    if (!ConfigureEncoder(error)) return false;
    stream = avformat_new_stream(format.get(), nullptr);
    if (stream == nullptr) return Failed(error, "out of memory");
    stream->time_base = encoder->time_base;
    stream->avg_frame_rate = encoder->framerate;
    int code = avcodec_parameters_from_context(stream->codecpar, encoder.get());
    if (code < 0) return Failed(error, "cannot describe the video stream", code);
    code = avformat_write_header(format.get(), nullptr);
    if (code < 0) return Failed(error, "cannot write the movie header", code);
    state = State::Writing;
    return true;
}

bool CFfmpegMovie::Impl::Convert(const uint32_t* pixels, int32_t frameWidth, int32_t frameHeight,
                                  size_t stride, std::string* error) {
    // The encoder may still hold the last picture: then take a fresh buffer, never copy.
    if (frame->buf[0] == nullptr || av_frame_is_writable(frame.get()) == 0) {
        av_frame_unref(frame.get());
        frame->format = AV_PIX_FMT_YUV420P;
        frame->width = width;
        frame->height = height;
        const int code = av_frame_get_buffer(frame.get(), 0);
        if (code < 0) return Failed(error, "cannot allocate a picture", code);
    }
    const Rect rect = frameWidth == firstWidth && frameHeight == firstHeight
                          ? Rect{0, 0, frameWidth, frameHeight}
                          : FitInto(frameWidth, frameHeight, width, height);
    if (rect.width != width || rect.height != height) FillBlack(*frame);
    scaler.reset(sws_getCachedContext(scaler.release(), frameWidth, frameHeight, AV_PIX_FMT_0RGB32,
                                      rect.width, rect.height, AV_PIX_FMT_YUV420P, SWS_BICUBIC,
                                      nullptr, nullptr, nullptr));
    if (!scaler) return Failed(error, "cannot convert the frame's pixels");
    const uint8_t* source[4] = {reinterpret_cast<const uint8_t*>(pixels), nullptr, nullptr,
                                nullptr};
    const int sourceStride[4] = {int(stride * 4), 0, 0, 0};
    uint8_t* target[4] = {frame->data[0] + ptrdiff_t(rect.y) * frame->linesize[0] + rect.x,
                          frame->data[1] + ptrdiff_t(rect.y / 2) * frame->linesize[1] + rect.x / 2,
                          frame->data[2] + ptrdiff_t(rect.y / 2) * frame->linesize[2] + rect.x / 2,
                          nullptr};
    sws_scale(scaler.get(), source, sourceStride, 0, frameHeight, target, frame->linesize);
    frame->pts = frames;
    return true;
}

bool CFfmpegMovie::Impl::Encode(const AVFrame* input, std::string* error) {
    int code = avcodec_send_frame(encoder.get(), input);
    if (code < 0) return Failed(error, "the encoder refused a frame", code);
    while (true) {
        code = avcodec_receive_packet(encoder.get(), packet.get());
        if (code == AVERROR(EAGAIN) || code == AVERROR_EOF) return true;
        if (code < 0) return Failed(error, "the encoder failed", code);
        if (!WritePacket(error)) return false;
    }
}

// Times go from frames (1/fps) to the container's unit rounding down, so that in the ASF
// container's milliseconds frame n is at exactly n x 1000 / fps.
bool CFfmpegMovie::Impl::WritePacket(std::string* error) {
    const auto toStream = [this](int64_t time) {
        return av_rescale_q_rnd(time, encoder->time_base, stream->time_base,
                                AVRounding(AV_ROUND_DOWN | AV_ROUND_PASS_MINMAX));
    };
    AVPacket& p = *packet;
    const int64_t end = p.pts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : toStream(p.pts + p.duration);
    p.pts = toStream(p.pts);
    p.dts = toStream(p.dts);
    p.duration = end == AV_NOPTS_VALUE || p.duration <= 0 ? 0 : end - p.pts;
    p.stream_index = stream->index;
    const int code = av_interleaved_write_frame(format.get(), &p);
    av_packet_unref(&p);
    if (code < 0) return Failed(error, "cannot write to the movie file", code);
    return true;
}

bool CFfmpegMovie::Impl::Finish(std::string* error) {
    if (state == State::Open) return Failed(error, "the movie has no frames");
    if (state != State::Writing) return Fail(error, "no movie is being written");
    if (!Encode(nullptr, error)) return false;
    int code = av_write_trailer(format.get());
    if (code < 0) return Failed(error, "cannot finish the movie file", code);
    code = avio_closep(&format->pb);
    if (code < 0) return Failed(error, "cannot close the movie file", code);
    Release(State::Finished);
    return true;
}

void CFfmpegMovie::Impl::Release(State next) {
    scaler.reset();
    packet.reset();
    frame.reset();
    encoder.reset();
    stream = nullptr;
    format.reset();
    state = next;
}

CFfmpegMovie::CFfmpegMovie() : m_impl(std::make_unique<Impl>()) {}

CFfmpegMovie::~CFfmpegMovie() = default;

bool CFfmpegMovie::Open(const std::string& path, const MovieSettings& settings,
                         std::string* error) {
    QuietLog();
    t_lastLog.clear();
    if (m_impl->state != Impl::State::Closed)
        return Fail(error, "this encoder has already written a movie");
    if (path.empty()) return Fail(error, "no movie file name");
    return m_impl->Open(path, settings, error);
}

bool CFfmpegMovie::AddFrame(const uint32_t* pixels, int32_t width, int32_t height, size_t stride,
                             std::string* error) {
    Impl& impl = *m_impl;
    t_lastLog.clear();
    if (impl.state != Impl::State::Open && impl.state != Impl::State::Writing)
        return Fail(error, "no movie is being written");
    if (pixels == nullptr) return Fail(error, "no pixels");
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
        return Fail(error, "frame size " + std::to_string(width) + " x " + std::to_string(height) +
                               " is out of range");
    if (stride < size_t(width) || stride > size_t(INT_MAX / 4))
        return Fail(error, "row stride " + std::to_string(stride) + " does not fit the width");
    if (impl.state == Impl::State::Open && !impl.Start(width, height, error)) return false;
    if (!impl.Convert(pixels, width, height, stride, error)) return false;
    if (!impl.Encode(impl.frame.get(), error)) return false;
    ++impl.frames;
    return true;
}

bool CFfmpegMovie::Finish(std::string* error) {
    t_lastLog.clear();
    return m_impl->Finish(error);
}

int32_t CFfmpegMovie::Width() const {
    return m_impl->width;
}

int32_t CFfmpegMovie::Height() const {
    return m_impl->height;
}

uint32_t CFfmpegMovie::FramesWritten() const {
    return m_impl->frames;
}

}  // namespace vexel::movie
