#include "dicom/dicom_reader.h"

#include <cstring>
#include <utility>
#include <vector>

#include "dicom/byte_stream.h"
#include "dicom/character_set.h"
#include "dicom/data_set_inflater.h"
#include "dicom/dicom_dictionary.h"
#include "platform/checked_alloc.h"

namespace vexel {
namespace {

// Hostile files must fail in bounded time and memory; real files stay far below these.
constexpr size_t kMaxDepth = 128;
constexpr uint32_t kMaxElements = 2'000'000;
constexpr uint64_t kMinFileSize = 132;
constexpr uint32_t kRecognitionCode = 0x00080010;  // retired; "ACR-NEMA 1.0" or "ACR-NEMA 2.0"

enum class ContainerKind : uint8_t { Sequence, Item, PixelData };

struct Container {
    CDicomElement* element;
    ContainerKind kind;
    uint64_t end;    // 0: undefined length, closed by a delimiter
    uint64_t limit;  // nearest enclosing defined end, or the end of the data
    bool explicitVr;  // VR form of the elements inside
};

uint16_t Swap16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }
uint32_t Swap32(uint32_t v) { return __builtin_bswap32(v); }

// One pass over the data set, assuming explicit or implicit VR.
class CParsePass {
public:
    CParsePass(CDicomFile& file, CByteStream& stream, bool explicitVr, bool vrFromSyntax)
        : m_file(file), m_stream(stream), m_explicitVr(explicitVr), m_vrFromSyntax(vrFromSyntax) {}

    ReadStatus Run();

private:
    CDicomElement* Current() const {
        return m_stack.empty() ? m_file.Root() : m_stack.back().element;
    }
    uint64_t Limit() const { return m_stack.empty() ? m_stream.Size() : m_stack.back().limit; }
    bool CurrentExplicit() const { return m_stack.empty() ? m_explicitVr : m_stack.back().explicitVr; }
    bool BigEndian() const { return m_file.IsBigEndian(); }
    bool FitsInContainer(uint64_t length) const {
        return m_stream.Position() <= Limit() && length <= Limit() - m_stream.Position();
    }

    void CloseEndedContainers();
    ReadStatus Push(CDicomElement* element, ContainerKind kind, uint64_t length, bool explicitVr);
    CDicomElement* Pop(uint16_t delimiter, uint8_t synthetic);
    ReadStatus ReadDelimitationElement(uint16_t element);
    // Reads the next length bytes into a new guarded block (NUL after them), or skips them.
    ReadStatus LoadOrSkip(uint32_t length, bool load, uint8_t*& raw);
    ReadStatus ReadValue(CDicomElement*& node, uint16_t group, uint16_t element, VrCode vr,
                         uint32_t length);
    ReadStatus CheckBareDataSet(uint16_t group);
    ReadStatus AtEndOfData();
    ReadStatus InflateIfDeflated();

