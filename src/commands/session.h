// One recovery as a sequence of calls: list the database files, analyse one, search for
// missing fragments, check, write the .mdf. The window's handlers and the command line take
// this one road to the engines. Each call returns what it found as numbers and its log lines
// as written to the memo; nothing needs to read a memo back to learn what happened.
//
// The session works on the Workspace's tables and reports through its Ui (the lines go to
// the memo of the tab the step belongs to, as they come). It never reads or sets a control:
// the handlers read the controls and pass their values in, and enable or disable buttons
// themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "analysis/chaining.h"
#include "analysis/page_matching.h"
#include "assembly/assembly_rows.h"
#include "assembly/mdf_writer.h"
#include "assembly/missing_fragment_search.h"
#include "assembly/missing_pages.h"
#include "assembly/page_account.h"
#include "workspace/jobs.h"

namespace ravelin {

class Workspace;

enum class StepOutcome {
  kCompleted,
  kStopped,  // by the person (gave up a question, Ctrl-C, the window closing)
  kFailed,   // `why` says what
};

struct StepResult {
  StepOutcome outcome = StepOutcome::kFailed;
  std::string why;                   // for kStopped and kFailed
  std::vector<std::string> log;      // the memo lines the step wrote, in order
  std::int64_t unreadablePages = 0;  // pages the step could not read (each reported)

  bool Completed() const { return outcome == StepOutcome::kCompleted; }
};

// A database file of the tab III list.
struct DatabaseFile {
  std::size_t row = 0;  // in ListView3
  std::string name;     // the identification cell
  std::uint64_t startSector = 0;
  std::int64_t sizeKB = 0;
};

// What an analysis works on: the values the controls hold when it is started.
struct AnalysisRequest {
  std::optional<HeaderFragment> header;  // none: no row selected, nothing is analysed
  bool automatic = true;                 // chkauto
  PageMapSettings map;                   // SectorsPerCluster, CurrentFileId
};

struct AnalysisResult : StepResult {
  std::int32_t filePageCount = 0;
  std::string databaseFileName;
  std::int64_t fragmentsChained = 0;  // rows of the Assembly list
};

struct SearchStepResult : StepResult {
  SearchResult search;  // outcome and the fragments added by each sweep
  std::int64_t fragmentsAdded = 0;
};

struct CheckResult : StepResult {
  MissingPages missing;  // the missing PFS pages and allocated pages
};

struct WriteResult : StepResult {
  std::string path;                    // written (empty: nothing was)
  std::optional<PageAccount> account;  // taken while writing, when asked for
  MdfWriteResult write;
};

// The request for the `row`-th file of the tab III list (past its end: no file) with the
// source's cluster size and the current file id.
AnalysisRequest AnalysisRequestFor(const Workspace& ws, std::size_t row, bool automatic);

class Session {
 public:
  explicit Session(Workspace& ws) : ws_(ws) {}

  // Whether the results keep the log lines (they go to the memos either way). A run that
  // reports none leaves them out: the analysis logs a line or more per fragment chained.
  void KeepLogLines(bool keep) { keepLog_ = keep; }

  // Rebuilds the tab III list from the header fragments (with stored content, the names are
  // read again from the stored pages) and returns it.
  std::vector<DatabaseFile> ListFiles();

  // Analyses on the caller's thread; `question` answers in manual mode (null: automatic).
  // Completed: the chain went through and the Assembly list was rebuilt, the log ending with
  // "分析已正常结束,请组合前进行二次查找".
  AnalysisResult Analyse(const AnalysisRequest& request, SuccessorQuestion* question);
  // Runs an automatic analysis as the "anlys" job and waits through `wait` (which may set
  // Closing to stop it) until the job has ended.
  AnalysisResult AnalyseAsJob(const AnalysisRequest& request, const std::function<void()>& wait);

  // Sorts the Assembly list by `column`; column 2 puts it in page order.
  void SortAssembly(std::size_t column);

  // SEARCH MORE: sweeps until one adds nothing; on completion sorts the list by first page
  // and puts the file's name and size into the first row's memo cell.
  SearchStepResult Search();

  // The missing pages of the Assembly list as it stands ("检测完毕" closes them).
  CheckResult Check();
  // The page account of the file Write would make of the list, repairs included, without
  // writing it; its summary is logged.
  WriteResult Account();

  // Writes the .mdf at `path` through the output road. With `account`, the page account is
  // taken while writing. Completed only once the file is whole and renamed into place.
  WriteResult Write(const std::string& path, bool account);

  // The Assembly list as typed rows, in the order it shows them.
  std::vector<AssemblyRow> Rows() const;

 private:
  Workspace& ws_;
  bool keepLog_ = true;
};

// How a job that ran a step ended.
JobOutcome JobOutcomeOf(const StepResult& result);

// Whether CREATE MDF goes on with the Assembly list: it has rows and the first begins at page 0.
bool CanWrite(const std::vector<AssemblyRow>& rows);

}  // namespace ravelin
