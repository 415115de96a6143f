// Whole-disk images on the command line: the image kind read from sector 0, the partitions
// `sources --image` lists, and `--partition N`, which must find what a scan of the
// partition cut out of the image finds, at sectors shifted by the partition's start.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/commands.h"
#include "gen/fs_mbr.h"
#include "gen/fs_tools.h"
#include "support/cli_fixture.h"
#include "support/image_fixtures.h"

namespace ravelin::cli {
namespace {

class PartitionCommandTest : public test::CliFixture {
 protected:
  PartitionCommandTest() {
    WithoutDisks(dir_.File(""));  // SOURCE is an image file
  }
  // Sectors [start, start + count) of `image` as a file of their own.
  std::string CutOut(const std::string& image, std::uint64_t start, std::uint64_t count) {
    const std::string path = dir_.File("part.img");
    std::ifstream in(image, std::ios::binary);
    std::ofstream out(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(start * 512));
    std::vector<char> buffer(1 << 20);
    for (std::uint64_t left = count * 512; left > 0;) {
      const auto n = static_cast<std::streamsize>(std::min<std::uint64_t>(left, buffer.size()));
      in.read(buffer.data(), n);
      out.write(buffer.data(), n);
      left -= static_cast<std::uint64_t>(n);
    }
    return path;
  }
  // start_sector of every fragment of a scan's JSON, less `shift`.
  static std::vector<std::uint64_t> Starts(const std::string& json, std::uint64_t shift) {
    std::vector<std::uint64_t> starts;
    const auto doc = nlohmann::json::parse(json);
    for (const auto& row : doc["fragments"])
      starts.push_back(row["start_sector"].get<std::uint64_t>() - shift);
    return starts;
  }

