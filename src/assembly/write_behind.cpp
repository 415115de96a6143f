#include "assembly/write_behind.h"

namespace ravelin {

WriteBehind::WriteBehind(MdfSink& next) : next_(next), thread_([this] { Run(); }) {}

WriteBehind::~WriteBehind() {
  {
    MutexLock lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

bool WriteBehind::Append(ByteView pages) {
  if (!Drain()) return false;
  // Handing a block over costs a few wake-ups; a short one (a fragment of a few pages) goes
  // on here, sooner than that.
  if (pages.size() < kHandOverBytes) return next_.Append(pages);
  {
    MutexLock lock(mutex_);
    block_ = pages;
    busy_ = true;
  }
  changed_.notify_all();
  return true;
}

bool WriteBehind::AppendZeros(std::uint64_t bytes) { return Drain() && next_.AppendZeros(bytes); }

bool WriteBehind::OverwriteTail(PageView page) { return Drain() && next_.OverwriteTail(page); }

bool WriteBehind::Drain() {
  MutexLock lock(mutex_);
  // The wait lets go of mutex_ and takes it again before each look at busy_.
  changed_.wait(mutex_, [this]() REQUIRES(mutex_) { return !busy_; });
  return ok_;
}

void WriteBehind::Run() {
  for (;;) {
    ByteView block;
    {
      MutexLock lock(mutex_);
      changed_.wait(mutex_, [this]() REQUIRES(mutex_) { return busy_ || stop_; });
      // A block handed on before the stop still goes on: the destructor waits for it.
      if (!busy_) return;
      block = block_;
    }
    const bool ok = next_.Append(block);
    {
      MutexLock lock(mutex_);
      ok_ = ok_ && ok;
      busy_ = false;
    }
    changed_.notify_all();
  }
}

}  // namespace ravelin
