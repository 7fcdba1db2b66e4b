#include "test_streams.h"

#include <map>
#include <mutex>

#include "common/test_paths.h"
#include "phantom/phantom_writer.h"

namespace vexel::test {
namespace {

std::mutex g_streamsMutex;

const std::filesystem::path& StreamsDir() {
    static const std::filesystem::path dir = ScratchDir("phantom-streams");
    return dir;
}

std::filesystem::path WritePhantom(PhantomImage image) {
    phantom::PhantomOptions options;
    const bool large = image == PhantomImage::kLargeCt;
    options.columns = large ? 1280 : 160;  // not square: a rows/columns swap shows
    options.rows = large ? 960 : 128;
    options.slices = 1;
    if (large) {  // one thick slice and fine pixels: the phantom scales to fill the frame
        options.pixelSpacingMm = 0.1;
        options.sliceSpacingMm = 99;
    }
    const char* names[] = {"ct", "pet", "rgb", "ct_large"};
    const std::filesystem::path dir = StreamsDir() / names[static_cast<int>(image)];
    std::string error;
    const bool written = image == PhantomImage::kPet ? phantom::WritePetSeries(dir, options, &error)
                         : image == PhantomImage::kRgb
                             ? phantom::WriteRgbImage(dir, options, &error)
                             : phantom::WriteCtSeries(dir, options, &error);
    std::error_code ec;  // the folder is missing when nothing was written
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec))
        if (written && entry.path().extension() == ".dcm") return entry.path();
    return {};
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

}  // namespace

std::filesystem::path PhantomSource(PhantomImage image) {
    std::lock_guard lock(g_streamsMutex);
    static std::map<PhantomImage, std::filesystem::path> written;
    auto it = written.find(image);
    if (it == written.end()) it = written.emplace(image, WritePhantom(image)).first;
    return it->second;
}

std::filesystem::path ConvertOnce(const std::string& key, const std::string& command,
                                  const std::filesystem::path& input, std::string* log) {
    const std::filesystem::path& dir = StreamsDir();  // before the lock: may write phantoms
    std::lock_guard lock(g_streamsMutex);
    static std::map<std::string, std::pair<std::filesystem::path, std::string>> converted;
    if (const auto it = converted.find(key); it != converted.end()) {
        if (log) *log = it->second.second;
        return it->second.first;
    }
    const std::filesystem::path out = dir / (key + ".out");
    std::string line = command;
    ReplaceAll(line, "{in}", "'" + input.string() + "'");
    ReplaceAll(line, "{out}", "'" + out.string() + "'");
    int code = 0;
    const std::string output = RunCommand("(" + line + ") 2>&1", &code);
    const bool made = code == 0 && std::filesystem::exists(out);
    const auto& entry =
        converted[key] = {made ? out : std::filesystem::path(), line + ": " + output};
    if (log) *log = entry.second;
    return entry.first;
}

}  // namespace vexel::test
