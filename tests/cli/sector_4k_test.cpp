// Volumes with 4096-byte logical sectors, made by the real tools (mkfs.vfat -S 4096, mkntfs
// -s 4096) at several cluster sizes: the free-space map must agree with what the tools say
// is free, and a real database copied in fragments and then deleted must come back byte for
// byte, from the volume as a partition image and from inside a GPT or MBR disk image whose
// table counts 4096-byte blocks.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>

#include "cli/commands.h"
#include "datasource/file_system.h"
#include "datasource/free_space_map.h"
#include "gen/fs_tools.h"
#include "support/cli_fixture.h"
#include "support/image_fixtures.h"
#include "support/real_files.h"
#include "support/recording_reporter.h"

namespace ravelin::cli {
namespace {

constexpr char kDatabase[] = "checksum-2005.mdf";
constexpr std::uint64_t kBlock = 4096;
constexpr std::uint64_t kPartitionStartBlock = 256;

struct Volume {
  const char* fileSystem;  // "FAT32" or "NTFS"
  std::uint64_t clusterBytes;
  std::uint64_t megabytes;
  bool gpt;  // the disk image around it: GPT, else MBR
};

std::uint64_t NumberAfter(const std::string& text, const std::string& pattern) {
  std::smatch m;
  if (!std::regex_search(text, m, std::regex(pattern))) return 0;
  std::string digits;
  for (char c : m[1].str())
    if (c >= '0' && c <= '9') digits += c;
  return digits.empty() ? 0 : std::stoull(digits);
}

class Sector4kTest : public test::CliFixture {
 protected:
  Sector4kTest() { WithoutDisks(dir_.File("")); }

  gen::ToolResult Tool(const std::vector<std::string>& argv) {
    gen::ToolResult r;
    const gen::Status s = gen::RunToolChecked(argv, &r);
    EXPECT_TRUE(s.ok()) << argv[0] << ": " << s.message();
    return r;
  }

  // FAT32: fillers with every other one deleted leave holes; with FSInfo's next-free hint
  // reset, mtools lays the database into them first. Returns the free clusters mdir counts.
  std::uint64_t MakeFat32(const Volume& v, const std::string& image) {
    const std::string spc = std::to_string(v.clusterBytes / kBlock);
    Tool({"mkfs.vfat", "-F", "32", "-S", "4096", "-s", spc, image});
    const std::string filler = dir_.File("filler");
    std::ofstream(filler, std::ios::binary) << std::string(65536, 'f');
    for (int i = 1; i <= 24; ++i) Tool({"mcopy", "-i", image, filler, "::/F" + std::to_string(i)});
    for (int i = 1; i <= 24; i += 2) Tool({"mdel", "-i", image, "::/F" + std::to_string(i)});
    {
      std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
      std::array<std::uint8_t, 512> boot{};
      f.read(reinterpret_cast<char*>(boot.data()), boot.size());
      const std::uint64_t fsInfo = Load16(ByteView(boot), 48) * kBlock;
      const std::uint32_t hint = 2;
      f.seekp(static_cast<std::streamoff>(fsInfo + 492));
      f.write(reinterpret_cast<const char*>(&hint), 4);
    }
    Tool({"mcopy", "-i", image, test::RealFilePath(kDatabase), "::/DB.MDF"});
    const std::string runs = Tool({"mshowfat", "-i", image, "::/DB.MDF"}).out;
    EXPECT_GE(std::count(runs.begin(), runs.end(), '<'), 3) << "not fragmented: " << runs;
    Tool({"mdel", "-i", image, "::/DB.MDF"});
    const std::string dir = Tool({"mdir", "-i", image, "::"}).out;
    return NumberAfter(dir, "([0-9 ]+) bytes free") / v.clusterBytes;
  }

