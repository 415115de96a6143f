#include "page/page_structure.h"

#include <gtest/gtest.h>

#include "gen/database_generator.h"
#include "page/page_format.h"
#include "support/page_builder.h"
#include "support/real_files.h"

namespace ravelin {
namespace {

TEST(PageStructureTest, EveryPageOfTheRealFilesHangsTogether) {
  for (const auto& facts : test::kRealFiles) {
    RAVELIN_LOAD_REAL_OR_SKIP(file, facts.fileName);
    for (std::int64_t n = 0; n < file.PageCount(); ++n) {
      test::Page page = file.Copy(n);
      RestoreTornBits(page);
      EXPECT_TRUE(IsPageStructurallySound(page)) << facts.fileName << " page " << n;
    }
  }
}

TEST(PageStructureTest, EveryPageTheGeneratorWritesHangsTogether) {
  for (const auto verify :
       {gen::PageVerify::kChecksum, gen::PageVerify::kTornPage, gen::PageVerify::kNone}) {
    gen::DatabaseSpec design;
    design.pageCount = 3000;
    design.verify = verify;
    design.seed = 3;
    design.generation = 2;
    gen::DatabaseGenerator db(design);
    test::Page page;
    for (std::int64_t n = 0; n < db.PageCount(); ++n) {
      db.ReadPage(n, page);
      RestoreTornBits(page);
      ASSERT_TRUE(IsPageStructurallySound(page)) << "page " << n;
    }
  }
}

// A page whose last sectors come from elsewhere, as a wrong repair would make it: the slot
// array in the last sector then no longer fits the header and the records.
TEST(PageStructureTest, TailsFromOtherPagesAreMostlyRejected) {
  RAVELIN_LOAD_REAL_OR_SKIP(file, "tornpage-2008r2.mdf");
  int tried = 0, rejected = 0;
  for (std::int64_t n = 1; n + 1 < file.PageCount(); ++n) {
    test::Page page = file.Copy(n);
    RestoreTornBits(page);
    if (Load16(page, page_header::kSlotCnt) == 0) continue;
    for (const std::size_t tail : {1u, 3u, 8u}) {
      for (const int source : {0, 1}) {  // zeros, or the next page's sectors
        test::Page damaged = page;
        const std::size_t from = (kSectorsPerPage - tail) * kSectorSize;
        if (source == 0) {
          std::fill(damaged.begin() + from, damaged.end(), 0);
        } else {
          test::Page next = file.Copy(n + 1);
          RestoreTornBits(next);
          if (std::equal(next.begin() + from, next.end(), page.begin() + from)) continue;
          std::copy(next.begin() + from, next.end(), damaged.begin() + from);
        }
        ++tried;
        if (!IsPageStructurallySound(damaged)) ++rejected;
      }
    }
  }
  EXPECT_GT(tried, 1000);
  // What passes is mostly a neighbour with the same slot array (full pages of fixed-length
  // rows, one-record text pages): structure cannot tell those apart, protection can.
  EXPECT_GE(rejected * 100, tried * 85) << rejected << " of " << tried;
}

// Torn bits are two bits a sector, shared by the pages of one flush: a neighbour's sectors
// pass as a page's tail. ProtectionHolds asks a torn-page page to hang together as well, and
// leaves every whole page of the real files (checksum or torn bits) accepted.
TEST(PageStructureTest, ProtectionHoldsRejectsNeighbourTailsThatTornBitsPass) {
  for (const auto& facts : test::kRealFiles) {
    RAVELIN_LOAD_REAL_OR_SKIP(file, facts.fileName);
    for (std::int64_t n = 0; n < file.PageCount(); ++n) {
      const test::Page page = file.Copy(n);
      EXPECT_EQ(ProtectionHolds(page), IsPageIntact(page)) << facts.fileName << " page " << n;
    }
  }
  RAVELIN_LOAD_REAL_OR_SKIP(torn, "tornpage-2008r2.mdf");
  int tornPass = 0, bothPass = 0;
  for (std::int64_t n = 0; n + 1 < torn.PageCount(); ++n) {
    test::Page page = torn.Copy(n);
    const test::Page next = torn.Copy(n + 1);
    const std::size_t from = 9 * kSectorSize;
    if (std::equal(next.begin() + from, next.end(), page.begin() + from)) continue;
    std::copy(next.begin() + from, next.end(), page.begin() + from);
    tornPass += IsPageIntact(page);
    bothPass += ProtectionHolds(page);
  }
  EXPECT_GT(tornPass, 100);
  // About 70 % are rejected: the rest are neighbours of the same shape (fixed-length rows
  // in the same slots), where only a repair's choice between trials can still tell.
  EXPECT_LE(bothPass * 2, tornPass) << bothPass << " of " << tornPass;
}

TEST(PageStructureTest, BrokenLayoutsAreRejected) {
  struct Case {
    const char* name;
    test::PageBuilder builder;
  };
  // A slot array of zeros: no record behind the slots, yet record bytes below m_freeData.
  EXPECT_FALSE(IsPageStructurallySound(test::PageBuilder().SlotCount(3).FreeData(200).Build()));
  auto record = [](test::PageBuilder b, std::uint16_t offset, std::uint8_t status,
                   std::uint16_t fixed) { return b.Byte(offset, status).U16(offset + 2, fixed); };
  // A data page with two records at 96 and 120 and m_freeData 140.
  auto good = [&] {
    test::PageBuilder b;
    b.SlotCount(2).FreeData(140).FreeCount(8192 - 140 - 4);
    b = record(b, 96, 0x10, 20);
    b = record(b, 120, 0x10, 20);
    return b.U16(8190, 96).U16(8188, 120);
  };
  EXPECT_TRUE(IsPageStructurallySound(good().Build()));
  const std::vector<Case> cases = {
      {"slot past m_freeData", good().U16(8188, 150)},
      {"slot inside the header", good().U16(8188, 40)},
      {"two slots at one record", good().U16(8188, 96)},
      {"record reaching into the next", record(good(), 96, 0x10, 30)},
      {"index record on a data page", record(good(), 120, 0x16, 20)},
      {"top status bit set", record(good(), 120, 0x90, 20)},
      {"free count below the free gap", good().FreeCount(100)},
      {"slot array below m_freeData", good().SlotCount(4100)},
      {"unknown page type", good().Type(42)},
      {"level on a data page", good().Level(1)},
  };
  for (const Case& c : cases) EXPECT_FALSE(IsPageStructurallySound(c.builder.Build())) << c.name;
}

}  // namespace
}  // namespace ravelin
