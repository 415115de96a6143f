// The ground-truth derivation (which pages a layout loses, splits or leaves partial), the
// manifest's JSON form, and the digest that names the originals.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "gen/manifest.h"
#include "gen/sha256.h"
#include "support/image_fixtures.h"

namespace ravelin::gen {
namespace {

Manifest OneFile(std::int64_t pages) {
  Manifest m;
  m.files.push_back({"f", "target", pages, 1, "", ""});
  return m;
}

TEST(Sha256, MatchesKnownDigestsAcrossBlockBoundaries) {
  const std::string abc = "abc";
  EXPECT_EQ(Sha256Hex(ByteView(reinterpret_cast<const std::uint8_t*>(abc.data()), abc.size())),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Sha256Hex({}), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  // 1,000,000 'a' fed in uneven pieces: the padding and carry-over across updates.
  Sha256 sha;
  const std::string piece(997, 'a');
  std::size_t fed = 0;
  while (fed < 1000000) {
    const std::size_t n = std::min<std::size_t>(piece.size(), 1000000 - fed);
    sha.Update(ByteView(reinterpret_cast<const std::uint8_t*>(piece.data()), n));
    fed += n;
  }
  EXPECT_EQ(sha.FinishHex(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(DescribeFileLayout, ListsLostRangesAndPartialPages) {
  Manifest m = OneFile(10);
  // Sectors 0-39 (pages 0, 1 and half of 2), then 96-159 (pages 6-9): pages 3-5 lost.
  DescribeFileLayout(m, 0, {{96, 64, 5000}, {0, 40, 100}});
  ASSERT_EQ(m.fragments.size(), 2u);
  const auto fragments = m.FragmentsOf(0);
  EXPECT_EQ(fragments[0].pageCount, 3);
  EXPECT_EQ(fragments[1].firstPage, 6);
  EXPECT_EQ(fragments[1].startSector, 5000u);
  ASSERT_EQ(m.lostPages.size(), 1u);
  EXPECT_EQ(m.lostPages[0].firstPage, 3);
  EXPECT_EQ(m.lostPages[0].pageCount, 3);
  ASSERT_EQ(m.damagedPages.size(), 1u);
  EXPECT_EQ(m.damagedPages[0].page, 2);
  EXPECT_EQ(m.damagedPages[0].reason, "partial");
  EXPECT_TRUE(m.splitPages.empty());
}

TEST(DescribeFileLayout, TailIsBeforeNextPageOnlyWhenItEndsRightThere) {
  // Page 1 is cut after 4 sectors; the rest of the file follows elsewhere, starting with
  // page 1's 12 tail sectors: the repairable shape.
  Manifest a = OneFile(4);
  DescribeFileLayout(a, 0, {{0, 20, 0}, {20, 44, 1000}});
  ASSERT_EQ(a.splitPages.size(), 1u);
  EXPECT_EQ(a.splitPages[0].page, 1);
  EXPECT_EQ(a.splitPages[0].headSector, 16u);
  EXPECT_EQ(a.splitPages[0].headSectors, 4u);
  EXPECT_TRUE(a.splitPages[0].tailBeforeNextPage);
  EXPECT_TRUE(a.damagedPages.empty());
  EXPECT_EQ(a.FragmentsOf(0)[1].startSector, 1012u);

  // The tail on its own, away from page 2.
  Manifest b = OneFile(4);
  DescribeFileLayout(b, 0, {{0, 20, 0}, {20, 12, 500}, {32, 32, 1000}});
  ASSERT_EQ(b.splitPages.size(), 1u);
  EXPECT_FALSE(b.splitPages[0].tailBeforeNextPage);
  ASSERT_EQ(b.damagedPages.size(), 1u);
  EXPECT_EQ(b.damagedPages[0].reason, "split");
  EXPECT_EQ(b.FragmentsOf(0)[1].pageCount, 0) << "a tail alone holds no page header";

  // Tail in two pieces that happen to lie back to back before page 2: still repairable.
  Manifest c = OneFile(4);
  DescribeFileLayout(c, 0, {{0, 20, 0}, {20, 4, 996}, {24, 40, 1000}});
  ASSERT_EQ(c.splitPages.size(), 1u);
  EXPECT_TRUE(c.splitPages[0].tailBeforeNextPage);

  // The last page of the file has no next page for its tail to precede.
  Manifest d = OneFile(2);
  DescribeFileLayout(d, 0, {{0, 24, 0}, {24, 8, 1000}});
  ASSERT_EQ(d.splitPages.size(), 1u);
  EXPECT_FALSE(d.splitPages[0].tailBeforeNextPage);
}

TEST(MarkUnreadable, DamagesOnlyPagesThatHoldTheSector) {
  Manifest m = OneFile(4);
  DescribeFileLayout(m, 0, {{0, 64, 1000}});
  MarkUnreadable(m, {1017, 5, 1017});  // page 1's second sector, and a sector of no file
  EXPECT_EQ(m.unreadableSectors, (std::vector<std::uint64_t>{5, 1017}));
  ASSERT_EQ(m.damagedPages.size(), 1u);
  EXPECT_EQ(m.damagedPages[0].page, 1);
  EXPECT_EQ(m.damagedPages[0].reason, "unreadable");
}

TEST(ManifestJson, RoundTripsEveryField) {
  Manifest m = OneFile(4);
  m.kind = "disk";
  m.seed = 0xFFFFFFFFFFFFFFFFull;  // survives as an unsigned 64-bit number
  m.totalSectors = 1ull << 40;
  m.sectorsPerCluster = 8;
  m.files[0].sha256 = "ab";
  PartitionInfo p;
  p.startSector = 2048;
  p.fileSystem = "FAT32";
  p.mbrType = 0x0C;
  p.reservedSectors = 32;
  p.sectorsPerFat = 1000;
  p.fatCount = 2;
  p.dataStartSector = 2032;
  m.partition = p;
  p.number = 2;
  m.partition = p;
  m.partitionTable = "gpt";
  m.partitions.push_back({1, 2048, 4096, "0FC63DAF-8483-4772-8E79-3D69D8477DE4", "", false});
  m.partitions.push_back({2, 8192, 70000, "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "FAT32", true});
  m.files[0].headerLsn = "00000021:00000108:0001";
  DescribeFileLayout(m, 0, {{0, 20, 0}, {20, 12, 500}});
  m.splitPages[0].nextPageZero = true;
  m.noise.push_back({7, 9, "random"});
  m.liveFiles.push_back({"DECOY001.BIN", {{0, 8, 4096}}, 2});
  m.hardCases.push_back({"detached-tail", 0, 1, 1, 500, -1});
  MarkUnreadable(m, {3});

  Manifest back;
  ASSERT_TRUE(ManifestFromJson(ManifestToJson(m), back).ok());
  EXPECT_EQ(ManifestToJson(back), ManifestToJson(m));
  EXPECT_EQ(back.seed, m.seed);
  EXPECT_EQ(back.partition->dataStartSector, 2032u);
  EXPECT_EQ(back.liveFiles[0].extents[0].diskSector, 4096u);
  EXPECT_EQ(back.splitPages[0].tailSector, std::optional<std::uint64_t>(500));
  EXPECT_EQ(back.partitions[1].number, 2);
  EXPECT_EQ(back.files[0].headerLsn, "00000021:00000108:0001");
  EXPECT_NE(ManifestToJson(m).find("\"unrecoverable_pages\""), std::string::npos);

  // A manifest written before the partition table, hard cases and tail sectors were
  // recorded still reads.
  nlohmann::json old = nlohmann::json::parse(ManifestToJson(m));
  for (const char* key : {"partition_table", "partitions", "hard_cases"}) old.erase(key);
  old["split_pages"][0].erase("tail_sector");
  old["files"][0].erase("header_lsn");
  ASSERT_TRUE(ManifestFromJson(old.dump(), back).ok());
  EXPECT_FALSE(back.splitPages[0].tailSector.has_value());

  EXPECT_EQ(ManifestFromJson("{\"kind\": 1}", back).code(), StatusCode::kBadInput);
  EXPECT_EQ(ManifestFromJson("not json", back).code(), StatusCode::kBadInput);
  std::string badFile = ManifestToJson(m);
  badFile.replace(badFile.find("\"file\": 0"), 9, "\"file\": 7");
  EXPECT_EQ(ManifestFromJson(badFile, back).code(), StatusCode::kBadInput);
}

// What a test may ignore when it compares a rebuilt file with the original: lost ranges,
// partial, split and unreadable pages of that file, merged; nothing of another file.
TEST(Manifest, UnrecoverablePagesMergeLostAndDamagedPagesOfOneFile) {
  Manifest m = OneFile(20);
  m.files.push_back({"g", "target", 20, 1, "", ""});
  m.lostPages = {{0, 3, 2}, {0, 10, 4}, {1, 0, 20}};
  m.damagedPages = {{0, 5, "partial"}, {0, 12, "unreadable"}, {0, 15, "split"}, {1, 7, "split"}};
  const auto ranges = m.UnrecoverablePages(0);
  std::vector<std::pair<std::int64_t, std::int64_t>> got;
  for (const PageRange& r : ranges) got.emplace_back(r.firstPage, r.pageCount);
  EXPECT_EQ(got, (std::vector<std::pair<std::int64_t, std::int64_t>>{{3, 3}, {10, 4}, {15, 1}}));
  EXPECT_EQ(m.TargetFiles(), (std::vector<int>{0, 1}));
  EXPECT_EQ(m.TargetFile(), 0);
}

}  // namespace
}  // namespace ravelin::gen
