// The facts the scan keeps of its pages, and the fragment source that serves them: a page
// kept whole comes back as read, any other with exactly the header bytes the rules read;
// pages the store does not hold are read from the source beneath, and a failure there fails
// the request as a page-by-page reader would see it.
#include "catalogue/page_facts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "page/page_format.h"
#include "support/page_builder.h"

namespace ravelin {
namespace {

using test::Page;
using test::PageBuilder;

// Pages at sectors 1000 + 16k; `bad` pages cannot be read. Counts what it is asked for.
class PagesSource final : public FragmentSource {
 public:
  static constexpr std::uint64_t kFirst = 1000;
  std::vector<Page> pages;
  std::set<std::size_t> bad;
  std::int64_t sectorsRead = 0;

  bool ReadSectors(std::uint64_t startSector, std::int64_t offset, std::int32_t count,
                   MutableBytes buffer) override {
    const std::uint64_t sector = startSector + static_cast<std::uint64_t>(offset);
    sectorsRead += count;
    for (std::int32_t s = 0; s < count; ++s) {
      const std::uint64_t at = sector + static_cast<std::uint64_t>(s) - kFirst;
      const std::size_t page = at / kSectorsPerPage;
      if (page >= pages.size() || bad.count(page)) return false;
      std::copy_n(pages[page].begin() + static_cast<std::ptrdiff_t>((at % 16) * kSectorSize),
                  kSectorSize, buffer.begin() + static_cast<std::ptrdiff_t>(s) * kSectorSize);
    }
    return true;
  }
};

Page Plain(std::int32_t id) {
  return PageBuilder()
      .PageId(id)
      .ObjId(77 + id)
      .Noise(static_cast<std::uint32_t>(id))
      .TornStamp()
      .Build();
}

bool KeptBytesEqual(const Page& a, const std::uint8_t* b) {
  for (const KeptHeaderRange& r : kKeptHeaderRanges)
    if (!std::equal(a.begin() + static_cast<std::ptrdiff_t>(r.first),
                    a.begin() + static_cast<std::ptrdiff_t>(r.first + r.length), b + r.first))
      return false;
  return true;
}

TEST(PageFactsTest, KeepsWholeTheAllocationPagesAndTheHeaderOfTheRest) {
  struct Case {
    const char* name;
    Page page;
    bool whole;
  };
  const Case cases[] = {
      {"data page 33", Plain(33), false},
      {"index page 500", PageBuilder().Type(2).PageId(500).Noise(3).Build(), false},
      {"text page 40", PageBuilder().Type(3).PageId(40).Noise(4).Build(), false},
      {"data page 32 (the name)", Plain(32), false},
      {"data page 5", Plain(5), false},
      {"PFS bytes of header version 0", test::PfsPage(1).Byte(0, 0).Build(), false},
      {"noise of version 3 typed as a file header",
       PageBuilder().Byte(0, 3).Type(15).Noise(9).Build(), true},
      {"noise of version 3 typed as a boot page",
       PageBuilder().Byte(0, 3).Type(13).Noise(8).Build(), true},
      {"PFS page 8088", test::PfsPage(1).PageId(8088).Build(), true},
      {"IAM page 700", PageBuilder().Type(10).PageId(700).Noise(5).Build(), true},
      {"GAM page 511232", PageBuilder().Type(8).PageId(511232).Build(), true},
      {"file header", test::FileHeaderPage(1, 600).Build(), true},
  };
  PageFacts facts;
  facts.Reset("source 1 x");
  std::uint64_t sector = 5000;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(KeptWhole(c.page), c.whole);
    facts.Keep(sector, c.page);
    Page served{};
    served.fill(0xEE);
    ASSERT_TRUE(facts.Fill(sector, served));
    if (c.whole) {
      EXPECT_EQ(served, c.page);
    } else {
      EXPECT_TRUE(KeptBytesEqual(c.page, served.data()));
      // Nothing else: no stale bytes of the buffer, no torn-bit pattern to restore.
      Page rest = served;
      for (const KeptHeaderRange& r : kKeptHeaderRanges)
        std::fill_n(rest.begin() + static_cast<std::ptrdiff_t>(r.first), r.length, 0);
      EXPECT_TRUE(std::all_of(rest.begin(), rest.end(), [](std::uint8_t b) { return b == 0; }));
      Page restored = served;
      RestoreTornBits(restored);
      EXPECT_EQ(restored, served);
    }
    EXPECT_FALSE(facts.Fill(sector + 8, served)) << "only the page's own first sector";
    sector += 16 * 3;
  }
  EXPECT_EQ(facts.Pages(), std::size(cases));
  EXPECT_EQ(facts.WholePages(), 6u);
}

// Pages kept out of order, again, and in runs broken by gaps are each found where they were
// kept; the store as bytes comes back the same, and damaged bytes are no store.
TEST(PageFactsTest, FindsPagesKeptInAnyOrderAndRoundTripsItsBytes) {
  PageFacts facts;
  facts.Reset("source 1 x");
  std::map<std::uint64_t, Page> kept;
  const std::uint64_t sectors[] = {160, 176, 192, 400, 416, 96, 112, 128, 8, 24, 176, 304, 144};
  std::int32_t id = 100;
  for (const std::uint64_t s : sectors) {
    const Page page = s == 400 ? test::PfsPage(1).PageId(8088).Build() : Plain(id++);
    facts.Keep(s, page);
    kept.emplace(s, page);  // a sector kept twice keeps its first page
  }
  auto check = [&](const PageFacts& store) {
    for (std::uint64_t s = 0; s < 500; ++s) {
      Page served{};
      const auto it = kept.find(s);
      ASSERT_EQ(store.Fill(s, served), it != kept.end()) << s;
      if (it != kept.end()) {
        EXPECT_TRUE(KeptBytesEqual(it->second, served.data())) << s;
      }
    }
  };
  check(facts);
  EXPECT_EQ(facts.Pages(), kept.size());

  const std::string bytes = facts.Serialize();
  const ByteView view(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  PageFacts loaded;
  ASSERT_TRUE(loaded.Deserialize(view, "content 9 c"));
  EXPECT_EQ(loaded.Origin(), "content 9 c");
  check(loaded);
  EXPECT_EQ(loaded.Serialize(), bytes);

  // Cut anywhere, or a count changed, it is refused and the store is left empty.
  for (std::size_t cut :
       {std::size_t{0}, std::size_t{7}, std::size_t{20}, bytes.size() / 2, bytes.size() - 1}) {
    EXPECT_FALSE(loaded.Deserialize(view.first(cut), "c")) << cut;
    EXPECT_EQ(loaded.Pages(), 0u);
    EXPECT_EQ(loaded.Origin(), "");
  }
  std::string longer = bytes + "x";
  EXPECT_FALSE(loaded.Deserialize(
      ByteView(reinterpret_cast<const std::uint8_t*>(longer.data()), longer.size()), "c"));
  for (std::size_t at : {std::size_t{8}, std::size_t{24}, std::size_t{28}}) {
    std::string damaged = bytes;
    damaged[at] = static_cast<char>(damaged[at] ^ 0x41);
    EXPECT_FALSE(loaded.Deserialize(
        ByteView(reinterpret_cast<const std::uint8_t*>(damaged.data()), damaged.size()), "c"))
        << at;
  }
}

TEST(KeptHeadersTest, EveryRecordComesBackAcrossChunksAndBlocks) {
  // Runs of a file's pages (page ids going up by one, links to the pages beside, owner and
  // LSN mostly repeating, the ends of a chain and a page id at the top of its range among
  // them) mixed with records of random bytes, enough of them to fill several blocks.
  std::mt19937 random(11);
  auto byte = [&] { return static_cast<std::uint8_t>(random() & 0xFF); };
  auto put32 = [](KeptHeaders::Record& r, std::size_t at, std::uint32_t v) {
    EncodeFixed32(r.data() + at, v);
  };
  std::vector<KeptHeaders::Record> records;
  while (records.size() < 90000) {
    const std::size_t length = 1 + random() % 150;
    if (random() % 3 == 0) {
      for (std::size_t i = 0; i < length; ++i) {
        KeptHeaders::Record r;
        for (std::uint8_t& b : r) b = byte();
        records.push_back(r);
      }
      continue;
    }
    std::uint32_t page = random() % 4 == 0 ? 0xFFFFFFF0u : static_cast<std::uint32_t>(random());
    const std::uint32_t owner = static_cast<std::uint32_t>(random());
    for (std::size_t i = 0; i < length; ++i, ++page) {
      KeptHeaders::Record r{};
      r[0] = 1;
      r[1] = random() % 20 == 0 ? 2 : 1;
      put32(r, 2, i == 0 ? 0 : page - 1);
      r[6] = i == 0 ? 0 : 1;
      put32(r, 8, i + 1 == length ? 0 : page + 1);
      r[12] = i + 1 == length ? 0 : 1;
      put32(r, 14, random() % 10 == 0 ? owner + 1 : owner);
      put32(r, 18, page);
      r[22] = 1;
      r[24] = static_cast<std::uint8_t>(random() % 30 == 0);
      put32(r, 26, 21);
      put32(r, 30, static_cast<std::uint32_t>(random() % 4));
      r[34] = byte();
      r[35] = byte();
      records.push_back(r);
    }
  }
  KeptHeaders store;
  for (const KeptHeaders::Record& r : records) store.Append(r);
  ASSERT_EQ(store.Count(), records.size());
  ASSERT_GT(store.HeldBytes(), 2 * KeptHeaders::kBlockBytes) << "spans blocks";
  EXPECT_LT(store.HeldBytes(), records.size() * kKeptHeaderBytes);

  KeptHeaders::Record got;
  for (std::size_t i = 0; i < records.size(); ++i) {
    store.Get(i, got);
    ASSERT_EQ(got, records[i]) << "in order, record " << i;
  }
  for (std::size_t i = records.size(); i-- > records.size() - 200;) {
    store.Get(i, got);
    ASSERT_EQ(got, records[i]) << "backwards, record " << i;
  }
  for (int probe = 0; probe < 20000; ++probe) {
    const std::size_t i = random() % records.size();
    store.Get(i, got);
    ASSERT_EQ(got, records[i]) << "at random, record " << i;
  }
  store.Clear();
  EXPECT_EQ(store.Count(), 0u);
  store.Append(records[5]);
  store.Get(0, got);
  EXPECT_EQ(got, records[5]) << "filled again after a clear";
}

TEST(PageFactsTest, SideFileBelongsOnlyToItsStamp) {
  PageFacts facts;
  facts.Reset("source 1 x");
  facts.Keep(16, Plain(40));
  const SavedScanStamp stamp{10, 11, 12, 13};
  const std::string file = FactsFileBytes(stamp, facts);
  const ByteView view(reinterpret_cast<const std::uint8_t*>(file.data()), file.size());
  PageFacts loaded;
  EXPECT_TRUE(ReadFactsFile(view, stamp, loaded, "content 12 c"));
  EXPECT_EQ(loaded.Pages(), 1u);
  for (const SavedScanStamp other :
       {SavedScanStamp{9, 11, 12, 13}, SavedScanStamp{10, 1, 12, 13}, SavedScanStamp{10, 11, 2, 13},
        SavedScanStamp{10, 11, 12, 3}}) {
    EXPECT_FALSE(ReadFactsFile(view, other, loaded, "content 12 c"));
    EXPECT_EQ(loaded.Pages(), 0u);
  }
  // Damaged anywhere after it was written, it is not used.
  for (std::size_t at = 0; at < file.size(); at += 7) {
    std::string damaged = file;
    damaged[at] = static_cast<char>(damaged[at] ^ 0x10);
    EXPECT_FALSE(ReadFactsFile(
        ByteView(reinterpret_cast<const std::uint8_t*>(damaged.data()), damaged.size()), stamp,
        loaded, "content 12 c"))
        << at;
  }
  const std::uint8_t a[] = {1, 2, 3};
  EXPECT_NE(StampHash(a), StampHash(ByteView(a, 2)));
}

// Through PageFactsSource every request sees, in the bytes the rules read, what the source
// itself gives; pages the store lacks cost reads, held ones none.
TEST(PageFactsSourceTest, ServesHeldPagesAndReadsTheRestAsTheSourceWould) {
  PagesSource source;
  for (std::int32_t i = 0; i < 40; ++i)
    source.pages.push_back(i == 3 ? test::PfsPage(1).Build() : Plain(100 + i));
  source.bad = {21};
  PageFacts facts;
  facts.Reset("source 1 x");
  // Pages 10-14 and 20-22 the scan never kept (a gap of a merged fragment, an unreadable
  // page); the rest it did.
  for (std::size_t i = 0; i < source.pages.size(); ++i)
    if ((i < 10 || i > 14) && (i < 20 || i > 22))
      facts.Keep(PagesSource::kFirst + 16 * i, source.pages[i]);
  PageFactsSource served(facts, source);

  struct Case {
    std::int64_t k;
    std::int32_t count;
    bool ok;
    std::int64_t sectorsRead;
  };
  for (const Case& c :
       {Case{0, 10, true, 0}, Case{0, 16, true, 5 * 16}, Case{8, 4, true, 2 * 16},
        Case{16, 16, false, 3 * 16}, Case{23, 17, true, 0}, Case{38, 4, false, 2 * 16}}) {
    SCOPED_TRACE(testing::Message() << "pages " << c.k << "+" << c.count);
    source.sectorsRead = 0;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(c.count) * kPageSize, 0xEE);
    EXPECT_EQ(served.ReadPages(PagesSource::kFirst, c.k, c.count, buffer), c.ok);
    EXPECT_LE(source.sectorsRead, c.sectorsRead);
    if (!c.ok) continue;
    for (std::int32_t i = 0; i < c.count; ++i) {
      const Page& page = source.pages[static_cast<std::size_t>(c.k + i)];
      EXPECT_TRUE(KeptBytesEqual(page, buffer.data() + static_cast<std::size_t>(i) * kPageSize))
          << i;
    }
  }
  // A page read alone may be read past its header (a name, a size): only pages kept whole
  // come from the store, the rest as the source gives them; the unreadable one alone fails.
  for (std::int64_t k = 0; k < 40; ++k) {
    Page page{};
    source.sectorsRead = 0;
    EXPECT_EQ(served.ReadPage(PagesSource::kFirst, k, page), k != 21) << k;
    if (k != 21) {
      EXPECT_EQ(page, source.pages[static_cast<std::size_t>(k)]) << k;
    }
    EXPECT_EQ(source.sectorsRead, k == 3 ? 0 : 16) << k;
  }
  // Lead-ins and requests that are not whole pages go to the source.
  std::vector<std::uint8_t> lead(15 * kSectorSize);
  source.sectorsRead = 0;
  EXPECT_TRUE(served.ReadSectors(PagesSource::kFirst + 16, -15, 15, lead));
  EXPECT_EQ(source.sectorsRead, 15);
  // An empty store is the source itself.
  PageFacts none;
  PageFactsSource plain(none, source);
  source.sectorsRead = 0;
  std::vector<std::uint8_t> all(5 * kPageSize);
  EXPECT_TRUE(plain.ReadPages(PagesSource::kFirst, 0, 5, all));
  EXPECT_EQ(source.sectorsRead, 5 * 16);
}

}  // namespace
}  // namespace ravelin
