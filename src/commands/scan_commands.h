// The scan commands of tab I and the "操作(OPERATION)" menu, and the "scan" job they start.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "scan/scan_engine.h"
#include "workspace/jobs.h"

namespace ravelin {

class Workspace;
class CheckpointWriter;

// A scan as asked for, before it is checked. A number that is missing was not given, or its
// text was not an integer.
struct ScanRequest {
  std::optional<std::int64_t> start;
  std::optional<std::int64_t> end;
  std::optional<std::int64_t> step;  // sectors per cluster
  bool freeSpaceOnly = false;
  std::uint16_t fileId = 1;
  bool pageLimit = false;  // only fragments starting below startPageBelow ("开始页面号小于")
  std::optional<std::int32_t> startPageBelow;
  bool readAhead = true;
  // Go on from this point of an interrupted scan (its rows already in the table).
  std::optional<ScanPoint> resumeFrom;
};

// The settings of `request`. On a missing number, a step of 0 or less or a negative start,
// returns nothing and sets `error` to a message naming the field.
std::optional<ScanSettings> CheckScanRequest(const ScanRequest& request, std::string* error);

// The request the tab I controls hold now: start, end and step from their edits, the
// free-space choice, the file id of the last SCAN, the page-number limit while CheckBox1 is
// ticked.
ScanRequest ScanRequestFromControls(const Workspace& ws, bool readAhead);
// CheckScanRequest over the controls.
std::optional<ScanSettings> ReadScanSettings(const Workspace& ws, std::string* error);

// The "scan" job's body on the caller's thread, with the settings the controls hold now:
// what N2Click runs on a worker, for tests and tools that want it without a thread. Refused
// settings end it at once (failed).
JobResult ScanDataSource(Workspace& ws, bool readAhead = true);

// Whether a scan of `request` may start now: a source is chosen, no manual analysis reads
// the fragment table, and the request checks out. Nothing, after a message saying why, when
// it may not.
std::optional<ScanSettings> PrepareScan(Workspace& ws, const ScanRequest& request);
// Starts the "scan" job with settings PrepareScan returned; its file id becomes
// CurrentFileId and its step the source's cluster size. With `checkpoints`, the job hands it
// resumable points as it goes and writes one more checkpoint where it stops or completes.
void StartScanJob(Workspace& ws, const ScanSettings& settings,
                  std::shared_ptr<CheckpointWriter> checkpoints = nullptr);
// STOP: the scan ends at its next candidate position.
void StopScan(Workspace& ws);

// SCAN: takes CurrentFileId from Edit2, then starts the scan as the menu does.
void btnscanClick(Workspace& ws, bool readAhead = true);
// The menu's SCAN: PrepareScan over the controls (the file id of the last SCAN), the option
// controls disabled, then StartScanJob.
// readAhead: whether the scan asks the kernel for its next window ahead of time.
void N2Click(Workspace& ws, bool readAhead = true);
// STOP (button and menu): StopScan.
void btnstopClick(Workspace& ws);
void N3Click(Workspace& ws);

// Tab I "开始页面号小于": the limit edit is usable only while the box is ticked.
void CheckBox1Click(Workspace& ws);

}  // namespace ravelin
