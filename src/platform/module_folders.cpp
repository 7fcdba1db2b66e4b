#include "platform/module_folders.h"

#include <system_error>

#include "platform/executable_folder.h"

#ifndef VEXEL_MODULE_DIR
#define VEXEL_MODULE_DIR ""
#endif

namespace vexel {

std::vector<std::filesystem::path> ModuleFolders() {
    std::vector<std::filesystem::path> folders;
    for (const std::filesystem::path& folder :
         {ExecutableFolder(), std::filesystem::path(VEXEL_MODULE_DIR)}) {
        if (IsUsableModuleFolder(folder)) folders.push_back(folder);
    }
    return folders;
}

std::filesystem::path ModuleFolderFor(const char* fileName) {
    for (const std::filesystem::path& folder : ModuleFolders()) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(folder / fileName, ec)) return folder;
    }
    return {};
}

bool IsUsableModuleFolder(const std::filesystem::path& folder) {
    return !folder.empty() && folder.is_absolute();
}

}  // namespace vexel
