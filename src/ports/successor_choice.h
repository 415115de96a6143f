// The state of the successor choice dialog (Tfrmuserchoose): what it shows and what the
// person answered. It lives in the core; the window only shows it, and its buttons and
// clicks call the dialog's handlers (commands/successor_dialog.h), which change it. One
// dialog belongs to one analysis and serves all of its questions, so ChosenIndex carries
// over from one question to the next.
#pragma once

#include <cstdint>

#include "ports/report_list.h"

namespace ravelin {

// ChoiceResult values.
inline constexpr std::int32_t kChoiceWaiting = -1;
inline constexpr std::int32_t kChoiceConfirmed = 0;
inline constexpr std::int32_t kChoiceCancelled = 1;

struct SuccessorChoice {
  SuccessorChoice();

  // One row: the fragment chained last. Caption: its table row + 1; then SizeKB, StartPage,
  // EndPage, StartSector, EndSector.
  ReportList ListView1;
  // The candidates, with check boxes; rows as in ListView1, in the group's order.
  ReportList ListView2;
  std::int32_t ChoiceResult = kChoiceWaiting;  // -1 waiting, 0 confirmed, 1 cancelled
  std::int32_t ChosenIndex = 0;                // the chosen row of ListView2
};

}  // namespace ravelin
