// In-memory data sources for tests: images keyed by path that a SectorReader (or a
// Workspace) opens through MemorySources::Opener(), with open counting, unreadable sectors,
// and a pattern device that synthesises any sector of a disk of any size from its number.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "datasource/device.h"

namespace ravelin::test {

// Byte `offset` of the pattern disk: the first 8 bytes of every 512-byte sector hold the
// sector number (little-endian), the rest a mix of sector number and position, so a read
// of the wrong sector, or a sector shifted by a few bytes, never matches.
std::uint8_t PatternByte(std::uint64_t offset);
// `sectors` sectors of the pattern starting at `firstSector`.
std::vector<std::uint8_t> PatternBytes(std::uint64_t firstSector, std::size_t sectors);

// A disk of `sizeBytes` whose bytes are PatternByte(offset); costs no memory at any size.
class PatternDevice final : public Device {
 public:
  explicit PatternDevice(std::uint64_t sizeBytes, std::uint32_t logicalSectorSize = 512)
      : sizeBytes_(sizeBytes), logicalSectorSize_(logicalSectorSize) {}
  bool ReadAt(std::uint64_t byteOffset, MutableBytes out) override;
  std::uint64_t SizeBytes() const override { return sizeBytes_; }
  std::uint32_t LogicalSectorSize() const override { return logicalSectorSize_; }

 private:
  std::uint64_t sizeBytes_;
  std::uint32_t logicalSectorSize_;
};

// An opener that opens the real files named in `paths` and nothing else (ENOENT): a
// Workspace without its disk that can still open the scan-info files it is given.
DeviceOpener OnlyTheseFiles(std::vector<std::string> paths);

class MemorySources {
 public:
  // An image held in memory under `path`.
  void Add(const std::string& path, std::vector<std::uint8_t> bytes,
           std::uint32_t logicalSectorSize = 512);
  // A pattern disk of `sizeBytes` under `path`.
  void AddPattern(const std::string& path, std::uint64_t sizeBytes,
                  std::uint32_t logicalSectorSize = 512);
  // Sectors of `path` that fail every read touching them.
  void SetBadSectors(const std::string& path, std::set<std::uint64_t> sectors);

  // Opens the devices added here; unknown paths fail with ENOENT. The MemorySources must
  // outlive every reader holding the opener.
  DeviceOpener Opener();

  int OpenCount(const std::string& path) const;
  int TotalOpens() const { return totalOpens_.load(); }
  // Devices opened and not yet destroyed.
  int LiveDevices() const { return *live_; }

 private:
  struct Entry {
    std::shared_ptr<const std::vector<std::uint8_t>> bytes;  // null for a pattern disk
    std::uint64_t patternSize = 0;
    std::uint32_t logicalSectorSize = 512;
    std::set<std::uint64_t> badSectors;
    int opens = 0;
  };
  OpenResult Open(const std::string& path);

  std::map<std::string, Entry> entries_;
  std::atomic<int> totalOpens_{0};
  std::shared_ptr<std::atomic<int>> live_ = std::make_shared<std::atomic<int>>(0);
  mutable std::mutex mutex_;
};

}  // namespace ravelin::test
