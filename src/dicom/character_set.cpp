#include "dicom/character_set.h"

#include <array>

#include "platform/code_page.h"

namespace vexel {
namespace {

// ESC sequences are the designations of PS3.3 Tables C.12-3 and C.12-4 (the bytes after ESC).
constexpr CharacterSetEntry kTable[] = {
    {0, nullptr, nullptr, 0, 0},
    {1, "", nullptr, 1, 28591},
    {2, "ISO_IR 100", nullptr, 1, 28591},
    {3, "ISO_IR 101", nullptr, 1, 28592},
    {4, "ISO_IR 109", nullptr, 1, 28593},
    {5, "ISO_IR 110", nullptr, 1, 28594},
    {6, "ISO_IR 144", nullptr, 1, 28595},
    {7, "ISO_IR 127", nullptr, 1, 28596},
    {8, "ISO_IR 126", nullptr, 1, 28597},
    {9, "ISO_IR 138", nullptr, 1, 28598},
    {10, "ISO_IR 148", nullptr, 1, 28599},
    {11, "ISO_IR 13", nullptr, 1, 932},
    {12, "ISO_IR 166", nullptr, 1, 874},
    {13, "ISO 2022 IR 6", "(B", 1, 28591},
    {14, "ISO 2022 IR 100", "-A", 1, 28591},
    {15, "ISO 2022 IR 101", "-B", 1, 28592},
    {16, "ISO 2022 IR 109", "-C", 1, 28593},
    {17, "ISO 2022 IR 110", "-D", 1, 28594},
    {18, "ISO 2022 IR 144", "-L", 1, 28595},
    {19, "ISO 2022 IR 127", "-G", 1, 28596},
    {20, "ISO 2022 IR 126", "-F", 1, 28597},
    {21, "ISO 2022 IR 138", "-H", 1, 28598},
    {22, "ISO 2022 IR 148", "-M", 1, 28599},
    {23, "ISO 2022 IR 13", ")I", 1, 932},
    {24, "ISO 2022 IR 166", "-T", 1, 874},
    {25, "ISO 2022 IR 87", "$B", 0, 50222},
    {26, "ISO 2022 IR 159", "$(D", 1, 20932},
    {27, "ISO 2022 IR 149", "$)C", 1, 949},
    {28, "ISO_IR 192", nullptr, 1, 65001},
    {29, "GB18030", nullptr, 1, 54936},
    {30, "GBK", nullptr, 1, 936},
    {31, "ISO 2022 IR 58", "$)A", 1, 20936},
};
static_assert(std::size(kTable) == kCharacterSetIso2022Ir58 + 1);

constexpr uint16_t kDefaultRepertoire = 1;
constexpr uint16_t kLatin1 = 2;
constexpr uint16_t kUtf8 = 28;
constexpr uint16_t kGb18030 = 29;
constexpr char kReplacement[] = "\xEF\xBF\xBD";

enum class Area : uint8_t { G0, G1 };

// How the bytes of a run reach the converter.
enum class Feed : uint8_t {
    Ascii,     // ISO 646 and JIS X 0201 roman: copied as they are
    Direct,    // bytes as stored
    Katakana,  // JIS X 0201 katakana: only A1-DF are characters
    Jis0208,   // 7-bit pairs, behind their escape sequence, to the stateful converter
    Jis0212,   // 7-bit pairs to EUC-JP as SS3 plus the pair with bit 7 set
};

struct CodeElement {
    uint16_t id;  // the table entry the element belongs to
    std::string_view escape;
    Area area;
    uint8_t width;  // bytes per character
    Feed feed;
    uint32_t codePage;
};

// PS3.3 C.12.1.1.2: in the 8-bit code DICOM uses, G0 sits in GL (bytes below 0x80) and G1
// in GR (bytes from 0x80), so both can be used side by side without locking shifts.
constexpr CodeElement kElements[] = {
    {13, "(B", Area::G0, 1, Feed::Ascii, 28591},    {23, "(J", Area::G0, 1, Feed::Ascii, 932},
    {14, "-A", Area::G1, 1, Feed::Direct, 28591},   {15, "-B", Area::G1, 1, Feed::Direct, 28592},
    {16, "-C", Area::G1, 1, Feed::Direct, 28593},   {17, "-D", Area::G1, 1, Feed::Direct, 28594},
    {18, "-L", Area::G1, 1, Feed::Direct, 28595},   {19, "-G", Area::G1, 1, Feed::Direct, 28596},
    {20, "-F", Area::G1, 1, Feed::Direct, 28597},   {21, "-H", Area::G1, 1, Feed::Direct, 28598},
    {22, "-M", Area::G1, 1, Feed::Direct, 28599},   {23, ")I", Area::G1, 1, Feed::Katakana, 932},
    {24, "-T", Area::G1, 1, Feed::Direct, 874},     {25, "$B", Area::G0, 2, Feed::Jis0208, 50222},
    {26, "$(D", Area::G0, 2, Feed::Jis0212, 20932}, {27, "$)C", Area::G1, 2, Feed::Direct, 949},
    {31, "$)A", Area::G1, 2, Feed::Direct, 20936},
};
constexpr const CodeElement* kAscii = &kElements[0];
constexpr const CodeElement* kRoman = &kElements[1];

struct Designations {
    const CodeElement* g0 = kAscii;
    const CodeElement* g1 = nullptr;  // none: stray GR bytes read as ISO 8859-1
};

const CharacterSetEntry& EntryOf(uint16_t id) {
    return id < std::size(kTable) ? kTable[id] : kTable[kLatin1];
}

bool UsesCodeExtensions(uint16_t id) {
    return (id >= 13 && id <= 27) || id == kCharacterSetIso2022Ir58;
}

// UTF-8, GB18030 and GBK allow no code extensions (PS3.3 C.12.1.1.2).
bool IsVariableWidthSet(uint16_t id) {
    return id == kUtf8 || id == kGb18030 || id == kCharacterSetGbk;
}

// The designations at the start of a value and after each reset: those of value 1.
Designations InitialDesignations(uint16_t firstId) {
    // The plain single-byte sets act as their ISO 2022 forms when code extensions are used.
    const uint16_t id =
        firstId >= 2 && firstId <= 12 ? static_cast<uint16_t>(firstId + 12) : firstId;
    Designations initial;
    if (id == 23) initial.g0 = kRoman;
    for (const CodeElement& element : kElements) {
        if (element.id == id && element.area == Area::G1) initial.g1 = &element;
    }
    return initial;
}

// PS3.5 6.1.2.5.3: the initial sets are active again after a line end or other control
// character, after a value delimiter and after the PN component and group delimiters.
bool ResetsDesignations(char c, VrCode vr) {
    switch (c) {
        case '\r':
        case '\n':
        case '\f':
        case '\t':
            return true;
        case '\\':
            return vr != VrCode::ST && vr != VrCode::LT && vr != VrCode::UT;
        case '^':
        case '=':
            return vr == VrCode::PN;
        default:
            return false;
    }
}

// Pairs of 7-bit bytes of JIS X 0208 or JIS X 0212; an odd byte at the end is lost.
std::string ConvertJisPairs(std::string_view run, const CodeElement& element) {
    const size_t whole = run.size() & ~size_t{1};
    std::string bytes;
    if (element.feed == Feed::Jis0208) {
        bytes.append("\x1B$B").append(run.substr(0, whole)).append("\x1B(B");
    } else {
        bytes.reserve(whole / 2 * 3);
        for (size_t i = 0; i < whole; ++i) {
            if (i % 2 == 0) bytes.push_back('\x8F');
            bytes.push_back(static_cast<char>(run[i] | 0x80));
        }
    }
    std::string text = ConvertToUtf8(bytes, element.codePage);
    if (whole != run.size()) text.append(kReplacement);
    return text;
}

std::string ConvertKatakana(std::string_view run) {
    std::string text;
    size_t start = 0;
    for (size_t i = 0; i <= run.size(); ++i) {
        const bool isKana = i < run.size() && static_cast<unsigned char>(run[i]) >= 0xA1 &&
                            static_cast<unsigned char>(run[i]) <= 0xDF;
        if (isKana) continue;
        text.append(ConvertToUtf8(run.substr(start, i - start), 932));
        if (i < run.size()) text.append(kReplacement);
        start = i + 1;
    }
    return text;
}

class Iso2022Decoder {
public:
    Iso2022Decoder(std::string_view raw, Designations initial, VrCode vr)
        : m_raw(raw), m_initial(initial), m_current(initial), m_vr(vr) {}

