#include "app/command_line.h"

#include <filesystem>
#include <system_error>

#include "app/path_utilities.h"

namespace vexel {

namespace {

enum class PathMode { Files, Folders, Ignore };

bool IsArchiveExtension(const std::string& extension) {
    return extension == "zip" || extension == "dmz";
}

bool IsExistingDirectory(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_directory(path, ec);
}

// Returns false when the path ended the parse (an archive).
bool AddFilesModePath(const std::string& path, CommandLineRequest& request) {
    if (IsExistingDirectory(path)) {
        request.folders.push_back(path);
        return true;
    }
    if (IsArchiveExtension(FileExtensionOf(path))) {
        request.folders.clear();
        request.files.clear();
        request.archive = path;
        return false;
    }
    request.files.push_back(path);
    return true;
}

}  // namespace

CommandLineRequest ParseCommandLine(const std::vector<std::string>& arguments) {
    CommandLineRequest request;
    if (arguments.size() >= 2 && arguments[0] == "-crash") {
        std::string report = arguments[1];
        // A shell that quotes a path ending in a backslash leaves the closing quote on it.
        if (!report.empty() && report.back() == '"') report.pop_back();
        request.crashReport = report;
        return request;
    }
    PathMode mode = PathMode::Files;
    for (const std::string& argument : arguments) {
        if (argument.empty()) continue;
        if (argument == "-f") {
            mode = PathMode::Files;
        } else if (argument == "-d") {
            mode = PathMode::Folders;
        } else if (argument[0] == '-') {
            mode = PathMode::Ignore;
        } else if (mode == PathMode::Folders) {
            request.folders.push_back(argument);
        } else if (mode == PathMode::Files && !AddFilesModePath(argument, request)) {
            break;
        }
    }
    return request;
}

}  // namespace vexel
