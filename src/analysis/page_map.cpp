#include "analysis/page_map.h"

namespace ravelin {

bool PageMap::Reset(std::int64_t pageCount) {
  Clear();
  if (pageCount <= 0) return false;
  const auto n = static_cast<std::size_t>(pageCount);
  // calloc: zeroed memory the kernel maps only when written, and a null answer instead of an
  // exception when the file is too large for this machine.
  owner_.reset(static_cast<std::int32_t*>(std::calloc(n, sizeof(std::int32_t))));
  state_.reset(static_cast<std::uint8_t*>(std::calloc(n, 1)));
  if (!owner_ || !state_) {
    Clear();
    return false;
  }
  size_ = pageCount;
  return true;
}

void PageMap::Clear() {
  owner_.reset();
  state_.reset();
  size_ = 0;
}

PageRecord PageMap::Record(std::int64_t page) const {
  return {PageKind(page), OwnerId(page), AllocState(page), OwnerSource(page)};
}

void PageMap::SetState(std::int64_t page, std::uint8_t state) {
  std::uint8_t& s = state_[Index(page)];
  if (s == state) return;
  s = state;
  if (changes_ != nullptr) changes_->push_back(page);
}

void PageMap::SetIam(std::int64_t page) {
  SetState(page, static_cast<std::uint8_t>(state_[Index(page)] | kIamBit));
}

void PageMap::SetAllocState(std::int64_t page, std::uint8_t state) {
  const std::uint8_t s = state_[Index(page)];
  SetState(page,
           static_cast<std::uint8_t>((s & ~(3u << kAllocShift)) | (Code(state) << kAllocShift)));
}

void PageMap::SetOwner(std::int64_t page, std::int32_t owner, std::uint8_t source) {
  std::int32_t& o = owner_[Index(page)];
  if (o != owner) {
    o = owner;
    if (changes_ != nullptr) changes_->push_back(page);
  }
  const std::uint8_t s = state_[Index(page)];
  SetState(page,
           static_cast<std::uint8_t>((s & ~(3u << kSourceShift)) | (Code(source) << kSourceShift)));
}

}  // namespace ravelin
