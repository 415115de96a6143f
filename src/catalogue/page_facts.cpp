#include "catalogue/page_facts.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "page/page_format.h"

namespace ravelin {
namespace {

constexpr std::uint64_t kPageSectors = kSectorsPerPage;
constexpr std::uint8_t kPageTypeTextMix = 3;
constexpr std::uint8_t kPageTypeTextTree = 4;
constexpr std::uint8_t kPageTypeBoot = 13;
constexpr char kMagic[8] = {'R', 'V', 'P', 'F', 'A', 'C', 'T', '1'};

void Put64(std::string& out, std::uint64_t v) {
  std::uint8_t b[8];
  EncodeFixed64(b, v);
  out.append(reinterpret_cast<const char*>(b), 8);
}
void Put32(std::string& out, std::uint32_t v) {
  std::uint8_t b[4];
  EncodeFixed32(b, v);
  out.append(reinterpret_cast<const char*>(b), 4);
}

// Reads fixed-width numbers and byte blocks from the front of `bytes`, failing once short.
class Reader {
 public:
  explicit Reader(ByteView bytes) : bytes_(bytes) {}
  bool Take(std::size_t n, const std::uint8_t*& at) {
    if (bytes_.size() - pos_ < n) return false;
    at = bytes_.data() + pos_;
    pos_ += n;
    return true;
  }
  bool U64(std::uint64_t& v) {
    const std::uint8_t* p = nullptr;
    if (!Take(8, p)) return false;
    v = DecodeFixed64(p);
    return true;
  }
  bool U32(std::uint32_t& v) {
    const std::uint8_t* p = nullptr;
    if (!Take(4, p)) return false;
    v = DecodeFixed32(p);
    return true;
  }
  bool AtEnd() const { return pos_ == bytes_.size(); }
  std::size_t Left() const { return bytes_.size() - pos_; }

