#include "common/image_oracle.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "common/test_paths.h"
#include "platform/md5.h"

namespace vexel::test {

FrameSummary Summarise(const CDicomFrame& frame, const uint8_t* pixels, bool isSigned) {
    FrameSummary summary;
    const size_t count = size_t(frame.Columns()) * frame.Rows() * (frame.IsColour() ? 3 : 1);
    double sum = 0;
    for (size_t i = 0; i < count; ++i) {
        double v;
        if (frame.IsColour()) {
            v = pixels[i];
        } else {
            const uint16_t w = reinterpret_cast<const uint16_t*>(pixels)[i];
            v = isSigned ? double(int16_t(w)) : double(w);
        }
        if (i == 0 || v < summary.minimum) summary.minimum = v;
        if (i == 0 || v > summary.maximum) summary.maximum = v;
        sum += v;
    }
    summary.mean = count ? sum / double(count) : 0;
    summary.md5 = CMd5::Hex(pixels, frame.BufferSize());
    return summary;
}

std::vector<uint8_t> Dcm2PnmRgb(const std::string& path, int frame) {
    const std::filesystem::path out =
        ScratchDir("dcm2pnm-" + std::to_string(std::hash<std::string>{}(path))) / "frame.ppm";
    int code = 0;
    RunCommand("dcm2pnm --write-raw-pnm --frame " + std::to_string(frame + 1) + " '" + path +
                   "' '" + out.string() + "' 2>/dev/null",
               &code);
    std::ifstream in(out, std::ios::binary);
    std::string magic;
    int width = 0, height = 0, maxval = 0;
    in >> magic >> width >> height >> maxval;
    in.get();
    if (code != 0 || magic != "P6" || maxval != 255) return {};
    std::vector<uint8_t> rgb(size_t(width) * size_t(height) * 3);
    in.read(reinterpret_cast<char*>(rgb.data()), std::streamsize(rgb.size()));
    return in ? rgb : std::vector<uint8_t>{};
}

double RescaleSlopeOf(CDicomFile& file) {
    return file.Float(0x00281053, 1);
}

std::string FirstDifference(const uint8_t* a, const uint8_t* b, size_t size, int tolerance) {
    for (size_t i = 0; i < size; ++i) {
        if (std::abs(int(a[i]) - int(b[i])) > tolerance) {
            std::ostringstream text;
            text << "byte " << i << ": " << int(a[i]) << " vs " << int(b[i]);
            return text.str();
        }
    }
    return "";
}

}  // namespace vexel::test
