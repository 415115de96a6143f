// The database files the scan met, one per header fragment (a fragment whose first page is
// a file's page 0), as the list of tab III shows them; and the file name in page 32 of
// fragments of list II. No fragment is attributed to a file by name: which fragments
// belong to a file is for the analysis to decide from the file's allocation pages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "catalogue/fragment_source.h"
#include "catalogue/fragment_table.h"
#include "common/reporter.h"
#include "ports/report_list.h"

namespace ravelin {

// Cells of the tab III list (ListView3).
namespace file_column {
inline constexpr std::size_t kPosition = 0;  // "序号": running number in this list, from 1
inline constexpr std::size_t kName = 1;      // "文件名": the file identification text
inline constexpr std::size_t kSizeKB = 2;
inline constexpr std::size_t kStartPage = 3;
inline constexpr std::size_t kEndPage = 4;
inline constexpr std::size_t kStartSector = 5;
inline constexpr std::size_t kEndSector = 6;
}  // namespace file_column

// Page 32 of a primary data file holds its physical name; a header fragment of this many
// pages or fewer does not reach it.
inline constexpr std::int64_t kNamePage = 32;

inline constexpr char kMessCaption[] = "mess";

// The tab III list's columns.
ReportList MakeFileListView();

// A row of the table that stands for a database file: it starts at page 0 (or below) and is
// not hidden by the list II filter.
bool IsHeaderFragment(const FragmentRow& row);

// Rebuilds `list` with one row per header fragment in table order, its remark as the name.
void FillHeaderFragments(const FragmentTable& table, ReportList& list);

// For a scan loaded from its saved content: the name cell of every row of more than 32 pages
// becomes name + ":" + size in KB, read from the stored pages 0 and 32. A row whose pages
// cannot be read or hold no size or name keeps its text (the message says why). Gives the
// rows to change and their new names, in row order, for the caller to write into the list:
// the messages may be questions to the person, which no lock may be held across.
std::vector<std::pair<std::size_t, std::string>> NameFilesFromContent(const ReportList& list,
                                                                      FragmentSource& source,
                                                                      Reporter& reporter);

// "取勾选碎片的文件名": for the ticked rows of list II in list order, a message box with the name
// in the row's page 32 ("none" when it holds none). Stops at the first ticked row that does
// not hold page 32, and at a read that fails ("read disk error").
void ShowFileNameOfChecked(const ReportList& fragmentList, FragmentSource& source,
                           Reporter& reporter);

}  // namespace ravelin
