// What jobs have told the window since it last drew: memo lines in the order they came, the
// newest gauge, status and position, and which of the Workspace's lists and controls
// changed. A worker adds to it from its own thread; the window takes it all at once a few
// times a second, so a scan that finds a fragment every millisecond costs the window one
// redraw per take, not one per fragment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ports/ui.h"

namespace ravelin::shell {

// A memo shows at most this many lines; older ones scroll away. A failing disk can log a
// line per sector, and no one reads millions of them in a window.
inline constexpr std::size_t kMemoLineLimit = 100000;

class PendingUpdates {
 public:
  struct MemoOp {
    Memo memo = Memo::kMemo1;
    bool clear = false;  // clear the memo, else append `line`
    std::string line;
  };

  struct Batch {
    std::deque<MemoOp> memoOps;  // in the order they came
    std::optional<int> progress;
    std::optional<std::string> status;
    std::optional<std::pair<std::int64_t, std::int64_t>> position;  // done, total
    unsigned changes = 0;                                           // bits: ChangeBit(Change)

    bool Empty() const {
      return memoOps.empty() && !progress && !status && !position && changes == 0;
    }
    bool Has(Change what) const { return (changes & ChangeBit(what)) != 0; }
  };

  static constexpr unsigned ChangeBit(Change what) { return 1u << static_cast<unsigned>(what); }

  // Each returns true when nothing was pending before: the caller wakes the window then.
  bool AppendMemo(Memo memo, std::string_view line);
  bool ClearMemo(Memo memo);
  bool SetProgress(int percent);
  bool SetStatus(std::string_view text);
  bool SetPosition(std::int64_t done, std::int64_t total);
  bool Changed(Change what);

  // Everything pending, leaving nothing.
  Batch Take();

 private:
  bool WasEmpty() const { return batch_.Empty(); }
  void DropOldestLines(Memo memo);

  std::mutex mutex_;
  Batch batch_;
  std::size_t pendingLines_[3] = {0, 0, 0};
};

}  // namespace ravelin::shell
