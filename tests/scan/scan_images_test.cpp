// Scans of generated raw images: the fragments found match the image's ground truth, and the
// scan with read-ahead finds exactly what the one-window scan finds, on every cluster size,
// with noise, decoys and unreadable sectors.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <set>

#include "commands/datasource_menu.h"
#include "commands/scan_commands.h"
#include "datasource/fault_device.h"
#include "gen/database_generator.h"
#include "gen/fs_fat32.h"
#include "gen/fs_ntfs.h"
#include "gen/image_raw.h"
#include "page/page_format.h"
#include "scan/scan_engine.h"
#include "support/image_fixtures.h"
#include "support/scripted_ui.h"
#include "workspace/workspace.h"

namespace ravelin {
namespace {

struct ImageScan {
  std::vector<std::string> rows;
  std::vector<std::string> log;  // Memo1 without the time-stamped start and end lines
};

// Scans `image` from 0 to its end with `step`, through a reader that refuses `unreadable`.
ImageScan ScanImage(const std::string& image, const std::vector<std::uint64_t>& unreadable,
                    std::int64_t step, bool readAhead) {
  const std::set<std::uint64_t> bad(unreadable.begin(), unreadable.end());
  DeviceOpener opener = [bad](const std::string& path) {
    OpenResult r = OpenSystemDevice(path);
    if (r.device && !bad.empty())
      r.device = std::make_unique<FaultyDevice>(std::move(r.device), bad);
    return r;
  };
  test::ScriptedUi ui;
  Workspace ws(ui, opener);
  std::uint64_t size = 0;
  {
    OpenResult r = OpenSystemDevice(image);
    size = r.device ? r.device->SizeBytes() / kSectorSize : 0;
  }
  ws.source().SourceChosen = true;
  ws.source().SourcePath = image;
  ws.source().TotalSectors = size;
  ws.source().SectorLimit = size;
  ws.controls().tab1.edtbegin = "0";
  ws.controls().tab1.edtend = std::to_string(size);
  ws.controls().tab1.edtsecs = std::to_string(step);
  ws.controls().tab1.chkfreespace = false;
  ws.ScanStopped() = false;
  ScanDataSource(ws, readAhead);
  ImageScan result;
  for (const auto& row : ws.fragments().Rows()) result.rows.push_back(row.Text());
  for (const auto& line : ui.MemoLines(Memo::kMemo1))
    if (line.rfind("开始扫描", 0) != 0 && line.rfind("完成", 0) != 0) result.log.push_back(line);
  return result;
}

class ScanImagesTest : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(ScanImagesTest, ReadAheadFindsWhatTheOneWindowScanFinds) {
  const std::uint32_t cluster = GetParam();
  test::ScratchDir dir;
  gen::DatabaseSpec design;
  design.pageCount = 1200;
  design.seed = 11 + cluster;
  gen::DatabaseGenerator target(design);
  design.generation = 1;
  gen::DatabaseGenerator newer(design);
  gen::DatabaseSpec other;
  other.pageCount = 120;
  other.seed = 99;
  other.logicalName = "other";
  gen::DatabaseGenerator otherDb(other);
  other.fileId = 3;
  gen::DatabaseGenerator otherId(other);

  gen::RawImageOptions options;
  options.seed = cluster;
  options.sectorsPerCluster = cluster;
  options.fragments = 10;
  options.splitPages = cluster < 16 ? 3 : 0;
  options.detachedTails = cluster < 16 ? 1 : 0;
  options.staleRuns = 3;
  options.otherDatabaseRuns = 2;
  options.otherFileIdRuns = 2;
  options.unreadableSectors = 6;
  options.maxGapClusters = std::max(2u, 256u / cluster);
  gen::DecoySources decoys{&target, &newer, &otherDb, &otherId};
  gen::Manifest manifest;
  const std::string image = dir.File("raw.img");
  const auto status = gen::BuildRawImage(newer, decoys, options, image, manifest);
  ASSERT_TRUE(status.ok()) << status.message();

