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
#include <memory>
#include <utility>
#include <vector>

namespace ravelin {

class RowChanges {
 public:
  struct Cursor {
    std::uint64_t epoch = ~std::uint64_t{0};  // no epoch: the first look takes everything
    std::uint64_t version = 0;
    std::size_t count = 0;
  };

  // New position → old position: the order a sort left the rows in.
  using Permutation = std::shared_ptr<const std::vector<std::uint32_t>>;

  struct Delta {
    bool reset = false;                // take rows [0, count) and drop what you had
    Permutation permutation;           // first reorder what you had by this, then the rest
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
    permutation_.reset();
  }
  // The rows were reordered (a sort). A reader that had seen everything before it reorders
  // its own copy instead of copying every row again; one that had not starts again.
  void Permuted(Permutation order) {
    permutationBase_ = version_;
    ++version_;
    permutationVersion_ = version_;
    permutation_ = std::move(order);
  }

  // What changed for a reader at `cursor`, given the table's row count now; moves the cursor.
  Delta Since(Cursor& cursor, std::size_t count) const {
    Delta delta;
    delta.count = count;
    const bool missedSort = permutation_ && cursor.version < permutationVersion_;
    if (cursor.epoch != epoch_ || (missedSort && cursor.version != permutationBase_)) {
      delta.reset = true;
    } else {
      if (missedSort) delta.permutation = permutation_;
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
  Permutation permutation_;  // the last sort of this epoch, if any
  std::uint64_t permutationBase_ = 0;
  std::uint64_t permutationVersion_ = 0;
};

// What a reader copies: the rows that changed since its last look, with their contents, or
// all of them after a change to the whole table.
template <typename Row>
struct RowSnapshot {
  bool reset = false;
  RowChanges::Permutation permutation;  // reorder the rows you had first (new ← old)
  std::size_t count = 0;
  std::vector<std::pair<std::size_t, Row>> rows;  // (row, its content): edits, then new rows
};

template <typename Row>
RowSnapshot<Row> TakeRowSnapshot(const RowChanges& changes, RowChanges::Cursor& cursor,
                                 const std::vector<Row>& rows) {
  const RowChanges::Delta delta = changes.Since(cursor, rows.size());
  RowSnapshot<Row> snapshot;
  snapshot.reset = delta.reset;
  snapshot.permutation = delta.permutation;
  snapshot.count = delta.count;
  const std::size_t first = delta.reset ? 0 : delta.firstNew;
  snapshot.rows.reserve(delta.changed.size() + (rows.size() - first));
  for (const std::size_t r : delta.changed) snapshot.rows.emplace_back(r, rows[r]);
  for (std::size_t r = first; r < rows.size(); ++r) snapshot.rows.emplace_back(r, rows[r]);
  return snapshot;
}

// Applies a snapshot to a reader's own copy of the rows.
template <typename Row>
void ApplyRowSnapshot(RowSnapshot<Row>&& snapshot, std::vector<Row>& copy) {
  if (snapshot.reset) copy.clear();
  if (snapshot.permutation && snapshot.permutation->size() == copy.size()) {
    std::vector<Row> reordered;
    reordered.reserve(copy.size());
    for (const std::uint32_t old : *snapshot.permutation) reordered.push_back(std::move(copy[old]));
    copy = std::move(reordered);
  }
  copy.resize(snapshot.count);
  for (auto& [i, row] : snapshot.rows) copy[i] = std::move(row);
}

}  // namespace ravelin
