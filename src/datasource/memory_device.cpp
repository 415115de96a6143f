#include "datasource/memory_device.h"

#include <algorithm>
#include <utility>

namespace ravelin {

MemoryDevice::MemoryDevice(std::shared_ptr<const std::vector<std::uint8_t>> bytes,
                           std::uint32_t logicalSectorSize)
    : bytes_(bytes ? std::move(bytes) : std::make_shared<const std::vector<std::uint8_t>>()),
      logicalSectorSize_(logicalSectorSize) {}

bool MemoryDevice::ReadAt(std::uint64_t byteOffset, MutableBytes out) {
  const std::uint64_t size = bytes_->size();
  if (out.empty()) return byteOffset <= size;
  if (byteOffset >= size) return false;
  const std::uint64_t available = size - byteOffset;
  const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(available, out.size()));
  std::copy_n(bytes_->begin() + static_cast<std::ptrdiff_t>(byteOffset), n, out.begin());
  return n == out.size();
}

}  // namespace ravelin