  for (std::int64_t step : {std::int64_t{1}, std::int64_t{cluster}}) {
    const ImageScan oneWindow = ScanImage(image, manifest.unreadableSectors, step, false);
    const ImageScan readAhead = ScanImage(image, manifest.unreadableSectors, step, true);
    EXPECT_EQ(readAhead.rows, oneWindow.rows) << "cluster " << cluster << ", step " << step;
    EXPECT_EQ(readAhead.log, oneWindow.log) << "cluster " << cluster << ", step " << step;
    EXPECT_FALSE(oneWindow.rows.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(EveryClusterSize, ScanImagesTest,
                         ::testing::Values(1u, 2u, 4u, 8u, 16u, 32u, 64u, 128u));

TEST(ScanImagesTest, EveryFragmentOfTheTargetIsFoundWhereTheManifestSays) {
  test::ScratchDir dir;
  gen::DatabaseSpec design;
  design.pageCount = 2500;
  design.seed = 5;
  gen::DatabaseGenerator target(design);
  gen::RawImageOptions options;
  options.seed = 5;
  options.sectorsPerCluster = 16;
  options.fragments = 10;
  gen::Manifest manifest;
  const std::string image = dir.File("raw.img");
  ASSERT_TRUE(gen::BuildRawImage(target, {}, options, image, manifest).ok());

  const ImageScan found = ScanImage(image, {}, 16, true);
  const int file = manifest.TargetFile();
  for (const auto& fragment : manifest.FragmentsOf(file)) {
    // The first page of the extent that carries a header (free pages may be all zeros).
    std::int64_t page = fragment.firstPage;
    while (page >= 0 && page < fragment.firstPage + fragment.pageCount && target.Truth(page).zero)
      ++page;
    if (page < 0 || page >= fragment.firstPage + fragment.pageCount) continue;
    const std::uint64_t sector = fragment.startSector + 16 * (page - fragment.firstPage);
    // Some row holds that page at that sector; it may have been merged into a neighbour that
    // continues its numbering after a short gap.
    bool seen = false;
    for (const auto& row : found.rows) {
      const std::int64_t start = std::stoll(GetField(row, 5));
      const std::int64_t end = std::stoll(GetField(row, 6));
      if (start <= page && page < end &&
          std::stoull(GetField(row, 2)) + 16 * (page - start) == sector)
        seen = true;
    }
    EXPECT_TRUE(seen) << "page " << page << " at sector " << sector << " not found";
  }
}

}  // namespace
}  // namespace ravelin

namespace ravelin {
namespace {

// A partition image with a deleted (FAT32) or free-space (NTFS) database and live files
// holding an older copy of it and another database: a free-space-only scan must find the
// deleted database's pages and nothing that lies in a live file.
class FreeSpaceScanTest : public ::testing::TestWithParam<std::string> {};

TEST_P(FreeSpaceScanTest, FindsTheDeletedDatabaseAndNothingFromLiveFiles) {
  const bool fat32 = GetParam() == "FAT32";
  if (fat32) {
    RAVELIN_REQUIRE_TOOLS_OR_SKIP("mkfs.vfat", "mcopy", "mdel", "mshowfat");
  } else {
    RAVELIN_REQUIRE_TOOLS_OR_SKIP("mkntfs", "ntfscp", "ntfscat", "ntfsinfo");
  }
  test::ScratchDir dir;
  gen::DatabaseSpec design;
  design.pageCount = 300;
  design.seed = 3;
  design.generation = 1;
  gen::DatabaseGenerator target(design);
  design.generation = 0;
  gen::DatabaseGenerator older(design);
  gen::DatabaseSpec otherSpec;
  otherSpec.pageCount = 80;
  otherSpec.seed = 8;
  otherSpec.logicalName = "other";
  gen::DatabaseGenerator other(otherSpec);

  gen::Manifest manifest;
  const std::string image = dir.File("part.img");
  gen::Status status;
  if (fat32) {
    gen::Fat32ImageOptions o;
    o.sectorsPerCluster = 4;
    o.decoys.count = 6;
    o.decoys.olderCopy = &older;
    o.decoys.otherDatabase = &other;
    status = gen::BuildFat32Image(target, o, image, manifest);
  } else {
    gen::NtfsImageOptions o;
    o.sectorsPerCluster = 8;
    o.decoys.count = 4;
    o.decoys.olderCopy = &older;
    o.decoys.otherDatabase = &other;
    status = gen::BuildNtfsImage(target, o, image, manifest);
  }
  ASSERT_TRUE(status.ok()) << status.message();

  test::ScriptedUi ui;
  Workspace ws(ui);
  ui.yesNoAnswers.push_back(true);  // a partition image
  ASSERT_EQ(ChooseImageFile(ws, image), Selection::kChosen);
  ASSERT_EQ(ws.source().FileSystemName, GetParam());
  ASSERT_TRUE(ws.controls().tab1.chkfreespace);
  ws.ScanStopped() = false;
  ASSERT_EQ(ScanDataSource(ws).outcome, JobOutcome::kCompleted);

  auto inExtents = [](std::uint64_t sector, const std::vector<gen::FileExtent>& extents) {
    for (const auto& e : extents)
      if (sector >= e.diskSector && sector < e.diskSector + e.sectorCount) return true;
    return false;
  };
  std::vector<gen::FileExtent> targetExtents;
  for (const auto& f : manifest.FragmentsOf(manifest.TargetFile()))
    targetExtents.push_back(f.extent);
  std::set<std::int64_t> pagesFound;
  for (const auto& row : ws.fragments().Rows()) {
    for (const auto& live : manifest.liveFiles)
      EXPECT_FALSE(inExtents(row.StartSector, live.extents))
          << "fragment at " << row.StartSector << " lies in live file " << live.name;
    ASSERT_TRUE(inExtents(row.StartSector, targetExtents)) << "fragment at " << row.StartSector;
    for (std::int64_t p = row.StartPage; p < row.EndPage; ++p) pagesFound.insert(p);
  }
  // Every page of the deleted database that has a header lies in some fragment found.
  for (std::int64_t p = 0; p < target.PageCount(); ++p) {
    if (target.Truth(p).zero) continue;
    EXPECT_TRUE(pagesFound.count(p)) << "page " << p << " not found";
  }
}

INSTANTIATE_TEST_SUITE_P(FileSystems, FreeSpaceScanTest, ::testing::Values("FAT32", "NTFS"));

}  // namespace
}  // namespace ravelin

namespace ravelin {
namespace {

// `image` with `sectors` zero sectors in front of it, at `path`.
void WriteShifted(const std::string& image, std::uint64_t sectors, const std::string& path) {
  std::ifstream in(image, std::ios::binary);
  std::ofstream out(path, std::ios::binary);
  const std::vector<char> zeros(sectors * kSectorSize, 0);
  out.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
  out << in.rdbuf();
}

// A row's text with its start and end sectors moved by `delta`.
std::string ShiftRow(const std::string& row, std::uint64_t delta) {
  std::string shifted;
  for (int field = 1; field <= 8; ++field) {
    std::string value = GetField(row, field);
    if (field == 2 || field == 3) value = std::to_string(std::stoull(value) + delta);
    shifted += value + "|";
  }
  return shifted;
}

// The bulk_extractor check: what the scan finds does not depend on where the image starts.
TEST(ScanImagesTest, ShiftedImageGivesTheSameFragmentsShiftedByTheSameSectors) {
  test::ScratchDir dir;
  gen::DatabaseSpec design;
  design.pageCount = 900;
  design.seed = 21;
  gen::DatabaseGenerator target(design);
  design.generation = 1;
  gen::DatabaseGenerator newer(design);
  gen::RawImageOptions options;
  options.seed = 21;
  options.sectorsPerCluster = 8;
  options.fragments = 9;
  options.splitPages = 2;
  options.staleRuns = 2;
  options.unreadableSectors = 4;
  options.maxGapClusters = 40;
  gen::Manifest manifest;
  const std::string image = dir.File("raw.img");
  ASSERT_TRUE(
      gen::BuildRawImage(newer, {&target, nullptr, nullptr, nullptr}, options, image, manifest)
          .ok());
  const ImageScan base = ScanImage(image, manifest.unreadableSectors, 1, true);
  ASSERT_GT(base.rows.size(), 5u);

  for (const std::uint64_t shift : {1u, 7u, 64u}) {
    const std::string shiftedImage = dir.File("shifted" + std::to_string(shift) + ".img");
    WriteShifted(image, shift, shiftedImage);
    std::vector<std::uint64_t> unreadable = manifest.unreadableSectors;
    for (auto& s : unreadable) s += shift;
    const ImageScan shifted = ScanImage(shiftedImage, unreadable, 1, true);
    std::vector<std::string> expected;
    for (const auto& row : base.rows) expected.push_back(ShiftRow(row, shift));
    EXPECT_EQ(shifted.rows, expected) << "shifted by " << shift;
  }
}

}  // namespace
}  // namespace ravelin
