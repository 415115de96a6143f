// The Assembly list of tab IV as the Workspace holds it: rebuilt from FragmentChosen under
// the table lock, so that the window can take snapshots while a job rebuilds it.
#pragma once

namespace ravelin {

class Workspace;

// Rebuilds ListView4 from the chosen rows and tells the window.
void FillAssemblyList(Workspace& ws);

}  // namespace ravelin
