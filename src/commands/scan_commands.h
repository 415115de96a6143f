// The scan commands of tab I and the "操作(OPERATION)" menu, and the "scan" job they start.
#pragma once

#include <optional>
#include <string>

#include "scan/scan_engine.h"
#include "workspace/jobs.h"

namespace ravelin {

class Workspace;

// The scan settings the tab I controls hold now: start, end and step from their edits, the
// free-space choice, the file id of the last SCAN, the page-number limit while CheckBox1 is
// ticked. On a text that is not an integer, a step of 0 or less or a negative start,
// returns nothing and sets `error` to a message naming the field.
std::optional<ScanSettings> ReadScanSettings(const Workspace& ws, std::string* error);

// The "scan" job's body on the caller's thread, with the settings the controls hold now:
// what N2Click runs on a worker, for tests and tools that want it without a thread. Refused
// settings end it at once (failed).
JobResult ScanDataSource(Workspace& ws, bool readAhead = true);

// SCAN: takes CurrentFileId from Edit2, then starts the scan as the menu does.
void btnscanClick(Workspace& ws, bool readAhead = true);
// The menu's SCAN: starts the "scan" job with the file id of the last SCAN. The settings are
// taken from the controls now, on the window's thread; the option controls are disabled.
// readAhead: whether the scan asks the kernel for its next window ahead of time.
void N2Click(Workspace& ws, bool readAhead = true);
// STOP (button and menu): the scan ends at its next candidate position.
void btnstopClick(Workspace& ws);
void N3Click(Workspace& ws);

// Tab I "开始页面号小于": the limit edit is usable only while the box is ticked.
void CheckBox1Click(Workspace& ws);

}  // namespace ravelin
