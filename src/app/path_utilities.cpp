#include "app/path_utilities.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace vexel {

namespace {

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerAscii(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        c = LowerAscii(c);
    return result;
}

bool IsOctalDigit(char c) {
    return c >= '0' && c <= '7';
}

// mountinfo writes space, tab, newline and backslash as \ooo.
std::string DecodeMountField(std::string_view field) {
    std::string result;
    result.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && IsOctalDigit(field[i + 1]) &&
            IsOctalDigit(field[i + 2]) && IsOctalDigit(field[i + 3])) {
            int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            result.push_back(static_cast<char>(static_cast<unsigned char>(value & 0xFF)));
            i += 3;
        } else {
            result.push_back(field[i]);
        }
    }
    return result;
}

std::vector<std::string_view> SplitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t pos = 0;
    while (pos < line.size()) {
        size_t start = line.find_first_not_of(' ', pos);
        if (start == std::string_view::npos) break;
        size_t end = line.find(' ', start);
        if (end == std::string_view::npos) end = line.size();
        fields.push_back(line.substr(start, end - start));
        pos = end;
    }
    return fields;
}

// Fields: id parent major:minor root mountpoint options [optional...] - fstype source super.
bool ParseMountLine(std::string_view line, MountEntry& entry) {
    std::vector<std::string_view> fields = SplitFields(line);
    if (fields.size() < 7) return false;
    for (size_t i = 6; i + 1 < fields.size(); ++i) {
        if (fields[i] != "-") continue;
        if (fields[4].empty() || fields[4][0] != '/') return false;
        entry.mountPoint = DecodeMountField(fields[4]);
        entry.fileSystemType = std::string(fields[i + 1]);
        return true;
    }
    return false;
}

std::string NormaliseAbsolute(std::string_view path) {
    std::string text(path);
    if (text.empty() || text[0] != '/') text.insert(text.begin(), '/');
    std::string normal = std::filesystem::path(text).lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/')
        normal.pop_back();
    return normal;
}

bool IsComponentPrefix(std::string_view prefix, std::string_view path) {
    if (prefix == "/") return true;
    if (path.substr(0, prefix.size()) != prefix) return false;
    return path.size() == prefix.size() || path[prefix.size()] == '/';
}

}  // namespace

std::string FileExtensionOf(std::string_view path) {
    size_t slash = path.rfind('/');
    size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
    size_t dot = path.find('.', nameStart);
    if (dot == std::string_view::npos) return {};
    return LowerAscii(path.substr(dot + 1));
}

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
    std::vector<MountEntry> mounts;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        MountEntry entry;
        if (ParseMountLine(text.substr(pos, end - pos), entry)) mounts.push_back(std::move(entry));
        pos = end + 1;
    }
    return mounts;
}

const MountEntry* FindMountOf(const std::vector<MountEntry>& mounts, std::string_view path) {
    const std::string normal = NormaliseAbsolute(path);
    const MountEntry* best = nullptr;
    size_t bestLength = 0;
    for (const MountEntry& mount : mounts) {
        const std::string point = NormaliseAbsolute(mount.mountPoint);
        if (!IsComponentPrefix(point, normal)) continue;
        if (best == nullptr || point.size() >= bestLength) {
            best = &mount;
            bestLength = point.size();
        }
    }
    return best;
}

bool IsOpticalFileSystem(std::string_view type) {
    return type == "iso9660" || type == "udf";
}

bool IsOnOpticalDrive(std::string_view path, std::string_view mountInfoText) {
    if (path.empty()) return false;
    std::vector<MountEntry> mounts = ParseMountInfo(mountInfoText);
    const MountEntry* mount = FindMountOf(mounts, path);
    return mount != nullptr && IsOpticalFileSystem(mount->fileSystemType);
}

bool IsOnOpticalDrive(const std::string& path) {
    if (path.empty()) return false;
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    if (ec) return false;
    std::filesystem::path resolved = std::filesystem::weakly_canonical(absolute, ec);
    if (ec) resolved = absolute;
    const std::string text = ReadMountInfo();
    return !text.empty() && IsOnOpticalDrive(std::string_view(resolved.string()), text);
}

std::vector<std::string> OpticalMountPoints(std::string_view mountInfoText) {
    std::vector<std::string> points;
    for (const MountEntry& mount : ParseMountInfo(mountInfoText)) {
        if (IsOpticalFileSystem(mount.fileSystemType) &&
            std::find(points.begin(), points.end(), mount.mountPoint) == points.end()) {
            points.push_back(mount.mountPoint);
        }
    }
    return points;
}

std::string ReadMountInfo() {
    std::ifstream file("/proc/self/mountinfo", std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

}  // namespace vexel
