#include "scan/block_window.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace ravelin {

BlockWindow::BlockWindow(const DataSource& source, const DeviceOpener& opener, SectorReader& single,
                         bool readAhead)
    : single_(single),
      reader_(source, opener),
      readAhead_(readAhead),
      buffer_(static_cast<std::uint8_t*>(
          std::aligned_alloc(4096, static_cast<std::size_t>(kBlockSectors) * kSectorSize))),
      bad_(static_cast<std::size_t>(kBlockSectors), false) {
  if (!buffer_) throw std::bad_alloc();
  reader_.AdviseSequential();
}

void BlockWindow::Place(std::uint64_t start, std::int64_t count, std::int64_t end) {
  blockStart_ = start;
  count_ = static_cast<std::uint64_t>(std::clamp<std::int64_t>(count, 0, kBlockSectors));
  // A read running past the source's end is shortened and still succeeds: the sectors past
  // the end would be whatever the buffer held before. They are not part of the window.
  const std::uint64_t readableEnd = reader_.ReadableEnd();
  count_ = start >= readableEnd ? 0 : std::min(count_, readableEnd - start);
  pieceRead_.fill(false);
  // The window nearly always moves on by exactly one window: have that read meanwhile.
  const auto next = static_cast<std::int64_t>(blockEnd_);
  if (readAhead_ && next >= 0 && next < end)
    reader_.AdviseWillNeed(blockEnd_, std::min(kBlockSectors, end - next));
}

bool BlockWindow::FillFirst(std::uint64_t start, std::int64_t count, std::int64_t end) {
  blockEnd_ = start + kBlockSectors;
  Place(start, count, end);
  bool any = false;
  for (std::size_t piece = 0; piece < kPieces; ++piece) any = FillPiece(piece) || any;
  return any;
}

bool BlockWindow::FillPiece(std::size_t piece) {
  pieceRead_[piece] = true;
  const std::uint64_t first = piece * kPieceSectors;
  if (first >= count_) return false;
  const auto n = static_cast<std::int32_t>(std::min<std::uint64_t>(kPieceSectors, count_ - first));
  auto at = [&](std::uint64_t sector) {
    return MutableBytes(buffer_.get() + sector * kSectorSize, (count_ - sector) * kSectorSize);
  };
  std::fill(bad_.begin() + static_cast<std::ptrdiff_t>(first),
            bad_.begin() + static_cast<std::ptrdiff_t>(first + n), false);
  if (reader_.ReadSectors(n, at(first), blockStart_ + first)) return true;
  // Salvage what can be read: page by page, then the sectors of the pages that fail.
  bool any = false;
  for (std::uint64_t page = first; page < first + n; page += kSectorsPerPage) {
    const auto len =
        static_cast<std::int32_t>(std::min<std::uint64_t>(kSectorsPerPage, first + n - page));
    if (reader_.ReadSectors(len, at(page), blockStart_ + page)) {
      any = true;
      continue;
    }
    for (std::uint64_t s = page; s < page + static_cast<std::uint64_t>(len); ++s) {
      if (reader_.ReadSectors(1, at(s), blockStart_ + s)) {
        any = true;
      } else {
        bad_[s] = true;
      }
    }
  }
  return any;
}

const std::uint8_t* BlockWindow::SectorAt(std::uint64_t offset) {
  const std::size_t piece = offset / kPieceSectors;
  if (!pieceRead_[piece]) FillPiece(piece);
  if (bad_[offset]) return nullptr;
  return buffer_.get() + offset * kSectorSize;
}

std::optional<std::uint8_t> BlockWindow::PeekFirstByte(std::uint64_t sector) {
  if (sector < blockStart_ || sector >= blockEnd_) return std::nullopt;
  const std::uint64_t offset = sector - blockStart_;
  if (offset >= count_) return std::nullopt;
  const std::uint8_t* bytes = SectorAt(offset);
  if (bytes == nullptr) return std::nullopt;
  return bytes[0];
}

const std::uint8_t* BlockWindow::WholePage(std::uint64_t sector) {
  if (sector < blockStart_ || sector >= blockEnd_) return nullptr;
  const std::uint64_t offset = sector - blockStart_;
  if (offset + kSectorsPerPage > count_) return nullptr;
  for (std::uint64_t s = offset; s < offset + kSectorsPerPage; ++s)
    if (SectorAt(s) == nullptr) return nullptr;
  return buffer_.get() + offset * kSectorSize;
}

int BlockWindow::GetPageHeader(PageHeader& header, bool advance, std::int64_t windowLength,
                               std::uint64_t sector, std::int64_t end) {
  if (advance && sector >= blockEnd_ && windowLength > 0) {
    // Move forward in whole window lengths until the window holds the sector.
    const auto length = static_cast<std::uint64_t>(windowLength);
    const std::uint64_t steps = (sector - blockEnd_) / length;
    const std::uint64_t start = blockEnd_ + steps * length;
    blockEnd_ = start + length;
    Place(start, std::min(windowLength, end - static_cast<std::int64_t>(start)), end);
  }
  if (sector >= blockStart_ && sector < blockEnd_) {
    const std::uint64_t offset = sector - blockStart_;
    if (offset < count_) {
      const std::uint8_t* bytes = SectorAt(offset);
      if (bytes == nullptr) return 1;
      std::memcpy(header.data(), bytes, kPageHeaderSize);
      return 0;
    }
    // Inside the window's range but past what is read for it (the scan's end lies within
    // the window): read the sector itself rather than trust old bytes.
  }
  std::array<std::uint8_t, kSectorSize> one{};
  if (!single_.ReadSectors(1, one, sector)) return 1;
  std::memcpy(header.data(), one.data(), kPageHeaderSize);
  return 0;
}

}  // namespace ravelin
