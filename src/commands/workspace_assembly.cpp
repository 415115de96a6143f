#include "commands/workspace_assembly.h"

#include "assembly/assembly_list.h"
#include "workspace/workspace.h"

namespace ravelin {

void FillAssemblyList(Workspace& ws) {
  {
    MutexLock lock(ws.tableLock);
    FillAssemblyList(ws.fragments(), ws.LockedList(ws.ListView4()));
  }
  ws.ui().Changed(Change::kAssemblyList);
}

}  // namespace ravelin
