// Loads the ZIP module (libvexel-zip.so) from the program's folder on first use and hands out
// its table of functions. One engine serves the process; loading happens once, whichever
// job asks first, and a module that is missing or incomplete is not tried again.
#pragma once

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <mutex>
#include <string>

#include "engine/zip_archive.h"
#include "vexel_zip.h"

namespace vexel {

class CZIPEngine {
public:
    // The module is looked for in moduleDir (default: the first of ModuleFolders() holding
    // it); a relative or empty folder loads nothing.
    explicit CZIPEngine(std::filesystem::path moduleDir = {});
    // Unloads the module; every archive opened through it must be closed by then.
    virtual ~CZIPEngine();
    CZIPEngine(const CZIPEngine&) = delete;
    CZIPEngine& operator=(const CZIPEngine&) = delete;

    // The first engine made and still alive, or null.
    static CZIPEngine* Instance();

    // True when the module is loaded and its table is complete.
    bool EnsureLoaded();
    // The table, or null when the module cannot be loaded.
    const VexelZipInterface* Interface();

    // An archive opened read-only; empty when the module or the archive cannot be opened.
    CZipArchive OpenArchive(const std::string& utf8Path);
    // An archive in the caller's memory, which must outlive it.
    CZipArchive OpenArchiveInMemory(const void* data, size_t size);

    const std::filesystem::path& ModuleDir() const { return m_moduleDir; }
    static constexpr const char* kModuleName = "libvexel-zip.so";

private:
    void Load();

    std::filesystem::path m_moduleDir;
    std::once_flag m_loadOnce;
    std::atomic<bool> m_ready{false};
    void* m_module = nullptr;  // stays loaded after a failed look-up, so it is not retried
    VexelZipInterface m_table{};
};

}  // namespace vexel
