// The scan's view of the source: a window of up to 12288 sectors (6 MiB) that serves the
// 96-byte header of every candidate position and only ever moves forward.
//
// The window is filled piece by piece (1 MiB at a time) as the scan reaches each piece, so
// the bytes it tests are still in the processor's cache when it tests them, and the kernel
// is asked to read the next window ahead while the current one is tested.
//
// The bytes a header is taken from are always bytes that were read: a piece whose read fails
// is salvaged page by page and sector by sector, and a header whose own sector cannot be
// read is a read failure, never stale bytes of an earlier window.
#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include "common/bytes.h"
#include "datasource/data_source.h"
#include "datasource/device.h"
#include "datasource/sector_reader.h"

namespace ravelin {

inline constexpr std::int64_t kBlockSectors = 12288;

using PageHeader = std::array<std::uint8_t, kPageHeaderSize>;

class BlockWindow {
 public:
  // Windows are read through a SectorReader of their own over `source` (told that reads move
  // forward); sectors outside the window through `single`. readAhead: ask the kernel for the
  // next window while this one is tested.
  BlockWindow(const DataSource& source, const DeviceOpener& opener, SectorReader& single,
              bool readAhead);

  // Places the window at `start` with `count` sectors (the scan's first block) and reads it
  // whole. False when not one sector of it could be read.
  bool FillFirst(std::uint64_t start, std::int64_t count, std::int64_t end);

  // Copies the first 96 bytes of `sector` into `header`: 0 on success, 1 on a read failure.
  // advance: the window may move forward, in steps of windowLength, to reach the sector;
  // otherwise a sector outside the window is read on its own through `single`.
  int GetPageHeader(PageHeader& header, bool advance, std::int64_t windowLength,
                    std::uint64_t sector, std::int64_t end);

  // The first byte of `sector` when the window holds it and it could be read, else nothing.
  // Lets the scan pass over most positions without copying a header.
  std::optional<std::uint8_t> PeekFirstByte(std::uint64_t sector);

  // The 8192 bytes of the page at `sector` when the window holds all of them and each could
  // be read (reading the pieces they lie in if need be), else null.
  const std::uint8_t* WholePage(std::uint64_t sector);

 private:
  static constexpr std::int64_t kPieceSectors = 2048;  // 1 MiB
  static constexpr std::size_t kPieces = kBlockSectors / kPieceSectors;

  void Place(std::uint64_t start, std::int64_t count, std::int64_t end);
  // The window's bytes at `offset` (sectors from its start), reading their piece first if
  // needed; null when that sector could not be read.
  const std::uint8_t* SectorAt(std::uint64_t offset);
  bool FillPiece(std::size_t piece);

  SectorReader& single_;
  SectorReader reader_;
  const bool readAhead_;
  // Page-aligned: the kernel copies from the page cache much faster into an aligned buffer.
  struct FreeDeleter {
    void operator()(std::uint8_t* p) const { std::free(p); }
  };
  std::unique_ptr<std::uint8_t[], FreeDeleter> buffer_;
  std::vector<bool> bad_;  // sectors of the window that could not be read
  std::array<bool, kPieces> pieceRead_{};
  std::uint64_t blockStart_ = 0;
  std::uint64_t blockEnd_ = 0;
  std::uint64_t count_ = 0;  // sectors of the window that are read for it
};

}  // namespace ravelin
