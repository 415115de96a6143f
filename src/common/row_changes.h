// Which rows of a table changed since a reader last looked, so that a reader on another
// thread (a window's list model) copies only what is new: the rows appended since its last
// look, and the rows replaced or edited in place. The table's owner records every change
// here while holding the lock its readers take; readers keep a cursor each.
//
// A change that touches the whole table (clear, sort, reload) starts a new epoch, after
// which a reader takes everything again.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace ravelin {

class RowChanges {
 public:
  struct Cursor {
    std::uint64_t epoch = ~std::uint64_t{0};  // no epoch: the first look takes everything
    std::uint64_t version = 0;
    std::size_t count = 0;
  };

  struct Delta {
    bool reset = false;                // take rows [0, count) and drop what you had
    std::size_t count = 0;             // rows the table has now
    std::size_t firstNew = 0;          // rows [firstNew, count) are new to the reader
    std::vector<std::size_t> changed;  // rows below firstNew to take again, ascending
  };

  void Appended() { ++version_; }
  // Rows from `count` on are gone (a merge removes the last row before it adds the merged one).
  void Truncated(std::size_t count) { Record(count, true); }
  // Row `row` was replaced or edited in place.
  void Replaced(std::size_t row) { Record(row, false); }
  void Reset() {
    ++epoch_;
    ++version_;
    events_.clear();
  }

  // What changed for a reader at `cursor`, given the table's row count now; moves the cursor.
  Delta Since(Cursor& cursor, std::size_t count) const {
    Delta delta;
    delta.count = count;
    if (cursor.epoch != epoch_) {
      delta.reset = true;
    } else {
      delta.firstNew = std::min(cursor.count, count);
      // Events are in version order: only the newest ones are the reader's news.
      for (auto e = events_.rbegin(); e != events_.rend() && e->version > cursor.version; ++e) {
        if (e->truncation) {
          delta.firstNew = std::min(delta.firstNew, e->row);
        } else {
          delta.changed.push_back(e->row);
        }
      }
      std::erase_if(delta.changed, [&](std::size_t r) { return r >= delta.firstNew; });
      std::sort(delta.changed.begin(), delta.changed.end());
      delta.changed.erase(std::unique(delta.changed.begin(), delta.changed.end()),
                          delta.changed.end());
    }
    cursor = {epoch_, version_, count};
    return delta;
  }

 private:
  struct Event {
    std::uint64_t version;
    std::size_t row;  // the row edited, or the count a truncation left
    bool truncation;
  };
  // A window's reader looks several times a second; a log longer than this means nobody
  // did, and starting again is cheaper than replaying it.
  static constexpr std::size_t kMaxEvents = 1 << 16;

  void Record(std::size_t row, bool truncation) {
    ++version_;
    events_.push_back({version_, row, truncation});
    if (events_.size() > kMaxEvents) Reset();
  }

  std::uint64_t epoch_ = 0;
  std::uint64_t version_ = 0;
  std::vector<Event> events_;
};

}  // namespace ravelin
