// The CD/DVD test against hand-written mount tables.
#include "app/path_utilities.h"

#include <gtest/gtest.h>

#include "common/test_paths.h"

namespace vexel {
namespace {

// Written as the kernel writes it: optional fields before "-", \040 for a blank, \134 for
// a backslash; one line too short and one without the separator.
constexpr const char* kMountInfo =
    "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw,errors=remount-ro\n"
    "35 22 0:30 / /media/user/My\\040Disc ro,nosuid,relatime shared:60 master:3 - iso9660 "
    "/dev/sr0 ro,blocksize=2048\n"
    "36 22 0:31 / /mnt/dvd ro,relatime - udf /dev/sr1 ro\n"
    "37 36 0:32 / /mnt/dvd/inner rw,relatime - tmpfs tmpfs rw\n"
    "38 22 0:33 / /mnt/dvdrom rw - ext4 /dev/sdb1 rw\n"
    "39 22 0:34 / /mnt/back\\134slash ro - iso9660 /dev/sr2 ro\n"
    "garbage line\n"
    "40 22 0:35 / /mnt/nosep rw shared:2 iso9660 /dev/sr3 ro\n";

TEST(MountInfo, OpticalDriveFollowsLongestMountPrefix) {
    const std::pair<const char*, bool> cases[] = {
        {"/media/user/My Disc/DICOMDIR", true},
        {"/media/user/My Disc", true},
        {"/media/user/My Disc/", true},
        {"/media/user/My", false},
        {"/mnt/dvd/IMAGES/IM0001", true},
        {"/mnt/dvd/inner/file", false},   // tmpfs on it
        {"/mnt/dvdrom/file", false},      // prefix, not a component
        {"/mnt/dvd/../dvdrom/x", false},  // normalised first
        {"/mnt/./dvd//x", true},
        {"/mnt/back\\slash/f", true},
        {"/mnt/nosep/f", false},
        {"/home/user", false},
        {"", false}};
    for (const auto& [path, optical] : cases)
        EXPECT_EQ(IsOnOpticalDrive(std::string_view(path), kMountInfo), optical) << path;
}

}  // namespace
}  // namespace vexel
