// The state of the successor choice dialog (Tfrmuserchoose): the fragment chained last, the
// candidates, and the person's answer. It lives on the window's thread. The dialog's window
// (successor_dialog.h) shows it and calls the handlers below; the analysis fills it and reads
// the answer.
//
// Kept here until the analysis brings the core's own dialog state; the window then points
// at that one instead, and these handlers become its.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "catalogue/fragment_table.h"
#include "ports/report_list.h"

namespace ravelin::shell {

struct SuccessorChoice {
  SuccessorChoice();

  ReportList ListView1;   // the fragment chained last: one row
  ReportList ListView2;   // the candidates, with ticks
  int ChoiceResult = -1;  // -1 waiting, 0 confirmed, 1 cancelled
  int ChosenIndex = 0;    // row of ListView2; carries over from one question to the next
};

// A row of either list: FragmentList row index + 1, SizeKB, StartPage, EndPage, StartSector,
// EndSector.
ReportRow SuccessorRow(const FragmentRow& row, std::size_t rowIndex);

// Empties both lists, shows `last` above and the candidates below, waiting for an answer.
void FillChoice(SuccessorChoice& choice,
                const std::vector<std::pair<std::size_t, FragmentRow>>& candidates,
                const std::pair<std::size_t, FragmentRow>& last);

void BtnokClick(SuccessorChoice& choice);      // "确定": the first ticked row, else ChosenIndex
void BtncancelClick(SuccessorChoice& choice);  // "取消"
void ListView2Click(SuccessorChoice& choice);  // either list: ListView2's current row is chosen
void FormClose(SuccessorChoice& choice);       // closing gives up

// The candidate position chosen, or nothing when the person gave up or the answer does not
// fit the candidates.
std::optional<std::size_t> Answer(const SuccessorChoice& choice);

}  // namespace ravelin::shell
