// One database file of tab III taken through tabs III and IV as a person does in automatic
// mode: analyse, search until a sweep finds nothing, sort by first page, check, create the
// MDF. Shared by `ravelin recover` and `ravelin analyse --search --check --out`.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "assembly/missing_fragment_search.h"
#include "assembly/missing_pages.h"
#include "assembly/page_account.h"
#include "workspace/workspace.h"

namespace ravelin::cli {

// The LSN of the header fragment's page 0 (a tab III row), or nothing when it cannot be read.
std::optional<std::string> PageZeroLsn(Workspace& ws, const ReportRow& fileRow);

struct FileRecovery {
  std::int64_t number = 0;         // in the tab III list, from 1
  std::string identification;      // the tab III name cell
  std::uint64_t headerSector = 0;  // where its header fragment starts
  std::string physicalName;        // DatabaseFileName after the search
  std::int64_t pageCount = 0;      // FilePageCount
  std::int64_t fragmentsUsed = 0;
  std::optional<std::string> lsn;
  bool analysed = false;  // the analysis went through
  SearchResult search;
  bool searched = false;
  MissingPages missing;    // as the check found them
  bool checkDone = false;  // the check went through every gap
  bool checked = false;
  std::string output;  // the file written (empty: none)
  bool written = false;
  std::optional<PageAccount> account;  // of the file written
  std::vector<std::string> log;        // the log lines of every step, in order
  std::int64_t unreadablePages = 0;    // reports of pages that could not be read, all steps
  // Wall time of each step, in seconds, and the bytes each read from the source.
  double analyseSeconds = 0, searchSeconds = 0, checkSeconds = 0, writeSeconds = 0;
  std::uint64_t analyseRead = 0, searchRead = 0, checkRead = 0, writeRead = 0;
};

// Runs the steps on the `number`-th file of ListView3 (from 1) through the session. `search`,
// `check`: whether to run those steps; `outputFor(physicalName)` gives the path to write
// (empty: write nothing). `wait` waits for the analysis job (it may stop it). `keepLines`:
// whether FileRecovery::log is filled (for a report).
FileRecovery RecoverFile(Workspace& ws, std::int64_t number, bool search, bool check,
                         const std::function<std::string(const std::string&)>& outputFor,
                         const std::function<void()>& wait, bool keepLines = true);

// The name `ravelin recover` gives the file rebuilt from `physicalName` in `dir`: its last
// component with ".mdf" in lower case, "-2", "-3" … before it when the name is in `taken` or
// a file of that name exists. Adds the name to `taken`.
std::string RecoveredFileName(const std::string& physicalName, const std::string& dir,
                              std::set<std::string>& taken);

}  // namespace ravelin::cli
