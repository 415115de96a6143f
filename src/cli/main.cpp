// `ravelin`: the command-line twin of the window.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/interrupt.h"

int main(int argc, char** argv) {
  // Ctrl-C and SIGTERM remove the temporary files of unfinished outputs.
  ravelin::cli::InstallInterruptHandlers();
  ravelin::cli::CliEnv env;
  // Ask on the terminal only when there is one: a script never hangs on a question.
  if (::isatty(STDIN_FILENO) != 0) env.in = &std::cin;
  const std::vector<std::string> args(argv, argv + argc);
  return ravelin::cli::RunCli(args, env, std::cout, std::cerr);
}
