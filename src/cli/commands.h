// The sub-commands of `ravelin`. Each lives in its own file as a Run function that takes its
// options and streams (what the tests call) and an Add function that registers it with the
// command line. A new sub-command adds one line to RegisterCommands.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "datasource/device.h"
#include "datasource/discovery.h"

namespace CLI {
class App;
}

namespace ravelin::cli {

// Exit codes, as `ravelin --help` and the README list them.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;         // the command ran and some of its work failed
inline constexpr int kExitBadUsage = 2;       // bad usage or unusable input (options, files)
inline constexpr int kExitBadSource = 2;      // unknown, unreadable or unusable source
inline constexpr int kExitInterrupted = 130;  // stopped by Ctrl-C (128 + SIGINT)
// The exit codes as --help shows them.
inline constexpr char kExitCodesHelp[] =
    "Exit codes: 0 done; 1 some work failed; 2 bad usage or unusable input; "
    "130 stopped by Ctrl-C (SIGTERM: 143).";

// What a command needs from the machine; tests swap in made-up trees and devices.
struct CliEnv {
  DiscoveryEnv discovery;
  DeviceOpener opener = OpenSystemDevice;
  // Where questions without an answer on the command line are asked; null: answer No.
  std::istream* in = nullptr;
};

// The shared state of one command-line run: its environment, its streams, its exit code.
struct CliRun {
  const CliEnv& env;
  std::ostream& out;
  std::ostream& err;
  int exitCode = kExitOk;
};

// SOURCE and its image kind, as sub-commands that choose a source take them. Without
// either flag the kind of an image file is read from its sector 0.
struct SourceArgs {
  std::string source;
  bool partitionImage = false;
  bool diskImage = false;
  std::optional<int> partition;  // --partition N: that partition of a whole-disk image
  bool whole = false;            // a disk with a partition table scanned as one, raw (recover)
};

// `ravelin sources [--image DISK.img] [--json]`: the disks and partitions of the machine,
// or the partitions of a whole-disk image.
struct SourcesOptions {
  std::string image;
  bool json = false;
};
int RunSources(const SourcesOptions& options, const CliEnv& env, std::ostream& out,
               std::ostream& err);
void AddSourcesCommand(CLI::App& app, CliRun& run);

struct SourceInfoOptions {
  std::string source;
  bool partitionImage = false;
  bool diskImage = false;
  bool json = false;
  std::optional<int> partition;
};
int RunSourceInfo(const SourceInfoOptions& options, const CliEnv& env, std::ostream& out,
                  std::ostream& err);
void AddSourceInfoCommand(CLI::App& app, CliRun& run);

// `ravelin fragments ROWS [--content FILE] [--filter-range LO HI | --holding-page P]
// [--sort COLUMN] [--lsn] [--json]`: list II of a saved scan.
struct FragmentsOptions {
  std::string rows;
  std::string content;                    // empty: none
  std::vector<std::int32_t> filterRange;  // LO HI, or empty
  std::optional<std::int32_t> holdingPage;
  std::string sort;  // a column: its number 0-6, its caption or its English name
  bool lsn = false;
  bool json = false;
  bool force = false;  // use a content file that does not match the rows
};
int RunFragments(const FragmentsOptions& options, const CliEnv& env, std::ostream& out,
                 std::ostream& err);
void AddFragmentsCommand(CLI::App& app, CliRun& run);
// The list II column named by `text` (see FragmentsOptions::sort), or nothing.
std::optional<std::size_t> FragmentListColumn(const std::string& text);
// The column a --sort option names into `column` (left empty when `sort` is). False, after
// saying why on `err`, when no column has that name.
bool SortColumnOption(const std::string& sort, std::optional<std::size_t>& column,
                      std::ostream& err);

// `ravelin extract ROWS --fragments N,M,... (--combined FILE [--check-order] | --dir DIR)
// [--content FILE | --source SOURCE [--partition-image | --disk-image]] [--sort COLUMN]`.
struct ExtractOptions {
  std::string rows;
  std::vector<std::string> fragments;  // numbers and ranges of column 序号, or "all"
  std::string combined;
  bool checkOrder = false;
  std::string dir;
  std::string content;
  SourceArgs source;
  std::string sort;
  bool force = false;  // use a content file that does not match the rows; replace
                       // existing outputs
};
int RunExtract(const ExtractOptions& options, const CliEnv& env, std::ostream& out,
               std::ostream& err);
void AddExtractCommand(CLI::App& app, CliRun& run);

// `ravelin scan SOURCE …`: runs the scan job and prints the fragment list.
struct ScanOptions {
  SourceArgs source;
  std::optional<std::int64_t> begin;
  std::optional<std::int64_t> end;
  std::optional<std::int64_t> sectorsPerCluster;
  bool freeSpaceOnly = false;
  bool allSpace = false;
  std::optional<std::int64_t> fileId;
  std::optional<std::int64_t> startPageBelow;
  std::string rows;     // save the scan-info row file here (empty: don't)
  std::string content;  // and the fragment content file here (needs rows)
  bool force = false;   // replace existing --rows and --content files
  bool resume = false;  // go on from the checkpoint beside --rows
  bool json = false;
  bool stats = false;
  bool noReadAhead = false;
  enum class ProgressStyle { kAuto, kBar, kLines, kNone };
  ProgressStyle progress = ProgressStyle::kAuto;
};
int RunScan(const ScanOptions& options, const CliEnv& env, std::ostream& out, std::ostream& err);
void AddScanCommand(CLI::App& app, CliRun& run);

// `ravelin verify FILE [--json]`: the page-by-page account of a data file.
struct VerifyOptions {
  std::string file;
  bool json = false;
};
int RunVerify(const VerifyOptions& options, const CliEnv& env, std::ostream& out,
              std::ostream& err);
void AddVerifyCommand(CLI::App& app, CliRun& run);

// `ravelin files ROWS (--content FILE | --source SOURCE [--partition-image | --disk-image])
// [--json]`: the database files found (the header fragments), as tab III lists them, with
// the LSN of each one's page 0.
struct FilesOptions {
  std::string rows;
  std::string content;
  SourceArgs source;
  bool json = false;
  bool force = false;  // use a content file that does not match the rows
};
int RunFiles(const FilesOptions& options, const CliEnv& env, std::ostream& out, std::ostream& err);
void AddFilesCommand(CLI::App& app, CliRun& run);

// `ravelin analyse ROWS (--content FILE | --source SOURCE …) --file N [--manual]
// [--sectors-per-cluster N] [--json]`: analyses the N-th database file of that list and
// prints the chained fragments (the Assembly list) and the analysis log.
struct AnalyseOptions {
  std::string rows;
  std::string content;
  SourceArgs source;
  std::int64_t file = 0;
  bool manual = false;
  std::optional<std::int64_t> sectorsPerCluster;
  bool json = false;
  bool force = false;  // use a content file that does not match the rows; replace
                       // existing outputs
  // Tab IV after the analysis: SEARCH MORE, CHECK, CREATE MDF into `out` (empty: not).
  bool search = false;
  bool check = false;
  std::string out;
};
int RunAnalyse(const AnalyseOptions& options, const CliEnv& env, std::ostream& out,
               std::ostream& err);
void AddAnalyseCommand(CLI::App& app, CliRun& run);

// `ravelin recover SOURCE [scan options] [--file N] --out-dir DIR [--json REPORT]`, or
// `ravelin recover --rows ROWS --content FILE …`: the whole recovery of every database file
// found (or the N-th), one rebuilt .mdf each in DIR.
struct RecoverOptions {
  ScanOptions scan;  // the source and the scan options
  std::string rows;  // a saved scan instead of a source
  std::string content;
  bool force = false;  // use a content file that does not match the rows; replace
                       // existing outputs
  std::optional<std::int64_t> file;
  std::string outDir;
  std::string json;     // the report file (empty: none)
  bool stats = false;   // the time of each step on stderr
  bool resume = false;  // go on from the checkpoint in --out-dir
};
int RunRecover(const RecoverOptions& options, const CliEnv& env, std::ostream& out,
               std::ostream& err);
void AddRecoverCommand(CLI::App& app, CliRun& run);

void RegisterCommands(CLI::App& app, CliRun& run);

// Parses a whole command line (args[0] is the program name) and runs the chosen
// sub-command. Returns the process's exit code.
int RunCli(const std::vector<std::string>& args, const CliEnv& env, std::ostream& out,
           std::ostream& err);

}  // namespace ravelin::cli
