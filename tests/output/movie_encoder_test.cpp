// Movies checked with ffprobe and decoded with ffmpeg: stream facts, per-frame PSNR against
// the source frames, orientation, padding, letterboxing, and refused input.
#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "common/test_paths.h"
#include "output/movie_encoder.h"

namespace vexel {
namespace {

using Sizes = std::vector<std::pair<int, int>>;
struct Codec {  // the name as ffprobe reports it
    MovieCodec codec;
    const char* name;
};
class MovieEncoderTest : public ::testing::TestWithParam<Codec> {};

// A noisy grey gradient with a moving disc, a reddish square and a bright band along the top.
std::vector<uint32_t> Picture(int width, int height, int n) {
    std::vector<uint32_t> pixels(size_t(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int noise = int((x * 73856093u ^ y * 19349663u ^ n * 83492791u) % 25);
            const int dx = x - width / 3 - 3 * n, dy = y - height / 2;
            const bool disc = dx * dx + dy * dy < height * height / 16;
            uint32_t rgb = 0x010101u * (disc ? 170 : 8 + 120 * (x + y) / (width + height) + noise);
            if (x > width * 2 / 3 && x < width * 5 / 6 && y > height / 3 && y < height * 2 / 3)
                rgb = 0xa05040;
            pixels[size_t(y) * width + x] = y < height / 8 ? 0xf0f0f0 : rgb;
        }
    return pixels;
}

bool Write(const std::filesystem::path& path, MovieCodec codec, int fps, uint32_t kbps,
           const Sizes& sizes) {
    CMovieEncoder encoder;
    std::string error;
    bool ok = encoder.Open(path, {codec, fps, kbps}, &error);
    for (size_t n = 0; ok && n < sizes.size(); ++n) {
        const auto [w, h] = sizes[n];
        ok = encoder.AddFrame(Picture(w, h, int(n)).data(), w, h, size_t(w), &error);
    }
    ok = ok && encoder.Finish(&error);
    EXPECT_TRUE(ok) << error;
    return ok;
}

// PSNR of a decoded rgb24 frame `width` pixels wide against the top-left `source` region.
double Psnr(const uint8_t* rgb, int width, const std::vector<uint32_t>& source, int w, int h) {
    double squares = 0;
    for (int y = 0; y < h; ++y)
        for (int i = 0; i < w * 3; ++i) {
            const int expected = int(source[size_t(y) * w + i / 3] >> (16 - 8 * (i % 3))) & 0xff;
            squares += std::pow(rgb[(size_t(y) * width) * 3 + i] - expected, 2);
        }
    return 10 * std::log10(255.0 * 255.0 * w * h * 3 / std::max(squares, 1.0));
}

// Best quality; stream facts; padding to even sizes; letterboxing of a later, wider frame.
TEST_P(MovieEncoderTest, FactsQualityPaddingAndLetterbox) {
    if (!test::HaveProgram("ffmpeg") || !test::HaveProgram("ffprobe"))
        GTEST_SKIP() << "ffmpeg or ffprobe not on PATH";
    struct Case {  // one frame of `first`, eleven of `later`; the movie's size
        int fps;
        std::pair<int, int> first, later;
        int width, height;
    };
    const auto folder = test::ScratchDir(std::string("movie-facts-") + GetParam().name);
    for (const Case& c :
         {Case{7, {96, 64}, {96, 64}, 96, 64}, Case{25, {255, 255}, {255, 255}, 256, 256},
          Case{10, {256, 256}, {300, 200}, 256, 256}}) {
        const auto path = folder / ("movie" + std::to_string(c.fps));
        const std::string file = test::Quote(path);
        Sizes sizes(12, c.later);
        sizes[0] = c.first;
        ASSERT_TRUE(Write(path, GetParam().codec, c.fps, MovieBitRateKbps(10), sizes));
        const std::string rate = std::to_string(c.fps) + "/1";
        EXPECT_EQ(test::RunCommand("ffprobe -v error -count_frames -select_streams v:0 -of csv=p=0 "
                                   "-show_entries stream=codec_name,width,height,r_frame_rate,"
                                   "avg_frame_rate,nb_read_frames " +
                                   file),
                  std::string(GetParam().name) + "," + std::to_string(c.width) + "," +
                      std::to_string(c.height) + "," + rate + "," + rate + ",12\n");
        const std::string rgb = test::RunCommand(
            "ffmpeg -v error -i " + file + " -vsync passthrough -f rawvideo -pix_fmt rgb24 -");
        const size_t frameBytes = size_t(c.width) * c.height * 3;
        ASSERT_EQ(rgb.size(), frameBytes * 12);
        const auto* frames = reinterpret_cast<const uint8_t*>(rgb.data());
        const auto [w, h] = c.first;
        for (int n = 0; n < (c.first == c.later ? 12 : 1); ++n)
            EXPECT_GE(Psnr(frames + frameBytes * size_t(n), c.width, Picture(w, h, n), w, h), 35.0)
                << c.fps << n;
        // The bright top band stays on top; a letterboxed 300 x 200 frame (rows 42 to 211)
        // has black bars above and below.
        const bool letterboxed = c.first != c.later;
        const auto at = [&](int row) { return frames[frameBytes * 11 + row * c.width * 3 + 150]; };
        EXPECT_TRUE(!letterboxed || (at(30) < 24 && at(230) < 24)) << "no black bars";
        EXPECT_GT(at(letterboxed ? 46 : 2), 200) << "top band not at the top";
    }
}

TEST_P(MovieEncoderTest, RefusesBadInputAndRunsBesideAnotherEncoder) {
    const std::vector<uint32_t> pixels = Picture(32, 32, 0);
    std::string error;
    CMovieEncoder encoder;
    EXPECT_FALSE(encoder.AddFrame(pixels.data(), 32, 32, 32, &error));
    EXPECT_FALSE(encoder.Finish(&error));
    EXPECT_FALSE(CMovieEncoder().Open("/nonexistent/m.movie", {GetParam().codec}, &error));
    EXPECT_NE(error.find("/nonexistent/m.movie"), std::string::npos) << error;
    const auto folder = test::ScratchDir(std::string("movie-bad-") + GetParam().name);
    ASSERT_TRUE(encoder.Open(folder / "bad", {GetParam().codec, 0, 0}, &error)) << error;
    EXPECT_FALSE(encoder.AddFrame(nullptr, 32, 32, 32, &error));
    for (const auto& [w, h, stride] :
         {std::tuple{0, 32, 32}, {32, -1, 32}, {32, 32, 31}, {100000, 32, 100000}})
        EXPECT_FALSE(encoder.AddFrame(pixels.data(), w, h, size_t(stride), &error)) << w;
    EXPECT_FALSE(encoder.Finish(&error)) << "no frames";
    EXPECT_FALSE(encoder.Finish(&error));
    EXPECT_FALSE(encoder.AddFrame(pixels.data(), 32, 32, 32, &error));
    CMovieEncoder full;  // writes fail: reported, nothing leaks
    bool ok = full.Open("/dev/full", {GetParam().codec}, &error);
    for (int n = 0; ok && n < 30; ++n)
        ok = full.AddFrame(pixels.data(), 32, 32, 32, &error);
    EXPECT_FALSE(ok && full.Finish(&error)) << "a full disk went unnoticed";
    // A name that looks like an FFmpeg protocol is still a file.
    const auto directory = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    Write("pipe:1", GetParam().codec, 10, 100, {1, {32, 32}});
    std::filesystem::current_path(directory);
    EXPECT_TRUE(std::filesystem::exists(folder / "pipe:1"));
    std::thread other([&] { Write(folder / "other", MovieCodec::Mp4, 10, 100, {5, {64, 48}}); });
    Write(folder / "this", GetParam().codec, 60, 100, {5, {48, 64}});
    other.join();
}

INSTANTIATE_TEST_SUITE_P(Codecs, MovieEncoderTest,
                         ::testing::Values(Codec{MovieCodec::Wmv, "wmv2"},
                                           Codec{MovieCodec::Mp4, "h264"}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace vexel
