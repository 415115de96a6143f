// `ravelin recover` on images of SQL Server's own files, where real files and the real tools'
// layouts break rules the generator's own files keep. Each rebuilt file is held to its
// original: every allocated page right, no page of the other file, no foreign bytes on free
// pages, and every wrong page named in the page account.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "accuracy/real_images.h"
#include "analysis/version_guard.h"
#include "page/page_format.h"
#include "support/image_fixtures.h"
#include "support/real_files.h"

namespace ravelin::accuracy {
namespace {

struct RealImageCase {
  const char* name;
  ImageCase image;
  bool partitionOne = false;
  // The layout the case is about: every fragment of the first file starts on one residue
  // modulo 16 and a page of it is split across clusters (a learned cluster size is 16).
  bool oneResidue = false;
  // When not 0: the first file's pages from this page on, where they carry an LSN, are
  // moved into the log's next VLF (16 blocks in), as a copy whose last pages were written
  // after a checkpoint near the VLF's end carries them; its boot page stays where it was.
  std::int64_t raiseFrom = 0;
};

// Copies `name` from the real files into `dir`, with the LSNs of its pages from `from` on
// moved into the VLF after the boot page's and their checksums set anew.
void CopyRaised(const std::string& name, std::int64_t from, const std::string& dir) {
  std::ifstream in(test::RealFilePath(name), std::ios::binary);
  std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  const auto page = [&](std::int64_t n) {
    return MutablePage(bytes.data() + static_cast<std::size_t>(n) * kPageSize, kPageSize);
  };
  const std::uint32_t vlf = static_cast<std::uint32_t>(PageLsn(page(9)) >> 32) + 1;
  for (std::int64_t n = from; n < static_cast<std::int64_t>(bytes.size() / kPageSize); ++n) {
    MutablePage p = page(n);
    if (PageLsn(p) == 0) continue;
    const bool checksummed = Load32(p, page_header::kTornBits) == PageChecksum(p);
    Store32(p, page_header::kLsn, vlf);
    Store32(p, page_header::kLsn + 4, 16);
    if (checksummed) Store32(p, page_header::kTornBits, PageChecksum(p));
  }
  std::ofstream(dir + "/" + name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

std::ostream& operator<<(std::ostream& out, const RealImageCase& c) { return out << c.name; }

ImageCase Disk(ImageKind table, const char* file, std::uint64_t seed,
               const char* volume = "fat32") {
  ImageCase c;
  c.kind = table;
  c.volume = volume;
  c.cluster = 8;
  c.files = {file};
  c.fewHoles = true;
  c.seed = seed;
  return c;
}

// Two versions of one database, both deleted from one disk.
ImageCase Versions(ImageKind kind, std::uint32_t cluster, const char* a, const char* b,
                   std::uint64_t seed) {
  ImageCase c;
  c.kind = kind;
  c.cluster = cluster;
  c.files = {a, b};
  c.splitPages = kind == ImageKind::kRaw ? 2 : 0;
  c.seed = seed;
  return c;
}

class RecoverRealImagesTest : public ::testing::TestWithParam<RealImageCase> {};

TEST_P(RecoverRealImagesTest, EveryTargetComesBackSound) {
  const RealImageCase& c = GetParam();
  RAVELIN_REQUIRE_TOOLS_OR_SKIP("mkfs.vfat", "mcopy", "mdel", "mshowfat", "sfdisk", "mkntfs");
  test::ScratchDir dir;
  std::string folder = test::RealFilePath("");
  if (c.raiseFrom > 0) {
    folder = dir.File("files");
    std::filesystem::create_directories(folder);
    for (const std::string& f : c.image.files) {
      if (!std::filesystem::exists(test::RealFilePath(f))) GTEST_SKIP() << f << " is missing";
      CopyRaised(f, &f == &c.image.files.front() ? c.raiseFrom : INT32_MAX, folder);
    }
  }
  OpenedFiles files;
  const gen::Status opened = OpenFiles(folder, c.image.files, files);
  if (!opened.ok()) GTEST_SKIP() << opened.message();
  const std::string image = dir.File("image.img");
  const std::string work = dir.File("work");
  gen::Manifest m;
  const gen::Status built = BuildImage(c.image, files, image, m);
  ASSERT_TRUE(built.ok()) << built.message();
  if (c.oneResidue) {
    const auto fragments = m.FragmentsOf(m.TargetFile());
    for (const gen::ManifestFragment& f : fragments)
      ASSERT_EQ(f.startSector % 16, fragments.front().startSector % 16) << "layout changed";
    ASSERT_FALSE(m.splitPages.empty()) << "layout changed";
  }

  const Recovered r = RecoverAndJudge(files, m, image, work, c.partitionOne);
  ASSERT_EQ(r.exitCode, 0) << r.errors;
  ASSERT_EQ(r.judgements.size(), c.image.files.size());
  for (std::size_t i = 0; i < r.judgements.size(); ++i) {
    const gen::RecoveryJudgement& j = r.judgements[i];
    const std::string& file = c.image.files[i];
    EXPECT_TRUE(j.Sound()) << file << ": " << j.allocatedRight << " of " << j.allocated
                           << " allocated pages right";
    EXPECT_EQ(j.otherFilePages, 0) << file;
    EXPECT_EQ(j.foreignFreePages, 0) << file;
    EXPECT_EQ(j.wrongUnnamed, 0) << file;
  }
}

INSTANTIATE_TEST_SUITE_P(
    RealFiles, RecoverRealImagesTest,
    ::testing::Values(
        // A whole disk scanned with one sector per cluster: the split page is repaired as
        // when the volume is scanned alone.
        RealImageCase{"WholeMbrDiskFat32At8",
                      Disk(ImageKind::kMbr, "checksum-2008-northwind.mdf", 92), false, true},
        RealImageCase{"WholeGptDiskFat32At8",
                      Disk(ImageKind::kGpt, "checksum-2008-northwind.mdf", 92), false, true},
        RealImageCase{"GptDiskPartitionOne",
                      Disk(ImageKind::kGpt, "checksum-2008-northwind.mdf", 92), true, true},
        // An NTFS volume inside, recovered as given and as its partition.
        RealImageCase{"WholeMbrDiskNtfsAt8",
                      Disk(ImageKind::kMbr, "tornpage-2005-northwind.mdf", 94, "ntfs")},
        RealImageCase{"MbrDiskNtfsPartitionOne",
                      Disk(ImageKind::kMbr, "tornpage-2005-northwind.mdf", 94, "ntfs"), true},
        RealImageCase{"WholeGptDiskNtfsAt8",
                      Disk(ImageKind::kGpt, "checksum-2014.mdf", 95, "ntfs")},
        // Versions whose page 0 carries the same LSN in both copies: page 0 cannot say which
        // is the newer, and neither copy may take the other's fragments for being newer.
        RealImageCase{"VersionsSamePageZeroLsnRaw8",
                      Versions(ImageKind::kRaw, 8, "checksum-2005-renthouse-a.mdf",
                               "checksum-2005-renthouse-b.mdf", 105)},
        RealImageCase{"VersionsSamePageZeroLsnWholeDisk",
                      Versions(ImageKind::kMbr, 8, "checksum-2008-trivia-a.mdf",
                               "checksum-2008-trivia-b.mdf", 113)},
        RealImageCase{"VersionsNorthwindFat32At4",
                      Versions(ImageKind::kFat32, 4, "tornpage-2005-northwind.mdf",
                               "tornpage-2008r2.mdf", 101)},
        // A copy whose last pages lie in the log's next VLF keeps them, alone on the disk
        // and beside its other version.
        RealImageCase{
            "LastPagesInTheNextVlfRaw8",
            Versions(ImageKind::kRaw, 8, "checksum-2008-trivia-a.mdf", "checksum-2014.mdf", 121),
            false, false, 150},
        RealImageCase{"VersionWithLastPagesInTheNextVlfRaw8",
                      Versions(ImageKind::kRaw, 8, "checksum-2008-trivia-a.mdf",
                               "checksum-2008-trivia-b.mdf", 105),
                      false, false, 150},
        RealImageCase{"VersionWithLastPagesInTheNextVlfFat32At4",
                      Versions(ImageKind::kFat32, 4, "checksum-2008-trivia-a.mdf",
                               "checksum-2008-trivia-b.mdf", 101),
                      false, false, 150}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ravelin::accuracy
