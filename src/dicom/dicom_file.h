// A parsed DICOM file or an in-memory data set: the element tree in file order, a fixed
// table that finds top-level elements by tag, and the file's coding (transfer syntax,
// character sets). Values are read at parse time or later from the file (deferred values).
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "dicom/dicom_element.h"
#include "dicom/element_arena.h"
#include "dicom/file_attachment.h"
#include "dicom/file_identity.h"
#include "dicom/held_file.h"
#include "dicom/light_hash.h"
#include "dicom/structure_lock.h"
#include "dicom/transfer_syntax.h"

namespace vexel {

class CDicomFile {
public:
    CDicomFile();
    ~CDicomFile();
    CDicomFile(const CDicomFile&) = delete;
    CDicomFile& operator=(const CDicomFile&) = delete;

    uint32_t Id() const { return m_id; }

    // Tree and lookup.
    CDicomElement* Root() const { return m_root; }
    // Top-level only; the first occurrence of a repeated tag wins.
    CDicomElement* FindElement(uint32_t tag) const;
    static CDicomElement* FindChild(const CDicomElement* container, uint32_t tag);
    static uint32_t ChildCount(const CDicomElement* element);

    // Values. Each accessor takes the value lock for the time of one access.
    bool EnsureLoaded(CDicomElement* element);
    const uint8_t* RawValue(CDicomElement* element);
    // The loaded value as a C string, or defaultValue.
    const char* RawString(uint32_t tag, const char* defaultValue = nullptr);
    std::string String(uint32_t tag, std::string_view defaultValue = {});
    // UTF-8 text decoded by the file's character sets; cached in the element.
    std::string Text(uint32_t tag, std::string_view defaultValue = {});
    std::string Text(CDicomElement* element, std::string_view defaultValue = {});
    int32_t Integer(uint32_t tag, int32_t defaultValue);
    int32_t Integer(CDicomElement* element, int32_t defaultValue);
    float Float(uint32_t tag, float defaultValue);
    float Float(CDicomElement* element, float defaultValue);
    // DS with at least n parsed values: copies the first n; otherwise false, dest untouched.
    bool FloatArray(uint32_t tag, float* dest, int n);
    bool FloatArray(CDicomElement* element, float* dest, int n);
    // Bytes [start, start + size) of the value as they are in the file (file byte order),
    // from memory or straight from the file.
    bool ReadBytes(const CDicomElement* element, void* dest, uint64_t start, uint64_t size);
    bool OverlayOrigin(int16_t dest[2]);
    bool PaletteDescriptor(uint16_t dest[3]);

    // While a read session is open (CFileReadSession), values still in the file are read
    // through one descriptor, opened and checked once at the first read, with a read-ahead
    // window: a listing reads hundreds of values in file order. Sessions nest and may come
    // from any thread; the descriptor closes when the last one ends.
    void BeginReadSession();
    void EndReadSession();
    // How often the file was opened for values left in it (sessions and single reads).
    uint32_t FileOpenCount();

    // Building. raw is a guarded block of length + 1 bytes (NUL last) that the element takes
    // over, or null. With a null parent nothing is created.
    CDicomElement* AddElement(CDicomElement* parent, uint16_t group, uint16_t element, VrCode vr,
                              uint8_t* raw, uint64_t offset, uint32_t length, uint8_t synthetic);
    // Stores raw (as AddElement) into an existing element, replacing its value.
    void StoreValue(CDicomElement* element, uint8_t* raw);
    // Releases the whole tree and empties the lookup table.
    void Clear();
    uint32_t ElementCount() const { return m_elementCount; }
    // Arena blocks holding the elements and value records (heap accounting).
    size_t ArenaBlockCount() const {
        return m_elementArena.BlockCount() + m_valueArena.BlockCount();
    }

    // In-memory data sets (no file behind them).
    void MakeInMemory();
    CDicomElement* FindOrCreate(CDicomElement* container, uint32_t tag);
    CDicomElement* SetText(CDicomElement* container, uint32_t tag, std::string_view text);
    bool SetDsValues(CDicomElement* element, const float* values, int n);
    bool SetIntegerValues(CDicomElement* element, const int32_t* values, int n);
    CDicomElement* SetUS(uint32_t tag, uint16_t value);

