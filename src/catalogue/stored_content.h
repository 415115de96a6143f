// The opened fragment content file: the bytes of every fragment saved with a scan-info row
// file, so that the analysis and the assembly can run without the data source.
//
// For each row, in row order, the file holds a 7680-byte lead-in (the 15 sectors before the
// fragment, as read) and the fragment's pages scrambled word by word with the content key;
// a 6-byte trailer ends the file. Nothing in the file says where a fragment lies: positions
// follow from the rows, so the offsets are indexed from the Fragment table whenever a
// content file or a row file is opened.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "catalogue/fragment_source.h"
#include "catalogue/fragment_table.h"
#include "common/bytes.h"
#include "datasource/device.h"

namespace ravelin {

inline constexpr std::uint64_t kLeadInSectors = 15;
inline constexpr std::uint64_t kLeadInBytes = kLeadInSectors * kSectorSize;  // 7680
inline constexpr std::uint64_t kTrailerBytes = 6;

class StoredContent final : public FragmentSource {
 public:
  bool IsOpen() const { return file_ != nullptr; }
  const std::string& Path() const { return path_; }
  std::uint64_t FileSize() const { return file_ ? file_->SizeBytes() : 0; }

  // Holds `file` as the content file (replacing any other) and indexes `rows`.
  void Open(std::unique_ptr<Device> file, std::string path, const FragmentTable& rows);
  // Re-indexes after the rows were replaced (a row file opened on its own).
  void Index(const FragmentTable& rows);

  // Reads `count` sectors of the fragment starting at `startSector`, `offset` sectors from
  // its start (down to -15, into the lead-in). The first row with that start sector wins.
  // Fails when no row starts there, when the range leaves the lead-in and pages stored for
  // that row, or when the file ends first. Page bytes come back unscrambled, lead-in bytes
  // as stored.
  bool ReadSectors(std::uint64_t startSector, std::int64_t offset, std::int32_t count,
                   MutableBytes buffer) override;

  // Size a content file saved with `rows` has: the lead-ins, the pages and the trailer;
  // nothing when that size does not fit 64 bits (no file can match such rows).
  static std::optional<std::uint64_t> ExpectedSize(const FragmentTable& rows);

  std::uint32_t key = 0;  // the content key from the trailer

 private:
  struct Stored {
    std::uint64_t pagesOffset;  // byte position of the fragment's first page
    std::int64_t pages;
  };

  std::unique_ptr<Device> file_;
  std::string path_;
  std::unordered_map<std::uint64_t, Stored> fragments_;
};

}  // namespace ravelin
