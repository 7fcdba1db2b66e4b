#include "app/command_line.h"

#include <cctype>
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

bool IsDicomDir(const std::string& path) {
    std::string name = std::filesystem::path(path).filename().string();
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::error_code ec;
    return name == "DICOMDIR" && std::filesystem::is_regular_file(path, ec);
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "scheme://" with a scheme of letters, digits, '+', '-' and '.', starting with a letter.
size_t SchemeLength(const std::string& argument) {
    const size_t colon = argument.find("://");
    if (colon == std::string::npos || colon == 0 || !std::isalpha(static_cast<unsigned char>(argument[0])))
        return 0;
    for (size_t i = 0; i < colon; ++i) {
        const unsigned char c = static_cast<unsigned char>(argument[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return 0;
    }
    return colon;
}

// A file:// URI of this host becomes its path; any other URI gives nullopt. Plain paths,
// and paths that merely look like a URI but exist, pass unchanged.
std::optional<std::string> LocalPathOf(const std::string& argument) {
    const size_t scheme = SchemeLength(argument);
    std::error_code ec;
    if (scheme == 0 || std::filesystem::exists(argument, ec)) return argument;
    std::string lower = argument.substr(0, scheme);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower != "file") return std::nullopt;
    std::string rest = argument.substr(scheme + 3);
    if (rest.rfind("localhost/", 0) == 0) rest.erase(0, 9);
    if (rest.empty() || rest[0] != '/') return std::nullopt;  // another host's file
    std::string path;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '%' && i + 2 < rest.size() && HexValue(rest[i + 1]) >= 0 &&
            HexValue(rest[i + 2]) >= 0) {
            const char decoded = static_cast<char>(HexValue(rest[i + 1]) * 16 + HexValue(rest[i + 2]));
            if (decoded == '\0') return std::nullopt;
            path += decoded;
            i += 2;
        } else {
            path += rest[i];
        }
    }
    return path;
}

// Returns false when the path ended the parse (an archive).
bool AddFilesModePath(const std::string& path, CommandLineRequest& request) {
    if (IsDicomDir(path)) {
        // A DICOMDIR opens its folder; the scan reads the images the folder holds.
        request.folders.push_back(std::filesystem::path(path).parent_path().empty()
                                      ? std::string(".")
                                      : std::filesystem::path(path).parent_path().string());
        return true;
    }
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
        // Taken as given: a POSIX shell leaves no stray quote on a path.
        request.crashReport = arguments[1];
        return request;
    }
    PathMode mode = PathMode::Files;
    for (const std::string& given : arguments) {
        if (given.empty()) continue;
        const std::optional<std::string> local = given[0] == '-' ? given : LocalPathOf(given);
        if (!local) {
            request.refused.push_back(given);
            continue;
        }
        const std::string& argument = *local;
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