    CDicomFile& m_file;
    CByteStream& m_stream;
    bool m_explicitVr;
    bool m_vrFromSyntax;  // the transfer syntax UID decides the data set's VR form
    bool m_sawGroup0008 = false;
    bool m_inflated = false;
    uint64_t m_metaEnd = 0;  // end of the file meta group when its group length was read
    std::vector<Container> m_stack;
};

void CParsePass::CloseEndedContainers() {
    while (!m_stack.empty() && m_stack.back().end != 0 &&
           m_stream.Position() >= m_stack.back().end) {
        const bool item = m_stack.back().kind == ContainerKind::Item;
        Pop(item ? 0xE00D : 0xE0DD, 1);
    }
}

ReadStatus CParsePass::Push(CDicomElement* element, ContainerKind kind, uint64_t length,
                            bool explicitVr) {
    if (m_stack.size() >= kMaxDepth) return ReadStatus::Malformed;
    Container entry{element, kind, 0, Limit(), explicitVr};
    if (length != kUndefinedLength) {
        entry.end = m_stream.Position() + length;
        entry.limit = entry.end;
    }
    m_stack.push_back(entry);
    return ReadStatus::Ok;
}

// Closes the innermost container and appends its delimiter to the enclosing one.
CDicomElement* CParsePass::Pop(uint16_t delimiter, uint8_t synthetic) {
    m_stack.pop_back();
    return m_file.AddElement(Current(), 0xFFFE, delimiter, VrCode::Unknown, nullptr, 0, 0,
                             synthetic);
}

ReadStatus CParsePass::LoadOrSkip(uint32_t length, bool load, uint8_t*& raw) {
    raw = nullptr;
    if (!load) return m_stream.Skip(length) ? ReadStatus::Ok : ReadStatus::Truncated;
    raw = static_cast<uint8_t*>(CheckedAlloc(size_t{length} + 1));
    if (raw == nullptr) return ReadStatus::OutOfMemory;
    if (!m_stream.Read(raw, length)) {
        CheckedFree(raw);
        raw = nullptr;
        return ReadStatus::Truncated;
    }
    raw[length] = 0;
    return ReadStatus::Ok;
}

ReadStatus CParsePass::ReadDelimitationElement(uint16_t element) {
    uint32_t length = 0;
    if (!m_stream.ReadU32(length)) return ReadStatus::Truncated;
    if (BigEndian()) length = Swap32(length);
    const uint64_t valueOffset = m_stream.Position();

    if (element == 0xE000) {
        const bool inPixelData = !m_stack.empty() && m_stack.back().kind == ContainerKind::PixelData;
        if (length != kUndefinedLength && !FitsInContainer(length)) return ReadStatus::Truncated;
        if (inPixelData && length != kUndefinedLength) {
            // A fragment of encapsulated pixel data: kept in the file unless values are loaded.
            uint8_t* raw = nullptr;
            if (ReadStatus status = LoadOrSkip(length, !m_file.DeferredValues(), raw);
                status != ReadStatus::Ok) {
                return status;
            }
            if (!m_file.AddElement(Current(), 0xFFFE, 0xE000, VrCode::Unknown, raw, valueOffset,
                                   length, 0)) {
                return ReadStatus::OutOfMemory;
            }
            return ReadStatus::Ok;
        }
        CDicomElement* item = m_file.AddElement(Current(), 0xFFFE, 0xE000, VrCode::Unknown,
                                                nullptr, 0, length == kUndefinedLength ? 0 : length, 0);
        if (item == nullptr) return ReadStatus::OutOfMemory;
        item->declaredLength = length;
        return Push(item, ContainerKind::Item, length, CurrentExplicit());
    }
    if (element == 0xE00D) {
        // A stray item delimiter (no item open) is ignored.
        if (!m_stack.empty() && m_stack.back().kind == ContainerKind::Item) Pop(0xE00D, 0);
        return ReadStatus::Ok;
    }
    if (element == 0xE0DD) {
        // Closes up to the innermost sequence or pixel data, supplying missing item
        // delimiters; ignored when no sequence is open.
        size_t open = m_stack.size();
        while (open > 0 && m_stack[open - 1].kind == ContainerKind::Item) --open;
        if (open == 0) return ReadStatus::Ok;
        while (m_stack.size() > open) Pop(0xE00D, 1);
        Pop(0xE0DD, 0);
        return ReadStatus::Ok;
    }
    if (!m_file.AddElement(Current(), 0xFFFE, element, VrCode::Unknown, nullptr, 0, length, 0)) {
        return ReadStatus::OutOfMemory;
    }
    return ReadStatus::Ok;
}

ReadStatus CParsePass::ReadValue(CDicomElement*& node, uint16_t group, uint16_t element,
                                 VrCode vr, uint32_t length) {
    const uint32_t tag = MakeTag(group, element);
    const uint64_t offset = m_stream.Position();
    if (!FitsInContainer(length)) return ReadStatus::Truncated;
    uint8_t* raw = nullptr;
    CDicomDictionary* dictionary = CDicomDictionary::Instance();
    // The meta group is always loaded: it is small, little endian whatever the data set's
    // byte order, and out of reach by offset once a deflated data set is inflated.
    const bool load = length > 0 && (!m_file.DeferredValues() || group == 0x0002 ||
                                     (dictionary && dictionary->IsPreloaded(tag)));
    if (ReadStatus status = LoadOrSkip(length, load, raw); status != ReadStatus::Ok) return status;
    node = m_file.AddElement(Current(), group, element, vr, raw, offset, length, 0);
    if (node == nullptr) return ReadStatus::OutOfMemory;
    if (tag == tags::kTransferSyntaxUid && raw != nullptr) {
        m_file.SetTransferSyntax(
            TransferSyntaxFromUid(std::string_view(reinterpret_cast<char*>(raw), length)));
        if (m_vrFromSyntax) {
            m_explicitVr = m_file.TransferSyntax() != TransferSyntaxCode::ImplicitLittleEndian;
        }
    }
    if (tag == tags::kFileMetaGroupLength && length == 4 && raw != nullptr && m_stack.empty()) {
        uint32_t groupLength;
        std::memcpy(&groupLength, raw, 4);
        m_metaEnd = m_stream.Position() + groupLength;
    }
    return ReadStatus::Ok;
}

ReadStatus CParsePass::CheckBareDataSet(uint16_t group) {
    if (!m_file.NoPreamble()) return ReadStatus::Ok;
    if (group == 0x0000) return ReadStatus::NotDicom;
    if (group == 0x0008) m_sawGroup0008 = true;
    if (group > 0x0008 && !m_sawGroup0008) return ReadStatus::NotDicom;
    return ReadStatus::Ok;
}

// A bare data set names its SOP class; the headless ACR-NEMA files of old archives, which
// have none, carry a Recognition Code or at least an image.
ReadStatus CParsePass::AtEndOfData() {
    if (!m_stack.empty()) return ReadStatus::Truncated;
    if (m_file.NoPreamble() && m_file.FindElement(tags::kSopClassUid) == nullptr &&
        m_file.FindElement(kRecognitionCode) == nullptr &&
        m_file.FindElement(tags::kPixelData) == nullptr) {
        return ReadStatus::NotDicom;
    }
    return ReadStatus::Ok;
}

// The data set of a deflated file follows the meta group as one raw deflate stream; it is
// inflated into memory, so its values are read at parse time and never from the file.
ReadStatus CParsePass::InflateIfDeflated() {
    if (m_inflated || !m_stack.empty() ||
        m_file.TransferSyntax() != TransferSyntaxCode::DeflatedExplicitLittleEndian) {
        return ReadStatus::Ok;
    }
    bool atDataSet = m_metaEnd != 0 && m_stream.Position() == m_metaEnd;
    if (m_metaEnd == 0) {
        uint16_t group = 0;
        const uint64_t here = m_stream.Position();
        if (!m_stream.ReadU16(group) || !m_stream.Seek(here)) return ReadStatus::Truncated;
        atDataSet = group != 0x0002;
    }
    if (!atDataSet) return ReadStatus::Ok;
    std::vector<uint8_t> inflated;
    if (!InflateDataSet(m_stream, inflated)) return ReadStatus::InflateFailed;
    m_stream.UseMemory(std::move(inflated));
    m_file.SetOffsetsDetached(true);
    m_file.SetDeferredValues(false);
    m_inflated = true;
    return ReadStatus::Ok;
}

ReadStatus CParsePass::Run() {
    for (;;) {
        CloseEndedContainers();
        if (ReadStatus status = InflateIfDeflated(); status != ReadStatus::Ok) return status;
        if (m_stream.Remaining() == 0) return AtEndOfData();
        if (m_file.ElementCount() >= kMaxElements) return ReadStatus::Malformed;

        uint16_t group = 0;
        uint16_t element = 0;
        if (!m_stream.ReadU16(group) || !m_stream.ReadU16(element)) return ReadStatus::Truncated;
        const bool bigEndian = BigEndian() && group != 0x0002;
        if (bigEndian) {
            group = Swap16(group);
            element = Swap16(element);
        }
        if (ReadStatus status = CheckBareDataSet(group); status != ReadStatus::Ok) return status;
        if (group == 0xFFFE) {
            if (ReadStatus status = ReadDelimitationElement(element); status != ReadStatus::Ok) {
                return status;
            }
            continue;
        }

        const uint32_t tag = MakeTag(group, element);
        const bool explicitVr = group == 0x0002 || CurrentExplicit();
        VrCode vr = VrCode::Unknown;
        uint32_t length = 0;
        if (explicitVr) {
            char text[2];
            if (!m_stream.Read(text, 2)) return ReadStatus::Truncated;
            vr = VrFromText(text[0], text[1]);
            // An unknown VR text takes the length form of the dictionary's VR.
            const bool longForm = VrHasLongLength(vr == VrCode::Unknown ? DictionaryVrOf(tag) : vr);
            if (longForm) {
                if (!m_stream.Skip(2) || !m_stream.ReadU32(length)) return ReadStatus::Truncated;
                if (bigEndian) length = Swap32(length);
            } else {
                uint16_t shortLength = 0;
                if (!m_stream.ReadU16(shortLength)) return ReadStatus::Truncated;
                length = bigEndian ? Swap16(shortLength) : shortLength;
            }
        } else {
            vr = DictionaryVrOf(tag);
            if (!m_stream.ReadU32(length)) return ReadStatus::Truncated;
            if (bigEndian) length = Swap32(length);
        }

        const bool undefined = length == kUndefinedLength;
        if (undefined || vr == VrCode::SQ) {
            CDicomElement* node = m_file.AddElement(Current(), group, element, vr, nullptr,
                                                    m_stream.Position(), 0, 0);
            if (node == nullptr) return ReadStatus::OutOfMemory;
            node->declaredLength = length;
            if (!undefined && !FitsInContainer(length)) return ReadStatus::Truncated;
            const ContainerKind kind =
                tag == tags::kPixelData ? ContainerKind::PixelData : ContainerKind::Sequence;
            // PS3.5 6.2.2: a UN value of undefined length holds implicit VR little endian data.
            const bool innerExplicit = vr == VrCode::UN ? false : CurrentExplicit();
            if (ReadStatus status = Push(node, kind, length, innerExplicit); status != ReadStatus::Ok) {
                return status;
            }
            continue;
        }
        CDicomElement* node = nullptr;
        if (ReadStatus status = ReadValue(node, group, element, vr, length); status != ReadStatus::Ok) {
            return status;
        }
    }
}

// Another pass from a cleared store, with the given VR form and byte order for the data set.
ReadStatus ReadAgain(CDicomFile& file, const std::string& path, uint64_t start, bool deferred,
                     bool explicitVr, TransferSyntaxCode syntax) {
    file.Clear();
    file.SetTransferSyntax(syntax);
    file.SetOffsetsDetached(false);
    file.SetDeferredValues(deferred);
    CByteStream stream;
    if (!stream.OpenFile(path)) return ReadStatus::CannotOpen;
    stream.Seek(start);
    return CParsePass(file, stream, explicitVr, false).Run();
}

}  // namespace

