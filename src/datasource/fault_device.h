// A decorator that makes a device fail the way damaged disks do: chosen 512-byte sectors
// are unreadable (any read touching one fails after delivering the bytes in front of it),
// and every read after the first N can be made to fail outright, as when a USB disk drops
// off the bus in the middle of a scan.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>

#include "datasource/device.h"

namespace ravelin {

class FaultyDevice final : public Device {
 public:
  FaultyDevice(std::unique_ptr<Device> inner, std::set<std::uint64_t> badSectors = {});

  void AddBadSector(std::uint64_t sector) { badSectors_.insert(sector); }
  // Reads numbered beyond `goodReads` (counting from this device's first read) fail without
  // delivering any byte.
  void FailReadsAfter(std::size_t goodReads) { goodReads_ = goodReads; }
  std::size_t ReadCount() const { return reads_; }

  bool ReadAt(std::uint64_t byteOffset, MutableBytes out) override;
  std::uint64_t SizeBytes() const override { return inner_->SizeBytes(); }
  std::uint32_t LogicalSectorSize() const override { return inner_->LogicalSectorSize(); }

 private:
  std::unique_ptr<Device> inner_;
  std::set<std::uint64_t> badSectors_;
  std::optional<std::size_t> goodReads_;
  std::size_t reads_ = 0;
};

}  // namespace ravelin
