#include "output/bmp_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace vexel {
namespace {

constexpr uint32_t kHeaderBytes = 14 + 40;  // BITMAPFILEHEADER + BITMAPINFOHEADER
constexpr uint32_t kPixelsPerMetre = 2835;  // 72 dots per inch

void Put16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

std::vector<uint8_t> Header(uint32_t width, uint32_t height, uint32_t imageBytes) {
    std::vector<uint8_t> header;
    header.reserve(kHeaderBytes);
    header.push_back('B');
    header.push_back('M');
    Put32(header, kHeaderBytes + imageBytes);
    Put32(header, 0);  // two reserved words
    Put32(header, kHeaderBytes);
    Put32(header, 40);
    Put32(header, width);
    Put32(header, height);  // positive: rows bottom-up
    Put16(header, 1);       // planes
    Put16(header, 24);      // bits per pixel
    Put32(header, 0);       // BI_RGB
    Put32(header, imageBytes);
    Put32(header, kPixelsPerMetre);
    Put32(header, kPixelsPerMetre);
    Put32(header, 0);  // colours used
    Put32(header, 0);  // important colours
    return header;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

bool WriteBmp(const std::string& path, const uint32_t* pixels, int32_t width, int32_t height,
              size_t stride) {
    if (pixels == nullptr || width < 1 || width > 65535 || height < 1 || height > 65535 ||
        stride < static_cast<size_t>(width)) {
        return false;
    }
    const uint64_t rowBytes = (uint64_t{3} * static_cast<uint32_t>(width) + 3) & ~uint64_t{3};
    const uint64_t imageBytes = rowBytes * static_cast<uint32_t>(height);
    if (imageBytes > UINT32_MAX - kHeaderBytes) return false;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) return false;
    struct stat status {};
    const bool regular = fstat(fileno(file.get()), &status) == 0 && S_ISREG(status.st_mode);
    const std::vector<uint8_t> header =
        Header(static_cast<uint32_t>(width), static_cast<uint32_t>(height),
               static_cast<uint32_t>(imageBytes));
    bool ok = std::fwrite(header.data(), 1, header.size(), file.get()) == header.size();
    std::vector<uint8_t> row(rowBytes, 0);  // the padding stays 0
    for (int32_t y = height - 1; ok && y >= 0; --y) {
        const uint32_t* source = pixels + static_cast<size_t>(y) * stride;
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t rgb = source[x];
            row[3 * x] = static_cast<uint8_t>(rgb);  // blue, green, red
            row[3 * x + 1] = static_cast<uint8_t>(rgb >> 8);
            row[3 * x + 2] = static_cast<uint8_t>(rgb >> 16);
        }
        ok = std::fwrite(row.data(), 1, row.size(), file.get()) == row.size();
    }
    ok = std::fclose(file.release()) == 0 && ok;
    if (!ok && regular) unlink(path.c_str());  // never a device or pipe the path named
    return ok;
}

}  // namespace vexel