 private:
  ByteView bytes_;
  std::size_t pos_ = 0;
};

}  // namespace

bool KeptWhole(PageView page) {
  const std::uint8_t type = page[page_header::kType];
  // The boot page and the file header are judged by their type before any version test.
  if (type == kPageTypeBoot || type == kPageTypeFileHeader) return true;
  const bool plain = type == kPageTypeData || type == kPageTypeIndex || type == kPageTypeTextMix ||
                     type == kPageTypeTextTree;
  return page[page_header::kHeaderVersion] == 1 && !plain;
}

namespace {

// The fields of a kept header record, in the order they are coded, and what each is
// predicted to be: the page id and file id come first, as the links are predicted from them.
enum class Predict : std::uint8_t {
  kSame,        // as in the record before
  kFollowing,   // the page id of the record before, plus one
  kPageBefore,  // this record's page id minus one
  kPageAfter,   // this record's page id plus one
  kFile,        // this record's file id
};
struct CodedField {
  std::uint8_t at;  // in the record
  std::uint8_t length;
  Predict predict;
};
constexpr std::size_t kRecPage = 18;
constexpr std::size_t kRecFile = 22;
constexpr CodedField kCodedFields[] = {
    {kRecPage, 4, Predict::kFollowing},  // page id
    {kRecFile, 2, Predict::kSame},       // file id
    {0, 2, Predict::kSame},              // header version, type
    {2, 4, Predict::kPageBefore},        // previous page
    {6, 2, Predict::kFile},              // its file
    {8, 4, Predict::kPageAfter},         // next page
    {12, 2, Predict::kFile},             // its file
    {14, 4, Predict::kSame},             // object id
    {24, 2, Predict::kSame},             // reserved count
    {26, 4, Predict::kSame},             // LSN: VLF
    {30, 4, Predict::kSame},             // LSN: block
    {34, 2, Predict::kSame},             // LSN: slot
};
static_assert(std::size(kCodedFields) <= 16, "two bytes of flags");
constexpr std::size_t kMaxCodedBytes = 2 + kKeptHeaderBytes;

// What `field` is predicted to be in `record`, whose fields before it are final and whose
// other bytes still hold the record before it.
void PredictField(const CodedField& field, KeptHeaders::Record& record) {
  std::uint8_t* at = record.data() + field.at;
  switch (field.predict) {
    case Predict::kSame:
      break;
    case Predict::kFollowing:
      EncodeFixed32(at, DecodeFixed32(at) + 1);
      break;
    case Predict::kPageBefore:
      EncodeFixed32(at, DecodeFixed32(record.data() + kRecPage) - 1);
      break;
    case Predict::kPageAfter:
      EncodeFixed32(at, DecodeFixed32(record.data() + kRecPage) + 1);
      break;
    case Predict::kFile:
      std::memcpy(at, record.data() + kRecFile, 2);
      break;
  }
}

// A record is never split between blocks: one that would be starts the next block.
std::uint64_t RecordStart(std::uint64_t pos) {
  const std::uint64_t inBlock = pos % KeptHeaders::kBlockBytes;
  return inBlock + kMaxCodedBytes > KeptHeaders::kBlockBytes
             ? pos - inBlock + KeptHeaders::kBlockBytes
             : pos;
}

}  // namespace

void KeptHeaders::Append(const Record& record) {
  Record predicted = count_ % kChunkPages == 0 ? Record{} : last_;
  std::uint64_t pos = RecordStart(end_);
  if (pos / kBlockBytes >= blocks_.size())
    blocks_.push_back(std::make_unique_for_overwrite<std::uint8_t[]>(kBlockBytes));
  if (count_ % kChunkPages == 0) chunkStarts_.push_back(pos);
  std::uint8_t* out = blocks_[pos / kBlockBytes].get() + pos % kBlockBytes;
  std::uint8_t* literal = out + 2;
  std::uint16_t flags = 0;
  for (std::size_t f = 0; f < std::size(kCodedFields); ++f) {
    const CodedField& field = kCodedFields[f];
    PredictField(field, predicted);
    if (std::memcmp(predicted.data() + field.at, record.data() + field.at, field.length) != 0) {
      flags = static_cast<std::uint16_t>(flags | (1u << f));
      std::memcpy(literal, record.data() + field.at, field.length);
      literal += field.length;
      std::memcpy(predicted.data() + field.at, record.data() + field.at, field.length);
    }
  }
  EncodeFixed16(out, flags);
  end_ = pos + static_cast<std::uint64_t>(literal - out);
  last_ = record;
  ++count_;
}

void KeptHeaders::Decode(std::uint64_t& pos, Record& record) const {
  pos = RecordStart(pos);
  const std::uint8_t* in = blocks_[pos / kBlockBytes].get() + pos % kBlockBytes;
  const std::uint16_t flags = DecodeFixed16(in);
  const std::uint8_t* literal = in + 2;
  for (std::size_t f = 0; f < std::size(kCodedFields); ++f) {
    const CodedField& field = kCodedFields[f];
    if (flags & (1u << f)) {
      std::memcpy(record.data() + field.at, literal, field.length);
      literal += field.length;
    } else {
      PredictField(field, record);
    }
  }
  pos += static_cast<std::uint64_t>(literal - in);
}

void KeptHeaders::Get(std::size_t index, Record& record) const {
  std::size_t i = 0;
  std::uint64_t pos = 0;
  // On from the last record read when that is no further than from the chunk's start.
  if (readIndex_ != SIZE_MAX && readIndex_ < index && index - readIndex_ <= index % kChunkPages) {
    i = readIndex_ + 1;
    pos = readEnd_;
  } else if (readIndex_ == index) {
    record = readRecord_;
    return;
  } else {
    i = index - index % kChunkPages;
    pos = chunkStarts_[index / kChunkPages];
  }
  for (; i <= index; ++i) {
    if (i % kChunkPages == 0) readRecord_ = Record{};
    Decode(pos, readRecord_);
  }
  readIndex_ = index;
  readEnd_ = pos;
  record = readRecord_;
}

void KeptHeaders::Clear() {
  count_ = 0;
  end_ = 0;
  last_ = {};
  chunkStarts_ = {};
  blocks_.clear();
  blocks_.shrink_to_fit();
  readIndex_ = SIZE_MAX;
  readEnd_ = 0;
}

std::size_t KeptHeaders::HeldBytes() const {
  return blocks_.size() * kBlockBytes + chunkStarts_.capacity() * sizeof(std::uint64_t);
}

std::string PageFacts::Origin() const {
  MutexLock lock(mutex_);
  return origin_;
}

void PageFacts::Reset(std::string origin) {
  MutexLock lock(mutex_);
  ClearLocked();
  origin_ = std::move(origin);
}

void PageFacts::ClearLocked() {
  origin_.clear();
  runs_.clear();
  runs_.shrink_to_fit();
  headers_.Clear();
  whole_.clear();
}

std::optional<std::size_t> PageFacts::Find(std::uint64_t sector) const {
  auto it = std::upper_bound(runs_.begin(), runs_.end(), sector,
                             [](std::uint64_t s, const Run& run) { return s < run.firstSector; });
  if (it == runs_.begin()) return std::nullopt;
  --it;
  const std::uint64_t distance = sector - it->firstSector;
  if (distance % kPageSectors != 0 || distance / kPageSectors >= it->count) return std::nullopt;
  return it->at + distance / kPageSectors;
}

void PageFacts::Keep(std::uint64_t sector, PageView page) {
  MutexLock lock(mutex_);
  if (Find(sector)) return;
  const std::size_t index = headers_.Count();
  if (index >= UINT32_MAX) return;  // a store this large is not kept; the pages are read
  KeptHeaders::Record record;
  std::uint8_t* to = record.data();
  for (const KeptHeaderRange& range : kKeptHeaderRanges) {
    std::memcpy(to, page.data() + range.first, range.length);
    to += range.length;
  }
  headers_.Append(record);
  if (KeptWhole(page)) {
    auto copy = std::make_unique_for_overwrite<std::uint8_t[]>(kPageSize);
    std::memcpy(copy.get(), page.data(), kPageSize);
    whole_.emplace(sector, std::move(copy));
  }
  const auto at = static_cast<std::uint32_t>(index);
  // The run before the sector, when it ends there and its pages were the last kept, grows by
  // this page: pages come in the scan's order, nearly always the next page of the last run.
  auto next = std::upper_bound(runs_.begin(), runs_.end(), sector,
                               [](std::uint64_t s, const Run& r) { return s < r.firstSector; });
  if (next != runs_.begin()) {
    Run& before = *(next - 1);
    if (before.at + before.count == at && before.count < UINT32_MAX &&
        sector - before.firstSector == kPageSectors * before.count) {
      ++before.count;
      return;
    }
  }
  runs_.insert(next, Run{sector, 1, at});
}

bool PageFacts::Fill(std::uint64_t sector, MutablePage page) const {
  MutexLock lock(mutex_);
  return FillLocked(sector, page);
}

bool PageFacts::FillWhole(std::uint64_t sector, MutablePage page) const {
  MutexLock lock(mutex_);
  return FillWholeLocked(sector, page);
}

std::int32_t PageFacts::FillRun(std::uint64_t sector, std::int32_t count, MutableBytes pages,
                                bool wholeOnly) const {
  MutexLock lock(mutex_);
  std::int32_t i = 0;
  for (std::uint64_t at = sector; i < count && (i == 0 || at > sector); ++i, at += kPageSectors) {
    const MutablePage page(pages.data() + static_cast<std::size_t>(i) * kPageSize, kPageSize);
    if (!(wholeOnly ? FillWholeLocked(at, page) : FillLocked(at, page))) break;
  }
  return i;
}

bool PageFacts::FillLocked(std::uint64_t sector, MutablePage page) const {
  const std::optional<std::size_t> index = Find(sector);
  if (!index) return false;
  if (FillWholeLocked(sector, page)) return true;
  std::fill(page.begin(), page.end(), std::uint8_t{0});
  KeptHeaders::Record record;
  headers_.Get(*index, record);
  const std::uint8_t* kept = record.data();
  for (const KeptHeaderRange& range : kKeptHeaderRanges) {
    std::memcpy(page.data() + range.first, kept, range.length);
    kept += range.length;
  }
  return true;
}

bool PageFacts::FillWholeLocked(std::uint64_t sector, MutablePage page) const {
  const auto it = whole_.find(sector);
  if (it == whole_.end()) return false;
  std::memcpy(page.data(), it->second.get(), kPageSize);
  return true;
}

bool PageFacts::Holds(std::uint64_t sector) const {
  MutexLock lock(mutex_);
  return Find(sector).has_value();
}

bool PageFacts::HoldsWhole(std::uint64_t sector) const {
  MutexLock lock(mutex_);
  return whole_.count(sector) > 0;
}

std::size_t PageFacts::Pages() const {
  MutexLock lock(mutex_);
  return headers_.Count();
}

std::size_t PageFacts::WholePages() const {
  MutexLock lock(mutex_);
  return whole_.size();
}

std::string PageFacts::Serialize() const {
  MutexLock lock(mutex_);
  std::string out(kMagic, sizeof kMagic);
  // Runs in sector order, their pages numbered anew in that order, so that the same pages
  // always give the same bytes whatever order they were kept in.
  Put64(out, runs_.size());
  std::uint32_t at = 0;
  for (const Run& run : runs_) {
    Put64(out, run.firstSector);
    Put32(out, run.count);
    Put32(out, at);
    at += run.count;
  }
  Put64(out, headers_.Count());
  KeptHeaders::Record record;
  for (const Run& run : runs_) {
    for (std::uint32_t i = 0; i < run.count; ++i) {
      headers_.Get(std::size_t{run.at} + i, record);
      out.append(reinterpret_cast<const char*>(record.data()), record.size());
    }
  }
  // Whole pages in sector order, so that the same store always gives the same bytes.
  std::vector<std::uint64_t> whole;
  whole.reserve(whole_.size());
  for (const auto& entry : whole_) whole.push_back(entry.first);
  std::sort(whole.begin(), whole.end());
  Put64(out, whole.size());
  for (const std::uint64_t sector : whole) {
    Put64(out, sector);
    out.append(reinterpret_cast<const char*>(whole_.at(sector).get()), kPageSize);
  }
  return out;
}

bool PageFacts::Deserialize(ByteView bytes, std::string origin) {
  MutexLock lock(mutex_);
  ClearLocked();
  if (!DeserializeLocked(bytes)) {
    ClearLocked();
    return false;
  }
  origin_ = std::move(origin);
  return true;
}

bool PageFacts::DeserializeLocked(ByteView bytes) {
  Reader in(bytes);
  const std::uint8_t* magic = nullptr;
  if (!in.Take(sizeof kMagic, magic) || std::memcmp(magic, kMagic, sizeof kMagic) != 0)
    return false;
  // Every count is checked against the bytes left before anything is reserved for it.
  std::uint64_t runCount = 0;
  if (!in.U64(runCount) || runCount > in.Left() / 16) return false;
  runs_.reserve(runCount);
  std::uint64_t pages = 0;
  for (std::uint64_t i = 0; i < runCount; ++i) {
    Run run{};
    if (!in.U64(run.firstSector) || !in.U32(run.count) || !in.U32(run.at)) return false;
    // Runs in sector order, not overlapping, their pages numbered one after the other.
    if (run.count == 0 || run.at != pages) return false;
    const std::uint64_t span = std::uint64_t{run.count - 1} * kPageSectors;
    if (run.firstSector > UINT64_MAX - span) return false;
    if (!runs_.empty()) {
      const Run& before = runs_.back();
      if (run.firstSector <= before.firstSector + std::uint64_t{before.count - 1} * kPageSectors)
        return false;
    }
    pages += run.count;
    if (pages >= UINT32_MAX) return false;
    runs_.push_back(run);
  }
  std::uint64_t headerPages = 0;
  const std::uint8_t* headers = nullptr;
  if (!in.U64(headerPages) || headerPages != pages || headerPages > in.Left() / kKeptHeaderBytes ||
      !in.Take(headerPages * kKeptHeaderBytes, headers))
    return false;
  KeptHeaders::Record record;
  for (std::uint64_t i = 0; i < headerPages; ++i) {
    std::memcpy(record.data(), headers + i * kKeptHeaderBytes, kKeptHeaderBytes);
    headers_.Append(record);
  }
  std::uint64_t wholeCount = 0;
  if (!in.U64(wholeCount) || wholeCount > in.Left() / (8 + kPageSize)) return false;
  for (std::uint64_t i = 0; i < wholeCount; ++i) {
    std::uint64_t sector = 0;
    const std::uint8_t* page = nullptr;
    if (!in.U64(sector) || !in.Take(kPageSize, page) || !Find(sector)) return false;
    auto copy = std::make_unique_for_overwrite<std::uint8_t[]>(kPageSize);
    std::memcpy(copy.get(), page, kPageSize);
    if (!whole_.emplace(sector, std::move(copy)).second) return false;
  }
  return in.AtEnd();
}

std::uint64_t StampHash(ByteView bytes, std::uint64_t hash) {
  for (const std::uint8_t b : bytes) hash = (hash ^ b) * 0x100000001b3ULL;
  return hash;
}

namespace {
constexpr char kFileMagic[8] = {'R', 'V', 'S', 'I', 'D', 'E', '0', '1'};
constexpr std::size_t kStampBytes = 40;  // the stamp and the hash of the store's bytes
}  // namespace

std::string FactsFileBytes(const SavedScanStamp& stamp, const PageFacts& facts) {
  std::string out(kFileMagic, sizeof kFileMagic);
  Put64(out, stamp.rowsBytes);
  Put64(out, stamp.rowsHash);
  Put64(out, stamp.contentBytes);
  Put64(out, stamp.contentHash);
  const std::string store = facts.Serialize();
  Put64(out,
        StampHash(ByteView(reinterpret_cast<const std::uint8_t*>(store.data()), store.size())));
  out += store;
  return out;
}

bool ReadFactsFile(ByteView bytes, const SavedScanStamp& stamp, PageFacts& facts,
                   std::string origin) {
  facts.Reset({});
  Reader in(bytes);
  const std::uint8_t* magic = nullptr;
  SavedScanStamp saved;
  if (!in.Take(sizeof kFileMagic, magic) ||
      std::memcmp(magic, kFileMagic, sizeof kFileMagic) != 0 || !in.U64(saved.rowsBytes) ||
      !in.U64(saved.rowsHash) || !in.U64(saved.contentBytes) || !in.U64(saved.contentHash) ||
      saved != stamp)
    return false;
  // A side file damaged since it was written is not used either.
  std::uint64_t storeHash = 0;
  if (!in.U64(storeHash)) return false;
  const ByteView store = bytes.subspan(sizeof kFileMagic + kStampBytes);
  return StampHash(store) == storeHash && facts.Deserialize(store, std::move(origin));
}

template <typename ReadRun>
bool PageFactsSource::Serve(std::uint64_t startSector, std::int64_t k, std::int32_t count,
                            MutableBytes out, bool wholeOnly, ReadRun readRun) {
  bool all = true;
  std::int32_t i = 0;
  while (i < count) {
    // The page's first sector; one that does not fit 64 bits is no page the store holds.
    const std::uint64_t page = static_cast<std::uint64_t>(k) + static_cast<std::uint64_t>(i);
    std::uint64_t sector = 0;
    const bool fits = !__builtin_mul_overflow(page, kPageSectors, &sector) &&
                      !__builtin_add_overflow(sector, startSector, &sector);
    if (fits) {
      // The pages the store holds from here on, under one look at it.
      const std::int32_t held = facts_.FillRun(
          sector, count - i, out.subspan(static_cast<std::size_t>(i) * kPageSize), wholeOnly);
      if (held > 0) {
        i += held;
        continue;
      }
    }
    // A run of pages the store does not hold, read in one request.
    std::int32_t n = 1;
    while (i + n < count) {
      const std::uint64_t next = sector + static_cast<std::uint64_t>(n) * kPageSectors;
      if (!fits || next < sector || (wholeOnly ? facts_.HoldsWhole(next) : facts_.Holds(next)))
        break;
      ++n;
    }
    if (!fits) n = count - i;
    if (!readRun(k + i, n,
                 MutableBytes(out.data() + static_cast<std::size_t>(i) * kPageSize,
                              static_cast<std::size_t>(n) * kPageSize)))
      all = false;
    i += n;
  }
  return all;
}

bool PageFactsSource::ReadSectors(std::uint64_t startSector, std::int64_t offset,
                                  std::int32_t count, MutableBytes buffer) {
  const auto pageSectors = static_cast<std::int64_t>(kPageSectors);
  if (offset < 0 || offset % pageSectors != 0 || count <= 0 || count % pageSectors != 0 ||
      buffer.size() < static_cast<std::size_t>(count) * kSectorSize || facts_.Pages() == 0)
    return source_.ReadSectors(startSector, offset, count, buffer);
  return Serve(startSector, offset / pageSectors, static_cast<std::int32_t>(count / pageSectors),
               buffer, /*wholeOnly=*/true,
               [&](std::int64_t first, std::int32_t n, MutableBytes bytes) {
                 return source_.ReadSectors(startSector, first * pageSectors,
                                            n * static_cast<std::int32_t>(pageSectors), bytes);
               });
}

bool PageFactsSource::ReadPages(std::uint64_t startSector, std::int64_t k, std::int32_t count,
                                MutableBytes pages) {
  if (k < 0 || count <= 0 || static_cast<std::uint64_t>(count) * kPageSize > pages.size() ||
      facts_.Pages() == 0)
    return source_.ReadPages(startSector, k, count, pages);
  return Serve(startSector, k, count, pages, /*wholeOnly=*/false,
               [&](std::int64_t first, std::int32_t n, MutableBytes bytes) {
                 return source_.ReadPages(startSector, first, n, bytes);
               });
}

}  // namespace ravelin
