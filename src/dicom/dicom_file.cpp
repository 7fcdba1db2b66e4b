#include "dicom/dicom_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>

#include "dicom/character_set.h"
#include "dicom/dicom_dictionary.h"
#include "dicom/value_parser.h"
#include "platform/checked_alloc.h"

namespace vexel {
namespace {

std::atomic<uint32_t> g_nextFileId{0};

uint8_t* CopyToGuarded(const void* bytes, size_t length) {
    auto* raw = static_cast<uint8_t*>(CheckedAlloc(length + 1));
    if (raw == nullptr) return nullptr;
    if (length > 0) std::memcpy(raw, bytes, length);
    raw[length] = 0;
    return raw;
}

}  // namespace

CDicomFile::CDicomFile() : m_id(++g_nextFileId) { m_root = NewElement(); }

CDicomFile::~CDicomFile() {
    m_attachment.reset();
    ReleaseValues(m_root);
}

CDicomElement* CDicomFile::NewElement(uint32_t* handle) {
    void* place = m_elementArena.Allocate(sizeof(CDicomElement), handle);
    return place ? new (place) CDicomElement() : nullptr;
}

// Elements and value records go with their arenas; the buffers of the values one by one.
void CDicomFile::ReleaseValues(CDicomElement* element) {
    if (element == nullptr) return;
    for (CDicomElement* child = element->firstChild; child; child = child->nextSibling)
        ReleaseValues(child);
    if (element->value != nullptr) ReleaseValue(*element->value);
}

void CDicomFile::StoreParsed(CDicomElement& element, uint8_t* raw, bool bigEndian) {
    if (raw != nullptr && element.value == nullptr) {
        void* place = m_valueArena.Allocate(sizeof(DicomValue));
        if (place != nullptr) element.value = new (place) DicomValue();
    }
    ParseValue(element, raw, bigEndian);
}

void CDicomFile::Clear() {
    ReleaseValues(m_root);
    m_elements.Clear();
    m_elementArena.Release();
    m_valueArena.Release();
    m_root = NewElement();
    m_elementCount = 0;
}

CDicomElement* CDicomFile::FindElement(uint32_t tag) const { return m_elements.Find(tag); }

CDicomElement* CDicomFile::FindChild(const CDicomElement* container, uint32_t tag) {
    if (container == nullptr) return nullptr;
    for (CDicomElement* child = container->firstChild; child; child = child->nextSibling) {
        if (child->Tag() == tag) return child;
    }
    return nullptr;
}

uint32_t CDicomFile::ChildCount(const CDicomElement* element) {
    uint32_t count = 0;
    if (element == nullptr) return count;
    for (const CDicomElement* child = element->firstChild; child; child = child->nextSibling)
        ++count;
    return count;
}

CDicomElement* CDicomFile::AddElement(CDicomElement* parent, uint16_t group, uint16_t element,
                                      VrCode vr, uint8_t* raw, uint64_t offset, uint32_t length,
                                      uint8_t synthetic) {
    if (parent == nullptr) {
        CheckedFree(raw);
        return nullptr;
    }
    uint32_t handle = CElementArena::kNoHandle;
    CDicomElement* node = NewElement(&handle);
    if (node == nullptr) {
        CheckedFree(raw);
        return nullptr;
    }
    node->parent = parent;
    node->group = group;
    node->element = element;
    node->vr = vr;
    node->offset = offset;
    node->length = length;
    node->declaredLength = length;
    node->synthetic = synthetic;
    node->count = length > 0 ? 1 : 0;
    if (raw != nullptr) StoreParsed(*node, raw, SwapsValue(*node));

    if (parent->lastChild) {
        parent->lastChild->nextSibling = node;
    } else {
        parent->firstChild = node;
    }
    parent->lastChild = node;
    ++m_elementCount;
    if (parent == m_root) m_elements.Insert(node, handle);
    return node;
}

void CDicomFile::StoreValue(CDicomElement* element, uint8_t* raw) {
    if (element == nullptr) {
        CheckedFree(raw);
        return;
    }
    std::lock_guard lock(m_valueLock);
    StoreParsed(*element, raw, SwapsValue(*element));
}

// The file meta group is little endian in every file.
bool CDicomFile::SwapsValue(const CDicomElement& element) const {
    return IsBigEndian() && element.group != 0x0002;
}

// ---- Deferred values ----

void CDicomFile::BeginReadSession() {
    std::lock_guard lock(m_valueLock);
    ++m_sessionUsers;
}

void CDicomFile::EndReadSession() {
    std::lock_guard lock(m_valueLock);
    if (m_sessionUsers == 0 || --m_sessionUsers > 0) return;
    m_sessionFile.reset();
}

uint32_t CDicomFile::FileOpenCount() {
    std::lock_guard lock(m_valueLock);
    return m_fileOpens;
}

bool CDicomFile::ReadFromFileLocked(void* dest, uint64_t size, uint64_t offset) {
    if (m_inMemory || m_offsetsDetached) return false;
    if (m_sessionUsers > 0) {
        // Opened at the session's first read: a listing of values all in memory opens nothing.
        // When the open fails, every read of the session fails, as each would on its own.
        if (!m_sessionFile) {
            m_sessionFile = std::make_unique<CHeldFile>(true);
            ++m_fileOpens;
            m_sessionFile->Open(m_path, m_identity);
        }
        return m_sessionFile->Read(dest, size, offset);
    }
    CHeldFile file(false);
    ++m_fileOpens;
    return file.Open(m_path, m_identity) && file.Read(dest, size, offset);
}

bool CDicomFile::EnsureLoadedLocked(CDicomElement* element) {
    if (element == nullptr) return false;
    if (element->HasValue()) return true;
    if (element->length == 0 || element->offset == 0) return false;
    const size_t length = element->length;
    CheckedPtr<uint8_t> raw(static_cast<uint8_t*>(CheckedAlloc(length + 1)));
    if (!raw) return false;
    if (!ReadFromFileLocked(raw.get(), length, element->offset)) return false;
    raw.get()[length] = 0;
    StoreParsed(*element, raw.release(), SwapsValue(*element));
    if (!element->HasValue()) return false;
    return true;
}

bool CDicomFile::EnsureLoaded(CDicomElement* element) {
    std::lock_guard lock(m_valueLock);
    return EnsureLoadedLocked(element);
}

const uint8_t* CDicomFile::RawValue(CDicomElement* element) {
    std::lock_guard lock(m_valueLock);
    return EnsureLoadedLocked(element) ? element->value->raw : nullptr;
}

const char* CDicomFile::RawString(uint32_t tag, const char* defaultValue) {
    const uint8_t* raw = RawValue(FindElement(tag));
    return raw ? reinterpret_cast<const char*>(raw) : defaultValue;
}

std::string CDicomFile::String(uint32_t tag, std::string_view defaultValue) {
    const char* raw = RawString(tag, nullptr);
    return raw ? std::string(raw) : std::string(defaultValue);
}

std::string CDicomFile::Text(uint32_t tag, std::string_view defaultValue) {
    return Text(FindElement(tag), defaultValue);
}

std::string CDicomFile::Text(CDicomElement* element, std::string_view defaultValue) {
    std::lock_guard lock(m_valueLock);
    if (!EnsureLoadedLocked(element)) return std::string(defaultValue);
    DicomValue& value = *element->value;
    if (value.text == nullptr) {
        const auto* chars = reinterpret_cast<const char*>(value.raw);
        const std::vector<uint16_t> nested = NestedCharacterSetsLocked(element);
        const std::string decoded =
            DecodeText(std::string_view(chars, strnlen(chars, element->length)),
                       nested.empty() ? m_characterSets : nested, element->vr);
        value.text = reinterpret_cast<char*>(CopyToGuarded(decoded.data(), decoded.size()));
        if (value.text == nullptr) return decoded;
    }
    return value.text;
}

// PS3.5 6.1.2.5.4: a sequence item may declare its own Specific Character Set, which then
// holds for everything inside the item.
std::vector<uint16_t> CDicomFile::NestedCharacterSetsLocked(const CDicomElement* element) {
    for (const CDicomElement* up = element->parent; up && up != m_root; up = up->parent) {
        if (up->Tag() != tags::kItem) continue;
        CDicomElement* declared = FindChild(up, tags::kSpecificCharacterSet);
        if (declared == nullptr || declared == element) continue;
        if (!EnsureLoadedLocked(declared)) return {};
        const auto* chars = reinterpret_cast<const char*>(declared->value->raw);
        return ParseSpecificCharacterSet(std::string_view(chars, strnlen(chars, declared->length)));
    }
    return {};
}

int32_t CDicomFile::Integer(uint32_t tag, int32_t defaultValue) {
    return Integer(FindElement(tag), defaultValue);
}

int32_t CDicomFile::Integer(CDicomElement* element, int32_t defaultValue) {
    std::lock_guard lock(m_valueLock);
    if (!EnsureLoadedLocked(element)) return defaultValue;
    const DicomValue& value = *element->value;
    const uint8_t* raw = value.raw;
    switch (element->vr) {
        case VrCode::DS: {
            if (element->count == 0 || !value.floats || !IsValidFloat(value.floats[0])) break;
            const float first = value.floats[0];
            if (!(first < 2147483648.0f && first >= -2147483648.0f)) break;
            return static_cast<int32_t>(first);
        }
        case VrCode::IS:
            if (element->count == 0 || !value.integers || value.integers[0] == kInvalidInteger) break;
            return value.integers[0];
        case VrCode::SL:
        case VrCode::UL: {
            if (element->length < 4) break;
            uint32_t v;
            std::memcpy(&v, raw, 4);
            return static_cast<int32_t>(v);
        }
        case VrCode::SS: {
            if (element->length < 2) break;
            int16_t v;
            std::memcpy(&v, raw, 2);
            return v;
        }
        // The dictionary's US\SS codes only occur in implicit VR files; descriptors and pixel
        // values there are read as unsigned.
        case VrCode::US:
        case VrCode::US_SS:
        case VrCode::US_SS_OW: {
            if (element->length < 2) break;
            uint16_t v;
            std::memcpy(&v, raw, 2);
            return v;
        }
        default:
            break;
    }
    return defaultValue;
}

float CDicomFile::Float(uint32_t tag, float defaultValue) {
    return Float(FindElement(tag), defaultValue);
}

float CDicomFile::Float(CDicomElement* element, float defaultValue) {
    std::lock_guard lock(m_valueLock);
    if (!EnsureLoadedLocked(element) || element->vr != VrCode::DS) return defaultValue;
    if (element->count == 0 || !element->value->floats) return defaultValue;
    const float first = element->value->floats[0];
    return IsValidFloat(first) ? first : defaultValue;
}

bool CDicomFile::FloatArray(uint32_t tag, float* dest, int n) {
    return FloatArray(FindElement(tag), dest, n);
}

bool CDicomFile::FloatArray(CDicomElement* element, float* dest, int n) {
    std::lock_guard lock(m_valueLock);
    if (n < 1 || !EnsureLoadedLocked(element) || element->vr != VrCode::DS) return false;
    const float* floats = element->value->floats;
    if (element->count < n || !floats) return false;
    for (int i = 0; i < n; ++i) {
        if (!IsValidFloat(floats[i])) return false;
    }
    std::memcpy(dest, floats, sizeof(float) * static_cast<size_t>(n));
    return true;
}

bool CDicomFile::ReadBytes(const CDicomElement* element, void* dest, uint64_t start,
                           uint64_t size) {
    if (element == nullptr || size < 1 || start > element->length ||
        size > element->length - start) {
        return false;
    }
    std::lock_guard lock(m_valueLock);
    if (element->HasValue()) {
        const uint8_t* raw = element->value->raw;
        const int unit = SwapsValue(*element) ? VrNumericUnitSize(element->vr) : 0;
        if (unit < 2) {
            std::memcpy(dest, raw + start, size);
            return true;
        }
        // Values in memory had their whole units swapped to machine order (a stray odd tail
        // stays as it was); hand out the file's bytes, as a read from the file would.
        auto* out = static_cast<uint8_t*>(dest);
        const uint64_t u = static_cast<uint64_t>(unit);
        const uint64_t whole = element->length - element->length % u;
        for (uint64_t i = start; i < start + size; ++i) {
            out[i - start] = i < whole ? raw[i - i % u + (u - 1 - i % u)] : raw[i];
        }
        return true;
    }
    if (element->offset == 0) return false;
    return ReadFromFileLocked(dest, size, element->offset + start);
}

bool CDicomFile::OverlayOrigin(int16_t dest[2]) {
    CDicomElement* element = FindElement(tags::kOverlayOrigin);
    std::lock_guard lock(m_valueLock);
    if (!EnsureLoadedLocked(element) || element->vr != VrCode::SS || element->length < 4) {
        return false;
    }
    std::memcpy(dest, element->value->raw, 4);
    return true;
}

bool CDicomFile::PaletteDescriptor(uint16_t dest[3]) {
    CDicomElement* element = FindElement(tags::kRedPaletteDescriptor);
    std::lock_guard lock(m_valueLock);
    if (!EnsureLoadedLocked(element) || element->length < 6) return false;
    if (element->vr != VrCode::US && element->vr != VrCode::US_SS) return false;
    std::memcpy(dest, element->value->raw, 6);
    return true;
}

uint32_t CDicomFile::PrimaryCharacterSet() const {
    return m_characterSets.empty() ? 1 : m_characterSets[0];
}

uint32_t CDicomFile::SecondaryCharacterSet() const {
    return m_characterSets.size() < 2 ? 0 : m_characterSets[1];
}

// ---- In-memory data sets ----

void CDicomFile::MakeInMemory() {
    m_inMemory = true;
    m_transferSyntax = TransferSyntaxCode::ExplicitLittleEndian;
    m_path = "DMO#" + std::to_string(m_id);
    AddReference();
}

CDicomElement* CDicomFile::FindOrCreate(CDicomElement* container, uint32_t tag) {
    if (!m_inMemory) return nullptr;
    if (container == nullptr) container = m_root;
    CDicomElement* found = container == m_root ? FindElement(tag) : FindChild(container, tag);
    if (found) return found;
    return AddElement(container, TagGroup(tag), TagElement(tag), DictionaryVrOf(tag), nullptr,
                      0, 0, 0);
}

CDicomElement* CDicomFile::SetText(CDicomElement* container, uint32_t tag,
                                   std::string_view text) {
    CDicomElement* element = FindOrCreate(container, tag);
    if (element == nullptr) return nullptr;
    const size_t padded = (text.size() + 1) & ~size_t{1};
    if (padded > 0xFFFFFFFEu) return nullptr;
    auto* raw = static_cast<uint8_t*>(CheckedCalloc(padded + 1));
    if (raw == nullptr) return nullptr;
    std::memcpy(raw, text.data(), text.size());
    std::lock_guard lock(m_valueLock);
    element->length = static_cast<uint32_t>(padded);
    element->count = padded > 0 ? 1 : 0;
    StoreParsed(*element, raw, false);
    return element;
}

bool CDicomFile::SetDsValues(CDicomElement* element, const float* values, int n) {
    if (element == nullptr || element->vr != VrCode::DS || n < 1 || n > 0xFFFF) return false;
    std::string text;
    for (int i = 0; i < n; ++i) {
        if (i > 0) text += '\\';
        text += FormatFixed(values[i]);
    }
    CDicomElement* parent = element->parent;
    return SetText(parent == m_root ? nullptr : parent, element->Tag(), text) == element;
}

bool CDicomFile::SetIntegerValues(CDicomElement* element, const int32_t* values, int n) {
    if (element == nullptr || n < 1 || n > 0xFFFF) return false;
    CDicomElement* parent = element->parent;
    if (element->vr == VrCode::IS) {
        std::string text;
        for (int i = 0; i < n; ++i) {
            if (i > 0) text += '\\';
            text += std::to_string(values[i]);
        }
        return SetText(parent == m_root ? nullptr : parent, element->Tag(), text) == element;
    }
    if (element->vr != VrCode::SS || !m_inMemory) return false;
    const size_t length = sizeof(int16_t) * static_cast<size_t>(n);
    auto* raw = static_cast<uint8_t*>(CheckedCalloc(length + 1));
    if (raw == nullptr) return false;
    for (int i = 0; i < n; ++i) {
        const auto v = static_cast<int16_t>(values[i]);
        std::memcpy(raw + 2 * i, &v, 2);
    }
    std::lock_guard lock(m_valueLock);
    element->length = static_cast<uint32_t>(length);
    StoreParsed(*element, raw, false);
    return true;
}

CDicomElement* CDicomFile::SetUS(uint32_t tag, uint16_t value) {
    CDicomElement* element = FindOrCreate(nullptr, tag);
    if (element == nullptr || element->vr != VrCode::US) return nullptr;
    auto* raw = static_cast<uint8_t*>(CheckedCalloc(3));
    if (raw == nullptr) return nullptr;
    std::memcpy(raw, &value, 2);
    std::lock_guard lock(m_valueLock);
    element->length = 2;
    StoreParsed(*element, raw, false);
    return element;
}

}  // namespace vexel
