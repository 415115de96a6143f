#include "catalogue/stored_content.h"

#include "page/page_format.h"

namespace ravelin {

void StoredContent::Open(std::unique_ptr<Device> file, std::string path,
                         const FragmentTable& rows) {
  file_ = std::move(file);
  path_ = std::move(path);
  Index(rows);
}

namespace {

// Bytes one row takes in a content file, added to `position`; false when the sum leaves 64
// bits. Rows are checked when read, but a table of two million rows of 2^31 pages each
// still sums past 2^64, and a wrapped position would hand out another fragment's bytes.
bool AddStoredRow(const FragmentRow& row, std::uint64_t& position) {
  const std::int64_t pages = row.Pages();
  if (pages < 0) return false;
  std::uint64_t pageBytes = 0;
  return !__builtin_mul_overflow(static_cast<std::uint64_t>(pages), kPageSize, &pageBytes) &&
         !__builtin_add_overflow(position, kLeadInBytes, &position) &&
         !__builtin_add_overflow(position, pageBytes, &position);
}

}  // namespace

void StoredContent::Index(const FragmentTable& rows) {
  fragments_.clear();
  fragments_.reserve(rows.Count());
  std::uint64_t position = 0;
  for (const FragmentRow& row : rows.Rows()) {
    const std::uint64_t pagesOffset = position + kLeadInBytes;
    // Rows whose bytes would lie past 2^64 are in no file: they stay unindexed and read
    // as missing.
    if (!AddStoredRow(row, position)) break;
    fragments_.try_emplace(row.StartSector, Stored{pagesOffset, row.Pages()});
  }
}

std::optional<std::uint64_t> StoredContent::ExpectedSize(const FragmentTable& rows) {
  std::uint64_t size = kTrailerBytes;
  for (const FragmentRow& row : rows.Rows()) {
    if (!AddStoredRow(row, size)) return std::nullopt;
  }
  return size;
}

bool StoredContent::ReadSectors(std::uint64_t startSector, std::int64_t offset, std::int32_t count,
                                MutableBytes buffer) {
  if (!file_ || count < 0) return false;
  const std::uint64_t bytes = static_cast<std::uint64_t>(count) * kSectorSize;
  if (bytes > buffer.size()) return false;
  const auto it = fragments_.find(startSector);
  if (it == fragments_.end()) return false;
  const Stored& stored = it->second;
  // Sectors outside [-15, 16 x pages) would come from a neighbouring fragment's bytes,
  // which are not the sectors asked for.
  std::int64_t end = 0;
  std::int64_t storedSectors = 0;
  if (offset < -static_cast<std::int64_t>(kLeadInSectors) ||
      __builtin_add_overflow(offset, static_cast<std::int64_t>(count), &end) ||
      __builtin_mul_overflow(stored.pages, static_cast<std::int64_t>(kSectorsPerPage),
                             &storedSectors) ||
      end > storedSectors)
    return false;
  if (count == 0) return true;
  // The offset lies inside the stored pages, whose bytes Index summed within 64 bits; the
  // checks only keep the arithmetic itself defined.
  std::int64_t offsetBytes = 0;
  std::uint64_t position = 0;
  if (__builtin_mul_overflow(offset, static_cast<std::int64_t>(kSectorSize), &offsetBytes) ||
      __builtin_add_overflow(stored.pagesOffset, offsetBytes, &position))
    return false;
  if (!file_->ReadAt(position, buffer.first(bytes))) return false;
  // Only the page part is scrambled; the scramble works on 32-bit words, whatever page they
  // belong to, so any sector-aligned stretch of pages unscrambles on its own.
  if (end > 0) {
    const std::size_t leadIn = offset < 0 ? static_cast<std::size_t>(-offset) * kSectorSize : 0;
    UnscramblePage(buffer.subspan(leadIn, bytes - leadIn), key);
  }
  return true;
}

}  // namespace ravelin
