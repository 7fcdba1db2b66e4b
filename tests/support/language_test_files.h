// Small helpers that write language files and hold the stored language choice in memory.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "support/language_settings.h"

namespace vexel::test {

struct XmlText {
    std::string id;     // the "i" attribute as written; empty leaves it out
    std::string check;  // the "c" attribute as written; empty leaves it out
    std::string text;
};

inline std::string LanguageXml(const std::string& name, const std::string& code,
                               const std::vector<XmlText>& texts) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<language";
    if (!name.empty()) xml += " name=\"" + name + "\"";
    if (!code.empty()) xml += " code=\"" + code + "\"";
    xml += " fullver=\"test 1\">\n<strings>\n";
    for (const XmlText& t : texts) {
        xml += "<t";
        if (!t.id.empty()) xml += " i=\"" + t.id + "\"";
        if (!t.check.empty()) xml += " c=\"" + t.check + "\"";
        xml += ">" + t.text + "</t>\n";
    }
    return xml + "</strings>\n</language>\n";
}

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

class MemoryLanguageSettings : public ILanguageSettings {
public:
    std::optional<std::string> LanguageCode() const override { return stored; }
    bool SetLanguageCode(const std::string& code) override {
        stored = code;
        ++writes;
        return true;
    }
    std::optional<std::string> stored;
    int writes = 0;
};

}  // namespace vexel::test
