// The reader on real files and, where the machine allows, real loop block devices.
#include "datasource/file_device.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "datasource/geometry.h"
#include "datasource/sector_reader.h"
#include "support/memory_sources.h"

namespace ravelin {
namespace {

namespace fs = std::filesystem;
using test::PatternBytes;

constexpr std::uint64_t k2To32 = std::uint64_t{1} << 32;

class TempDir {
 public:
  TempDir() {
    std::string templ = (fs::temp_directory_path() / "ravelin-sector-XXXXXX").string();
    if (::mkdtemp(templ.data()) != nullptr) path_ = templ;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

void WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> ReadWholeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Descriptors of this process open on `path`, with the flags the kernel reports for them.
std::vector<int> OpenFlagsOf(const fs::path& path) {
  std::vector<int> flags;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (fs::read_symlink(entry.path(), ec) != path) continue;
    std::ifstream info("/proc/self/fdinfo/" + entry.path().filename().string());
    std::string key;
    while (info >> key) {
      if (key == "flags:") {
        std::string octal;
        info >> octal;
        flags.push_back(std::stoi(octal, nullptr, 8));
      }
    }
  }
  return flags;
}

TEST(FileDeviceTest, SourceIsNeverModifiedAndOpenedReadOnly) {
  TempDir dir;
  const fs::path image = dir / "disk.img";
  WriteFile(image, PatternBytes(0, 4096));
  struct stat before {};
  ASSERT_EQ(::stat(image.c_str(), &before), 0);

  DataSource source;
  source.SourceChosen = true;
  source.SourcePath = image.string();
  source.SectorLimit = 4096;
  SectorReader reader(source);
  std::vector<std::uint8_t> buffer(12288 * kSectorSize);
  for (std::uint64_t at = 0; at < 4096; at += 97) {
    ASSERT_TRUE(reader.ReadSectors(16, buffer, at));
  }
  EXPECT_TRUE(reader.ReadSectors(12288, buffer, 0));  // shortened to the image
  EXPECT_FALSE(reader.ReadSectors(16, buffer, 5000));
  EXPECT_TRUE(reader.ReadPathSectors(image.string(), 1, buffer, 4095));

  const std::vector<int> flags = OpenFlagsOf(image);
  ASSERT_EQ(flags.size(), 1u) << "one descriptor, kept across reads";
  EXPECT_EQ(flags[0] & O_ACCMODE, O_RDONLY);
  EXPECT_NE(flags[0] & O_CLOEXEC, 0);
  reader.Close();
  EXPECT_TRUE(OpenFlagsOf(image).empty());

  struct stat after {};
  ASSERT_EQ(::stat(image.c_str(), &after), 0);
  EXPECT_EQ(after.st_size, before.st_size);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(after.st_ctim.tv_sec, before.st_ctim.tv_sec);
  EXPECT_EQ(after.st_ctim.tv_nsec, before.st_ctim.tv_nsec);
  EXPECT_EQ(ReadWholeFile(image), PatternBytes(0, 4096));
}

TEST(FileDeviceTest, ShortImageFailsPastItsEnd) {
  TempDir dir;
  const fs::path image = dir / "short.img";
  auto bytes = PatternBytes(0, 100);
  bytes.resize(bytes.size() + 300);
  WriteFile(image, bytes);

  DataSource source;
  SectorReader reader(source);
  std::vector<std::uint8_t> buffer(16 * kSectorSize);
  EXPECT_FALSE(reader.ReadPathSectors(image.string(), 16, buffer, 90));
  EXPECT_EQ(std::vector(buffer.begin(), buffer.begin() + 10 * kSectorSize), PatternBytes(90, 10));
  EXPECT_FALSE(reader.ReadPathSectors(image.string(), 1, buffer, 100));
  EXPECT_TRUE(reader.ReadPathSectors(image.string(), 10, buffer, 90));
}

// A sparse file standing in for a 3 TiB partition: sector 2^32 + 5 holds data, sector 5
// (its low 32 bits) holds zeros, so a reader that cuts the sector number gets zeros.
TEST(FileDeviceTest, PartitionSectorBeyond2To32ReadsFromTheRightOffset) {
  TempDir dir;
  const fs::path image = dir / "big.img";
  const int fd = ::open(image.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  const std::uint64_t at = k2To32 + 5;
  const auto data = PatternBytes(at, 16);
  const bool made = ::ftruncate(fd, static_cast<off_t>(3 * k2To32 * kSectorSize / 2)) == 0 &&
                    ::pwrite(fd, data.data(), data.size(), static_cast<off_t>(at * kSectorSize)) ==
                        static_cast<ssize_t>(data.size());
  const int error = errno;
  ::close(fd);
  if (!made) GTEST_SKIP() << "this file system holds no sparse 3 TiB file: " << error;

  DataSource source;
  source.SourceChosen = true;
  source.IsPartition = true;
  source.DriveNumber = 3;
  source.SourcePath = image.string();
  source.SectorLimit = 3 * k2To32 / 2 - 1;
  SectorReader reader(source);
  std::vector<std::uint8_t> buffer(16 * kSectorSize);
  ASSERT_TRUE(reader.ReadSectors(16, buffer, at));
  EXPECT_EQ(buffer, data);
}

TEST(FileDeviceTest, RefusesDirectoriesAndFifos) {
  TempDir dir;
  EXPECT_EQ(FileDevice::Open((dir / "").string()).error, EISDIR);
  const fs::path fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const OpenResult opened = FileDevice::Open(fifo.string());  // must not hang
  EXPECT_EQ(opened.device, nullptr);
  EXPECT_EQ(opened.error, ENOTBLK);
  EXPECT_EQ(FileDevice::Open((dir / "absent").string()).error, ENOENT);
}

TEST(FileDeviceTest, OrdinaryFileHasNoGeometry) {
  TempDir dir;
  const fs::path image = dir / "disk.img";
  WriteFile(image, PatternBytes(0, 8));
  Geometry geometry;
  geometry.heads = 77;
  DriveParams params;
  params.heads = 77;
  EXPECT_FALSE(QueryGeometry(image.string(), geometry));
  EXPECT_FALSE(GetPhysicalDriveParams(image.string(), params));
  EXPECT_EQ(geometry.heads, 77u);  // left untouched
  EXPECT_EQ(params.heads, 77u);
}

// Attaches a file to a free loop device and detaches it whatever happens to the test.
class LoopDevice {
 public:
  LoopDevice(const fs::path& file, int sectorSize) {
    if (::geteuid() != 0) {
      why_ = "loop devices need root";
      return;
    }
    const std::string command =
        "losetup -f --show -b " + std::to_string(sectorSize) + " '" + file.string() + "' 2>&1";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    std::array<char, 256> line{};
    if (pipe && std::fgets(line.data(), line.size(), pipe.get()) != nullptr) {
      std::string out(line.data());
      while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
      if (out.rfind("/dev/loop", 0) == 0) {
        path_ = out;
      } else {
        why_ = "losetup: " + out;
      }
    } else {
      why_ = "losetup could not be run";
    }
  }
  ~LoopDevice() {
    if (!path_.empty()) {
      const std::string command = "losetup -d " + path_;
      if (std::system(command.c_str()) != 0) ADD_FAILURE() << "could not detach " << path_;
    }
  }
  const std::string& path() const { return path_; }
  const std::string& why() const { return why_; }

 private:
  std::string path_;
  std::string why_;
};

void ReadsLoopDevice(int sectorSize) {
  TempDir dir;
  const fs::path file = dir / "backing.img";
  WriteFile(file, PatternBytes(0, 2048));  // 1 MiB
  LoopDevice loop(file, sectorSize);
  if (loop.path().empty()) GTEST_SKIP() << loop.why();

  Geometry geometry;
  ASSERT_TRUE(QueryGeometry(loop.path(), geometry));
  EXPECT_EQ(geometry.bytesPerSector, static_cast<std::uint32_t>(sectorSize));
  DriveParams params;
  ASSERT_TRUE(GetPhysicalDriveParams(loop.path(), params));
  EXPECT_EQ(params.totalSectors, 2048u);  // 512-byte units whatever the device's own
  EXPECT_EQ(params.bytesPerSector, sectorSize);

  DataSource source;
  source.SourceChosen = true;
  source.SourcePath = loop.path();
  source.SectorLimit = params.totalSectors;
  SectorReader reader(source);
  std::vector<std::uint8_t> memory(17 * kSectorSize, 0xEE);
  const MutableBytes buffer = std::span(memory).first(16 * kSectorSize);
  ASSERT_TRUE(reader.ReadSectors(16, buffer, 3));  // not on a 4096-byte boundary
  EXPECT_EQ(std::vector(buffer.begin(), buffer.end()), PatternBytes(3, 16));
  ASSERT_TRUE(reader.ReadSectors(16, buffer, 2040));  // shortened to the device's end
  EXPECT_EQ(std::vector(buffer.begin(), buffer.begin() + 8 * kSectorSize), PatternBytes(2040, 8));
  EXPECT_TRUE(std::all_of(memory.begin() + 16 * kSectorSize, memory.end(),
                          [](std::uint8_t b) { return b == 0xEE; }));
  EXPECT_EQ(reader.PathDeviceSectorSize(), static_cast<std::uint32_t>(sectorSize));
}

TEST(LoopDeviceTest, Reads512ByteSectorLoopDevice) { ReadsLoopDevice(512); }
TEST(LoopDeviceTest, Reads4096ByteSectorLoopDeviceIn512ByteUnits) { ReadsLoopDevice(4096); }

}  // namespace
}  // namespace ravelin
