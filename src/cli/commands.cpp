#include "cli/commands.h"

#include <CLI/CLI.hpp>
#include <algorithm>

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
  AddRecoverCommand(app, run);
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
    // A misspelt command reads to CLI11 as no command at all: name it and list the commands.
    const std::vector<CLI::App*> commands = app.get_subcommands({});
    const bool named = args.size() > 1 && !args[1].empty() && args[1][0] != '-';
    if (named && app.get_subcommands().empty() &&
        std::none_of(commands.begin(), commands.end(),
                     [&](const CLI::App* c) { return c->get_name() == args[1]; })) {
      err << "ravelin: 未知命令(unknown command) \"" << args[1] << "\"; the commands are:";
      for (const CLI::App* command : commands) err << ' ' << command->get_name();
      err << "\n(ravelin --help describes them)\n";
      return kExitBadUsage;
    }
    // --help and --version end with CLI11's success; every usage error is bad usage (2),
    // whatever CLI11's own number for it.
    const int code = app.exit(e, out, err);
    return code == static_cast<int>(CLI::ExitCodes::Success) ? kExitOk : kExitBadUsage;
  }
  return run.exitCode;
}

}  // namespace ravelin::cli
