#include "codec_module.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <dlfcn.h>
#include <map>
#include <mutex>

#include "common/test_paths.h"
#include "phantom/phantom_writer.h"

namespace vexel::test {
namespace {

constexpr size_t kGuardBytes = 4096;
constexpr uint8_t kGuard = 0xA5;

}  // namespace

std::unique_ptr<CCodecModule> CCodecModule::Load(const std::string& name, std::string* error) {
    const auto path = BinaryDir() / "bin" / ("libvexel-" + name + ".so");
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        *error = dlerror();
        return nullptr;
    }
    std::unique_ptr<CCodecModule> module(new CCodecModule(handle));
    module->m_decodeEx =
        reinterpret_cast<int32_t (*)(VexelDecodeRequest*)>(dlsym(handle, "DecompressJPEGEx"));
    if (module->m_decodeEx == nullptr) {
        *error = path.string() + " lacks DecompressJPEGEx";
        return nullptr;
    }
    return module;
}

CCodecModule::~CCodecModule() {
    dlclose(m_handle);
}

void* CCodecModule::Symbol(const char* name) const {
    return dlsym(m_handle, name);
}

DecodeResult CCodecModule::Decode(const std::vector<uint8_t>& data, uint32_t rows, uint32_t columns,
                                  uint32_t components, uint32_t colour, uint64_t capacity) const {
    if (capacity == kFrameCapacity) capacity = uint64_t{rows} * columns * (components == 3 ? 3 : 2);
    DecodeResult result;
    std::vector<uint8_t> buffer(capacity + kGuardBytes, kGuard);
    std::memset(buffer.data(), 0, capacity);
    result.request = {.structSize = sizeof(VexelDecodeRequest), .data = data.data(),
                      .size = data.size(), .output = buffer.data(), .capacity = capacity,
                      .rows = rows, .columns = columns, .components = components, .colour = colour,
                      .streamRows = 0, .streamColumns = 0, .streamComponents = 0,
                      .streamPrecision = 0, .streamSigned = 0};
    result.status = m_decodeEx(&result.request);
    result.guardIntact = std::all_of(buffer.begin() + long(capacity), buffer.end(),
                                     [](uint8_t b) { return b == kGuard; });
    buffer.resize(capacity);
    result.output = std::move(buffer);
    return result;
}

namespace {

uint32_t Le32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24;
}

// The last (7FE0,0010) whose VR is OB or OW; returns the offset of its tag.
std::optional<size_t> LastPixelDataTag(const std::vector<uint8_t>& file) {
    static constexpr std::array<uint8_t, 4> kTag = {0xE0, 0x7F, 0x10, 0x00};
    std::optional<size_t> found;
    auto it = file.begin();
    while ((it = std::search(it, file.end(), kTag.begin(), kTag.end())) != file.end()) {
        const size_t at = static_cast<size_t>(it - file.begin());
        if (at + 12 <= file.size() && file[at + 4] == 'O' &&
            (file[at + 5] == 'B' || file[at + 5] == 'W'))
            found = at;
        ++it;
    }
    return found;
}

// The first US value of (0028,element) in explicit VR little endian.
std::optional<uint16_t> FindUs(const std::vector<uint8_t>& file, uint16_t element) {
    const std::array<uint8_t, 8> pattern = {0x28, 0, uint8_t(element), uint8_t(element >> 8),
                                            'U', 'S', 2, 0};
    const auto it = std::search(file.begin(), file.end(), pattern.begin(), pattern.end());
    if (it == file.end() || file.end() - it < 10) return std::nullopt;
    return static_cast<uint16_t>(it[8] | it[9] << 8);
}

}  // namespace

std::optional<std::vector<uint8_t>> EncapsulatedFrame(const std::vector<uint8_t>& file) {
    const std::optional<size_t> tag = LastPixelDataTag(file);
    if (!tag || Le32(&file[*tag + 8]) != 0xFFFFFFFFu) return std::nullopt;
    size_t at = *tag + 12;
    std::vector<uint8_t> frame;
    bool offsetTable = true;
    while (at + 8 <= file.size()) {
        const uint32_t item = Le32(&file[at]);
        const uint32_t length = Le32(&file[at + 4]);
        if (item == 0xE0DDFFFEu) return frame;  // sequence delimiter
        if (item != 0xE000FFFEu || length > file.size() - at - 8) return std::nullopt;
        if (!offsetTable)
            frame.insert(frame.end(), file.begin() + static_cast<long>(at + 8),
                         file.begin() + static_cast<long>(at + 8 + length));
        offsetTable = false;
        at += 8 + length;
    }
    return std::nullopt;
}

std::optional<std::vector<uint8_t>> NativePixelData(const std::vector<uint8_t>& file) {
    const std::optional<size_t> tag = LastPixelDataTag(file);
    if (!tag) return std::nullopt;
    const uint32_t length = Le32(&file[*tag + 8]);
    if (length == 0xFFFFFFFFu || length > file.size() - *tag - 12) return std::nullopt;
    const auto begin = file.begin() + static_cast<long>(*tag + 12);
    return std::vector<uint8_t>(begin, begin + length);
}

std::optional<ImageShape> ReadImageShape(const std::vector<uint8_t>& file) {
    const auto rows = FindUs(file, 0x0010), columns = FindUs(file, 0x0011);
    if (!rows || !columns) return std::nullopt;
    const uint16_t bits = FindUs(file, 0x0100).value_or(16);
    return ImageShape{*rows, *columns, FindUs(file, 0x0002).value_or(1), bits,
                      FindUs(file, 0x0101).value_or(bits), FindUs(file, 0x0006).value_or(0),
                      FindUs(file, 0x0103).value_or(0)};
}

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
