#include "platform/DriveLetterOpticalDrives.h"
#include "platform/MountPointOpticalDrives.h"

#include <gtest/gtest.h>

using namespace corva::platform;

namespace {

TEST(DriveLetterOpticalDrives, FirstLetterInEitherCase)
{
    DriveLetterOpticalDrives drives("e");
    EXPECT_TRUE(drives.IsOnOpticalDrive("E:\\a.rm"));
    EXPECT_TRUE(drives.IsOnOpticalDrive("e:\\a.rm"));
    EXPECT_FALSE(drives.IsOnOpticalDrive("C:\\a.rm"));
    EXPECT_FALSE(drives.IsOnOpticalDrive(""));
    EXPECT_FALSE(DriveLetterOpticalDrives("").IsOnOpticalDrive("E:\\a.rm"));
}

TEST(MountPointOpticalDrives, FindsOpticalMountsOnly)
{
    const std::string mounts =
        "/dev/sda1 / ext4 rw 0 0\n"
        "/dev/sr0 /media/cdrom iso9660 ro 0 0\n"
        "/dev/loop3 /mnt/dvd\\040image udf ro 0 0\n"
        "tmpfs /tmp tmpfs rw 0 0\n"
        "/dev/sr1 /media/cd1 auto ro 0 0\n"
        "broken\n";
    const auto points = MountPointOpticalDrives::OpticalMountPoints(mounts);
    EXPECT_EQ(points, (std::vector<std::string>{"/media/cdrom", "/mnt/dvd image", "/media/cd1"}));
}

// A prefix match on raw text would take /media/cdrom2 for a path on /media/cdrom.
TEST(MountPointOpticalDrives, ComparesWholeComponents)
{
    MountPointOpticalDrives drives({"/media/cdrom", "/mnt/dvd image"}, "/media");
    EXPECT_TRUE(drives.IsOnOpticalDrive("/media/cdrom/a.rm"));
    EXPECT_TRUE(drives.IsOnOpticalDrive("/media/cdrom"));
    EXPECT_TRUE(drives.IsOnOpticalDrive("/media//cdrom/./x/../a.rm"));
    EXPECT_FALSE(drives.IsOnOpticalDrive("/media/cdrom2/a.rm"));
    EXPECT_TRUE(drives.IsOnOpticalDrive("cdrom/a.rm")); // relative to /media
    EXPECT_TRUE(drives.IsOnOpticalDrive("/mnt/dvd image/b.rm"));
    EXPECT_FALSE(drives.IsOnOpticalDrive("/home/u/a.rm"));
    EXPECT_FALSE(drives.IsOnOpticalDrive(""));
    EXPECT_FALSE(MountPointOpticalDrives({}).IsOnOpticalDrive("/media/cdrom/a.rm"));
}

} // namespace
