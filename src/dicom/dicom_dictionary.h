// The data dictionary: VR and name of every standard tag, and the set of tags whose values
// the reader loads at parse time in deferred mode.
#pragma once

#include <cstdint>
#include <map>
#include <shared_mutex>
#include <string>

#include "dicom/vr.h"

namespace vexel {

struct DictionaryEntry {
    uint32_t tag;
    VrCode vr;
    const char* name;
};

class CDicomDictionary {
public:
    // Builds the tag map and the initial preload set. The first dictionary alive becomes the
    // process's; one built while it lives (a test's private copy) stays private, and the
    // process's pointer is cleared only when the process's dictionary is destroyed.
    CDicomDictionary();
    ~CDicomDictionary();
    CDicomDictionary(const CDicomDictionary&) = delete;
    CDicomDictionary& operator=(const CDicomDictionary&) = delete;

    // The process's dictionary, or null before start-up and after shutdown.
    static CDicomDictionary* Instance();

    VrCode VrOf(uint32_t tag) const;
    // "Unknown" when the tag is not in the dictionary.
    const char* NameOf(uint16_t group, uint16_t element) const;
    size_t EntryCount() const { return m_entries.size(); }

    // Safe from any thread: lookups share the lock, inserts of new tags take it alone.
    bool IsPreloaded(uint32_t tag) const;
    void AddPreloaded(uint32_t tag);

private:
    std::map<uint32_t, DictionaryEntry> m_entries;
    mutable std::shared_mutex m_preloadLock;
    std::map<uint32_t, uint32_t> m_preload;
};

// VR from the process's dictionary; Unknown when there is none.
VrCode DictionaryVrOf(uint32_t tag);
// Name from the process's dictionary; "Unknown" when there is none.
const char* DictionaryNameOf(uint16_t group, uint16_t element);

// The generated table (dictionary_table.cpp).
extern const DictionaryEntry kDictionaryTable[];
extern const size_t kDictionaryTableSize;

}  // namespace vexel
