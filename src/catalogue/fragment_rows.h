// The rows the scan records and the items list II shows for them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "catalogue/fragment_table.h"
#include "common/reporter.h"
#include "datasource/sector_reader.h"
#include "ports/report_list.h"

namespace ravelin {

// Fragments of at most this many pages that start at page 0 are too short to hold page 32,
// the page with the file's physical name.
inline constexpr std::int64_t kShortHeaderPages = 32;

// The row of a fragment of `pages` pages from `startPage` at `startSector`, numbered `no`.
// A fragment that starts at page 0 is a database file's header fragment: its remark is
// "无效文件头,size:" + KB + "KB" when it is too short to hold page 32, else the physical name
// from page 32 and the file size from page 0 ("name(x.xx MB)"), or `inheritedRemark` when a
// merge hands one down that is not of the short kind. Pages are read from the source
// through `reader`. Nothing when a page cannot be read ("read disk error" is reported);
// "get fileinfo1 error" / "get fileinfo2 error" are logged when page 0 holds no size or page
// 32 no name.
std::optional<FragmentRow> MakeFragmentRow(std::int32_t no, std::int64_t pages,
                                           std::int32_t startPage, std::uint64_t startSector,
                                           const std::optional<std::string>& inheritedRemark,
                                           SectorReader& reader, Reporter& reporter);

// The remark of a header fragment too short to hold page 32: "无效文件头,size:" + KB + "KB".
std::string InvalidHeaderRemark(std::int64_t sizeKB);

// What a remark cell holds, split into the parts this program composes it of: the database
// file's name and size text of a header fragment ("name(size text)"), the size text of an
// invalid header (InvalidHeaderRemark), and the LSN the update information appends
// (" " + 20 hexadecimal digits). Empty strings when absent.
struct RemarkFields {
  bool invalidHeader = false;
  std::string name;
  std::string sizeText;
  std::string lsn;
};
RemarkFields SplitRemark(std::string_view remark);

// Column layout shared by list II and the Assembly list.
ReportList MakeFragmentListView();

inline constexpr std::size_t kFragmentListColumns = 7;

// The list II item of `row`, the `position`-th row (0-based) of the table.
ReportRow FragmentListItem(const FragmentRow& row, std::size_t position);
// One cell of that item, made alone (lists kept as typed rows make their cells when asked).
std::string FragmentListCell(const FragmentRow& row, std::size_t position, std::size_t column);

// Rebuilds `list` from the rows whose Shown is not "N", in table order.
void FillFragmentList(const FragmentTable& table, ReportList& list);

}  // namespace ravelin
