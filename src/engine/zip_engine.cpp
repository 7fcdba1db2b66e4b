#include "engine/zip_engine.h"

#include <dlfcn.h>

#include <array>

#include "platform/module_folders.h"

namespace vexel {
namespace {

std::atomic<CZIPEngine*> g_engine{nullptr};

// A module that leaves any slot empty would crash the first caller of that slot.
bool Complete(const VexelZipInterface& table) {
    const std::array<bool, 13> filled{
        table.openArchive != nullptr,        table.closeArchive != nullptr,
        table.getGlobalInfo != nullptr,      table.getCurrentEntryInfo != nullptr,
        table.goToNextEntry != nullptr,      table.openCurrentEntry != nullptr,
        table.readCurrentEntry != nullptr,   table.closeCurrentEntry != nullptr,
        table.createArchive != nullptr,      table.addFile != nullptr,
        table.closeWriter != nullptr,        table.getCurrentEntryInfoEx != nullptr,
        table.openArchiveInMemory != nullptr};
    for (bool slot : filled) {
        if (!slot) return false;
    }
    return table.size == sizeof(VexelZipInterface);
}

}  // namespace

CZIPEngine::CZIPEngine(std::filesystem::path moduleDir)
    : m_moduleDir(moduleDir.empty() ? ModuleFolderFor(kModuleName) : std::move(moduleDir)) {
    CZIPEngine* expected = nullptr;
    g_engine.compare_exchange_strong(expected, this);
}

CZIPEngine::~CZIPEngine() {
    CZIPEngine* self = this;
    g_engine.compare_exchange_strong(self, nullptr);
    m_ready.store(false);
    m_table = VexelZipInterface{};
    if (m_module != nullptr) dlclose(m_module);
}

CZIPEngine* CZIPEngine::Instance() {
    return g_engine.load();
}

void CZIPEngine::Load() {
    // A bare or relative name would be looked up along the search path or in the working folder.
    if (!IsUsableModuleFolder(m_moduleDir)) return;
    const std::string path = (m_moduleDir / kModuleName).string();
    m_module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_module == nullptr) return;
    using GetInterface = int32_t (*)(VexelZipInterface*);
    const auto get = reinterpret_cast<GetInterface>(dlsym(m_module, "ZipGetInterface"));
    if (get == nullptr) return;
    VexelZipInterface table{};
    table.size = sizeof(VexelZipInterface);
    if (get(&table) != VEXEL_ZIP_OK || !Complete(table)) return;
    m_table = table;
    m_ready.store(true, std::memory_order_release);
}

bool CZIPEngine::EnsureLoaded() {
    if (m_ready.load(std::memory_order_acquire)) return true;
    std::call_once(m_loadOnce, [this] { Load(); });
    return m_ready.load(std::memory_order_acquire);
}

const VexelZipInterface* CZIPEngine::Interface() {
    return EnsureLoaded() ? &m_table : nullptr;
}

CZipArchive CZIPEngine::OpenArchive(const std::string& utf8Path) {
    const VexelZipInterface* api = Interface();
    if (api == nullptr) return {};
    return CZipArchive(api, api->openArchive(utf8Path.c_str()));
}

CZipArchive CZIPEngine::OpenArchiveInMemory(const void* data, size_t size) {
    const VexelZipInterface* api = Interface();
    if (api == nullptr) return {};
    return CZipArchive(api, api->openArchiveInMemory(data, size));
}

}  // namespace vexel
