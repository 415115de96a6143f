// The synthetic database files must read like SQL Server's: the page tests accept them where
// they accept real pages, and the allocation pages tell the truth about every other page.

#include "gen/database_generator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <set>
#include <vector>

#include "page/page_format.h"
#include "support/real_files.h"

namespace ravelin::gen {
namespace {

using PageBytes = std::array<std::uint8_t, kPageSize>;

PageBytes Read(const PageSource& source, std::int64_t n) {
  PageBytes page{};
  source.ReadPage(n, page);
  return page;
}

// Page as the analysis reads it: torn bits restored.
PageBytes Restored(const PageSource& source, std::int64_t n) {
  PageBytes page = Read(source, n);
  RestoreTornBits(page);
  return page;
}

HeaderView Header(const PageBytes& page) { return HeaderView(page.data(), kPageHeaderSize); }

bool AllZero(const PageBytes& page) {
  return std::all_of(page.begin(), page.end(), [](std::uint8_t b) { return b == 0; });
}

std::int32_t I32(const PageBytes& p, std::size_t at) {
  return static_cast<std::int32_t>(Load32(p, at));
}

DatabaseSpec Design(std::int64_t pages, PageVerify verify, std::uint64_t seed = 7) {
  DatabaseSpec design;
  design.pageCount = pages;
  design.verify = verify;
  design.seed = seed;
  return design;
}

TEST(DatabaseGenerator, FixedPagesMatchTheRealFiles) {
  DatabaseGenerator gen(Design(2000, PageVerify::kChecksum));
  for (const auto& facts : test::kRealFiles) {
    RAVELIN_LOAD_REAL_OR_SKIP(real, facts.fileName);
    SCOPED_TRACE(facts.fileName);
    for (std::int64_t n : {0, 1, 2, 3, 4, 5, 6, 7, 9, 32}) {
      SCOPED_TRACE(n);
      PageBytes ours = Restored(gen, n);
      test::Page theirs = real.Copy(n);
      RestoreTornBits(theirs);
      EXPECT_EQ(ours[1], theirs[1]) << "page type";
      if (n == 4 || n == 5) {
        EXPECT_TRUE(AllZero(ours));
        continue;
      }
      for (std::size_t field :
           {page_header::kObjId, page_header::kSlotCnt, page_header::kPminlen}) {
        EXPECT_EQ(Load16(ours, field), Load16(theirs, field)) << "offset " << field;
      }
      if (n != 0 && n != 9) {  // the file header and boot rows vary between versions
        EXPECT_EQ(Load16(ours, page_header::kFreeData), Load16(theirs, page_header::kFreeData));
      }
      for (std::size_t slot = 0; slot < Load16(theirs, page_header::kSlotCnt); ++slot) {
        EXPECT_EQ(Load16(ours, kPageSize - 2 - 2 * slot),
                  n == 0 ? std::uint16_t{96} : Load16(theirs, kPageSize - 2 - 2 * slot));
      }
    }
    // The PFS bytes of the pages every fresh file has in use.
    const PageBytes pfs = Restored(gen, 1);
    test::Page realPfs = real.Copy(1);
    for (std::size_t page : {0, 1, 2, 3, 4, 5, 6, 7, 9}) {
      EXPECT_EQ(pfs[100 + page], realPfs[100 + page]) << "PFS byte of page " << page;
    }
  }
}

TEST(DatabaseGenerator, PageTestsAcceptGeneratedFiles) {
  for (PageVerify verify : {PageVerify::kChecksum, PageVerify::kTornPage, PageVerify::kNone}) {
    for (std::uint16_t fileId : {std::uint16_t{1}, std::uint16_t{3}}) {
      DatabaseSpec design = Design(700, verify);
      design.fileId = fileId;
      design.physicalPath = R"(D:\Data\Sales 2024\sales.MDF)";
      DatabaseGenerator gen(design);
      SCOPED_TRACE(static_cast<int>(verify));
      SCOPED_TRACE(fileId);

      const PageBytes page0 = Read(gen, 0);
      EXPECT_TRUE(IsFileHeaderPage(Header(page0), fileId));
      EXPECT_FALSE(IsFileHeaderPage(Header(page0), fileId + 1));
      EXPECT_TRUE(IsPfsPageHeader(Header(Read(gen, 1)), fileId));
      std::int32_t size = 0;
      EXPECT_EQ(GetFileSizeFromHeader(Restored(gen, 0), size), 0);
      EXPECT_EQ(size, 700);
      std::string name;
      EXPECT_EQ(GetFileNameFromPage(Restored(gen, 32), name), 0);
      EXPECT_EQ(name, R"(D:\Data\Sales 2024\sales.mdf)");

      for (std::int64_t n = 1; n < gen.PageCount(); ++n) {
        const PageBytes page = Read(gen, n);
        const PageInfo truth = gen.Truth(n);
        ASSERT_EQ(AllZero(page), truth.zero) << n;
        if (truth.zero) continue;
        ASSERT_TRUE(IsExpectedPage(fileId, static_cast<std::int32_t>(n), Header(page), fileId))
            << n;
        ASSERT_EQ(IsPageIntact(page), truth.protection != PageVerify::kNone) << n;
        ASSERT_EQ(page[5] & 0x0F, static_cast<int>(truth.protection)) << n;
      }
    }
  }
}

TEST(DatabaseGenerator, ProtectedFilesStillHoldSomeUnprotectedPages) {
  DatabaseGenerator gen(Design(3000, PageVerify::kChecksum));
  int unprotected = 0;
  int protectedPages = 0;
  for (std::int64_t n = 0; n < gen.PageCount(); ++n) {
    const PageInfo truth = gen.Truth(n);
    if (truth.zero) continue;
    (truth.protection == PageVerify::kNone ? unprotected : protectedPages)++;
  }
  EXPECT_EQ(gen.Truth(7).protection, PageVerify::kNone);  // BCM, as in real files
  EXPECT_GE(unprotected, 3);
  EXPECT_LT(unprotected * 20, protectedPages);
}

TEST(DatabaseGenerator, TornPagesCarryThePatternUntilRestored) {
  DatabaseGenerator gen(Design(400, PageVerify::kTornPage));
  int differing = 0;
  for (std::int64_t n = 0; n < gen.PageCount(); ++n) {
    const PageBytes stored = Read(gen, n);
    if (AllZero(stored) || (stored[5] & 0x0F) != 1) continue;
    const std::uint8_t pattern = stored[60] & 0x03;
    ASSERT_TRUE(pattern == 1 || pattern == 2) << n;
    for (std::size_t k = 1; k < kSectorsPerPage; ++k) {
      ASSERT_EQ(stored[512 * k + 511] & 0x03, pattern) << n;
    }
    if (Restored(gen, n) != stored) ++differing;
  }
  EXPECT_GT(differing, 50);  // the saved bits are real data, not always the pattern
}

// The allocation pages read the way the analysis reads them: PFS bytes at slot 0 + 4, IAM
// interval start at slot 0 + 40, single pages at slot 0 + 46 + 6j, extent bitmap at slot 1 + 4.
struct AllocationView {
  std::map<std::int64_t, std::uint8_t> pfs;
  std::map<std::int64_t, std::int32_t> claims;  // page -> objId of the IAM page listing it
  int doubleClaims = 0;
};

AllocationView ReadAllocation(const DatabaseGenerator& gen) {
  AllocationView v;
  for (std::int64_t n = 0; n < gen.PageCount(); ++n) {
    const PageBytes p = Restored(gen, n);
    if (p[0] != 1) continue;
    const std::size_t o = Load16(p, kPageSize - 2);
    if (p[1] == kPageTypePfs) {
      const std::int64_t first = n == 1 ? 0 : n;
      const std::int64_t len = static_cast<std::int16_t>(Load16(p, o + 2));
      for (std::int64_t j = 0; j < len - 4; ++j) v.pfs[first + j] = p[o + 4 + j];
    } else if (p[1] == kPageTypeIam) {
      const std::int32_t obj = I32(p, 24);
      auto claim = [&](std::int64_t page) {
        if (page <= 0) return;
        if (!v.claims.emplace(page, obj).second) ++v.doubleClaims;
      };
      const std::int64_t first = I32(p, o + 40);
      for (std::size_t j = 0; j < 8; ++j) claim(I32(p, o + 46 + 6 * j));
      const std::size_t o1 = Load16(p, kPageSize - 4);
      const std::int64_t len = static_cast<std::int16_t>(Load16(p, o1 + 2));
      for (std::int64_t t = 0; t < len - 4; ++t) {
        for (int i = 0; i < 8; ++i) {
          if ((p[o1 + 4 + t] >> i) & 1) {
            for (int k = 0; k < 8; ++k) claim(t * 64 + i * 8 + first + k);
          }
        }
      }
    }
  }
  return v;
}

TEST(DatabaseGenerator, AllocationPagesTellTheTruth) {
  for (std::uint64_t seed : {1, 2, 3}) {
    DatabaseGenerator gen(Design(5000, PageVerify::kChecksum, seed));
    SCOPED_TRACE(seed);
    const AllocationView v = ReadAllocation(gen);
    EXPECT_EQ(v.doubleClaims, 0);
    for (std::int64_t n = 0; n < gen.PageCount(); ++n) {
      SCOPED_TRACE(n);
      const PageBytes p = Restored(gen, n);
      const PageInfo truth = gen.Truth(n);
      const std::uint8_t b = v.pfs.at(n);
      ASSERT_EQ((b & 0x40) != 0, truth.allocated);
      ASSERT_EQ((b & 0x10) != 0, truth.iam);
      ASSERT_EQ(truth.iam, truth.allocated && p[1] == kPageTypeIam);
      const auto claim = v.claims.find(n);
      ASSERT_EQ(claim == v.claims.end() ? 0 : claim->second, truth.claimedBy);
      ASSERT_EQ(truth.type, p[1]);
      ASSERT_EQ(truth.objId, I32(p, 24));
      if (!truth.allocated) {
        ASSERT_EQ(truth.ownerObjId, 0);
        continue;
      }
      ASSERT_EQ(truth.ownerObjId, I32(p, 24));
      // Every allocated object page is listed by exactly the IAM chain of its object.
      if (p[1] == 1 || p[1] == 2 || p[1] == 3) {
        ASSERT_EQ(truth.claimedBy, I32(p, 24));
      }
    }
    // GAM: an extent holding an allocated page is never marked free.
    const PageBytes gam = Restored(gen, 2);
    for (std::int64_t n = 0; n < gen.PageCount(); ++n) {
      const std::int64_t x = n / 8;
      if (gen.Truth(n).allocated) {
        ASSERT_EQ((gam[194 + x / 8] >> (x % 8)) & 1, 0) << n;
      }
    }
  }
}

TEST(DatabaseGenerator, LinkedPagesFormChainsPerIndexLevel) {
  DatabaseGenerator gen(Design(6000, PageVerify::kTornPage, 11));
  struct Node {
    std::int32_t obj, prev, next;
    std::uint16_t index;
    std::uint8_t type, level;
  };
  std::map<std::int32_t, Node> nodes;
  for (std::int64_t n = 1; n < gen.PageCount(); ++n) {
    if (!gen.Truth(n).allocated) continue;
    const PageBytes p = Restored(gen, n);
    if (p[1] != 1 && p[1] != 2 && p[1] != 3) continue;
    nodes[static_cast<std::int32_t>(n)] = {I32(p, 24),   I32(p, 8), I32(p, 16),
                                           Load16(p, 6), p[1],      p[3]};
    if (p[1] != 3) {
      EXPECT_EQ(Load16(p, 12), I32(p, 8) == 0 ? 0 : 1);
    }
  }
  // Every link is answered by the page it points to, within one object and level.
  std::map<std::pair<std::int32_t, std::uint16_t>, int> heads;
  for (const auto& [page, node] : nodes) {
    if (node.next > 0) {
      ASSERT_TRUE(nodes.count(node.next)) << page;
      const Node& next = nodes.at(node.next);
      EXPECT_EQ(next.prev, page);
      EXPECT_EQ(next.obj, node.obj);
      EXPECT_EQ(next.level, node.level);
    }
    if (node.type == 3 || node.index == 0) {
      EXPECT_EQ(node.prev | node.next, 0) << page;
    }
    if (node.prev == 0 && node.level == 0 && node.index != 0 && node.type != 3) {
      heads[{node.obj, node.index}]++;
    }
  }
  // One leaf chain per index, and it visits every leaf page of that index.
  for (const ObjectInfo& o : gen.Objects()) {
    if (o.kind != UnitKind::kClustered && o.kind != UnitKind::kNonclustered) continue;
    if (o.objId < 100) continue;  // system units share object ids
    EXPECT_EQ((heads[{o.objId, o.indexId}]), 1) << o.objId << "/" << o.indexId;
  }
  std::set<std::int32_t> seen;
  for (const auto& [page, node] : nodes) {
    if (node.prev != 0 || node.level != 0 || node.index == 0 || node.type == 3) continue;
    for (std::int32_t at = page; at != 0; at = nodes.at(at).next) {
      ASSERT_TRUE(seen.insert(at).second) << "cycle at " << at;
    }
  }
  for (const auto& [page, node] : nodes) {
    if (node.level == 0 && node.index != 0 && node.type != 3) {
      EXPECT_TRUE(seen.count(page)) << page;
    }
  }
}

TEST(DatabaseGenerator, SameSpecSameBytesAndGenerationsDiffer) {
  DatabaseSpec design = Design(4000, PageVerify::kChecksum, 5);
  DatabaseGenerator a(design);
  DatabaseGenerator b(design);
  design.generation = 1;
  DatabaseGenerator next(design);
  design.generation = 6;
  DatabaseGenerator later(design);
  int changed = 0;
  int allocationChanged = 0;
  for (std::int64_t n = 0; n < a.PageCount(); ++n) {
    ASSERT_EQ(Read(a, n), Read(b, n)) << n;
    if (Read(a, n) != Read(next, n)) ++changed;
    if (a.Truth(n).allocated != later.Truth(n).allocated) ++allocationChanged;
  }
  EXPECT_GT(changed, 40);
  EXPECT_LT(changed, a.PageCount() / 4);
  EXPECT_GT(allocationChanged, 0);
  EXPECT_TRUE(a.FileHeaderLsn() < next.FileHeaderLsn());
  EXPECT_TRUE(next.FileHeaderLsn() < later.FileHeaderLsn());
  EXPECT_NE(Read(a, 0), Read(next, 0));
  // Page 0 carries the checkpoint LSN, newer than any page the generation wrote.
  for (std::int64_t n = 1; n < later.PageCount(); n += 7) {
    const PageBytes p = Read(later, n);
    const Lsn lsn{Load32(p, 40), Load32(p, 44), Load16(p, 48)};
    EXPECT_TRUE(lsn < later.FileHeaderLsn()) << n;
  }
}

TEST(DatabaseGenerator, SmallestFileHoldsHeaderNamesAndObjects) {
  for (std::int64_t pages : {1, 40, 41}) {
    DatabaseSpec design = Design(pages, PageVerify::kChecksum);
    DatabaseGenerator gen(design);
    ASSERT_EQ(gen.PageCount(), std::max<std::int64_t>(pages, 40));
    std::int32_t size = 0;
    EXPECT_EQ(GetFileSizeFromHeader(Restored(gen, 0), size), 0);
    EXPECT_EQ(size, gen.PageCount());
    std::string name;
    EXPECT_EQ(GetFileNameFromPage(Restored(gen, 32), name), 0);
    EXPECT_EQ(name, design.physicalPath);
    EXPECT_EQ(Read(gen, 9)[1], 13);
    EXPECT_GE(gen.Objects().size(), 3u);
    EXPECT_TRUE(AllZero(Read(gen, gen.PageCount())));
    EXPECT_TRUE(AllZero(Read(gen, -1)));
  }
}

TEST(DatabaseGenerator, LargeFileRepeatsAllocationPagesPerInterval) {
  DatabaseSpec design = Design(1'100'000, PageVerify::kChecksum, 3);
  design.fileId = 2;
  DatabaseGenerator gen(design);
  for (std::int64_t n : {8088 * 1, 8088 * 2, 8088 * 63, 8088 * 64, 8088 * 135}) {
    const PageBytes p = Read(gen, n);
    EXPECT_EQ(p[1], kPageTypePfs) << n;
    EXPECT_TRUE(IsPageIntact(p)) << n;
  }
  for (std::int64_t base : {511232, 1022464}) {
    const std::array<std::uint8_t, 4> types = {8, 9, 16, 17};
    const std::array<std::int64_t, 4> offsets = {2, 3, 6, 7};
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(Read(gen, base + offsets[i])[1], types[i]);
  }
  // Objects that own extents beyond the first interval have an IAM chain through them.
  int chains = 0;
  for (const ObjectInfo& o : gen.Objects()) {
    if (o.iamPages.size() < 2) continue;
    ++chains;
    for (std::size_t i = 0; i < o.iamPages.size(); ++i) {
      const PageBytes p = Restored(gen, o.iamPages[i]);
      ASSERT_EQ(p[1], kPageTypeIam);
      EXPECT_EQ(I32(p, 24), o.objId);
      EXPECT_EQ(Load16(p, 36), 2);
      EXPECT_EQ(I32(p, 96 + 40) % 511232, 0);
      EXPECT_EQ(I32(p, 16), i + 1 < o.iamPages.size() ? o.iamPages[i + 1] : std::int64_t{0});
      // The first extent it lists holds pages of its object.
      const std::size_t o1 = Load16(p, kPageSize - 4);
      for (std::size_t t = 0; t < 7988; ++t) {
        if (p[o1 + 4 + t] == 0) continue;
        const int bit = __builtin_ctz(p[o1 + 4 + t]);
        const std::int64_t page = I32(p, 96 + 40) + 64 * static_cast<std::int64_t>(t) + 8 * bit;
        EXPECT_EQ(I32(Restored(gen, page), 24), o.objId);
        break;
      }
    }
  }
  EXPECT_GT(chains, 0);
}

}  // namespace
}  // namespace ravelin::gen
