// Small path helpers of the shell: file extensions as the viewer compares them, DICOMDIR
// names, and whether a path lies on a CD/DVD.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/dicom_dir_name.h"

namespace vexel {

// The text after the first '.' of the last path component, lower-cased (ASCII); empty
// when that component has no '.'. "dir/study.1.dcm" gives "1.dcm", "a.b.zip" gives "b.zip".
std::string FileExtensionOf(std::string_view path);

// IsDicomDirPath lives with the loaders.

// One line of /proc/self/mountinfo: the mount point (escapes decoded) and its file system.
struct MountEntry {
    std::string mountPoint;
    std::string fileSystemType;
};

// Parses mountinfo text; lines that do not have the expected fields are skipped.
std::vector<MountEntry> ParseMountInfo(std::string_view text);

// The entry whose mount point is the longest whole-component prefix of the absolute,
// normalised path; of equal mount points the later (the one mounted on top) wins.
// Null when none matches.
const MountEntry* FindMountOf(const std::vector<MountEntry>& mounts, std::string_view path);

// True for the file systems of CDs and DVDs: iso9660 and udf.
bool IsOpticalFileSystem(std::string_view type);

// Lexical test against the given mountinfo text: the path is made absolute against "/"
// and normalised, without touching the file system.
bool IsOnOpticalDrive(std::string_view path, std::string_view mountInfoText);

// Resolves the path (symbolic links included, as far as it exists) and tests it against
// this process's /proc/self/mountinfo. False when either cannot be read.
bool IsOnOpticalDrive(const std::string& path);

// The mount points of every CD and DVD in the mountinfo text, each once.
std::vector<std::string> OpticalMountPoints(std::string_view mountInfoText);
// This process's /proc/self/mountinfo; empty when it cannot be read.
std::string ReadMountInfo();

}  // namespace vexel
