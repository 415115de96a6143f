// How much of the source a run reads: a decorator that counts the bytes asked of every device
// an opener opens, whichever reader (the scan's window, the sector reader, the content file)
// asks for them.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "datasource/device.h"

namespace ravelin {

class ReadCounter {
 public:
  void Add(std::uint64_t bytes) { bytes_.fetch_add(bytes, std::memory_order_relaxed); }
  std::uint64_t Bytes() const { return bytes_.load(std::memory_order_relaxed); }

 private:
  std::atomic<std::uint64_t> bytes_{0};
};

// Opens through `inner` and counts every read of what it opened into `counter`.
DeviceOpener CountingOpener(DeviceOpener inner, std::shared_ptr<ReadCounter> counter);

}  // namespace ravelin
