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
#include "cli/freed_memory.h"
#include "commands/session.h"
#include "commands/tab4_commands.h"
#include "commands/workspace_assembly.h"
#include "common/text.h"

namespace ravelin::cli {
namespace {

namespace fs = std::filesystem;

}  // namespace

std::optional<std::string> PageZeroLsn(Workspace& ws, const ReportRow& fileRow) {
  std::array<std::uint8_t, kPageSize> page{};
  const auto sector = static_cast<std::uint64_t>(CellNumber(fileRow, file_column::kStartSector));
  if (!ws.Fragments().ReadPage(sector, 0, page)) return std::nullopt;
  return LsnText(page);
}

FileRecovery RecoverFile(Workspace& ws, std::int64_t number, bool search, bool check,
                         const std::function<std::string(const std::string&)>& outputFor,
                         const std::function<void()>& wait, bool keepLines) {
  FileRecovery r;
  r.number = number;
  const auto selected = static_cast<std::size_t>(number - 1);
  const ReportRow& fileRow = ws.ListView3().Row(selected);
  r.identification = fileRow.Cell(file_column::kName);
  r.headerSector = static_cast<std::uint64_t>(CellNumber(fileRow, file_column::kStartSector));
  r.lsn = PageZeroLsn(ws, fileRow);
  auto keepLog = [&r](StepResult& step) {
    r.log.insert(r.log.end(), std::make_move_iterator(step.log.begin()),
                 std::make_move_iterator(step.log.end()));
    step.log = {};
    r.unreadablePages += step.unreadablePages;
  };
  auto clock = std::chrono::steady_clock::now();
  std::uint64_t readSoFar = ws.SourceBytesRead();
  // The time since the last lap, and the bytes read meanwhile into `read`.
  auto lap = [&](std::uint64_t& read) {
    const auto now = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(now - clock).count();
    clock = now;
    read = ws.SourceBytesRead() - readSoFar;
    readSoFar += read;
    return seconds;
  };

  Session session(ws);
  session.KeepLogLines(keepLines);
  AnalysisResult analysis =
      session.AnalyseAsJob(AnalysisRequestFor(ws, selected, /*automatic=*/true), wait);
  ReturnFreedMemory();
  r.analyseSeconds = lap(r.analyseRead);
  keepLog(analysis);
  r.analysed = analysis.Completed();
  r.pageCount = analysis.filePageCount;
  if (!r.analysed) return r;

  if (search) {
    SearchStepResult found = session.Search();
    keepLog(found);
    r.search = found.search;
    r.searched = true;
  }
  r.searchSeconds = lap(r.searchRead);
  session.SortAssembly(list_column::kStartPage);
  r.physicalName = ws.DatabaseFileName();
  r.fragmentsUsed = static_cast<std::int64_t>(AssemblyCount(ws));
  if (check) {
    CheckResult checked = session.Check();  // the account comes with the write
    keepLog(checked);
    r.missing = checked.missing;
    r.checkDone = checked.Completed();
    r.checked = true;
  }
  ReturnFreedMemory();
  r.checkSeconds = lap(r.checkRead);
  const std::string path = outputFor(r.physicalName);
  if (path.empty() || !CanWrite(session.Rows())) return r;
  r.output = path;
  WriteResult written = session.Write(path, /*account=*/true);
  r.writeSeconds = lap(r.writeRead);
  keepLog(written);
  r.written = written.Completed();
  if (r.written) r.account = std::move(written.account);
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
