#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "device/DriveList.h"
#include "platform/Drives.h"
#include "support/TestSupport.h"

using namespace kelvara;
namespace fs = std::filesystem;

namespace {

void writeText(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p) << text;
}

}  // namespace

TEST(Drives, WholeDisksInNameOrderByModelOrPath) {
    test::ScratchDir sys;
    const fs::path block = fs::path(sys.path()) / "block";
    writeText(block / "sdb" / "device" / "model", "Example SSD 1TB     \n");
    writeText(block / "sdb" / "size", "2048\n");
    writeText(block / "sda" / "size", "4096\n");  // no model: listed by path
    writeText(block / "loop0" / "size", "0\n");    // unbacked loop device
    writeText(block / "loop1" / "loop" / "backing_file", "/images/disk.img\n");
    writeText(block / "ram0" / "size", "8192\n");
    writeText(block / "zram0" / "size", "8192\n");
    auto drives = platform::enumeratePhysicalDrives(sys.path());
    ASSERT_EQ(drives.size(), 3u);
    EXPECT_EQ(drives[0].path, "/dev/loop1");
    EXPECT_EQ(drives[1].label(), "/dev/sda");
    EXPECT_EQ(drives[1].sizeBytes, 4096u * 512);
    EXPECT_EQ(drives[2].label(), "Example SSD 1TB");
}

TEST(Drives, MountedBlockDevicesBecomeVolumeRecords) {
    test::ScratchDir dir;
    writeText(dir.file("mounts"),
              "proc /proc proc rw 0 0\n"
              "/dev/sda1 / ext4 rw 0 0\n"
              "tmpfs /tmp tmpfs rw 0 0\n"
              "/dev/sdb1 /media/my\\040card vfat rw 0 0\n");
    auto mounts = platform::enumerateMountedVolumes(dir.file("mounts"));
    ASSERT_EQ(mounts.size(), 2u);
    EXPECT_EQ(mounts[1].mountPoint, "/media/my card");
    mounts[0].totalBytes = 5ull << 30;
    auto records = toVolumeRecords(mounts);
    EXPECT_EQ(records[0].FILE_SYSTEM, "ext4");
    EXPECT_EQ(records[0].displayName, "/");
    EXPECT_EQ(records[0].VOLUME, "/dev/sda1");
    EXPECT_EQ(records[0].VOLUME_SIZE, "5120  MB");
    EXPECT_EQ(records[0].START_SECTOR, 0);
}
