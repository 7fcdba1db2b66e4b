#include "imaging/fragment_splitter.h"

#include <algorithm>

namespace vexel {
namespace {

constexpr uint32_t kItemHeader = 8;

bool IsFragment(const CDicomElement* e) { return e->Tag() == tags::kItem && e->synthetic == 0; }

std::vector<uint32_t> ReadOffsetTable(CDicomFile& file, const CDicomElement* table) {
    std::vector<uint32_t> offsets(table->length / 4);
    if (offsets.empty()) return offsets;
    // Encapsulated syntaxes are all little endian, like this machine.
    if (!file.ReadBytes(table, offsets.data(), 0, offsets.size() * 4)) return {};
    return offsets;
}

// Frames by the table: frame k holds the fragments whose item starts at or after offset k
// and before offset k + 1, positions counted from the first fragment's item header.
std::vector<FragmentList> ByOffsetTable(const FragmentList& fragments,
                                        const std::vector<uint32_t>& offsets) {
    std::vector<uint64_t> starts;
    uint64_t position = 0;
    for (const CDicomElement* f : fragments) {
        starts.push_back(position);
        position += kItemHeader + f->length;
    }
    if (offsets.empty() || offsets[0] != 0) return {};
    std::vector<FragmentList> frames;
    size_t next = 0;
    for (size_t k = 0; k < offsets.size(); ++k) {
        if (k > 0 && offsets[k] <= offsets[k - 1]) return {};
        // Every offset must land on an item header.
        while (next < starts.size() && starts[next] < offsets[k]) ++next;
        if (next == starts.size() || starts[next] != offsets[k]) return {};
        const uint64_t end = k + 1 < offsets.size() ? offsets[k + 1] : position;
        FragmentList frame;
        for (size_t j = next; j < fragments.size() && starts[j] < end; ++j) frame.push_back(fragments[j]);
        frames.push_back(std::move(frame));
    }
    return frames;
}

bool EndsWithEndMarker(CDicomFile& file, const CDicomElement* fragment) {
    if (fragment->length < 2) return false;
    uint8_t tail[3] = {0, 0, 0};
    const uint32_t take = std::min<uint32_t>(3, fragment->length);
    if (!file.ReadBytes(fragment, tail + (3 - take), fragment->length - take, take)) return false;
    // An odd-length stream is padded with one zero byte.
    return (tail[1] == 0xFF && tail[2] == 0xD9) ||
           (tail[0] == 0xFF && tail[1] == 0xD9 && tail[2] == 0x00);
}

bool HasEndMarkers(TransferSyntaxCode syntax) {
    const auto code = static_cast<uint32_t>(syntax);
    return (code >= static_cast<uint32_t>(TransferSyntaxCode::JpegBaseline) &&
            code <= static_cast<uint32_t>(TransferSyntaxCode::Jpeg2000)) ||
           IsJpeg2000Syntax(syntax);
}

}  // namespace

std::vector<FragmentList> SplitFragmentsIntoFrames(CDicomFile& file,
                                                   const CDicomElement* pixelData,
                                                   int32_t numberOfFrames,
                                                   TransferSyntaxCode syntax) {
    if (pixelData == nullptr || pixelData->firstChild == nullptr) return {};
    const CDicomElement* table = pixelData->firstChild;
    if (!IsFragment(table)) return {};
    FragmentList fragments;
    for (const CDicomElement* e = table->nextSibling; e; e = e->nextSibling) {
        if (IsFragment(e)) fragments.push_back(e);
    }
    if (fragments.empty()) return {};

    if (table->length >= 4) {
        std::vector<FragmentList> frames = ByOffsetTable(fragments, ReadOffsetTable(file, table));
        if (!frames.empty()) return frames;
    }
    const size_t wanted = static_cast<size_t>(std::max(numberOfFrames, 1));
    if (fragments.size() == wanted) {
        std::vector<FragmentList> frames;
        for (const CDicomElement* f : fragments) frames.push_back({f});
        return frames;
    }
    if (wanted > 1 && HasEndMarkers(syntax)) {
        std::vector<FragmentList> frames(1);
        for (const CDicomElement* f : fragments) {
            frames.back().push_back(f);
            if (EndsWithEndMarker(file, f) && frames.size() < wanted) frames.emplace_back();
        }
        if (frames.back().empty()) frames.pop_back();
        return frames;
    }
    return {fragments};
}

}  // namespace vexel
