// A sink that hands each large block of pages to a thread of its own and returns at once, so
// that the writer reads and checks the next block while this one is accounted and written. The
// calls keep their order: each waits until the block before it has gone on. The caller keeps
// a block's bytes unchanged until the next call (it alternates between two buffers); a
// failure shows at the next call or at Drain.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <thread>

#include "assembly/mdf_writer.h"
#include "common/mutex.h"
#include "common/thread_annotations.h"

namespace ravelin {

class WriteBehind final : public MdfSink {
 public:
  // Blocks shorter than this go on in the caller's thread.
  static constexpr std::size_t kHandOverBytes = std::size_t{1} << 20;

  explicit WriteBehind(MdfSink& next);
  // Waits for the block in hand, then ends the thread.
  ~WriteBehind() override;
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;

  bool Append(ByteView pages) override EXCLUDES(mutex_);
  bool AppendZeros(std::uint64_t bytes) override EXCLUDES(mutex_);
  bool OverwriteTail(PageView page) override EXCLUDES(mutex_);
  // Waits until every block handed on has gone on; false when one of them failed.
  bool Drain() EXCLUDES(mutex_);

 private:
  void Run() EXCLUDES(mutex_);

  MdfSink& next_;
  Mutex mutex_;
  std::condition_variable_any changed_;
  ByteView block_ GUARDED_BY(mutex_);
  bool busy_ GUARDED_BY(mutex_) = false;  // block_ is being handed on
  bool ok_ GUARDED_BY(mutex_) = true;     // every block so far went on
  bool stop_ GUARDED_BY(mutex_) = false;
  std::thread thread_;  // last: started once the fields above exist
};

}  // namespace ravelin