    std::string Run() {
        size_t pos = 0;
        while (pos < m_raw.size()) {
            const auto byte = static_cast<unsigned char>(m_raw[pos]);
            if (byte == 0x1B) {
                pos = Escape(pos);
            } else if (byte >= 0x80) {
                pos = GrRun(pos);
            } else if (m_current.g0->width == 2 && byte >= 0x21 && byte <= 0x7E) {
                pos = MultiByteGlRun(pos);
            } else {
                pos = SingleByteGl(pos);
            }
        }
        return std::move(m_text);
    }

private:
    // ISO 2022 escape: ESC, intermediate bytes 02/00-02/15, one final byte 03/00-07/14.
    size_t Escape(size_t pos) {
        size_t end = pos + 1;
        while (end < m_raw.size() && m_raw[end] >= 0x20 && m_raw[end] <= 0x2F)
            ++end;
        if (end >= m_raw.size() || m_raw[end] < 0x30 || m_raw[end] > 0x7E) {
            m_text.append(kReplacement);
            return end;
        }
        const std::string_view sequence = m_raw.substr(pos + 1, end - pos);
        // Sets that were not declared are still honoured: their text beats control bytes.
        for (const CodeElement& element : kElements) {
            if (element.escape != sequence) continue;
            (element.area == Area::G0 ? m_current.g0 : m_current.g1) = &element;
            return end + 1;
        }
        m_text.append(kReplacement);
        return end + 1;
    }

