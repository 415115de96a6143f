#include "commands/workspace_assembly.h"

#include "assembly/assembly_list.h"
#include "catalogue/list_operations.h"
#include "workspace/workspace.h"

namespace ravelin {

void RebuildAssemblyList(Workspace& ws) {
  MutexLock lock(ws.tableLock);
  if (ws.showsLists())
    FillAssemblyList(ws.fragments(), ws.LockedList(ws.ListView4()));
  else
    ws.LockedAssembly().Fill(ws.fragments());
}

void FillAssemblyList(Workspace& ws) {
  RebuildAssemblyList(ws);
  ws.ui().Changed(Change::kAssemblyList);
}

std::size_t AssemblyCount(const Workspace& ws) {
  return ws.showsLists() ? ws.ListView4().Count() : ws.assembly().Count();
}

ReportRow AssemblyItem(const Workspace& ws, std::size_t i) {
  return ws.showsLists() ? ws.ListView4().Row(i) : ws.assembly().Item(i, ws.fragments());
}

void SortAssemblyList(Workspace& ws, std::size_t column) {
  MutexLock lock(ws.tableLock);
  if (ws.showsLists())
    ws.LockedList(ws.ListView4()).Sort(column);
  else
    ws.LockedAssembly().Sort(column, ws.fragments());
}

void SetAssemblyRemark(Workspace& ws, std::size_t i, const std::string& remark) {
  MutexLock lock(ws.tableLock);
  if (!ws.showsLists()) {
    ws.LockedAssembly().SetRemark(i, remark);
    return;
  }
  ReportRow& item = ws.LockedList(ws.ListView4()).Edit(i);
  if (item.cells.size() > list_column::kRemark) item.cells[list_column::kRemark] = remark;
}

std::vector<AssemblyRow> AssemblyListRows(const Workspace& ws) {
  return ws.showsLists() ? AssemblyRows(ws.ListView4(), ws.fragments())
                         : ws.assembly().Rows(ws.fragments());
}

}  // namespace ravelin
