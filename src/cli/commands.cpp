#include "cli/commands.h"

#include <CLI/CLI.hpp>

namespace ravelin::cli {

void RegisterCommands(CLI::App& app, CliRun& run) {
  AddSourcesCommand(app, run);
  AddSourceInfoCommand(app, run);
  AddScanCommand(app, run);
  AddFragmentsCommand(app, run);
  AddExtractCommand(app, run);
  AddVerifyCommand(app, run);
  AddFilesCommand(app, run);
  AddAnalyseCommand(app, run);
}

int RunCli(const std::vector<std::string>& args, const CliEnv& env, std::ostream& out,
           std::ostream& err) {
  CLI::App app{"Ravelin Recover: recovers deleted SQL Server .mdf files from disks and images",
               "ravelin"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("ravelin ") + RAVELIN_VERSION);
  app.footer(kExitCodesHelp);
  CliRun run{env, out, err};
  RegisterCommands(app, run);

  std::vector<const char*> argv;
  argv.reserve(args.size());
  for (const std::string& a : args) argv.push_back(a.c_str());
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::ParseError& e) {
    // --help and --version end with CLI11's success; every usage error is bad usage (2),
    // whatever CLI11's own number for it.
    const int code = app.exit(e, out, err);
    return code == static_cast<int>(CLI::ExitCodes::Success) ? kExitOk : kExitBadUsage;
  }
  return run.exitCode;
}

}  // namespace ravelin::cli