    size_t GrRun(size_t pos) {
        size_t end = pos;
        while (end < m_raw.size() && static_cast<unsigned char>(m_raw[end]) >= 0x80)
            ++end;
        const std::string_view run = m_raw.substr(pos, end - pos);
        const CodeElement* g1 = m_current.g1;
        if (g1 == nullptr) {
            m_text.append(ConvertToUtf8(run, EntryOf(kDefaultRepertoire).codePage));
        } else if (g1->feed == Feed::Katakana) {
            m_text.append(ConvertKatakana(run));
        } else {
            m_text.append(ConvertToUtf8(run, g1->codePage));
        }
        return end;
    }

    size_t MultiByteGlRun(size_t pos) {
        size_t end = pos;
        while (end < m_raw.size() && m_raw[end] >= 0x21 && m_raw[end] <= 0x7E)
            ++end;
        m_text.append(ConvertJisPairs(m_raw.substr(pos, end - pos), *m_current.g0));
        return end;
    }

    // One byte of GL in a single-byte set (or a control or space between double bytes): the
    // G0 sets used here all agree with ASCII on the bytes that matter to DICOM.
    size_t SingleByteGl(size_t pos) {
        const char c = m_raw[pos];
        m_text.push_back(c);
        if (ResetsDesignations(c, m_vr)) m_current = m_initial;
        return pos + 1;
    }

    std::string_view m_raw;
    Designations m_initial;
    Designations m_current;
    VrCode m_vr;
    std::string m_text;
};

// Upper case without blanks, underscores and hyphens: "iso-ir 100" and "ISO_IR100" both
// become "ISOIR100".
std::string Squeezed(std::string_view term) {
    std::string out;
    out.reserve(term.size());
    for (const char c : term) {
        if (c == ' ' || c == '_' || c == '-' || c == '\0' || c == '\t') continue;
        out.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
    }
    return out;
}

}  // namespace

std::span<const CharacterSetEntry> CharacterSetTable() {
    return kTable;
}

uint32_t CharacterSetIdOf(std::string_view definedTerm) {
    const std::string key = Squeezed(definedTerm);
    for (size_t id = 1; id < std::size(kTable); ++id) {
        if (key == Squeezed(kTable[id].definedTerm)) return static_cast<uint32_t>(id);
    }
    // ISO-IR 6 is the default repertoire itself; some writers name it.
    if (key == "ISOIR6") return kDefaultRepertoire;
    return 0;
}

std::vector<uint16_t> ParseSpecificCharacterSet(std::string_view value) {
    std::vector<uint16_t> ids;
    if (Squeezed(value).empty()) return {kDefaultRepertoire};
    for (;;) {
        const size_t delimiter = value.find('\\');
        const uint32_t id = CharacterSetIdOf(value.substr(0, delimiter));
        ids.push_back(id == 0 ? kLatin1 : static_cast<uint16_t>(id));
        if (delimiter == std::string_view::npos) break;
        value.remove_prefix(delimiter + 1);
    }
    return ids;
}

std::string DecodeText(std::string_view raw, std::span<const uint16_t> ids, VrCode vr) {
    while (!raw.empty() && (raw.back() == ' ' || raw.back() == '\0'))
        raw.remove_suffix(1);
    const uint16_t first = ids.empty() ? kDefaultRepertoire : ids[0];
    for (const uint16_t id : ids) {
        if (IsVariableWidthSet(id)) return ConvertToUtf8(raw, EntryOf(id).codePage);
    }
    if (ids.size() <= 1 && !UsesCodeExtensions(first)) {
        return ConvertToUtf8(raw, EntryOf(first).codePage);
    }
    return Iso2022Decoder(raw, InitialDesignations(first), vr).Run();
}

}  // namespace vexel