const char* ReadStatusText(ReadStatus status) {
    switch (status) {
        case ReadStatus::Ok: return "ok";
        case ReadStatus::CannotOpen: return "cannot open file";
        case ReadStatus::TooShort: return "file too short to be DICOM";
        case ReadStatus::Truncated: return "truncated or corrupt DICOM data";
        case ReadStatus::Malformed: return "malformed DICOM structure";
        case ReadStatus::NotDicom: return "not a DICOM file";
        case ReadStatus::OutOfMemory: return "out of memory";
        case ReadStatus::InflateFailed: return "deflated data set cannot be inflated";
    }
    return "unknown error";
}

ReadStatus ReadDicomFile(CDicomFile& file, const std::string& path) {
    const bool deferred = file.DeferredValues();
    CByteStream stream;
    if (!stream.OpenFile(path)) return ReadStatus::CannotOpen;
    if (stream.Size() < kMinFileSize) return ReadStatus::TooShort;
    file.SetIdentity(FileIdentityOf(stream.FileStatus()));

    char marker[4];
    if (!stream.Seek(128) || !stream.Read(marker, 4)) return ReadStatus::Truncated;
    const bool preamble = std::memcmp(marker, "DICM", 4) == 0;
    const uint64_t start = preamble ? 132 : 0;
    file.SetNoPreamble(!preamble);
    file.SetPath(path);

    // First as the transfer syntax says (explicit VR when none is given), then with the other
    // VR form for the data set: mislabelled files exist both ways. A data set without meta
    // group that reads neither way as little endian is tried as explicit VR big endian.
    stream.Seek(start);
    uint16_t firstGroup = 0;
    const bool metaGroup = stream.ReadU16(firstGroup) && firstGroup == 0x0002;
    stream.Seek(start);
    ReadStatus status = CParsePass(file, stream, true, true).Run();
    if (status != ReadStatus::Ok && status != ReadStatus::OutOfMemory) {
        const bool firstExplicit = file.TransferSyntax() != TransferSyntaxCode::ImplicitLittleEndian;
        // The meta group is read again; until its transfer syntax comes, nothing is swapped.
        ReadStatus second =
            ReadAgain(file, path, start, deferred, !firstExplicit, TransferSyntaxCode::Unknown);
        if (second != ReadStatus::Ok && second != ReadStatus::CannotOpen && !metaGroup) {
            second = ReadAgain(file, path, start, deferred, true,
                               TransferSyntaxCode::ExplicitBigEndian);
        }
        if (second != ReadStatus::Ok) return status;
    }
    if (status == ReadStatus::OutOfMemory) return status;

    file.SetCharacterSets(ParseSpecificCharacterSet(file.String(tags::kSpecificCharacterSet)));
    file.SetModality(ModalityFromText(file.String(tags::kModality)));
    return ReadStatus::Ok;
}

}  // namespace vexel
