#include "cli/recovery.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "analysis/file_identification.h"
#include "catalogue/list_operations.h"
#include "catalogue/update_info.h"
#include "commands/tab3_commands.h"
#include "commands/tab4_commands.h"
#include "common/text.h"

namespace ravelin::cli {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kMissingPfs = "缺少重要的PFS页面";
constexpr std::string_view kMissingPage = "缺少页面";
constexpr std::string_view kCheckDone = "检测完毕";
constexpr std::size_t kFirstPageColumn = 2;

std::optional<std::int64_t> NumberAfter(const std::string& line, std::string_view prefix) {
  if (line.rfind(prefix, 0) != 0) return std::nullopt;
  return ParseInteger(line.substr(prefix.size()));
}

}  // namespace

std::vector<std::string> MemoCursor::Take() {
  const std::string text = memo_.str();
  std::vector<std::string> lines;
  std::size_t at = seen_;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    if (end == std::string::npos) break;
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  seen_ = at;
  return lines;
}

CheckLines ParseCheckLines(const std::vector<std::string>& lines) {
  CheckLines check;
  for (const std::string& line : lines) {
    if (line == kCheckDone) check.done = true;
    if (const auto n = NumberAfter(line, kMissingPfs)) check.missingPfs.push_back(*n);
    if (const auto n = NumberAfter(line, kMissingPage)) check.missingAllocated.push_back(*n);
  }
  return check;
}

std::optional<std::string> PageZeroLsn(Workspace& ws, const ReportRow& fileRow) {
  std::array<std::uint8_t, kPageSize> page{};
  const auto sector = static_cast<std::uint64_t>(CellNumber(fileRow, file_column::kStartSector));
  if (!ws.Fragments().ReadPage(sector, 0, page)) return std::nullopt;
  return LsnText(page);
}

FileRecovery RecoverFile(Workspace& ws, MemoCursor& memo, std::int64_t number, bool search,
                         bool check,
                         const std::function<std::string(const std::string&)>& outputFor,
                         const std::function<void()>& wait) {
  FileRecovery r;
  r.number = number;
  const auto selected = static_cast<std::size_t>(number - 1);
  const ReportRow& fileRow = ws.ListView3.Row(selected);
  r.identification = fileRow.Cell(file_column::kName);
  r.headerSector = static_cast<std::uint64_t>(CellNumber(fileRow, file_column::kStartSector));
  r.lsn = PageZeroLsn(ws, fileRow);
  auto takeLog = [&] {
    std::vector<std::string> lines = memo.Take();
    r.log.insert(r.log.end(), lines.begin(), lines.end());
    return lines;
  };
  takeLog();
  auto clock = std::chrono::steady_clock::now();
  auto lap = [&clock] {
    const auto now = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(now - clock).count();
    clock = now;
    return seconds;
  };

  ws.ListView3.SetCurrent(static_cast<std::ptrdiff_t>(selected));
  ListView3Click(ws);
  ws.controls.tab3.chkauto = true;
  Button1Click(ws);
  wait();
  r.analyseSeconds = lap();
  const std::vector<std::string> analysis = takeLog();
  r.analysed = !analysis.empty() && analysis.back() == kAnalysisFinishedLine;
  r.pageCount = ws.FilePageCount;
  if (!r.analysed) return r;

  if (search) {
    r.search = Button6Click(ws);
    r.searched = true;
    takeLog();
  }
  r.searchSeconds = lap();
  ListView4ColumnClick(ws, kFirstPageColumn);
  r.physicalName = ws.DatabaseFileName;
  r.fragmentsUsed = static_cast<std::int64_t>(ws.ListView4.Count());
  if (check) {
    CheckAssembly(ws);  // the account comes with the write
    r.check = ParseCheckLines(takeLog());
    r.checked = true;
  }
  r.checkSeconds = lap();
  const std::string path = outputFor(r.physicalName);
  const std::vector<AssemblyRow> rows = AssemblyRows(ws.ListView4);
  if (path.empty() || rows.empty() || rows.front().startPage != 0) return r;
  r.output = path;
  PageAccount account;
  r.written = CreateMdf(ws, path, &account);
  r.writeSeconds = lap();
  takeLog();
  if (r.written) r.account = std::move(account);
  return r;
}

std::string RecoveredFileName(const std::string& physicalName, const std::string& dir,
                              std::set<std::string>& taken) {
  std::string base = MdfFileName(physicalName);
  if (const std::size_t slash = base.rfind('/'); slash != std::string::npos)
    base = base.substr(slash + 1);
  if (base.size() >= 4) {
    std::string tail = base.substr(base.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (tail == ".mdf") base.resize(base.size() - 4);
  }
  std::replace_if(
      base.begin(), base.end(), [](char c) { return c == '\0' || c == ':'; }, '_');
  if (base.empty() || base == "." || base == "..") base = "noname";
  for (int n = 1;; ++n) {
    const std::string name = n == 1 ? base + ".mdf" : base + "-" + std::to_string(n) + ".mdf";
    std::error_code ec;
    if (taken.count(name) || fs::exists(fs::path(dir) / name, ec)) continue;
    taken.insert(name);
    return name;
  }
}

}  // namespace ravelin::cli
