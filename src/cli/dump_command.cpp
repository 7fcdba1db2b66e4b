// Lists every element of each file: one line per element, fields separated by tabs (the
// listing's texts hold no tabs or line breaks):
//   <indent>(gggg,eeee) VR length name value count
// Files are introduced by "# <path>". With --json, one JSON document for all files.
#include "cli/dump_command.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/json_text.h"
#include "dicom/dicom_file.h"
#include "dicom/dicom_reader.h"
#include "dicom/tag_list.h"
#include "engine/memory_manager.h"

namespace vexel::cli {
namespace {

// A count is a JSON number, or a string (">=n") when only part of the value was counted.
std::string JsonCount(const std::string& countText) {
    const bool number = !countText.empty() &&
                        countText.find_first_not_of("0123456789") == std::string::npos;
    return number ? countText : JsonQuoted(countText);
}

void PrintText(const std::string& path, const std::vector<TagListRow>& rows) {
    std::printf("# %s\n", path.c_str());
    for (const TagListRow& row : rows) {
        std::printf("%s\t%s\t%s\t%s\t%s\t%s\n", row.tagText.c_str(), row.vrText.c_str(),
                    row.lengthText.c_str(), row.name.c_str(), row.valueText.c_str(),
                    row.countText.c_str());
    }
}

void PrintJson(const std::string& path, const std::vector<TagListRow>& rows, bool first) {
    std::printf("%s{\"path\": %s, \"elements\": [", first ? "" : ",\n", JsonQuoted(path).c_str());
    for (size_t i = 0; i < rows.size(); ++i) {
        const TagListRow& row = rows[i];
        std::printf(
            "%s\n  {\"tag\": \"%04X,%04X\", \"depth\": %u, \"vr\": %s, \"length\": %s, "
            "\"name\": %s, \"value\": %s, \"count\": %s}",
            i ? "," : "", row.group, row.element, row.depth, JsonQuoted(row.vrText).c_str(),
            row.undefinedLength ? "\"Undefined\"" : row.lengthText.c_str(),
            JsonQuoted(row.name).c_str(), JsonQuoted(row.valueText).c_str(),
            JsonCount(row.countText).c_str());
    }
    std::printf("\n]}");
}

}  // namespace

int RunDump(int argc, char** argv, CMemoryManager& files) {
    bool json = false;
    std::vector<std::string> paths;
    bool usage = false;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) {
            json = true;
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            usage = true;  // --help and unknown options
        } else {
            paths.emplace_back(argv[i]);
        }
    }
    if (paths.empty() || usage) {
        std::fprintf(stderr, "usage: vexel dump [--json] FILE...\n");
        return 2;
    }
    int exitCode = 0;
    bool first = true;
    if (json) std::printf("[");
    for (const std::string& path : paths) {
        auto [file, status] = files.Open(path);
        if (status != ReadStatus::Ok) {
            std::fflush(stdout);
            std::fprintf(stderr, "vexel: %s: %s\n", path.c_str(), ReadStatusText(status));
            exitCode = 1;
            continue;
        }
        const std::vector<TagListRow> rows = BuildTagList(*file);
        if (json) {
            PrintJson(path, rows, first);
        } else {
            PrintText(path, rows);
        }
        first = false;
        // Long lists stay small: each file is dropped once printed.
        file.Reset();
        files.DiscardIfUnused(path);
    }
    if (json) std::printf("]\n");
    return exitCode;
}

}  // namespace vexel::cli
