#include "shell/tab34_handlers.h"

#include "commands/popup_menu1.h"
#include "commands/successor_dialog.h"
#include "commands/tab3_commands.h"
#include "commands/tab4_commands.h"
#include "workspace/workspace.h"

namespace ravelin::shell {

void OnPageControl1Change(Workspace& ws, int index) { PageControl1Change(ws, index); }

void OnListView3Click(Workspace& ws) { ListView3Click(ws); }

void OnButton1Click(Workspace& ws) { Button1Click(ws); }

void OnN17Click(Workspace& ws) { N17Click(ws); }

void OnListView4Click(Workspace& ws) { ListView4Click(ws); }

void OnListView4ColumnClick(Workspace& ws, std::size_t column) { ListView4ColumnClick(ws, column); }

void OnButton5Click(Workspace& ws) { Button5Click(ws); }

void OnButton6Click(Workspace& ws) { Button6Click(ws); }

void OnButton2Click(Workspace& ws) { Button2Click(ws); }

void OnSaveCandidatesClick(Workspace& ws) { Button1Click(ws, ws.frmuserchoose()); }

}  // namespace ravelin::shell
