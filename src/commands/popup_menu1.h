// The pop-up menu of list II (PopupMenu1): extraction, ticking, statistics, the clipboard,
// adding to the assembly, and the update information.
#pragma once

#include <string>
#include <vector>

#include "catalogue/extraction.h"

namespace ravelin {

class Workspace;

// The result of an extraction refused before anything was written: the rows' page numbers
// are garbage (PlanCombined), or the (first) output could not be created.
inline constexpr int kExtractRefused = 2;

// Writes the combined file of `rows` at `path`; 0 on success, 1 when it stopped, and
// kExtractRefused when the rows' page numbers were refused (the message already shown).
int ExtractCombined(Workspace& ws, const std::vector<ExtractRow>& rows, const std::string& path);
// The file a row is extracted to in `folder`: folder/<start sector>.hex.
std::string FragmentFileName(const std::string& folder, const ExtractRow& row);
// Writes folder/<start sector>.hex for every row; 0 on success, 1 when it stopped,
// kExtractRefused when the first file could not be created.
int ExtractFragmentFiles(Workspace& ws, const std::vector<ExtractRow>& rows,
                         const std::string& folder);

// "提取勾选碎片到文件": questions, order check, dialogs, files, "保存完毕".
void N9Click(Workspace& ws);
void N10Click(Workspace& ws);  // tick every row
void N14Click(Workspace& ws);  // clear every tick
void N15Click(Workspace& ws);  // invert every tick
void N12Click(Workspace& ws);  // statistics of the ticked rows
void N13Click(Workspace& ws);  // copy the current row's start sector to the clipboard
void N16Click(Workspace& ws);  // add the ticked rows to the assembly, rebuild the Assembly list

// "取勾选碎片的文件名": the name in page 32 of each ticked row, as message boxes.
void ShowFileNameOfChecked(Workspace& ws);
void N17Click(Workspace& ws);  // the same, refused while a job runs

// "取更新信息": appends the LSN of page 0 to every page-0 row's memo cell; "处理完毕" at the
// end, "read disk error" (and a stop) on a failed read. False when a read failed.
bool UpdateInformation(Workspace& ws);
void N18Click(Workspace& ws);  // the same, refused while a job runs

}  // namespace ravelin
