// Decodes frames and prints what they hold, so that other toolkits can be compared:
//   rows, columns, frames, photometric, bits allocated, bits stored, signed
//   frame N: min <v> max <v> mean <v> md5 <hex of the decoded buffer>
// Greyscale buffers are 16-bit little-endian words (signed values as two's complement),
// colour buffers interleaved RGB bytes. --out writes a frame as PGM (16-bit big-endian) or
// PPM (8-bit RGB).
#include "cli/decode_command.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "dicom/dicom_file.h"
#include "dicom/dicom_reader.h"
#include "engine/memory_manager.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "platform/md5.h"

namespace vexel::cli {
namespace {

struct DecodeOptions {
    std::string path;
    std::string out;
    long frame = 0;
    bool all = false;
};

bool ParseOptions(int argc, char** argv, DecodeOptions& options) {
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--all") {
            options.all = true;
        } else if (arg == "--frame" && i + 1 < argc) {
            char* end = nullptr;
            options.frame = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || options.frame < 0) return false;
        } else if (arg == "--out" && i + 1 < argc) {
            options.out = argv[++i];
        } else if (!arg.empty() && arg[0] != '-' && options.path.empty()) {
            options.path = arg;
        } else {
            return false;
        }
    }
    return !options.path.empty();
}

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
        text.pop_back();
    return text;
}

void PrintStatistics(const CDicomFrame& frame, const uint8_t* buffer, bool isSigned) {
    const size_t pixels = size_t(frame.Columns()) * frame.Rows();
    double sum = 0;
    long minimum = 0, maximum = 0;
    if (frame.IsColour()) {
        const auto [low, high] = std::minmax_element(buffer, buffer + 3 * pixels);
        minimum = *low;
        maximum = *high;
        for (size_t i = 0; i < 3 * pixels; ++i)
            sum += buffer[i];
        sum /= double(3 * pixels);
    } else {
        const auto* words = reinterpret_cast<const uint16_t*>(buffer);
        minimum = isSigned ? 32767 : 65535;
        maximum = isSigned ? -32768 : 0;
        for (size_t i = 0; i < pixels; ++i) {
            const long v = isSigned ? long(int16_t(words[i])) : long(words[i]);
            minimum = std::min(minimum, v);
            maximum = std::max(maximum, v);
            sum += double(v);
        }
        sum /= double(pixels);
    }
    std::printf("frame %u: min %ld max %ld mean %.4f md5 %s\n", frame.Index(), minimum, maximum,
                sum, CMd5::Hex(buffer, frame.BufferSize()).c_str());
}

bool WriteNetpbm(const std::string& path, const CDicomFrame& frame, const uint8_t* buffer) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const size_t pixels = size_t(frame.Columns()) * frame.Rows();
    if (frame.IsColour()) {
        out << "P6\n" << frame.Columns() << " " << frame.Rows() << "\n255\n";
        out.write(reinterpret_cast<const char*>(buffer), std::streamsize(3 * pixels));
    } else {
        out << "P5\n" << frame.Columns() << " " << frame.Rows() << "\n65535\n";
        std::vector<char> bigEndian(2 * pixels);
        const auto* words = reinterpret_cast<const uint16_t*>(buffer);
        for (size_t i = 0; i < pixels; ++i) {
            bigEndian[2 * i] = char(words[i] >> 8);
            bigEndian[2 * i + 1] = char(words[i] & 0xFF);
        }
        out.write(bigEndian.data(), std::streamsize(bigEndian.size()));
    }
    return bool(out);
}

std::string OutputPathFor(const std::string& out, uint32_t index, bool several) {
    if (!several) return out;
    const std::filesystem::path path(out);
    return (path.parent_path() /
            (path.stem().string() + "-" + std::to_string(index) + path.extension().string()))
        .string();
}

}  // namespace

int RunDecode(int argc, char** argv, CMemoryManager& files) {
    DecodeOptions options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: vexel decode FILE [--frame N | --all] [--out PATH]\n");
        return 2;
    }
    const auto [file, status] = files.Open(options.path);
    if (status != ReadStatus::Ok) {
        std::fprintf(stderr, "vexel: %s: %s\n", options.path.c_str(), ReadStatusText(status));
        return 1;
    }
    CDicomImage* image = CDicomImage::Of(*file);
    const PixelFormat& format = image->Format();
    std::printf(
        "rows: %d\ncolumns: %d\nframes: %zu\nphotometric: %s\nbits allocated: %u\n"
        "bits stored: %u\nsigned: %s\n",
        image->Rows(), image->Columns(), image->FrameCount(),
        Trimmed(file->String(0x00280004)).c_str(), format.bitsAllocated, format.bitsStored,
        format.isSigned ? "yes" : "no");
    std::fflush(stdout);
    if (image->FrameCount() == 0) {
        std::fprintf(stderr, "vexel: %s: %s\n", options.path.c_str(),
                     DecodeStatusText(image->InitialiseStatus() == DecodeStatus::Ok
                                          ? DecodeStatus::NoPixelData
                                          : image->InitialiseStatus()));
        return 1;
    }
    size_t first = size_t(options.frame), last = size_t(options.frame);
    if (options.all) {
        first = 0;
        last = image->FrameCount() - 1;
    } else if (first >= image->FrameCount()) {
        std::fprintf(stderr, "vexel: %s: frame %ld: no such frame (the image has %zu)\n",
                     options.path.c_str(), options.frame, image->FrameCount());
        return 1;
    }
    int exitCode = 0;
    for (size_t i = first; i <= last; ++i) {
        CDicomFrame* frame = image->Frame(i);
        std::vector<CDicomFrame*> holders;
        const uint8_t* buffer = frame->Pixels(&holders);
        if (buffer == nullptr) {
            std::fflush(stdout);
            std::fprintf(stderr, "vexel: %s: frame %zu: %s\n", options.path.c_str(), i,
                         DecodeStatusText(frame->LastStatus()));
            exitCode = 1;
        } else {
            PrintStatistics(*frame, buffer, image->IsSigned());
            if (!options.out.empty()) {
                const std::string out = OutputPathFor(options.out, frame->Index(), options.all);
                if (!WriteNetpbm(out, *frame, buffer)) {
                    std::fprintf(stderr, "vexel: %s: cannot write\n", out.c_str());
                    exitCode = 1;
                }
            }
        }
        CDicomFrame::ReleaseHolders(holders);
        frame->Release();  // one frame at a time keeps --all of long series small
    }
    return exitCode;
}

}  // namespace vexel::cli