    // Coding and flags, written by the reader before the file is shared.
    const std::string& Path() const { return m_path; }
    void SetPath(std::string path) { m_path = std::move(path); }
    TransferSyntaxCode TransferSyntax() const { return m_transferSyntax; }
    void SetTransferSyntax(TransferSyntaxCode code) { m_transferSyntax = code; }
    bool IsBigEndian() const { return m_transferSyntax == TransferSyntaxCode::ExplicitBigEndian; }
    ModalityCode Modality() const { return m_modality; }
    void SetModality(ModalityCode code) { m_modality = code; }
    // Ids of the character set table, one per declared value of Specific Character Set;
    // empty means the default repertoire.
    const std::vector<uint16_t>& CharacterSets() const { return m_characterSets; }
    void SetCharacterSets(std::vector<uint16_t> ids) { m_characterSets = std::move(ids); }
    uint32_t PrimaryCharacterSet() const;
    uint32_t SecondaryCharacterSet() const;

    bool DeferredValues() const { return m_deferredValues; }
    void SetDeferredValues(bool on) { m_deferredValues = on; }
    bool NoPreamble() const { return m_noPreamble; }
    void SetNoPreamble(bool on) { m_noPreamble = on; }
    bool InMemory() const { return m_inMemory; }
    bool Unregistered() const { return m_unregistered; }
    void SetUnregistered(bool on) { m_unregistered = on; }
    // Set when element offsets do not point into the file (inflated data sets): values can
    // then only come from memory.
    bool OffsetsDetached() const { return m_offsetsDetached; }
    void SetOffsetsDetached(bool on) { m_offsetsDetached = on; }
    const FileIdentity& Identity() const { return m_identity; }
    void SetIdentity(const FileIdentity& identity) { m_identity = identity; }

    // Reference count (the registry owns the release rule).
    int32_t AddReference() { return ++m_referenceCount; }
    int32_t ReleaseReference() { return --m_referenceCount; }
    int32_t ReferenceCount() const { return m_referenceCount.load(); }

    // The image of the file (owned; destroyed before the element tree).
    CFileAttachment* Attachment() const { return m_attachment.get(); }
    void SetAttachment(std::unique_ptr<CFileAttachment> attachment) {
        m_attachment = std::move(attachment);
    }

    // Serialises work on the file's frames; taken before the value lock.
    CStructureLock& StructureLock() { return m_structureLock; }
    std::mutex& ValueLock() { return m_valueLock; }

private:
    bool EnsureLoadedLocked(CDicomElement* element);
    bool SwapsValue(const CDicomElement& element) const;
    std::vector<uint16_t> NestedCharacterSetsLocked(const CDicomElement* element);
    // Bytes of the file under the value lock: through the session's descriptor, or opened
    // for this read alone.
    bool ReadFromFileLocked(void* dest, uint64_t size, uint64_t offset);
    void ReleaseValues(CDicomElement* element);
    CDicomElement* NewElement(uint32_t* handle = nullptr);
    // ParseValue, after giving the element its value record when raw is to be kept.
    void StoreParsed(CDicomElement& element, uint8_t* raw, bool bigEndian);

    uint32_t m_id;
    CStructureLock m_structureLock;
    std::atomic<int32_t> m_referenceCount{0};
    std::mutex m_valueLock;
    // Elements are written only before the file is shared; the lookup table reads their
    // blocks without a lock. Value records come from an arena of their own, written under
    // the value lock, so that growing it never moves what lookups read.
    CElementArena m_elementArena;
    CElementArena m_valueArena;
    CLightHash m_elements{m_elementArena};
    bool m_noPreamble = false;
    bool m_unregistered = false;
    bool m_inMemory = false;
    bool m_deferredValues = false;
    bool m_offsetsDetached = false;
    std::vector<uint16_t> m_characterSets;
    ModalityCode m_modality = ModalityCode::Other;
    TransferSyntaxCode m_transferSyntax = TransferSyntaxCode::Unknown;
    std::string m_path;
    CDicomElement* m_root = nullptr;
    uint32_t m_elementCount = 0;
    FileIdentity m_identity;
    std::unique_ptr<CFileAttachment> m_attachment;
    // Guarded by the value lock.
    std::unique_ptr<CHeldFile> m_sessionFile;
    uint32_t m_sessionUsers = 0;
    uint32_t m_fileOpens = 0;
};

// Keeps a file's read session open for its lifetime.
class CFileReadSession {
public:
    explicit CFileReadSession(CDicomFile& file) : m_file(file) { m_file.BeginReadSession(); }
    ~CFileReadSession() { m_file.EndReadSession(); }
    CFileReadSession(const CFileReadSession&) = delete;
    CFileReadSession& operator=(const CFileReadSession&) = delete;

private:
    CDicomFile& m_file;
};

}  // namespace vexel
