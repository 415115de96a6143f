// The page map of the database file under analysis: one record per page id, filled from
// the file's PFS and IAM pages and from the links of its data and index pages, read by the
// missing-page check and the search for missing fragments. docs/allocation_pages.md
// describes the pages it is filled from.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace ravelin {

inline constexpr std::uint8_t kPageKindIam = 10;
inline constexpr std::uint8_t kAllocFree = 0;
inline constexpr std::uint8_t kAllocAllocated = 1;
inline constexpr std::uint8_t kAllocUnknown = 0xFF;
inline constexpr std::uint8_t kOwnerFromAllocation = 0;  // an IAM page, or a PFS/IAM header
inline constexpr std::uint8_t kOwnerFromLink = 1;        // a data or index page's link
inline constexpr std::uint8_t kOwnerNeverSet = 0xFF;

// One page's record as the rules read it.
struct PageRecord {
  std::uint8_t PageKind = 0;                  // 10 when a PFS byte marks an IAM page
  std::int32_t OwnerId = 0;                   // object id of the owner; 0 = not known
  std::uint8_t AllocState = kAllocUnknown;    // 1 allocated, 0 free (per a PFS page)
  std::uint8_t OwnerSource = kOwnerNeverSet;  // where OwnerId came from

  bool operator==(const PageRecord&) const = default;
};

// Sized to the file's page count: page ids 0 .. Size() - 1 have a record, no other has.
// Stored as 5 bytes a page (the owner, and the three small fields packed into one byte) in
// zeroed memory, a reset record being all zero bits: the kernel hands out zero pages lazily,
// so only the parts of the map the analysis touches cost memory (a file of 2^31 - 1 pages
// reserves 10 GiB of address space, one of 100,000 pages half a megabyte).
class PageMap {
 public:
  // Every record of pages 0 .. pageCount - 1 reset (PageKind 0, OwnerId 0, AllocState and
  // OwnerSource 0xFF), and no record beyond. False, with the map emptied, when pageCount is
  // not positive or the memory cannot be had.
  bool Reset(std::int64_t pageCount);
  void Clear();

  std::int64_t Size() const { return size_; }
  bool Contains(std::int64_t page) const { return page >= 0 && page < Size(); }

  // Callers check Contains first.
  PageRecord Record(std::int64_t page) const;
  std::uint8_t PageKind(std::int64_t page) const {
    return (state_[Index(page)] & kIamBit) ? kPageKindIam : 0;
  }
  std::int32_t OwnerId(std::int64_t page) const { return owner_[Index(page)]; }
  std::uint8_t AllocState(std::int64_t page) const {
    return kCodes[(state_[Index(page)] >> kAllocShift) & 3];
  }
  std::uint8_t OwnerSource(std::int64_t page) const {
    return kCodes[(state_[Index(page)] >> kSourceShift) & 3];
  }

  void SetIam(std::int64_t page);
  void SetAllocState(std::int64_t page, std::uint8_t state);  // 0, 1 or 0xFF
  void SetOwner(std::int64_t page, std::int32_t owner, std::uint8_t source);

  // While `pages` is set, the setters append each page whose record they change to it, so
  // that a reader who judged pages earlier can tell which judgements still hold. Null stops
  // the recording; the owner of `pages` sets null before it goes.
  void RecordChangesIn(std::vector<std::int64_t>* pages) { changes_ = pages; }

 private:
  static constexpr std::uint8_t kIamBit = 0x01;
  static constexpr int kAllocShift = 1;
  static constexpr int kSourceShift = 3;
  // Two-bit codes of AllocState and OwnerSource: 0 for 0xFF (so that a reset record is all
  // zero), 1 for 0, 2 for 1.
  static constexpr std::uint8_t kCodes[4] = {0xFF, 0, 1, 0xFF};

  static std::size_t Index(std::int64_t page) { return static_cast<std::size_t>(page); }
  static std::uint8_t Code(std::uint8_t value) {
    return value == 0xFF ? 0 : static_cast<std::uint8_t>(1 + (value & 1));
  }

  struct Free {
    void operator()(void* p) const { std::free(p); }
  };
  std::int64_t size_ = 0;
  std::unique_ptr<std::int32_t[], Free> owner_;
  std::unique_ptr<std::uint8_t[], Free> state_;
  std::vector<std::int64_t>* changes_ = nullptr;

  void SetState(std::int64_t page, std::uint8_t state);
};

}  // namespace ravelin
