// The ZIP module on arbitrary archives held in memory: every entry is listed (with and without
// its whole name) and read to its end in 64 KiB blocks, as the archive loader does. Seeds in
// fuzz/seeds/zip are small archives made by Info-ZIP's zip: stored, deflated, ZIP64 fields,
// folders, a symbolic link and an encrypted entry.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "vexel_zip.h"

namespace {

// Bounds one input's work: a small archive may declare entries of gigabytes.
constexpr uint64_t kMostBytesPerInput = uint64_t{16} << 20;

const VexelZipInterface& Api() {
    static const VexelZipInterface api = [] {
        VexelZipInterface table{};
        table.size = sizeof(table);
        ZipGetInterface(&table);
        return table;
    }();
    return api;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const VexelZipInterface& api = Api();
    VexelZip* zip = api.openArchiveInMemory(data, size);
    if (zip == nullptr) return 0;
    VexelZipGlobalInfo global{};
    api.getGlobalInfo(zip, &global);
    std::vector<uint8_t> block(65536);
    char name[1024];
    uint64_t total = 0;
    for (uint64_t index = 0; index < global.entryCount && total < kMostBytesPerInput; ++index) {
        VexelZipEntryInfo info{};
        api.getCurrentEntryInfo(zip, name, sizeof name);
        if (api.getCurrentEntryInfoEx(zip, &info, nullptr, 0) == VEXEL_ZIP_OK &&
            api.openCurrentEntry(zip) == VEXEL_ZIP_OK) {
            for (int32_t got;
                 (got = api.readCurrentEntry(zip, block.data(), uint32_t(block.size()))) > 0;) {
                total += uint64_t(got);
                if (total >= kMostBytesPerInput) break;
            }
            api.closeCurrentEntry(zip);
        }
        if (api.goToNextEntry(zip) != VEXEL_ZIP_OK) break;
    }
    api.closeArchive(zip);
    return 0;
}
