#include "dicom/tag_list.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <vector>

#include "dicom/dicom_dictionary.h"
#include "dicom/dicom_file.h"
#include "dicom/value_format.h"

namespace vexel {
namespace {

std::string TagText(const CDicomElement& element, uint32_t depth) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "(%04X,%04X)", element.group, element.element);
    return std::string(std::min<uint32_t>(3 * depth, 100), ' ') + buffer;
}

// Size of one value of the VRs whose count follows from the length alone; 0 for others.
uint32_t FixedUnitSize(VrCode vr) {
    switch (vr) {
        case VrCode::SS: case VrCode::US: case VrCode::US_SS: return 2;
        case VrCode::FL: case VrCode::SL: case VrCode::UL: case VrCode::AT: return 4;
        case VrCode::FD: case VrCode::SV: case VrCode::UV: return 8;
        default: return 0;
    }
}

// Builds the rows through one buffer that holds the head of each value: its first bytes
// for the text, and for a multi-valued text up to kTagListCountBytes for the count.
class CTagListBuilder {
public:
    explicit CTagListBuilder(CDicomFile& file) : m_file(file) {
        m_options.characterSets = file.CharacterSets();
        m_options.maxChars = kTagListValueChars;
    }

    void Walk(const CDicomElement* container, uint32_t depth, std::vector<TagListRow>& rows) {
        for (CDicomElement* child = container->firstChild; child; child = child->nextSibling) {
            rows.push_back(MakeRow(*child, depth));
            if (child->firstChild) Walk(child, depth + 1, rows);
        }
    }

private:
    TagListRow MakeRow(const CDicomElement& element, uint32_t depth) {
        TagListRow row;
        row.group = element.group;
        row.element = element.element;
        row.depth = depth;
        row.tagText = TagText(element, depth);
        row.vrText = std::string(VrText(element.vr));
        row.length = element.declaredLength;
        row.undefinedLength = element.declaredLength == kUndefinedLength;
        row.lengthText = row.undefinedLength ? "Undefined" : std::to_string(element.declaredLength);
        row.name = DictionaryNameOf(element.group, element.element);
        FillValue(element, row);
        return row;
    }

    // ReadBytes hands out the file's bytes whether the value is in memory or not, so both
    // are shown alike. A read that fails (the file changed or shrank) leaves the text empty
    // and the count open.
    void FillValue(const CDicomElement& element, TagListRow& row) {
        const uint32_t length = element.length;
        const uint32_t shown = std::min(length, kTagListValueBytes);
        const bool read = shown == 0 || Read(element, 0, shown);
        if (read && shown != 0) {
            ValueFormatOptions options = m_options;
            // The meta group is little endian in every file.
            options.bigEndian = m_file.IsBigEndian() && element.group != 0x0002;
            options.truncated = length > shown;
            row.valueText = FormatValue(m_head.data(), shown, element.vr, options);
        }
        if (const uint32_t unit = FixedUnitSize(element.vr)) {
            row.countText = std::to_string(length / unit);
        } else if (!VrIsMultiValuedText(element.vr)) {
            row.countText = length != 0 ? "1" : "0";
        } else {
            row.countText = CountText(element, read ? shown : 0);
        }
    }

    // Backslash-separated values over at most kTagListCountBytes; `have` bytes are read.
    std::string CountText(const CDicomElement& element, uint32_t have) {
        const uint32_t wanted = std::min(element.length, kTagListCountBytes);
        if (have != 0 && have < wanted && Read(element, have, wanted - have)) have = wanted;
        const std::string_view text(reinterpret_cast<const char*>(m_head.data()), have);
        const bool sawText = text.find_first_not_of('\0') != std::string_view::npos;
        const auto separators = static_cast<uint32_t>(std::count(text.begin(), text.end(), '\\'));
        const std::string count = std::to_string(sawText ? separators + 1 : 0);
        return have == element.length ? count : ">=" + count;
    }

    // Bytes [start, start + size) of the value into m_head at start.
    bool Read(const CDicomElement& element, uint32_t start, uint32_t size) {
        if (m_head.size() < size_t{start} + size) m_head.resize(size_t{start} + size);
        return m_file.ReadBytes(&element, m_head.data() + start, start, size);
    }

    CDicomFile& m_file;
    ValueFormatOptions m_options;
    std::vector<uint8_t> m_head;
};

}  // namespace

std::vector<TagListRow> BuildTagList(CDicomFile& file) {
    // One open of the file for every value the listing reads from it.
    CFileReadSession session(file);
    std::vector<TagListRow> rows;
    rows.reserve(file.ElementCount());
    if (file.Root()) CTagListBuilder(file).Walk(file.Root(), 0, rows);
    return rows;
}

}  // namespace vexel
