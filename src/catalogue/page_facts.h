// What the scan keeps of the pages it accepts, so that the analysis, the search and the check
// can decide without reading the source again.
//
// The rules of the page map, the chaining and the version guard read a page's header, and
// the whole of only a few pages: the allocation pages (PFS, IAM, GAM, SGAM, DIFF, ML), the
// boot page and the file header. So of every accepted page the store keeps the header bytes
// those rules read (36 bytes), keyed by the page's first sector on the source, and the whole
// 8192 bytes of those few: every page of header version 1 whose type is not data, index or
// text, and every page whose type says boot page or file header (read by type alone). A page
// of another header version is skipped by every rule for its version. The file's size and
// name (pages 0 and 32) are read whole, a page at a time.
//
// PageFactsSource serves the block reads the rules scan a fragment with (ReadPages) from the
// store: a page kept whole as it was read, any other as a page of zeros carrying the kept
// header bytes. A read of single pages (ReadPage, ReadSectors: a file's size and name, or a
// block read again page by page) is served only from pages kept whole, as those readers may
// look past the header. Pages the store does not hold
// (a row added without a scan, a sector that could not be read, a page the scan's window held
// only in part) are read from the source it wraps. It is for the steps that decide; the
// writer and the extractions read the source itself.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "catalogue/fragment_source.h"
#include "common/bytes.h"
#include "common/mutex.h"
#include "common/thread_annotations.h"

namespace ravelin {

// Header bytes kept of every page: [first, first + length) of the page.
struct KeptHeaderRange {
  std::size_t first;
  std::size_t length;
};
// Header version and type; previous page and its file; next page and its file; object id;
// page id, file id, reserved count and LSN (VLF, block, slot).
inline constexpr KeptHeaderRange kKeptHeaderRanges[] = {{0, 2}, {8, 6}, {16, 6}, {24, 4}, {32, 18}};
inline constexpr std::size_t kKeptHeaderBytes = 36;

// True when the rules read more than the header of `page`: it is kept whole.
bool KeptWhole(PageView page);

// The kept header bytes of every page, in the order kept, at about a fifth of their size:
// within a run of a file's pages the page id goes up by one from page to page, the links
// point at the pages beside it, and the type, file, owner and most of the LSN repeat. So
// each page is stored as the fields that differ from what its predecessor predicts, behind
// two bytes that say which differ. Every kChunkPages-th page starts afresh (predicted from
// zeros), so that any page is had by decoding at most that many; reading on from the last
// page read costs one. The bytes are held in blocks of a fixed size: no copy of everything
// when the store grows.
class KeptHeaders {
 public:
  using Record = std::array<std::uint8_t, kKeptHeaderBytes>;

  std::size_t Count() const { return count_; }
  void Append(const Record& record);
  // Record `index` (< Count()). Not for two threads at once: it remembers where it read.
  void Get(std::size_t index, Record& record) const;
  void Clear();
  // Bytes held, for measuring.
  std::size_t HeldBytes() const;

  static constexpr std::size_t kChunkPages = 64;
  static constexpr std::size_t kBlockBytes = std::size_t{1} << 20;

 private:
  // Decodes the record at `pos` over `record` (its predecessor, or zeros) and moves `pos`
  // past it.
  void Decode(std::uint64_t& pos, Record& record) const;

  std::size_t count_ = 0;
  std::uint64_t end_ = 0;                   // where the next record goes
  Record last_{};                           // the last record appended
  std::vector<std::uint64_t> chunkStarts_;  // where each chunk's first record is
  std::vector<std::unique_ptr<std::uint8_t[]>> blocks_;
  // The last record read: its index, the position after it, its bytes.
  mutable std::size_t readIndex_ = SIZE_MAX;
  mutable std::uint64_t readEnd_ = 0;
  mutable Record readRecord_{};
};

class PageFacts {
 public:
  PageFacts() = default;
  PageFacts(const PageFacts&) = delete;
  PageFacts& operator=(const PageFacts&) = delete;

  // What the store was filled from (a source or a content file); facts of another origin are
  // not those of the pages read now. Empty: nothing kept.
  std::string Origin() const EXCLUDES(mutex_);
  // Empties the store and names what it will be filled from.
  void Reset(std::string origin) EXCLUDES(mutex_);

  // Keeps what the rules read of the page at `sector`, as it was read. A sector already kept
  // keeps its first page: the source's bytes there do not change.
  void Keep(std::uint64_t sector, PageView page) EXCLUDES(mutex_);

