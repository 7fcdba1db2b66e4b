// A 500-frame 512 x 512 movie written by CMovieEncoder against the `ffmpeg` command encoding
// the same frames (read as raw pixels from a file written beforehand) with the same settings,
// for MP4 (libx264) and WMV (WMV2). Goal: within 1.3x of the command. Each case runs three
// times, alternating; the fastest wall and processor times count (the machine may be shared).
#include <sys/resource.h>
#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "output/movie_encoder.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using vexel::MovieCodec;
constexpr int kSide = 512, kFrames = 500, kDistinct = 50, kFps = 10, kRuns = 3;
constexpr uint32_t kKbps = 20000;

// A noisy grey gradient with a moving disc and a reddish square, as rendered slices look to
// the encoder: mostly grey, some noise, some motion.
std::vector<uint32_t> Picture(int n) {
    std::vector<uint32_t> pixels(size_t(kSide) * kSide);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            const uint32_t noise = (x * 73856093u ^ y * 19349663u ^ n * 83492791u) % 13;
            const int dx = x - kSide / 3 - 4 * n, dy = y - kSide / 2;
            const bool disc = dx * dx + dy * dy < kSide * kSide / 16;
            uint32_t rgb =
                0x010101u * (disc ? 170 + noise : 8 + 120 * (x + y) / (2 * kSide) + noise);
            if (x > kSide * 2 / 3 && x < kSide * 5 / 6 && y > kSide / 3 && y < kSide * 2 / 3)
                rgb = 0xa05040;
            pixels[size_t(y) * kSide + x] = rgb;
        }
    return pixels;
}

struct Times {
    double wall = 1e9, cpu = 1e9;  // seconds
};

// Processor time of this process or of its finished children.
double CpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

Times Since(Clock::time_point start, double cpuStart, int who) {
    return {std::chrono::duration<double>(Clock::now() - start).count(),
            CpuSeconds(who) - cpuStart};
}

Times Ours(const std::vector<std::vector<uint32_t>>& frames, MovieCodec codec,
           const fs::path& out) {
    const double cpuStart = CpuSeconds(RUSAGE_SELF);
    const Clock::time_point start = Clock::now();
    vexel::CMovieEncoder encoder;
    std::string error;
    bool ok = encoder.Open(out, {codec, kFps, kKbps}, &error);
    for (int n = 0; ok && n < kFrames; ++n)
        ok = encoder.AddFrame(frames[size_t(n % kDistinct)].data(), kSide, kSide, kSide, &error);
    if (!ok || !encoder.Finish(&error)) {
        std::fprintf(stderr, "movie_bench: %s\n", error.c_str());
        std::exit(1);
    }
    return Since(start, cpuStart, RUSAGE_SELF);
}

// The same settings as the encoder: bit rate, frame rate, colour tags, and per codec the
// preset or the quantiser floor and key frame spacing.
Times Command(const fs::path& raw, MovieCodec codec, const fs::path& out) {
    const char* pixelFormat = std::endian::native == std::endian::little ? "bgr0" : "0rgb";
    const std::string settings = codec == MovieCodec::Mp4
                                     ? "-c:v libx264 -preset medium -f mp4"
                                     : "-c:v wmv2 -g 12 -qmin 1 -qmax 31 -lmin 118 -f asf";
    const std::string command =
        "ffmpeg -v error -y -f rawvideo -pix_fmt " + std::string(pixelFormat) + " -s " +
        std::to_string(kSide) + "x" + std::to_string(kSide) + " -r " + std::to_string(kFps) +
        " -i '" + raw.string() + "' " + settings + " -b:v " + std::to_string(kKbps) +
        "k -pix_fmt yuv420p -colorspace smpte170m -color_range tv '" + out.string() + "'";
    const double cpuStart = CpuSeconds(RUSAGE_CHILDREN);
    const Clock::time_point start = Clock::now();
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "movie_bench: failed: %s\n", command.c_str());
        std::exit(1);
    }
    return Since(start, cpuStart, RUSAGE_CHILDREN);
}

Times Fastest(Times a, Times b) {
    return {std::min(a.wall, b.wall), std::min(a.cpu, b.cpu)};
}

}  // namespace

int main() {
    const fs::path folder = fs::path(VEXEL_BENCH_DATA_DIR) / "movie";
    fs::create_directories(folder);
    std::vector<std::vector<uint32_t>> frames;
    for (int n = 0; n < kDistinct; ++n)
        frames.push_back(Picture(n));
    const fs::path raw = folder / "frames.raw";
    const uintmax_t rawBytes = uintmax_t(kFrames) * kSide * kSide * 4;
    std::error_code ec;
    if (fs::file_size(raw, ec) != rawBytes) {
        std::ofstream out(raw, std::ios::binary | std::ios::trunc);
        for (int n = 0; n < kFrames; ++n)
            out.write(reinterpret_cast<const char*>(frames[size_t(n % kDistinct)].data()),
                      std::streamsize(frames[0].size() * 4));
    }
    std::printf("%d frames of %dx%d at %d fps, %u kbit/s; fastest of %d runs\n", kFrames, kSide,
                kSide, kFps, kKbps, kRuns);
    for (const auto& [codec, name] :
         {std::pair{MovieCodec::Mp4, "mp4"}, {MovieCodec::Wmv, "wmv"}}) {
        Times ours, command;
        const fs::path ourFile = folder / (std::string("ours.") + name);
        const fs::path commandFile = folder / (std::string("command.") + name);
        for (int run = 0; run < kRuns; ++run) {
            ours = Fastest(ours, Ours(frames, codec, ourFile));
            command = Fastest(command, Command(raw, codec, commandFile));
        }
        std::printf(
            "%s  CMovieEncoder %6.2f s wall %6.2f s cpu (%6ju KiB)  ffmpeg %6.2f s wall "
            "%6.2f s cpu (%6ju KiB)  ratio wall %.2f cpu %.2f\n",
            name, ours.wall, ours.cpu, fs::file_size(ourFile) / 1024, command.wall, command.cpu,
            fs::file_size(commandFile) / 1024, ours.wall / command.wall, ours.cpu / command.cpu);
    }
    return 0;
}
