#include "datasource/discovery.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "support/memory_sources.h"

namespace ravelin {
namespace {

namespace fs = std::filesystem;

// A made-up /sys: block/<name>/{size,removable,dev}, partitions as sub-directories with a
// "partition" file, loop devices with loop/backing_file.
class FakeSysfs {
 public:
  FakeSysfs() {
    root_ = fs::temp_directory_path() /
            ("ravelin-sysfs-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
    fs::create_directories(root_ / "block");
  }
  ~FakeSysfs() {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  const fs::path& root() const { return root_; }

  void Disk(const std::string& name, std::uint64_t sectors, bool removable = false,
            const std::string& dev = "8:0") {
    const fs::path d = root_ / "block" / name;
    fs::create_directories(d);
    Write(d / "size", std::to_string(sectors));
    Write(d / "removable", removable ? "1" : "0");
    Write(d / "dev", dev);
  }
  void Partition(const std::string& disk, const std::string& name, std::uint64_t sectors) {
    const fs::path d = root_ / "block" / disk / name;
    fs::create_directories(d);
    Write(d / "size", std::to_string(sectors));
    Write(d / "partition", "1");
  }
  void Loop(const std::string& name, std::uint64_t sectors, const std::string& backing) {
    Disk(name, sectors, false, "7:0");
    if (!backing.empty()) {
      fs::create_directories(root_ / "block" / name / "loop");
      Write(root_ / "block" / name / "loop" / "backing_file", backing);
    }
  }

 private:
  static void Write(const fs::path& file, const std::string& text) {
    std::ofstream(file) << text << '\n';
  }
  static inline int counter_ = 0;
  fs::path root_;
};

DiscoveryEnv EnvFor(const FakeSysfs& sysfs, std::map<std::string, VolumeInfo> volumes = {}) {
  DiscoveryEnv env;
  env.sysfsRoot = sysfs.root();
  env.devRoot = "/dev";
  env.probe = [volumes](const std::string& path) {
    const auto it = volumes.find(path);
    return it != volumes.end() ? it->second : VolumeInfo{};
  };
  return env;
}

TEST(DiscoveryTest, ListsDisksInNameOrderWithTheirCaptions) {
  FakeSysfs sysfs;
  sysfs.Disk("sda", 976773168);  // 500,107,862,016 bytes
  sysfs.Disk("sdb", 1048576, /*removable=*/true);
  sysfs.Disk("nvme0n1", 2000409264, false, "259:0");
  sysfs.Loop("loop10", 2048, "/images/b.img");
  sysfs.Loop("loop2", 4096, "/images/a.img");
  sysfs.Loop("loop0", 0, "");  // nothing attached
  sysfs.Loop("loop1", 8192, "");
  sysfs.Disk("ram0", 8192, false, "1:0");
  sysfs.Disk("zram0", 8192, false, "252:0");
  sysfs.Disk("sr0", 1000, true, "11:0");  // optical: a partition entry, not a disk
  sysfs.Disk("sdc", 0);                   // card reader without a card

  const auto disks = ListPhysicalDisks(EnvFor(sysfs));
  ASSERT_EQ(disks.size(), 5u);
  const std::vector<std::string> captions = {
      "本地磁盘 0 (2.00 MB) [/dev/loop2]", "本地磁盘 1 (1.00 MB) [/dev/loop10]",
      "本地磁盘 2 (953.87 GB) [/dev/nvme0n1]", "本地磁盘 3 (465.76 GB) [/dev/sda]",
      "可移动存储 4 (512.00 MB) [/dev/sdb]"};
  for (std::size_t i = 0; i < disks.size(); ++i) {
    EXPECT_EQ(disks[i].number, static_cast<int>(i));
    EXPECT_EQ(disks[i].caption, captions[i]);
  }
  EXPECT_EQ(disks[3].devicePath, "/dev/sda");
  EXPECT_EQ(disks[3].sectors, 976773168u);
  EXPECT_TRUE(disks[4].removable);
}

TEST(DiscoveryTest, SizeTextSwitchesToGigabytesAtOneThousandMegabytes) {
  EXPECT_EQ(SizeText(999 * 2048), "999.00 MB");
  EXPECT_EQ(SizeText(1000 * 2048), "0.98 GB");
  EXPECT_EQ(SizeText(0), "0.00 MB");
  EXPECT_EQ(DiskCaption(7, 1048576, true, "/dev/sdh"), "可移动存储 7 (512.00 MB) [/dev/sdh]");
}

TEST(DiscoveryTest, ListsAtMost31Disks) {
  FakeSysfs sysfs;
  for (int i = 0; i < 40; ++i) sysfs.Loop("loop" + std::to_string(i), 2048, "/x.img");
  const auto disks = ListPhysicalDisks(EnvFor(sysfs));
  ASSERT_EQ(disks.size(), kMaxDiskEntries);
  EXPECT_EQ(disks.back().devicePath, "/dev/loop30");
}

TEST(DiscoveryTest, PartitionsOfListedDisksAndOpticalDrivesInNameOrder) {
  FakeSysfs sysfs;
  sysfs.Disk("sda", 976773168);
  sysfs.Partition("sda", "sda10", 2048);
  sysfs.Partition("sda", "sda2", 409600);
  sysfs.Partition("sda", "sda1", 1024000);
  sysfs.Disk("nvme0n1", 2000409264, false, "259:0");
  sysfs.Partition("nvme0n1", "nvme0n1p1", 204800);
  sysfs.Disk("sr0", 0, true, "11:0");  // empty drive: listed all the same
  sysfs.Disk("ram0", 8192, false, "1:0");
  sysfs.Partition("ram0", "ram0p1", 100);  // not a listed disk: not offered

  const DiscoveryEnv env = EnvFor(sysfs, {{"/dev/sda1", {"System", "ntfs", ""}},
                                          {"/dev/nvme0n1p1", {"data 1", "vfat", "FAT32"}}});
  const auto disks = ListPhysicalDisks(env);
  const auto parts = ListLogicalDrives(disks, env);
  std::vector<std::string> captions;
  for (const auto& p : parts) captions.push_back(p.caption);
  EXPECT_EQ(captions,
            (std::vector<std::string>{"逻辑分区 /dev/nvme0n1p1 [DATA 1] ",
                                      "逻辑分区 /dev/sda1 [SYSTEM] ", "逻辑分区 /dev/sda2 [] ",
                                      "逻辑分区 /dev/sda10 [] ", "逻辑分区 /dev/sr0 [] "}));
  ASSERT_EQ(parts.size(), 5u);
  EXPECT_EQ(parts[1].number, 2);
  EXPECT_EQ(parts[1].text, "/dev/sda1 [SYSTEM]");
  EXPECT_EQ(parts[1].diskName, "sda");
  EXPECT_EQ(parts[1].sectors, 1024000u);
  EXPECT_EQ(parts[1].volume.type, "ntfs");
  EXPECT_TRUE(parts[4].optical);
  EXPECT_EQ(parts[4].number, 5);
}

TEST(DiscoveryTest, VolumeLabelUpperCasesOnlyAsciiLetters) {
  EXPECT_EQ(VolumeLabel(VolumeInfo{"Daten_2024", "", ""}), "[DATEN_2024]");
  EXPECT_EQ(VolumeLabel(VolumeInfo{"数据盘a", "", ""}), "[数据盘A]");
  EXPECT_EQ(VolumeLabel(VolumeInfo{}), "[]");
  EXPECT_EQ(VolumeLabel("/dev/none", nullptr), "[]");
}

TEST(DiscoveryTest, ImageFileSizeComesFromTheOpenedSource) {
  test::MemorySources sources;
  sources.Add("/img", std::vector<std::uint8_t>(1'000'000));
  const ImageSize ok = ImageFileSize("/img", sources.Opener());
  EXPECT_EQ(ok.bytes, 1'000'000u);
  const ImageSize missing = ImageFileSize("/nothing", sources.Opener());
  EXPECT_EQ(missing.bytes, std::nullopt);
  EXPECT_EQ(missing.error, ENOENT);
  EXPECT_EQ(ImageFileSize(fs::temp_directory_path().string()).error, EISDIR);
}

// On the real /sys: an image attached with `losetup -P` is listed as a disk, its partitions
// as partition entries. Needs root and loop devices.
TEST(DiscoveryTest, AttachedLoopDeviceIsListedWithItsPartitions) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to attach a loop device";
  if (std::system("command -v losetup >/dev/null 2>&1") != 0) GTEST_SKIP() << "no losetup";
  const fs::path image =
      fs::temp_directory_path() / ("ravelin-loop-" + std::to_string(::getpid()) + ".img");
  {
    // 8 MiB with an MBR holding one partition of 4096 sectors at sector 2048.
    std::vector<std::uint8_t> mbr(kSectorSize, 0);
    mbr[446 + 4] = 0x83;
    Store32(mbr, 446 + 8, 2048);
    Store32(mbr, 446 + 12, 4096);
    mbr[510] = 0x55;
    mbr[511] = 0xAA;
    std::ofstream out(image, std::ios::binary);
    out.write(reinterpret_cast<const char*>(mbr.data()), static_cast<std::streamsize>(mbr.size()));
  }
  fs::resize_file(image, 8 << 20);
  const std::string attach = "losetup -f --show -P " + image.string() + " 2>/dev/null";
  std::string node;
  if (FILE* p = ::popen(attach.c_str(), "r")) {
    char line[256] = {};
    if (std::fgets(line, sizeof line, p) != nullptr) node = line;
    ::pclose(p);
  }
  while (!node.empty() && (node.back() == '\n' || node.back() == ' ')) node.pop_back();
  if (node.empty()) {
    fs::remove(image);
    GTEST_SKIP() << "losetup could not attach a loop device here";
  }
  struct Detach {
    std::string node;
    fs::path image;
    ~Detach() {
      (void)std::system(("losetup -d " + node).c_str());
      fs::remove(image);
    }
  } detach{node, image};

  DiscoveryEnv env;
  env.probe = nullptr;  // labels are not what this test is about
  const auto disks = ListPhysicalDisks(env);
  const auto disk = std::find_if(disks.begin(), disks.end(),
                                 [&](const DiskEntry& d) { return d.devicePath == node; });
  if (disk == disks.end() && disks.size() == kMaxDiskEntries) {
    GTEST_SKIP() << "31 disks listed before " << node;
  }
  ASSERT_NE(disk, disks.end()) << node;
  EXPECT_EQ(disk->sectors, 16384u);

  const auto parts = ListLogicalDrives(disks, env);
  const std::string name = fs::path(node).filename().string();
  std::vector<const PartitionEntry*> ours;
  for (const auto& p : parts) {
    if (p.diskName == name) ours.push_back(&p);
  }
  if (ours.empty()) GTEST_SKIP() << "the kernel made no partition devices for " << node;
  ASSERT_EQ(ours.size(), 1u);
  EXPECT_EQ(ours[0]->devicePath, node + "p1");
  EXPECT_EQ(ours[0]->sectors, 4096u);
}

}  // namespace
}  // namespace ravelin
