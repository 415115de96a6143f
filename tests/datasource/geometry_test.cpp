#include "datasource/geometry.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "common/bytes.h"

namespace ravelin {
namespace {

namespace fs = std::filesystem;

// 10 whole 255 × 63 cylinders and 1234 sectors of a partial one.
constexpr std::uint64_t kCylinder = 255 * 63;
constexpr std::uint64_t kOddSectors = 10 * kCylinder + 1234;

TEST(DriveParamsTest, TotalIsTheExactSizeNotTheCylinderProduct) {
  BlockDeviceInfo info;
  info.sizeBytes = kOddSectors * kSectorSize;
  const DriveParams p = MakeDriveParams(info);
  EXPECT_EQ(p.size, 30);
  EXPECT_EQ(p.flags, 0);
  EXPECT_EQ(p.heads, 255u);
  EXPECT_EQ(p.sectorsPerTrack, 63u);
  EXPECT_EQ(p.cylinders, 10u);
  EXPECT_EQ(p.totalSectorsLow, 10 * kCylinder);
  EXPECT_EQ(p.totalSectorsHigh, 0u);
  EXPECT_EQ(p.bytesPerSector, 512);
  EXPECT_EQ(p.totalSectors, kOddSectors);
}

TEST(DriveParamsTest, LargeAnd4KnDisksCountIn512ByteUnitsWithoutTruncation) {
  BlockDeviceInfo info;
  info.sizeBytes = 18'000'207'937'536;  // an 18 TB 4Kn disk
  info.logicalSectorSize = 4096;
  const DriveParams p = MakeDriveParams(info);
  EXPECT_EQ(p.totalSectors, info.sizeBytes / 512);
  EXPECT_EQ(p.bytesPerSector, 4096);
  EXPECT_EQ(p.cylinders, info.sizeBytes / 512 / kCylinder);
}

TEST(DriveParamsTest, RemovableMediaSetFlag4AndClasses) {
  BlockDeviceInfo info;
  info.sizeBytes = kOddSectors * kSectorSize;
  info.heads = 64;
  info.sectorsPerTrack = 32;
  info.deviceClass = kClassRemovable;
  info.removable = true;
  EXPECT_EQ(MakeDriveParams(info).flags, kDriveFlagRemovable);
  const Geometry g = MakeGeometry(info);
  EXPECT_EQ(g.removable, 1);
  EXPECT_EQ(g.heads, 64u);  // the driver's own geometry wins when it gives one
  EXPECT_EQ(g.cylinders, kOddSectors / (64 * 32));

  info.deviceClass = kClassCdRom;
  info.logicalSectorSize = 2048;
  EXPECT_EQ(MakeGeometry(info).removable, 1);
  EXPECT_EQ(MakeGeometry(info).bytesPerSector, 2048u);
  info.deviceClass = kClassFixed;
  EXPECT_EQ(MakeGeometry(info).removable, 0);
  EXPECT_EQ(MakeDriveParams(info).flags, 0);
}

void WriteText(const fs::path& file, const char* text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << text;
}

// A made-up sysfs: two disks, one partition reached through /sys/class/block and through
// its device number, as the kernel lays them out.
TEST(RemovableFlagTest, ReadsDisksAndPartitionsFromSysfs) {
  const fs::path root = fs::temp_directory_path() / ("ravelin-sysfs-" + std::to_string(::getpid()));
  fs::remove_all(root);
  const fs::path sdb = root / "devices/pci0/usb1/block/sdb";
  WriteText(sdb / "removable", "1\n");
  WriteText(sdb / "sdb1/partition", "1\n");
  WriteText(root / "devices/pci0/ata1/block/sda/removable", "0\n");
  fs::create_directories(root / "block");
  fs::create_directories(root / "class/block");
  fs::create_directories(root / "dev/block");
  fs::create_directory_symlink("../devices/pci0/usb1/block/sdb", root / "block/sdb");
  fs::create_directory_symlink("../devices/pci0/ata1/block/sda", root / "block/sda");
  fs::create_directory_symlink("../../devices/pci0/usb1/block/sdb/sdb1", root / "class/block/sdb1");
  fs::create_directory_symlink("../../devices/pci0/usb1/block/sdb/sdb1", root / "dev/block/8:17");
  WriteText(root / "block/sdz/removable", "x\n");

  EXPECT_EQ(ReadRemovableFlag("sdb", root), true);
  EXPECT_EQ(ReadRemovableFlag("sda", root), false);
  EXPECT_EQ(ReadRemovableFlag("sdb1", root), true);  // answers for its disk
  EXPECT_EQ(ReadRemovableFlag(8, 17, root), true);
  EXPECT_EQ(ReadRemovableFlag(8, 0, root), std::nullopt);
  EXPECT_EQ(ReadRemovableFlag("sdy", root), std::nullopt);
  EXPECT_EQ(ReadRemovableFlag("sdz", root), std::nullopt);  // unreadable answer
  EXPECT_EQ(ReadRemovableFlag("../block/sdb", root), std::nullopt);
  EXPECT_EQ(ReadRemovableFlag("..", root), std::nullopt);
  fs::remove_all(root);
}

}  // namespace
}  // namespace ravelin
