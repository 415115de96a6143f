// "提取勾选碎片到文件": copies the pages of the ticked rows of list II into files, either one
// combined file laid out by page number (zero pages in the gaps, the left-page repair where
// one fragment ends exactly where the next begins) or one ".hex" file of raw pages per
// fragment, named after its start sector.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ravelin {

class Workspace;

inline constexpr char kFileTypeQuestion[] = "组合保存成一个文件选是，保存为多个文件选否";
inline constexpr char kOrderCheckQuestion[] = "判断页号重复选是，不判断则选否";
inline constexpr char kExtractCaption[] = "数据文件类型选择";

// A ticked row as read from its cells.
struct ExtractRow {
  std::int64_t sizeKB = 0;
  std::int32_t startPage = 0;
  std::int32_t endPage = 0;  // one past the last page
  std::uint64_t startSector = 0;
};

// The ticked rows of list II in the order the list shows them.
std::vector<ExtractRow> TickedRows(const Workspace& ws);

// The first page id of the first row that starts before the previous row ends, or nothing
// when the rows are in order. Rows are compared with the row before them only.
std::optional<std::int32_t> FirstOutOfOrder(const std::vector<ExtractRow>& rows);

// Writes the combined file; 0 on success, 1 when it stopped (the message already shown).
int ExtractCombined(Workspace& ws, const std::vector<ExtractRow>& rows, const std::string& path);
// Writes folder/<start sector>.hex for every row; 0 on success, 1 when it stopped.
int ExtractFragmentFiles(Workspace& ws, const std::vector<ExtractRow>& rows,
                         const std::string& folder);

// The whole command: questions, order check, dialogs, files, "保存完毕".
void N9Click(Workspace& ws);

}  // namespace ravelin
