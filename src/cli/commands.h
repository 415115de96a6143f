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

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;     // the command ran and could not finish its work
inline constexpr int kExitBadSource = 2;  // unknown, unreadable or unusable source

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

// SOURCE and its image kind, as sub-commands that choose a source take them.
struct SourceArgs {
  std::string source;
  bool partitionImage = false;
  bool diskImage = false;
};

struct SourcesOptions {
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
};
int RunSourceInfo(const SourceInfoOptions& options, const CliEnv& env, std::ostream& out,
                  std::ostream& err);
void AddSourceInfoCommand(CLI::App& app, CliRun& run);

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
  bool json = false;
  bool stats = false;
  bool noReadAhead = false;
  enum class ProgressStyle { kAuto, kBar, kLines, kNone };
  ProgressStyle progress = ProgressStyle::kAuto;
};
int RunScan(const ScanOptions& options, const CliEnv& env, std::ostream& out, std::ostream& err);
void AddScanCommand(CLI::App& app, CliRun& run);

void RegisterCommands(CLI::App& app, CliRun& run);

// Parses a whole command line (args[0] is the program name) and runs the chosen
// sub-command. Returns the process's exit code.
int RunCli(const std::vector<std::string>& args, const CliEnv& env, std::ostream& out,
           std::ostream& err);

}  // namespace ravelin::cli
