#include "datasource/counting_device.h"

#include <utility>

namespace ravelin {
namespace {

class CountingDevice final : public Device {
 public:
  CountingDevice(std::unique_ptr<Device> inner, std::shared_ptr<ReadCounter> counter)
      : inner_(std::move(inner)), counter_(std::move(counter)) {}

  bool ReadAt(std::uint64_t byteOffset, MutableBytes out) override {
    counter_->Add(out.size());
    return inner_->ReadAt(byteOffset, out);
  }
  std::uint64_t SizeBytes() const override { return inner_->SizeBytes(); }
  std::uint32_t LogicalSectorSize() const override { return inner_->LogicalSectorSize(); }
  std::optional<BlockDetails> Block() const override { return inner_->Block(); }
  void AdviseSequential() override { inner_->AdviseSequential(); }
  void WillNeed(std::uint64_t byteOffset, std::uint64_t length) override {
    inner_->WillNeed(byteOffset, length);
  }

 private:
  std::unique_ptr<Device> inner_;
  std::shared_ptr<ReadCounter> counter_;
};

}  // namespace

DeviceOpener CountingOpener(DeviceOpener inner, std::shared_ptr<ReadCounter> counter) {
  return [inner = std::move(inner), counter = std::move(counter)](const std::string& path) {
    OpenResult opened = inner(path);
    if (opened.device)
      opened.device = std::make_unique<CountingDevice>(std::move(opened.device), counter);
    return opened;
  };
}

}  // namespace ravelin
