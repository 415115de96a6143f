#include "commands/workspace_assembly.h"

#include "assembly/assembly_list.h"
#include "workspace/workspace.h"

namespace ravelin {

void FillAssemblyList(Workspace& ws) {
  {
    std::lock_guard lock(ws.tableLock);
    FillAssemblyList(ws.fragments, ws.ListView4);
  }
  ws.ui().Changed(Change::kAssemblyList);
}

}  // namespace ravelin
