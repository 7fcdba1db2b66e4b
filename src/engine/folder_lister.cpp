#include "engine/folder_lister.h"

#include <dirent.h>
#include <sys/stat.h>

#include <set>
#include <utility>

namespace vexel {
namespace {

// Deeper trees are not real study folders; the limit also bounds the open folder handles.
constexpr size_t kMaxDepth = 256;

struct OpenFolder {
    DIR* handle = nullptr;
    std::string path;
    bool firstTaken = false;
};

using FolderId = std::pair<dev_t, ino_t>;

class CFolderWalk {
public:
    CFolderWalk(FolderListing& listing) : m_listing(listing) {}
    ~CFolderWalk() {
        for (OpenFolder& folder : m_stack)
            closedir(folder.handle);
    }
    CFolderWalk(const CFolderWalk&) = delete;
    CFolderWalk& operator=(const CFolderWalk&) = delete;

    bool Enter(std::string path) {
        struct stat status {};
        if (stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
            m_stack.size() >= kMaxDepth ||
            !m_entered.insert({status.st_dev, status.st_ino}).second) {
            return false;
        }
        DIR* handle = opendir(path.c_str());
        if (handle == nullptr) return false;
        m_stack.push_back({handle, std::move(path), false});
        return true;
    }

    bool Run(const std::function<bool()>& cancelled) {
        while (!m_stack.empty()) {
            if (cancelled && cancelled()) return false;
            Step();
        }
        return true;
    }

private:
    void Step() {
        OpenFolder& top = m_stack.back();
        const dirent* entry = readdir(top.handle);
        if (entry == nullptr) {
            closedir(top.handle);
            m_stack.pop_back();
            return;
        }
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") return;
        std::string path = top.path;
        if (path != "/") path += '/';
        path += name;
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN || type == DT_LNK) type = TypeOf(path);
        if (type == DT_DIR) {
            if (!Enter(std::move(path))) ++m_listing.skippedEntries;
            return;
        }
        if (type != DT_REG) {
            ++m_listing.skippedEntries;
            return;
        }
        ScanFileRecord record{top.path, std::string(name), std::move(path)};
        if (!top.firstTaken) {
            top.firstTaken = true;
            m_listing.firstFiles.push_back(std::move(record));
        } else {
            m_listing.otherFiles.push_back(std::move(record));
        }
    }

    // What a link points to, or what a file system that does not tell types holds.
    static unsigned char TypeOf(const std::string& path) {
        struct stat status {};
        if (stat(path.c_str(), &status) != 0) return DT_UNKNOWN;
        if (S_ISDIR(status.st_mode)) return DT_DIR;
        if (S_ISREG(status.st_mode)) return DT_REG;
        return DT_UNKNOWN;
    }

    FolderListing& m_listing;
    std::vector<OpenFolder> m_stack;
    std::set<FolderId> m_entered;
};

}  // namespace

bool ListFolder(std::string_view folder, FolderListing& listing,
                const std::function<bool()>& cancelled) {
    std::string path(folder);
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    if (path.empty()) return true;
    CFolderWalk walk(listing);
    if (!walk.Enter(std::move(path))) {
        ++listing.skippedEntries;
        return true;
    }
    return walk.Run(cancelled);
}

}  // namespace vexel
