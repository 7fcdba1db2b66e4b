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

// Count of a value that stays in the file, from its length or by reading it in pieces;
// `head` holds its first bytes, already read.
uint32_t CountInFile(CDicomFile& file, const CDicomElement& element, std::string_view head) {
    const uint32_t length = element.length;
    switch (element.vr) {
        case VrCode::FL: case VrCode::SL: case VrCode::UL: return length / 4;
        case VrCode::FD: case VrCode::SV: case VrCode::UV: return length / 8;
        case VrCode::SS: case VrCode::US: return length / 2;
        case VrCode::AT: return length / 4;
        default: break;
    }
    if (!VrIsMultiValuedText(element.vr)) return length != 0 ? 1 : 0;
    uint32_t count = 0;
    bool sawText = false;
    char piece[kTagListValueBytes];
    for (uint32_t at = 0; at < length; at += kTagListValueBytes) {
        const uint32_t size = std::min(kTagListValueBytes, length - at);
        std::string_view text = head.substr(0, size);
        if (at > 0 || head.size() < size) {
            if (!file.ReadBytes(&element, piece, at, size)) break;
            text = std::string_view(piece, size);
        }
        sawText = sawText || text.find_first_not_of('\0') != std::string_view::npos;
        count += static_cast<uint32_t>(std::count(text.begin(), text.end(), '\\'));
    }
    return sawText ? count + 1 : 0;
}

void AddRow(CDicomFile& file, CDicomElement& element, uint32_t depth,
            std::vector<TagListRow>& rows) {
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

    ValueFormatOptions options;
    options.characterSets = file.CharacterSets();
    uint32_t count = element.count;
    if (element.HasValue()) {
        row.valueText = FormatValue(element.value->raw, element.length, element.vr, options);
    } else if (element.offset != 0 && element.length != 0) {
        const uint32_t size = std::min(kTagListValueBytes, element.length);
        uint8_t bytes[kTagListValueBytes];
        if (file.ReadBytes(&element, bytes, 0, size)) {
            // The meta group is little endian in every file.
            options.bigEndian = file.IsBigEndian() && element.group != 0x0002;
            options.truncated = element.length > size;
            row.valueText = FormatValue(bytes, size, element.vr, options);
            count = CountInFile(file, element,
                                std::string_view(reinterpret_cast<const char*>(bytes), size));
        }
    }
    row.countText = std::to_string(count);
    rows.push_back(std::move(row));
}

void Walk(CDicomFile& file, CDicomElement* container, uint32_t depth,
          std::vector<TagListRow>& rows) {
    for (CDicomElement* child = container->firstChild; child; child = child->nextSibling) {
        AddRow(file, *child, depth, rows);
        if (child->firstChild) Walk(file, child, depth + 1, rows);
    }
}

}  // namespace

std::vector<TagListRow> BuildTagList(CDicomFile& file) {
    // One open of the file for every value the listing reads from it.
    CFileReadSession session(file);
    std::vector<TagListRow> rows;
    rows.reserve(file.ElementCount());
    if (file.Root()) Walk(file, file.Root(), 0, rows);
    return rows;
}

}  // namespace vexel