  // NTFS: all but the MFT zone and a little more filled, so the database lands in two
  // places; deleted by truncating it, which frees its clusters and leaves its bytes.
  // Returns the free clusters ntfsinfo counts.
  std::uint64_t MakeNtfs(const Volume& v, const std::string& image) {
    Tool({"mkntfs", "-F", "-Q", "-q", "-s", "4096", "-c", std::to_string(v.clusterBytes), image});
    const std::string one = dir_.File("one");
    std::ofstream(one, std::ios::binary) << "x";
    Tool({"ntfscp", "-q", image, one, "BIG"});
    std::string info = Tool({"ntfsinfo", "-m", image}).out;
    const std::uint64_t free = NumberAfter(info, "Free Clusters: *([0-9]+)");
    const std::uint64_t zone = NumberAfter(info, "MFT Zone End: *([0-9]+)");
    const std::uint64_t dbClusters =
        (std::filesystem::file_size(test::RealFilePath(kDatabase)) + v.clusterBytes - 1) /
        v.clusterBytes;
    EXPECT_GT(free, zone + dbClusters);
    Tool({"ntfsfallocate", "-l", std::to_string((free - zone - dbClusters / 2) * v.clusterBytes),
          image, "BIG"});
    Tool({"ntfscp", "-q", image, test::RealFilePath(kDatabase), "DB.MDF"});
    const std::string runs = Tool({"ntfsinfo", "-v", "-F", "/DB.MDF", image}).out;
    EXPECT_GE(NumberAfter(runs, "fragments: ([0-9]+)"), 2u) << runs;
    const std::string listing = Tool({"ntfsls", "-i", image}).out;
    Tool({"ntfstruncate", image, std::to_string(NumberAfter(listing, "([0-9]+) DB\\.MDF")), "0"});
    info = Tool({"ntfsinfo", "-m", image}).out;
    return NumberAfter(info, "Free Clusters: *([0-9]+)");
  }

  // Free clusters of the volume by the program's own map.
  std::uint64_t MapFreeClusters(const std::string& image) {
    DataSource source;
    source.SourceChosen = true;
    source.SourcePath = image;
    source.TotalSectors = std::filesystem::file_size(image) / kSectorSize;
    source.SectorLimit = source.TotalSectors;
    source.HasFileSystem = true;
    SectorReader reader(source);
    test::RecordingReporter reporter;
    EXPECT_EQ(DetectFileSystem(source, reader, reporter), 0);
    std::array<std::uint8_t, kSectorSize> sector0{};
    EXPECT_TRUE(reader.ReadSectors(1, sector0, 0));
    const BootSectorInfo boot = ParseBootSector(sector0);
    FreeSpaceMap map;
    EXPECT_EQ(map.BuildFreeSpaceMap(source, reader, reporter), 0);
    const auto spc = static_cast<std::uint64_t>(boot.sectorsPerCluster);
    const bool fat = boot.fileSystemName == kFileSystemFat32;
    const std::uint64_t first = fat ? boot.dataStartSector : 0;
    const std::uint64_t clusters = (boot.fileSystemSectors - first) / spc;
    std::uint64_t free = 0;
    for (std::uint64_t c = 0; c < clusters; ++c)
      free += map.IsClusterInUse(first + c * spc) ? 0 : 1;
    return free;
  }

