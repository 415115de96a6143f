// A source held in memory: a generated disk image, a test fixture. The bytes are shared,
// so every open of the same image costs nothing and sees the same bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "datasource/device.h"

namespace ravelin {

class MemoryDevice final : public Device {
 public:
  // `logicalSectorSize` is what the device claims to be; it does not change how it is read.
  explicit MemoryDevice(std::shared_ptr<const std::vector<std::uint8_t>> bytes,
                        std::uint32_t logicalSectorSize = 512);

  // A read that runs past the end copies what exists and fails, as a short image does.
  bool ReadAt(std::uint64_t byteOffset, MutableBytes out) override;
  std::uint64_t SizeBytes() const override { return bytes_->size(); }
  std::uint32_t LogicalSectorSize() const override { return logicalSectorSize_; }

 private:
  std::shared_ptr<const std::vector<std::uint8_t>> bytes_;
  std::uint32_t logicalSectorSize_;
};

}  // namespace ravelin
