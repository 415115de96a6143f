// Where the sectors of a fragment come from. While the recovery works from the data source,
// a fragment's sectors are read from the source at its start sector + offset; once a
// fragment content file is open they come from the stored content, found by the fragment's
// start sector. Extraction, the update information, the analysis and the assembly read
// fragment pages only through a FragmentSource handed to them.
#pragma once

#include <cstdint>

#include "common/bytes.h"
#include "datasource/sector_reader.h"

namespace ravelin {

class FragmentSource {
 public:
  virtual ~FragmentSource() = default;

  // `count` sectors at `startSector` + `offset` (offset down to -15, the lead-in before the
  // fragment) of the fragment that starts at `startSector`, into the front of `buffer`.
  virtual bool ReadSectors(std::uint64_t startSector, std::int64_t offset, std::int32_t count,
                           MutableBytes buffer) = 0;

  // Page `k` of the fragment (16 sectors at `startSector` + 16k) into `page`, zero-filled first
  // so that a short read at the end of the source leaves zeros, not stale bytes.
  bool ReadPage(std::uint64_t startSector, std::int64_t k, MutablePage page);

  // Pages k .. k + count - 1 of the fragment in one request, into the front of `pages`
  // (zero-filled first). True only when every one of them would have been read by ReadPage
  // with these bytes, so that a caller reading in large blocks can fall back to ReadPage for
  // the pages of a block that fails and see exactly what a page-by-page reader sees.
  virtual bool ReadPages(std::uint64_t startSector, std::int64_t k, std::int32_t count,
                         MutableBytes pages);

  // Says that `pages` pages of the fragment from its first will be read soon, so that a
  // disk may fetch them while other work goes on. Only advice: nothing is read here.
  virtual void WillNeed(std::uint64_t startSector, std::int64_t pages) {
    (void)startSector;
    (void)pages;
  }
};

// Sectors read from the chosen source through its sector reader.
class LiveFragmentSource final : public FragmentSource {
 public:
  explicit LiveFragmentSource(SectorReader& reader) : reader_(reader) {}
  bool ReadSectors(std::uint64_t startSector, std::int64_t offset, std::int32_t count,
                   MutableBytes buffer) override;
  // A request running past the end of the source is shortened and succeeds, so a block is
  // only good when its last page starts before that end, as each of its pages read alone
  // would then succeed too.
  bool ReadPages(std::uint64_t startSector, std::int64_t k, std::int32_t count,
                 MutableBytes pages) override;
  void WillNeed(std::uint64_t startSector, std::int64_t pages) override;

 private:
  SectorReader& reader_;
};

}  // namespace ravelin