  // The one .mdf `recover` wrote into `folder`, byte for byte against `original`.
  void ExpectRecovered(const std::string& folder, const std::vector<std::uint8_t>& original) {
    std::vector<std::filesystem::path> written;
    for (const auto& e : std::filesystem::directory_iterator(folder)) written.push_back(e.path());
    ASSERT_EQ(written.size(), 1u) << err_.str();
    std::ifstream in(written[0], std::ios::binary);
    const std::vector<std::uint8_t> got((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(got.size(), original.size());
    EXPECT_TRUE(got == original) << "the rebuilt file differs from " << kDatabase;
  }

  test::ScratchDir dir_;
};

TEST_F(Sector4kTest, VolumesWith4096ByteSectorsMapTheirFreeSpaceAndRecoverByteForByte) {
  RAVELIN_REQUIRE_TOOLS_OR_SKIP("mkfs.vfat", "mcopy", "mdel", "mshowfat", "mdir", "mkntfs",
                                "ntfscp", "ntfsinfo", "ntfsls", "ntfstruncate", "ntfsfallocate",
                                "fdisk");
  RAVELIN_LOAD_REAL_OR_SKIP(original, kDatabase);
  // FAT32 needs 65525 clusters before mtools takes it for FAT32.
  const Volume volumes[] = {{"FAT32", 4096, 272, true},
                            {"FAT32", 8192, 544, false},
                            {"NTFS", 4096, 48, false},
                            {"NTFS", 16384, 48, true},
                            {"NTFS", 65536, 96, false}};
  for (const Volume& v : volumes) {
    SCOPED_TRACE(std::string(v.fileSystem) + " " + std::to_string(v.clusterBytes));
    const std::string image = dir_.File("vol.img");
    std::filesystem::remove(image);
    std::ofstream(image, std::ios::binary).close();
    std::filesystem::resize_file(image, v.megabytes << 20);
    const bool fat = std::string(v.fileSystem) == "FAT32";
    const std::uint64_t toolFree = fat ? MakeFat32(v, image) : MakeNtfs(v, image);
    if (toolFree == 0) continue;  // the tools failed; said above
    EXPECT_EQ(MapFreeClusters(image), toolFree);

    ASSERT_EQ(Run({"source-info", image, "--json"}), kExitOk) << err_.str();
    EXPECT_EQ(nlohmann::json::parse(out_.str())["source"]["sectors_per_cluster"],
              v.clusterBytes / 512);

    const std::string out1 =
        dir_.File(std::string("p-") + v.fileSystem + std::to_string(v.clusterBytes));
    std::filesystem::create_directories(out1);
    ASSERT_EQ(Run({"recover", image, "--partition-image", "--out-dir", out1}), kExitOk)
        << err_.str();
    ExpectRecovered(out1, original.Bytes());

    // The same volume as partition 1 of a disk whose table counts 4096-byte blocks.
    const std::string disk = dir_.File("disk.img");
    std::filesystem::remove(disk);
    std::ofstream(disk, std::ios::binary).close();
    const std::uint64_t volumeBytes = std::filesystem::file_size(image);
    std::filesystem::resize_file(disk, volumeBytes + (kPartitionStartBlock + 64) * kBlock);
    const std::string range = std::to_string(kPartitionStartBlock) + "\n+" +
                              std::to_string(volumeBytes / kBlock - 1) + "\nt\n";
    gen::ToolResult fdisk =
        gen::RunTool({"fdisk", "-b", "4096", disk},
                     v.gpt ? "g\nn\n1\n" + range + "11\nw\n"
                           : "o\nn\np\n1\n" + range + (fat ? "c" : "7") + "\nw\n");
    ASSERT_EQ(fdisk.exitCode, 0) << fdisk.err;
    {
      std::ifstream in(image, std::ios::binary);
      std::fstream out(disk, std::ios::in | std::ios::out | std::ios::binary);
      out.seekp(static_cast<std::streamoff>(kPartitionStartBlock * kBlock));
      out << in.rdbuf();
    }
    ASSERT_EQ(Run({"sources", "--image", disk, "--json"}), kExitOk) << err_.str();
    const auto listed = nlohmann::json::parse(out_.str());
    EXPECT_EQ(listed["partition_table"], v.gpt ? "gpt" : "dos");
    EXPECT_EQ(listed["partitions"][0]["start_sector"], kPartitionStartBlock * 8);
    const std::string out2 = out1 + "-disk";
    std::filesystem::create_directories(out2);
    ASSERT_EQ(Run({"recover", disk, "--partition", "1", "--out-dir", out2}), kExitOk) << err_.str();
    ExpectRecovered(out2, original.Bytes());
    // And as a person gives it: the disk, with no options at all.
    const std::string out3 = out1 + "-as-given";
    ASSERT_EQ(Run({"recover", disk, "--out-dir", out3}), kExitOk) << err_.str();
    ExpectRecovered(out3, original.Bytes());
  }
}

}  // namespace
}  // namespace ravelin::cli
