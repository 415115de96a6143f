// The scan commands of tab I and the "操作(OPERATION)" menu.
#pragma once

namespace ravelin {

class Workspace;

// SCAN: takes CurrentFileId from Edit2, then starts the scan as the menu does.
void btnscanClick(Workspace& ws);
// The menu's SCAN: starts the "scan" job with the file id of the last SCAN.
void N2Click(Workspace& ws);
// STOP (button and menu): the scan ends at its next candidate position.
void btnstopClick(Workspace& ws);
void N3Click(Workspace& ws);

}  // namespace ravelin
