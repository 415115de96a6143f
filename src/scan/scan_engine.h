// The "scan" job: walks the chosen source from the start sector to the end sector at a fixed
// stride, tests the 96-byte header of the page that would start at each position, follows
// every run of consecutive pages of the chosen file, and records each run as a fragment
// (merging a run into the previous fragment when it continues its page numbering after a
// short gap).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ravelin {

class Workspace;

// The largest gap, in sectors, across which a run is merged into the previous fragment.
inline constexpr std::int64_t kMaxMergeGap = 129408;

struct ScanSettings {
  std::int64_t start = 0;
  std::int64_t end = 0;
  std::int64_t step = 1;
};

// Reads start, end and step from the tab I edits (and checks the page-number limit while it
// is ticked). On a text that is not an integer, or a step of 0 or less, returns nothing and
// sets `error` to a message naming the field.
std::optional<ScanSettings> ReadScanSettings(const Workspace& ws, std::string* error);

// The job body. Runs on the worker thread; leaves the Workspace idle (ScanStopped true)
// however it ends.
void ScanDataSource(Workspace& ws);

// "YYYY-MM-DD HH:MM:SS", local time: the stamp of the job's log lines.
std::string NowText();

}  // namespace ravelin
