#include "codec_corpus.h"

#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <sstream>

#include "common/test_paths.h"
#include "phantom/phantom_writer.h"

namespace vexel::test {

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Quote(const fs::path& path) {
    return "'" + path.string() + "'";
}

// Pixel data items written by dcmdump +W, in item order (<name>.0.raw, <name>.1.raw ...).
std::vector<fs::path> DumpPixelItems(const fs::path& file, const fs::path& dir) {
    fs::create_directories(dir);
    RunCommand("dcmdump -q +W " + Quote(dir) + " " + Quote(file) + " >/dev/null 2>&1");
    std::vector<fs::path> items;
    const std::string base = file.filename().string();
    for (int i = 0;; ++i) {
        fs::path item = dir / (base + "." + std::to_string(i) + ".raw");
        if (!fs::exists(item)) break;
        items.push_back(item);
    }
    return items;
}

fs::path BuildCorpus() {
    const fs::path dir = ScratchDir("codec-corpus");
    phantom::PhantomOptions options;
    options.columns = 256;
    options.rows = 256;
    options.slices = 4;
    std::string error;
    if (!phantom::WriteCtSeries(dir / "ct", options, &error) ||
        !phantom::WriteRgbImage(dir / "rgb", options, &error)) {
        return {};
    }
    fs::copy_file(dir / "ct" / "CT0002.dcm", dir / "ct16.dcm");
    fs::copy_file(dir / "rgb" / "RGB0001.dcm", dir / "rgb.dcm");
    // 12- and 8-bit data: DCMTK's lossy codecs rescale the CT into those depths.
    RunTool("dcmcjpeg +ee \"$IN\" \"$OUT.jpg\" && dcmdjpeg \"$OUT.jpg\" \"$OUT\"", dir / "ct16.dcm",
            dir / "ct12.dcm", &error);
    RunTool("dcmcjpeg +eb \"$IN\" \"$OUT.jpg\" && dcmdjpeg \"$OUT.jpg\" \"$OUT\"", dir / "ct16.dcm",
            dir / "ct8.dcm", &error);
    return dir;
}

}  // namespace

const fs::path& CorpusDir() {
    static const fs::path dir = BuildCorpus();
    return dir;
}

bool RunTool(const std::string& command, const fs::path& in, const fs::path& out,
             std::string* log) {
    int code = 0;
    *log = RunCommand("IN=" + Quote(in) + " OUT=" + Quote(out) + "; " + command + " 2>&1", &code);
    return code == 0 && fs::exists(out);
}

std::string Attribute(const fs::path& file, const std::string& tag) {
    std::istringstream line(
        RunCommand("dcmdump -q +P " + tag + " " + Quote(file) + " 2>/dev/null"));
    std::string tagText, vr, value;
    line >> tagText >> vr >> value;
    if (!value.empty() && value.front() == '[') value = value.substr(1, value.find(']') - 1);
    return value;
}

std::vector<uint8_t> FirstFrame(const fs::path& file, std::string* error) {
    const fs::path dir = file.parent_path() / (file.filename().string() + ".items");
    const std::vector<fs::path> items = DumpPixelItems(file, dir);
    if (items.size() < 2) {
        *error = "no encapsulated pixel data in " + file.string();
        return {};
    }
    const std::string framesText = items.size() > 2 ? Attribute(file, "0028,0008") : "";
    const int frames = framesText.empty() ? 1 : std::stoi(framesText);
    // One fragment per frame, or one frame in several fragments.
    std::vector<uint8_t> frame = ReadBytes(items[1]);
    if (frames == 1) {
        for (size_t i = 2; i < items.size(); ++i) {
            const std::vector<uint8_t> more = ReadBytes(items[i]);
            frame.insert(frame.end(), more.begin(), more.end());
        }
    } else if (items.size() != static_cast<size_t>(frames) + 1) {
        *error = "frames span several fragments in " + file.string();
        return {};
    }
    return frame;
}

bool ReadNativePixels(const fs::path& file, NativePixels* pixels, std::string* error) {
    // One dcmdump run prints the attributes and writes the pixel data.
    const fs::path dir = file.parent_path() / (file.filename().string() + ".pixels");
    fs::create_directories(dir);
    std::istringstream listing(
        RunCommand("dcmdump -q +W " + Quote(dir) + " " + Quote(file) + " 2>/dev/null"));
    std::map<std::string, std::string> values;
    for (std::string line; std::getline(listing, line);) {
        if (line.rfind("(0028,", 0) != 0) continue;  // top-level image attributes only
        std::istringstream fields(line);
        std::string tag, vr, value;
        fields >> tag >> vr >> value;
        if (!value.empty() && value.front() == '[') value = value.substr(1, value.find(']') - 1);
        values[tag] = value;
    }
    auto number = [&](const char* tag) { return std::stoi("0" + values[tag]); };
    pixels->rows = static_cast<uint32_t>(number("(0028,0010)"));
    pixels->columns = static_cast<uint32_t>(number("(0028,0011)"));
    pixels->samplesPerPixel = static_cast<uint32_t>(number("(0028,0002)"));
    pixels->photometric = values["(0028,0004)"];
    const int bitsAllocated = number("(0028,0100)");
    const int bitsStored = number("(0028,0101)");
    const bool planar = values["(0028,0006)"] == "1";
    std::vector<fs::path> items;
    const fs::path item = dir / (file.filename().string() + ".0.raw");
    if (fs::exists(item)) items.push_back(item);
    if (items.size() != 1) {
        *error = "no native pixel data in " + file.string();
        return false;
    }
    const std::vector<uint8_t> raw = ReadBytes(items[0]);
    const size_t count = size_t{pixels->rows} * pixels->columns;
    const size_t bytesPerSample = bitsAllocated > 8 ? 2 : 1;
    if (raw.size() < count * pixels->samplesPerPixel * bytesPerSample) {
        *error = "short pixel data in " + file.string();
        return false;
    }
    auto sample = [&](size_t i) -> uint16_t {
        return bytesPerSample == 2 ? static_cast<uint16_t>(raw[2 * i] | raw[2 * i + 1] << 8)
                                   : raw[i];
    };
    if (pixels->samplesPerPixel == 1) {
        for (size_t i = 0; i < count; ++i)
            pixels->grey.push_back(sample(i));
        return true;
    }
    const int shift = bitsStored > 8 ? bitsStored - 8 : 0;
    for (size_t i = 0; i < count; ++i) {
        for (size_t c = 0; c < 3; ++c) {
            const size_t index = planar ? c * count + i : 3 * i + c;
            pixels->rgb.push_back(static_cast<uint8_t>(sample(index) >> shift));
        }
    }
    return true;
}

int StreamPrecision(const std::vector<uint8_t>& jpeg) {
    size_t pos = 2;
    while (pos + 4 < jpeg.size()) {
        if (jpeg[pos] != 0xFF) return 0;
        const uint8_t marker = jpeg[pos + 1];
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
            marker != 0xCC) {
            return jpeg[pos + 4];
        }
        pos += 2 + static_cast<size_t>(jpeg[pos + 2] << 8 | jpeg[pos + 3]);
    }
    return 0;
}

}  // namespace vexel::test
