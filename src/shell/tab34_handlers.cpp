#include "shell/tab34_handlers.h"

#include "workspace/workspace.h"

namespace ravelin::shell {
namespace {

void NotYetAvailable(Workspace& ws) { ws.ui().SetStatus(kNotYetAvailable); }

}  // namespace

void OnPageControl1Change(Workspace& /*ws*/, int index) {
  if (index != 2) return;  // other tab changes do nothing
  // Connection point: ListHeaderFragments(ws);
}

void OnListView3Click(Workspace& /*ws*/) {
  // Connection point: ListView3Click(ws);
}

void OnButton1Click(Workspace& ws) {
  // Connection point: Button1Click(ws);
  NotYetAvailable(ws);
}

void OnN17Click(Workspace& ws) {
  // Connection point: N17Click(ws);
  NotYetAvailable(ws);
}

void AfterN16Click(Workspace& /*ws*/) {
  // Connection point: FillAssemblyList(ws); unless N16Click does it itself.
}

void OnListView4Click(Workspace& /*ws*/) {
  // Connection point: ListView4Click(ws);
}

void OnListView4ColumnClick(Workspace& /*ws*/, std::size_t /*column*/) {
  // Connection point: ListView4ColumnClick(ws, column);
}

void OnButton5Click(Workspace& ws) {
  // Connection point: Button5Click(ws);
  NotYetAvailable(ws);
}

void OnButton6Click(Workspace& ws) {
  // Connection point: Button6Click(ws);
  NotYetAvailable(ws);
}

void OnButton2Click(Workspace& ws) {
  // Connection point: Button2Click(ws);
  NotYetAvailable(ws);
}

void OnSaveCandidatesClick(Workspace& ws) {
  // Connection point: the successor dialog's Button1Click over the core's dialog state.
  NotYetAvailable(ws);
}

}  // namespace ravelin::shell
