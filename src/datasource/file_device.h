// A regular file (disk image) or a block device (/dev/sda, /dev/sda1, /dev/loop0), opened
// read-only and read with pread. Nothing here can write to the source: the descriptor is
// opened O_RDONLY and no write call exists in this file.
#pragma once

#include <cstdint>
#include <string>

#include "datasource/device.h"

namespace ravelin {

class FileDevice final : public Device {
 public:
  // Opens `path` with O_RDONLY | O_CLOEXEC. Refuses directories (EISDIR) and anything that
  // is neither a regular file nor a block device (ENOTBLK): a FIFO or a tty would block or
  // hand out bytes that are not at stable offsets.
  static OpenResult Open(const std::string& path);

  ~FileDevice() override;
  FileDevice(const FileDevice&) = delete;
  FileDevice& operator=(const FileDevice&) = delete;

  bool ReadAt(std::uint64_t byteOffset, MutableBytes out) override;
  std::uint64_t SizeBytes() const override { return sizeBytes_; }
  std::uint32_t LogicalSectorSize() const override { return logicalSectorSize_; }
  void AdviseSequential() override;
  void WillNeed(std::uint64_t byteOffset, std::uint64_t length) override;

  std::optional<BlockDetails> Block() const override { return block_; }

  bool IsBlockDevice() const { return block_.has_value(); }
  // errno of the last failed read; 0 when the last failure was the end of the source.
  int LastReadError() const { return lastReadError_; }

 private:
  FileDevice(int fd, std::uint64_t sizeBytes, std::uint32_t logicalSectorSize,
             std::optional<BlockDetails> block);

  int fd_;
  std::uint64_t sizeBytes_;
  std::uint32_t logicalSectorSize_;
  std::optional<BlockDetails> block_;
  int lastReadError_ = 0;
};

}  // namespace ravelin
