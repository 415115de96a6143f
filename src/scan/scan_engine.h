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
};

// The end a scan of `settings` over `reader`'s source uses: positions past the source's last
// sector hold nothing to find.
std::int64_t ClampedScanEnd(std::int64_t end, const SectorReader& reader);

// Scans `source` (read through windows of a reader of its own opened with `opener`, single
// sectors through `reader`). `freeSpace` is consulted only when settings.freeSpaceOnly.
// Stops at the next candidate position once `stop` is set. Log lines: the read failures
// ("512error…", "8192errorhead…", "8192error…") and those of the rows' remarks; status "已停止
// 扫描" when stopped; progress as the gauge's percent and as the position in sectors.
ScanResult ScanSource(const ScanSettings& settings, const DataSource& source,
                      const DeviceOpener& opener, SectorReader& reader,
                      const FreeSpaceMap& freeSpace, const std::atomic<bool>& stop,
                      FragmentSink& sink, Reporter& reporter);

}  // namespace ravelin
