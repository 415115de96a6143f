// The careful left-page repair: trials of whole learned clusters, protection or structure as
// the judge, the structure breaking ties, and "uncertain" where nothing can decide.
#include "catalogue/left_page_repair.h"

#include <gtest/gtest.h>

#include <array>

#include "page/page_format.h"
#include "support/page_builder.h"

namespace ravelin {
namespace {

using test::Page;
using LeadIn = std::array<std::uint8_t, 15 * kSectorSize>;

enum class Fill { kNoise, kRepeatedWord, kOnes, kZero };

void FillSector(std::uint8_t* sector, Fill fill, std::uint32_t seed) {
  for (std::size_t i = 0; i < kSectorSize; ++i) {
    switch (fill) {
      case Fill::kNoise:
        sector[i] = static_cast<std::uint8_t>(((i + 1) * 2654435761u + seed * 40503u) >> 11);
        break;
      case Fill::kRepeatedWord:  // 128 equal words: their XOR is that of a zero sector
        sector[i] = static_cast<std::uint8_t>(0xDEADBEEFu >> (8 * (i % 4)));
        break;
      case Fill::kOnes:
        sector[i] = 0xFF;
        break;
      case Fill::kZero:
        sector[i] = 0;
        break;
    }
  }
}

struct RepairCase {
  const char* name;
  Page truth;
  int tail;                  // sectors of the page that lie before the next fragment
  std::vector<Fill> inPage;  // what the head's fragment holds after its head, sector 16 - tail on
  Fill beforeTail;           // the lead-in's sectors before the tail
  std::int32_t cluster;
  LeftPageOutcome outcome;
  bool mended;                 // the page comes back as the truth (else as read)
  bool plainWrong;             // the plain first-passing repair does not give back the truth
  bool tailElsewhere = false;  // the lead-in does not end with the page's tail
};

// Sector 14 of this page is free space, zero: a repeated-word sector there keeps its checksum.
Page FreeSectorFourteen() { return test::RecordsPage(5, 70, 100).Checksum().Build(); }
// The same page with stale bytes in its free space: sector 14 a repeated word.
Page StaleSectorFourteen() {
  Page page = FreeSectorFourteen();
  FillSector(page.data() + 14 * kSectorSize, Fill::kRepeatedWord, 0);
  return page;
}
// Records reach into sector 14; no protection.
Page Unprotected() { return test::RecordsPage(6, 75, 100).Build(); }

TEST(RepairLeftPageTest, ChoosesOnlyAVersionTheTestsCanTellApart) {
  const std::vector<RepairCase> cases = {
      {"a one-sector trial passes the checksum wrongly; two-sector clusters avoid it",
       FreeSectorFourteen(),
       2,
       {Fill::kRepeatedWord, Fill::kNoise},
       Fill::kNoise,
       2,
       LeftPageOutcome::kRepaired,
       true,
       true},
      {"with one-sector clusters two versions pass, differing only in free space",
       FreeSectorFourteen(),
       2,
       {Fill::kRepeatedWord, Fill::kNoise},
       Fill::kNoise,
       1,
       LeftPageOutcome::kUncertain,
       false,
       true},
      {"an unprotected page is mended by its structure",
       Unprotected(),
       2,
       {Fill::kOnes, Fill::kOnes},
       Fill::kOnes,
       1,
       LeftPageOutcome::kRepaired,
       true,
       true},
      {"a torn-page page: stray passes are told apart by structure",
       test::RecordsPage(7, 75, 100).TornStamp().Build(),
       3,
       {Fill::kOnes, Fill::kOnes, Fill::kOnes},
       Fill::kOnes,
       1,
       LeftPageOutcome::kRepaired,
       true,
       false},
      {"versions differing only in free space: the zero sectors of a hole pass anywhere, the "
       "page's stale bytes are taken",
       StaleSectorFourteen(),
       2,
       {Fill::kZero, Fill::kZero},
       Fill::kZero,
       1,
       LeftPageOutcome::kUncertain,
       true,
       true},
      {"the tail is not before the next fragment",
       FreeSectorFourteen(),
       2,
       {Fill::kNoise, Fill::kNoise},
       Fill::kNoise,
       1,
       LeftPageOutcome::kFailed,
       false,
       true,
       true},
      {"an intact page",
       FreeSectorFourteen(),
       0,
       {},
       Fill::kNoise,
       1,
       LeftPageOutcome::kIntact,
       true,
       false},
  };
  for (const RepairCase& c : cases) {
    Page read = c.truth;
    LeadIn leadIn{};
    for (int s = 0; s < 15; ++s) FillSector(leadIn.data() + s * kSectorSize, c.beforeTail, s);
    for (int s = 0; s < c.tail; ++s) {
      const std::size_t sector = 16 - static_cast<std::size_t>(c.tail) + s;
      FillSector(read.data() + sector * kSectorSize, c.inPage[static_cast<std::size_t>(s)],
                 100 + static_cast<std::uint32_t>(s));
      std::copy_n(c.truth.data() + sector * kSectorSize, kSectorSize,
                  leadIn.data() + (15 - c.tail + s) * kSectorSize);
    }
    if (c.tailElsewhere) FillSector(leadIn.data() + 14 * kSectorSize, Fill::kNoise, 7);

    Page plain = read;
    LeftPageRepair(plain, leadIn, 1);
    EXPECT_EQ(plain != c.truth, c.plainWrong) << c.name;

    Page page = read;
    const LeftPageResult r = RepairLeftPage(page, leadIn, c.cluster);
    EXPECT_EQ(r.outcome, c.outcome) << c.name;
    if (r.outcome == LeftPageOutcome::kUncertain && r.sectors > 0) {
      // Versions differing only in free space: one is written, and it passes.
      Page written = read;
      std::copy(leadIn.end() - r.sectors * kSectorSize, leadIn.end(),
                written.end() - r.sectors * kSectorSize);
      EXPECT_EQ(page, written) << c.name;
      EXPECT_TRUE(PageHolds(page)) << c.name;
      if (c.mended) {
        EXPECT_EQ(page, c.truth) << c.name;
      }
    } else {
      EXPECT_EQ(page, c.mended ? c.truth : read) << c.name;
    }
    if (r.outcome == LeftPageOutcome::kRepaired) {
      EXPECT_EQ(r.sectors, c.tail) << c.name;
    }
  }
}

// A GAM, SGAM or BCM page of a small file is mostly its bitmap's bits for extents beyond the
// file, as SQL Server formatted them; with one-sector clusters every trial that swaps those
// sectors for XOR-neutral ones passes the checksum. Only the true version keeps the bits.
TEST(RepairLeftPageTest, AnAllocationPageKeepsItsBitsBeyondTheFilesSize) {
  struct Case {
    const char* name;
    std::uint8_t type;
    std::int64_t filePages;
    LeftPageOutcome outcome;
  };
  const std::vector<Case> cases = {
      {"a BCM page", 17, 280, LeftPageOutcome::kRepaired},
      {"a GAM page: free extents are ones", 8, 280, LeftPageOutcome::kRepaired},
      {"an SGAM page", 9, 280, LeftPageOutcome::kRepaired},
      {"the file's size unknown", 17, 0, LeftPageOutcome::kUncertain},
      {"a DCM page is not judged", 16, 280, LeftPageOutcome::kUncertain},
  };
  for (const Case& c : cases) {
    test::PageBuilder b;
    b.Type(c.type).PageId(c.type == 8 ? 2 : 7).SlotCount(2).FreeData(8182).U16(kPageSize - 2, 96);
    b.U16(kPageSize - 4, 190).Byte(190, 0x30).Byte(194, 0x5B);  // some of the file's extents in use
    const std::uint8_t beyond = c.type == 8 ? 0xFF : 0x00;
    for (std::size_t i = 194 + 4; i < 194 + 7988; ++i) b.Byte(i, beyond);
    const Page truth = b.Checksum().Build();
    Page read = truth;
    FillSector(read.data() + 15 * kSectorSize, Fill::kNoise, 3);  // what follows the head
    LeadIn leadIn{};
    for (int s = 0; s < 14; ++s)
      FillSector(leadIn.data() + s * kSectorSize, Fill::kRepeatedWord, 0);
    std::copy_n(truth.data() + 15 * kSectorSize, kSectorSize, leadIn.data() + 14 * kSectorSize);
    if (c.type == 8) {  // ones are XOR-neutral too; the words must differ from the bitmap's
      for (int s = 0; s < 14; ++s)
        std::fill_n(leadIn.data() + s * kSectorSize, kSectorSize, std::uint8_t{0});
    }
    Page page = read;
    const LeftPageResult r = RepairLeftPage(page, leadIn, 1, false, c.filePages);
    EXPECT_EQ(r.outcome, c.outcome) << c.name;
    EXPECT_EQ(page, c.outcome == LeftPageOutcome::kRepaired ? truth : read) << c.name;
  }
}

TEST(RepairLeftPageTest, ClustersOfAPageOrMoreAreNotTried) {
  Page page = FreeSectorFourteen();
  page[kPageSize - 700] ^= 1;
  const Page read = page;
  const LeadIn leadIn{};
  for (const std::int32_t cluster : {0, 16, 32, -1})
    EXPECT_EQ(RepairLeftPage(page, leadIn, cluster).outcome, LeftPageOutcome::kNotTried);
  EXPECT_EQ(page, read);
}

// A learned cluster size is only a multiple of the true one: a volume whose data area starts
// on a multiple of 16 sectors can put every fragment of a file on one residue, and 16 is
// learned. The repair then works down the finer grids until a trial passes.
TEST(RepairLeftPageTest, ALearnedClusterSizeFallsBackToFinerGrids) {
  struct Case {
    int tail;  // sectors of the page before the next fragment
    std::int32_t cluster;
    bool learned;
    LeftPageOutcome outcome;
  };
  const std::vector<Case> cases = {
      {8, 16, true, LeftPageOutcome::kRepaired},   // 8-sector clusters, 16 learned
      {4, 16, true, LeftPageOutcome::kRepaired},   // 4-sector clusters, 16 learned
      {12, 8, true, LeftPageOutcome::kRepaired},   // 4-sector clusters, 8 learned
      {3, 4, true, LeftPageOutcome::kRepaired},    // one-sector clusters, 4 learned
      {8, 16, false, LeftPageOutcome::kNotTried},  // a source's 16 stands
      {12, 8, false, LeftPageOutcome::kFailed},    // a source's 8 stands
  };
  const Page truth = test::RecordsPage(8, 60, 100).Checksum().Build();
  for (const Case& c : cases) {
    Page read = truth;
    LeadIn leadIn{};
    for (int s = 0; s < 15; ++s) FillSector(leadIn.data() + s * kSectorSize, Fill::kNoise, s);
    for (int s = 16 - c.tail; s < 16; ++s) {
      FillSector(read.data() + s * kSectorSize, Fill::kNoise, 200 + static_cast<std::uint32_t>(s));
      std::copy_n(truth.data() + s * kSectorSize, kSectorSize,
                  leadIn.data() + (s - 1) * kSectorSize);
    }
    Page page = read;
    const LeftPageResult r = RepairLeftPage(page, leadIn, c.cluster, c.learned);
    EXPECT_EQ(r.outcome, c.outcome) << c.tail << " sectors, cluster " << c.cluster;
    EXPECT_EQ(page, r.outcome == LeftPageOutcome::kRepaired ? truth : read) << c.tail;
  }
}

TEST(LearnClusterSectorsTest, TakesTheLargestPowerOfTwoDividingEveryDifference) {
  struct Case {
    std::vector<std::uint64_t> starts;
    std::int32_t cluster;
  };
  const std::vector<Case> cases = {
      {{}, 1},
      {{4096}, 1},
      {{1000, 1008, 1024}, 8},
      {{2048, 2052, 4100}, 4},
      {{5, 5 + 16 * 3, 5 + 16 * 1000}, 16},
      {{1000, 1001}, 1},
      {{1006, 1000, 1012}, 2},
  };
  for (const Case& c : cases) EXPECT_EQ(LearnClusterSectors(c.starts), c.cluster);
  EXPECT_EQ(RepairClusterSectors(8, {1000, 1001}), 8) << "a source's cluster size stands";
  EXPECT_EQ(RepairClusterSectors(1, {1000, 1004}), 4);
}

}  // namespace
}  // namespace ravelin
