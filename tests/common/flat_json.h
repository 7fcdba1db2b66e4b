// A small JSON reader for the oracle files: every leaf under its "/path/of/keys".
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace vexel::test {

// Just enough JSON for the oracle files: objects, arrays, strings, numbers, literals.
class JsonReader {
public:
    explicit JsonReader(std::string text) : m_text(std::move(text)) {}

    // Fills values with "/path/of/keys" -> text for every leaf (numbers and literals as written).
    bool Read(std::map<std::string, std::string>& values) {
        return Value("", values) && (Blank(), m_pos == m_text.size());
    }

private:
    void Blank() { m_pos = std::min(m_text.find_first_not_of(" \t\r\n", m_pos), m_text.size()); }
    bool Eat(char c) {
        Blank();
        return m_pos < m_text.size() && m_text[m_pos] == c && (++m_pos, true);
    }
    static void AppendUtf8(std::string& out, uint32_t cp) {
        const int extra = cp < 0x80 ? 0 : cp < 0x800 ? 1 : cp < 0x10000 ? 2 : 3;
        static constexpr uint8_t kLead[] = {0x00, 0xC0, 0xE0, 0xF0};
        out += static_cast<char>(kLead[extra] | (cp >> (6 * extra)));
        for (int i = extra - 1; i >= 0; --i)
            out += static_cast<char>(0x80 | ((cp >> (6 * i)) & 0x3F));
    }
    bool Hex4(uint32_t& value) {
        if (m_pos + 4 > m_text.size()) return false;
        value = static_cast<uint32_t>(std::stoul(m_text.substr((m_pos += 4) - 4, 4), nullptr, 16));
        return true;
    }
    bool String(std::string& out) {
        if (!Eat('"')) return false;
        while (m_pos < m_text.size() && m_text[m_pos] != '"') {
            const char c = m_text[m_pos++];
            if (c != '\\') {
                out += c;
                continue;
            }
            if (m_pos >= m_text.size()) return false;
            const char e = m_text[m_pos++];
            if (const size_t at = std::string_view("\"\\/bfnrt").find(e); at != std::string::npos) {
                out += "\"\\/\b\f\n\r\t"[at];
                continue;
            }
            uint32_t cp = 0;
            if (e != 'u' || !Hex4(cp)) return false;
            uint32_t low = 0;
            if (cp >= 0xD800 && cp < 0xDC00 && m_text.compare(m_pos, 2, "\\u") == 0) {
                if (m_pos += 2, !Hex4(low)) return false;
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            }
            AppendUtf8(out, cp);
        }
        return Eat('"');
    }
    bool Value(const std::string& path, std::map<std::string, std::string>& values) {
        Blank();
        if (m_pos >= m_text.size()) return false;
        if (m_text[m_pos] == '"') return String(values[path]);
        if (Eat('{')) {
            if (Eat('}')) return true;
            do {
                std::string key;
                if (!String(key) || !Eat(':') || !Value(path + "/" + key, values)) return false;
            } while (Eat(','));
            return Eat('}');
        }
        if (Eat('[')) {
            if (Eat(']')) return true;
            int index = 0;
            do {
                if (!Value(path + "/" + std::to_string(index++), values)) return false;
            } while (Eat(','));
            return Eat(']');
        }
        const size_t begin = m_pos;  // number, true, false, null: kept as written
        m_pos = std::min(m_text.find_first_of(",}] \n\r\t", m_pos), m_text.size());
        values[path] = m_text.substr(begin, m_pos - begin);
        return m_pos > begin;
    }

    std::string m_text;
    size_t m_pos = 0;
};

inline bool ReadFlatJson(std::string text, std::map<std::string, std::string>& values) {
    return JsonReader(std::move(text)).Read(values);
}

}  // namespace vexel::test
