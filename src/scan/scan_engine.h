// The scan: walks a source from the start sector to the end sector at a fixed stride, tests
// the 96-byte header of the page that would start at each position, follows every run of
// consecutive pages of the chosen file, and records each run as a fragment (merging a run
// into the previous fragment when it continues its page numbering after a short gap).
//
// The engine reads the source, the free-space map and its settings; it hands the fragments
// it finds to a sink, its log lines and progress to a reporter, and returns how it ended.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "catalogue/fragment_table.h"
#include "common/reporter.h"
#include "datasource/data_source.h"
#include "datasource/device.h"
#include "datasource/free_space_map.h"
#include "datasource/sector_reader.h"

namespace ravelin {

// The largest gap, in sectors, across which a run is merged into the previous fragment.
inline constexpr std::int64_t kMaxMergeGap = 129408;

// A candidate position the scan can go on from: with the rows recorded up to it, these are
// the whole of the scan's state there. The last row may still be open (a later run can merge
// into it), so it belongs to the state too.
struct ScanPoint {
  std::int64_t position = 0;       // the next candidate position to look at
  std::int64_t lastRunEnd = 0;     // positions below this were examined by the last run
  std::int32_t fragmentCount = 0;  // fragment numbers handed out so far
};

struct ScanSettings {
  std::int64_t start = 0;
  std::int64_t end = 0;
  std::int64_t step = 1;  // positive; 32 or more is scanned at 16
  bool freeSpaceOnly = false;
  std::uint16_t fileId = 1;
  // Record only fragments whose first page id is below this.
  std::optional<std::int64_t> startPageBelow;
  // Ask the kernel for the next window while this one is tested.
  bool readAhead = true;
  // Go on from this point of an earlier scan of the same source and settings instead of
  // `start`; the sink holds the rows that scan had recorded there.
  std::optional<ScanPoint> resumeFrom;
  // Sectors between two points handed to ScanCheckpoints::Reached (at least this many).
  std::int64_t checkpointStride = 2048;
};

// Told of points the scan can be resumed from while it runs; what it keeps of them (a file,
// nothing most of the time) is its own affair.
class ScanCheckpoints {
 public:
  virtual ~ScanCheckpoints() = default;
  // The scan stands at `point` between two candidate positions: the sink's rows and `point`
  // are all a resumed scan needs to find what this one would have found.
  virtual void Reached(const ScanPoint& point) = 0;
};

// Where the scan puts the fragments it finds: the table it appends to, read back for the
// merge test.
class FragmentSink {
 public:
  virtual ~FragmentSink() = default;
  // The last row recorded (by this scan or an earlier one), or null.
  virtual const FragmentRow* Last() const = 0;
  virtual void Append(FragmentRow row) = 0;
  virtual void RemoveLast() = 0;
  // A page of a run the scan followed, whole as read, at `sector`: what the later steps
  // decide on may be kept from it. Not told of pages that could not be read whole.
  virtual void KeepPage(std::uint64_t /*sector*/, PageView /*page*/) {}
};

enum class ScanOutcome {
  kCompleted,  // the end sector was reached
  kStopped,    // the stop flag was set
  kFailed,     // the first window could not be read
};

struct ScanResult {
  ScanOutcome outcome = ScanOutcome::kFailed;
  // The sector the scan got to: the end sector when it completed.
  std::int64_t position = 0;
  // The end sector actually used: the one asked for, clamped to the source's last readable
  // sector.
  std::int64_t end = 0;
  // Where a resumed scan goes on from: after a stop, the candidate position it stopped at.
  ScanPoint reached;
};

// The end a scan of `settings` over `reader`'s source uses: positions past the source's last
// sector hold nothing to find.
std::int64_t ClampedScanEnd(std::int64_t end, const SectorReader& reader);

// Scans `source` (read through windows of a reader of its own opened with `opener`, single
// sectors through `reader`). `freeSpace` is consulted only when settings.freeSpaceOnly.
// Stops at the next candidate position once `stop` is set. `checkpoints`, when given, is told
// of a resumable point every settings.checkpointStride sectors or so. Log lines: the read failures
// ("512error…", "8192errorhead…", "8192error…") and those of the rows' remarks; status "已停止
// 扫描" when stopped; progress as the gauge's percent and as the position in sectors.
ScanResult ScanSource(const ScanSettings& settings, const DataSource& source,
                      const DeviceOpener& opener, SectorReader& reader,
                      const FreeSpaceMap& freeSpace, const std::atomic<bool>& stop,
                      FragmentSink& sink, Reporter& reporter,
                      ScanCheckpoints* checkpoints = nullptr);

}  // namespace ravelin
