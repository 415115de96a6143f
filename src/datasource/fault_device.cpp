#include "datasource/fault_device.h"

#include <utility>

namespace ravelin {

FaultyDevice::FaultyDevice(std::unique_ptr<Device> inner, std::set<std::uint64_t> badSectors)
    : inner_(std::move(inner)), badSectors_(std::move(badSectors)) {}

bool FaultyDevice::ReadAt(std::uint64_t byteOffset, MutableBytes out) {
  ++reads_;
  if (goodReads_ && reads_ > *goodReads_) return false;
  if (out.empty()) return inner_->ReadAt(byteOffset, out);

  const std::uint64_t first = byteOffset / kSectorSize;
  const std::uint64_t lastByte = byteOffset + (out.size() - 1);  // caller keeps this < 2^64
  const std::uint64_t last = lastByte < byteOffset ? UINT64_MAX : lastByte / kSectorSize;
  const auto bad = badSectors_.lower_bound(first);
  if (bad == badSectors_.end() || *bad > last) return inner_->ReadAt(byteOffset, out);

  // Deliver the bytes in front of the bad sector, as a drive does before the sector that
  // fails its ECC, then fail.
  const std::uint64_t goodBytes =
      *bad * kSectorSize > byteOffset ? *bad * kSectorSize - byteOffset : 0;
  if (goodBytes > 0) inner_->ReadAt(byteOffset, out.first(static_cast<std::size_t>(goodBytes)));
  return false;
}

}  // namespace ravelin