  // The page at `sector` as the rules see it: whole when it was kept whole, else zeros with
  // the kept header bytes. False when the store does not hold it.
  bool Fill(std::uint64_t sector, MutablePage page) const EXCLUDES(mutex_);
  bool Holds(std::uint64_t sector) const EXCLUDES(mutex_);
  // The page at `sector` when it was kept whole.
  bool FillWhole(std::uint64_t sector, MutablePage page) const EXCLUDES(mutex_);
  bool HoldsWhole(std::uint64_t sector) const EXCLUDES(mutex_);
  // Pages at `sector`, `sector` + 16, … into the front of `pages`, as Fill (or FillWhole,
  // wholeOnly) gives each, up to `count` of them and up to the first the store does not
  // hold: how many it filled.
  std::int32_t FillRun(std::uint64_t sector, std::int32_t count, MutableBytes pages,
                       bool wholeOnly) const EXCLUDES(mutex_);

  std::size_t Pages() const EXCLUDES(mutex_);
  std::size_t WholePages() const EXCLUDES(mutex_);

  // The store as bytes, and back (false, the store left empty, when they are not a store).
  std::string Serialize() const EXCLUDES(mutex_);
  bool Deserialize(ByteView bytes, std::string origin) EXCLUDES(mutex_);

 private:
  // Pages kept at firstSector, firstSector + 16, … (count of them), their header bytes from
  // index `at` of headers_.
  struct Run {
    std::uint64_t firstSector;
    std::uint32_t count;
    std::uint32_t at;
  };
  std::optional<std::size_t> Find(std::uint64_t sector) const REQUIRES(mutex_);
  bool FillLocked(std::uint64_t sector, MutablePage page) const REQUIRES(mutex_);
  bool FillWholeLocked(std::uint64_t sector, MutablePage page) const REQUIRES(mutex_);
  void ClearLocked() REQUIRES(mutex_);
  bool DeserializeLocked(ByteView bytes) REQUIRES(mutex_);

  mutable Mutex mutex_;
  std::string origin_ GUARDED_BY(mutex_);
  std::vector<Run> runs_ GUARDED_BY(mutex_);  // by firstSector
  KeptHeaders headers_ GUARDED_BY(mutex_);
  // Pages kept whole, by their first sector.
  std::unordered_map<std::uint64_t, std::unique_ptr<std::uint8_t[]>> whole_ GUARDED_BY(mutex_);
};

// What a saved scan's side file belongs to: the size and hash of its row file, and the size
// and hash of its content file's first and last 64 KiB (the trailer, with the key drawn anew
// for every save, among them).
struct SavedScanStamp {
  std::uint64_t rowsBytes = 0;
  std::uint64_t rowsHash = 0;
  std::uint64_t contentBytes = 0;
  std::uint64_t contentHash = 0;
  bool operator==(const SavedScanStamp&) const = default;
};
inline constexpr std::uint64_t kStampHashSeed = 0xcbf29ce484222325ULL;
inline constexpr std::uint64_t kStampSampleBytes = 64 * 1024;
// FNV-1a over `bytes`, going on from `hash`.
std::uint64_t StampHash(ByteView bytes, std::uint64_t hash = kStampHashSeed);

// The side file of a saved scan: a stamp, the hash of the store's bytes, then the store.
std::string FactsFileBytes(const SavedScanStamp& stamp, const PageFacts& facts);
// Fills `facts` (of `origin`) from a side file's bytes when they are one and belong to
// `stamp`; false, the store left empty, otherwise.
bool ReadFactsFile(ByteView bytes, const SavedScanStamp& stamp, PageFacts& facts,
                   std::string origin);

// A fragment's pages from `facts` where it holds them, the rest from `source`. Requests that
// are not whole pages (lead-ins) go to `source`.
class PageFactsSource final : public FragmentSource {
 public:
  PageFactsSource(const PageFacts& facts, FragmentSource& source)
      : facts_(facts), source_(source) {}

  bool ReadSectors(std::uint64_t startSector, std::int64_t offset, std::int32_t count,
                   MutableBytes buffer) override;
  bool ReadPages(std::uint64_t startSector, std::int64_t k, std::int32_t count,
                 MutableBytes pages) override;

 private:
  // Pages k .. k + count - 1 into the front of `out`: held ones from the store, each run of
  // others through readRun(first, n, bytes). True when every page was had.
  // wholeOnly: only pages kept whole are served from the store.
  template <typename ReadRun>
  bool Serve(std::uint64_t startSector, std::int64_t k, std::int32_t count, MutableBytes out,
             bool wholeOnly, ReadRun readRun);

  const PageFacts& facts_;
  FragmentSource& source_;
};

}  // namespace ravelin
