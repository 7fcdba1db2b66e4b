// Language files on arbitrary bytes: the parser alone, then the whole manager listing the
// file, choosing it and loading its texts, as at start-up.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "scratch_file.h"
#include "support/language_file.h"
#include "support/language_manager.h"
#include "support/utf8_text.h"

namespace {

class FixedSettings : public vexel::ILanguageSettings {
public:
    std::optional<std::string> LanguageCode() const override { return code; }
    bool SetLanguageCode(const std::string& value) override {
        code = value;
        return true;
    }
    std::string code;
};

// One folder per fuzzer process holding the input as its only language file.
const std::filesystem::path& ProgramFolder() {
    static const std::filesystem::path folder = [] {
        std::string path;
        const uint8_t none = 0;
        WriteScratchFile("language-dir", &none, 0, path);
        std::filesystem::path dir = path + ".d";
        std::error_code ec;
        std::filesystem::create_directories(dir, ec);
        return dir;
    }();
    return folder;
}

void LoadThroughManager(const uint8_t* data, size_t size, const std::string& code) {
    const std::filesystem::path file = ProgramFolder() / "language_fuzz.xml";
    FILE* out = std::fopen(file.c_str(), "wb");
    if (out == nullptr) return;
    const bool written = std::fwrite(data, 1, size, out) == size;
    if (std::fclose(out) != 0 || !written) return;
    FixedSettings settings;
    settings.code = code;
    vexel::CLanguageManager manager;
    manager.Initialise(vexel::LanguageSetup{{}, {ProgramFolder()}, "C", &settings});
    volatile size_t sink = 0;
    for (uint32_t id : {1u, 6012u, 50000u})
        sink = sink + manager.GetString(id).size();
    sink = sink + manager.LoadedCode().size() + manager.LoadedFullVersion().size();
    (void)sink;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > vexel::kMaxLanguageFileBytes) return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const vexel::LanguageFileContent content = vexel::ParseLanguageFile(bytes);
    volatile size_t sink = vexel::CutUtf8(content.name, 63, SIZE_MAX).size();
    for (const vexel::Translation& t : content.translations) {
        if (!vexel::IsValidUtf8(t.text)) __builtin_trap();
        sink = sink + t.text.size();
    }
    (void)sink;
    if (content.status == vexel::LanguageFileStatus::Ok)
        LoadThroughManager(data, size, content.code);
    return 0;
}
