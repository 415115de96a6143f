#include "support/memory_sources.h"

#include <atomic>
#include <cerrno>
#include <utility>

#include "datasource/fault_device.h"
#include "datasource/memory_device.h"

namespace ravelin::test {

namespace {

// Counts itself in and out of MemorySources::LiveDevices().
class TrackedDevice final : public Device {
 public:
  TrackedDevice(std::unique_ptr<Device> inner, std::shared_ptr<std::atomic<int>> live)
      : inner_(std::move(inner)), live_(std::move(live)) {
    ++*live_;
  }
  ~TrackedDevice() override { --*live_; }
  bool ReadAt(std::uint64_t byteOffset, MutableBytes out) override {
    return inner_->ReadAt(byteOffset, out);
  }
  std::uint64_t SizeBytes() const override { return inner_->SizeBytes(); }
  std::uint32_t LogicalSectorSize() const override { return inner_->LogicalSectorSize(); }

 private:
  std::unique_ptr<Device> inner_;
  std::shared_ptr<std::atomic<int>> live_;
};

}  // namespace

std::uint8_t PatternByte(std::uint64_t offset) {
  const std::uint64_t sector = offset / kSectorSize;
  const unsigned k = static_cast<unsigned>(offset % kSectorSize);
  if (k < 8) return static_cast<std::uint8_t>(sector >> (8 * k));
  return static_cast<std::uint8_t>(sector * 131 + k * 7 + (sector >> 32));
}

std::vector<std::uint8_t> PatternBytes(std::uint64_t firstSector, std::size_t sectors) {
  std::vector<std::uint8_t> out(sectors * kSectorSize);
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = PatternByte(firstSector * kSectorSize + i);
  return out;
}

bool PatternDevice::ReadAt(std::uint64_t byteOffset, MutableBytes out) {
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (byteOffset + i >= sizeBytes_) return false;
    out[i] = PatternByte(byteOffset + i);
  }
  return true;
}

void MemorySources::Add(const std::string& path, std::vector<std::uint8_t> bytes,
                        std::uint32_t logicalSectorSize) {
  Entry& e = entries_[path];
  e.bytes = std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
  e.logicalSectorSize = logicalSectorSize;
}

void MemorySources::AddPattern(const std::string& path, std::uint64_t sizeBytes,
                               std::uint32_t logicalSectorSize) {
  Entry& e = entries_[path];
  e.bytes = nullptr;
  e.patternSize = sizeBytes;
  e.logicalSectorSize = logicalSectorSize;
}

void MemorySources::SetBadSectors(const std::string& path, std::set<std::uint64_t> sectors) {
  entries_[path].badSectors = std::move(sectors);
}

DeviceOpener MemorySources::Opener() {
  return [this](const std::string& path) { return Open(path); };
}

int MemorySources::OpenCount(const std::string& path) const {
  std::lock_guard lock(mutex_);
  const auto it = entries_.find(path);
  return it == entries_.end() ? 0 : it->second.opens;
}

OpenResult MemorySources::Open(const std::string& path) {
  // A scan opens the source from its read-ahead thread as well as from its own.
  std::lock_guard lock(mutex_);
  const auto it = entries_.find(path);
  if (it == entries_.end()) return {nullptr, ENOENT};
  Entry& e = it->second;
  ++e.opens;
  ++totalOpens_;
  std::unique_ptr<Device> device;
  if (e.bytes) {
    device = std::make_unique<MemoryDevice>(e.bytes, e.logicalSectorSize);
  } else {
    device = std::make_unique<PatternDevice>(e.patternSize, e.logicalSectorSize);
  }
  if (!e.badSectors.empty()) {
    device = std::make_unique<FaultyDevice>(std::move(device), e.badSectors);
  }
  return {std::make_unique<TrackedDevice>(std::move(device), live_), 0};
}

DeviceOpener OnlyTheseFiles(std::vector<std::string> paths) {
  return [paths = std::move(paths)](const std::string& path) {
    for (const std::string& p : paths)
      if (p == path) return OpenSystemDevice(path);
    return OpenResult{nullptr, ENOENT};
  };
}

}  // namespace ravelin::test
