#include "shell/pending_updates.h"

#include <algorithm>

namespace ravelin::shell {

bool PendingUpdates::AppendMemo(Memo memo, std::string_view line) {
  std::lock_guard lock(mutex_);
  const bool wake = WasEmpty();
  batch_.memoOps.push_back({memo, false, std::string(line)});
  if (++pendingLines_[static_cast<int>(memo)] > kMemoLineLimit) DropOldestLines(memo);
  return wake;
}

bool PendingUpdates::ClearMemo(Memo memo) {
  std::lock_guard lock(mutex_);
  const bool wake = WasEmpty();
  // Lines that would be cleared before anyone saw them need not travel.
  std::erase_if(batch_.memoOps, [memo](const MemoOp& op) { return op.memo == memo; });
  pendingLines_[static_cast<int>(memo)] = 0;
  batch_.memoOps.push_back({memo, true, {}});
  return wake;
}

// The memo would scroll these away the moment they arrived.
void PendingUpdates::DropOldestLines(Memo memo) {
  const auto oldest = std::find_if(batch_.memoOps.begin(), batch_.memoOps.end(),
                                   [memo](const MemoOp& op) { return op.memo == memo; });
  if (oldest == batch_.memoOps.end()) return;
  if (!oldest->clear) --pendingLines_[static_cast<int>(memo)];
  batch_.memoOps.erase(oldest);
}

bool PendingUpdates::SetProgress(int percent) {
  std::lock_guard lock(mutex_);
  const bool wake = WasEmpty();
  batch_.progress = percent;
  return wake;
}

bool PendingUpdates::SetStatus(std::string_view text) {
  std::lock_guard lock(mutex_);
  const bool wake = WasEmpty();
  batch_.status = std::string(text);
  return wake;
}

bool PendingUpdates::SetPosition(std::int64_t done, std::int64_t total) {
  std::lock_guard lock(mutex_);
  const bool wake = WasEmpty();
  batch_.position = {done, total};
  return wake;
}

bool PendingUpdates::Changed(Change what) {
  std::lock_guard lock(mutex_);
  const bool wake = WasEmpty();
  batch_.changes |= ChangeBit(what);
  return wake;
}

PendingUpdates::Batch PendingUpdates::Take() {
  std::lock_guard lock(mutex_);
  Batch out = std::move(batch_);
  batch_ = Batch{};
  std::fill(std::begin(pendingLines_), std::end(pendingLines_), 0);
  return out;
}

}  // namespace ravelin::shell
