#include "catalogue/stored_content.h"

#include "page/page_format.h"

namespace ravelin {

void StoredContent::Open(std::unique_ptr<Device> file, std::string path,
                         const FragmentTable& rows) {
  file_ = std::move(file);
  path_ = std::move(path);
  Index(rows);
}

void StoredContent::Index(const FragmentTable& rows) {
  fragments_.clear();
  fragments_.reserve(rows.Count());
  std::uint64_t position = 0;
  for (const FragmentRow& row : rows.Rows()) {
    const std::int64_t pages = row.Pages();
    fragments_.try_emplace(row.StartSector, Stored{position + kLeadInBytes, pages});
    position += kLeadInBytes + kPageSize * static_cast<std::uint64_t>(pages);
  }
}

std::uint64_t StoredContent::ExpectedSize(const FragmentTable& rows) {
  std::uint64_t size = kTrailerBytes;
  for (const FragmentRow& row : rows.Rows())
    size += kLeadInBytes + kPageSize * static_cast<std::uint64_t>(row.Pages());
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
  const std::int64_t end = offset + count;
  if (offset < -static_cast<std::int64_t>(kLeadInSectors) ||
      end > stored.pages * static_cast<std::int64_t>(kSectorsPerPage))
    return false;
  if (count == 0) return true;
  const std::uint64_t position =
      stored.pagesOffset +
      static_cast<std::uint64_t>(offset * static_cast<std::int64_t>(kSectorSize));
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