  test::ScratchDir dir_;
};

TEST_F(PartitionCommandTest, PartitionOfAnMbrOrGptImageScansLikeThePartitionCutOutOfIt) {
  RAVELIN_REQUIRE_TOOLS_OR_SKIP("sfdisk", "mkfs.vfat", "mcopy", "mdel", "mshowfat", "fsck.vfat");
  test::GeneratedDatabase db(80, 7);
  for (const auto table : {gen::PartitionTableKind::kMbr, gen::PartitionTableKind::kGpt}) {
    const bool gpt = table == gen::PartitionTableKind::kGpt;
    SCOPED_TRACE(gpt ? "gpt" : "mbr");
    gen::DiskImageOptions options;
    options.table = table;
    options.partitionsBefore = {{false, 0}};  // the database's partition is number 2
    options.fat32.sectorsPerCluster = 8;
    const std::string image = dir_.File(gpt ? "gpt.img" : "mbr.img");
    gen::Manifest manifest;
    const gen::Status built = gen::BuildDiskImage(db, options, image, manifest);
    ASSERT_TRUE(built.ok()) << built.message();
    const gen::PartitionInfo& p = *manifest.partition;
    ASSERT_EQ(p.number, 2);

    ASSERT_EQ(Run({"sources", "--image", image, "--json"}), kExitOk) << err_.str();
    const auto listed = nlohmann::json::parse(out_.str());
    EXPECT_EQ(listed["partition_table"], gpt ? "gpt" : "dos");
    ASSERT_EQ(listed["partitions"].size(), 2u);
    EXPECT_EQ(listed["partitions"][1]["number"], 2);
    EXPECT_EQ(listed["partitions"][1]["start_sector"], p.startSector);
    EXPECT_EQ(listed["partitions"][1]["file_system"], "vfat");

    ASSERT_EQ(Run({"scan", image, "--partition", "2", "--json"}), kExitOk) << err_.str();
    const std::vector<std::uint64_t> fromDisk = Starts(out_.str(), p.startSector);
    ASSERT_FALSE(fromDisk.empty()) << err_.str() << out_.str();
    const std::string part = CutOut(image, p.startSector, p.sectorCount);
    ASSERT_EQ(Run({"scan", part, "--json"}), kExitOk) << err_.str();
    EXPECT_NE(err_.str().find("partition image (FAT32 boot sector"), std::string::npos)
        << err_.str();
    EXPECT_EQ(fromDisk, Starts(out_.str(), 0));

    // The disk given as it is: scanned part by part, the database's rows as the partition's
    // scan finds them, each said to be found there; saved, it recovers the same file as
    // the partition does.
    ASSERT_EQ(Run({"scan", image, "--json"}), kExitOk) << err_.str();
    EXPECT_EQ(Starts(out_.str(), p.startSector), fromDisk);
    const auto whole = nlohmann::json::parse(out_.str());
    for (const auto& row : whole["fragments"]) EXPECT_EQ(row["found_in"], "partition 2");
    const std::string rows = dir_.File(gpt ? "gpt.rows" : "mbr.rows");
    const std::string content = dir_.File(gpt ? "gpt.content" : "mbr.content");
    ASSERT_EQ(Run({"scan", image, "--rows", rows, "--content", content}), kExitOk) << err_.str();
    const std::string saved = dir_.File(gpt ? "gpt-saved" : "mbr-saved");
    const std::string live = dir_.File(gpt ? "gpt-live" : "mbr-live");
    ASSERT_EQ(Run({"recover", "--rows", rows, "--content", content, "--out-dir", saved}), kExitOk)
        << out_.str() << err_.str();
    ASSERT_EQ(Run({"recover", image, "--partition", "2", "--out-dir", live}), kExitOk);
    EXPECT_TRUE(test::FilesEqual(saved + "/shop.mdf", live + "/shop.mdf"));

    ASSERT_EQ(Run({"source-info", image, "--partition", "2", "--json"}), kExitOk);
    const auto info = nlohmann::json::parse(out_.str());
    EXPECT_EQ(info["source"]["file_system_name"], "FAT32");
    EXPECT_TRUE(info["options"]["free_space_only"].get<bool>());
    EXPECT_EQ(info["options"]["begin"],
              std::to_string(p.startSector + info["source"]["data_start_sector"].get<int>()));

    EXPECT_EQ(Run({"source-info", image}), kExitOk);
    EXPECT_NE(err_.str().find(gpt ? "whole-disk image (GPT" : "whole-disk image (MBR"),
              std::string::npos)
        << err_.str();
    EXPECT_EQ(Run({"scan", image, "--partition-image"}), kExitBadSource);
    EXPECT_NE(err_.str().find("--partition N"), std::string::npos) << err_.str();
    EXPECT_EQ(Run({"scan", image, "--partition", "3"}), kExitBadSource);
  }
}

// A whole disk recovered as given gives the file the partition's own recovery gives, and
// the original, whatever the table and the file system inside.
TEST_F(PartitionCommandTest, WholeDiskRecoveredAsGivenEqualsItsPartitionAndTheOriginal) {
  RAVELIN_REQUIRE_TOOLS_OR_SKIP("sfdisk");
  test::GeneratedDatabase db(300, 11);
  for (const auto table : {gen::PartitionTableKind::kMbr, gen::PartitionTableKind::kGpt}) {
    for (const char* fileSystem : {"fat32", "ntfs"}) {
      const std::string name =
          std::string(table == gen::PartitionTableKind::kGpt ? "gpt-" : "mbr-") + fileSystem;
      SCOPED_TRACE(name);
      gen::DiskImageOptions options;
      options.table = table;
      options.fileSystem = fileSystem;
      options.partitionsBefore = {{false, 0}};  // raw, unformatted: scanned raw
      options.fat32.sectorsPerCluster = options.ntfs.sectorsPerCluster = 8;
      const std::string image = dir_.File(name + ".img");
      gen::Manifest manifest;
      ASSERT_TRUE(gen::BuildDiskImage(db, options, image, manifest).ok());
      const std::string whole = dir_.File(name + "-whole");
      const std::string part = dir_.File(name + "-part");
      ASSERT_EQ(Run({"recover", image, "--out-dir", whole}), kExitOk) << out_.str() << err_.str();
      EXPECT_NE(out_.str().find("found in: partition 2"), std::string::npos) << out_.str();
      ASSERT_EQ(Run({"recover", image, "--partition", "2", "--out-dir", part}), kExitOk);
      EXPECT_TRUE(test::FilesEqual(whole + "/shop.mdf", part + "/shop.mdf"));
      EXPECT_EQ(test::FileSha256(whole + "/shop.mdf"),
                manifest.files[static_cast<std::size_t>(manifest.TargetFile())].sha256);
    }
  }
}

}  // namespace
}  // namespace ravelin::cli
