// A fixture for tests of the `ravelin` command line, run in-process: the environment its
// commands see, and what one run printed. Only test targets that link the CLI may use it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"

namespace ravelin::test {

class CliFixture : public ::testing::Test {
 protected:
  // `ravelin ARGS…` with env_; out_ and err_ then hold what this run printed, and only that.
  int Run(std::vector<std::string> args) {
    args.insert(args.begin(), "ravelin");
    out_.str("");
    err_.str("");
    return cli::RunCli(args, env_, out_, err_);
  }
  // A machine without disks: sysfs and /dev are folders under `root` that hold nothing.
  void WithoutDisks(const std::filesystem::path& root) {
    env_.discovery.sysfsRoot = root / "sys";
    env_.discovery.devRoot = root / "dev";
  }
  // The lines of the last run's standard output.
  std::vector<std::string> OutLines() const {
    std::vector<std::string> lines;
    std::istringstream in(out_.str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  cli::CliEnv env_;
  std::ostringstream out_;
  std::ostringstream err_;
};

}  // namespace ravelin::test
