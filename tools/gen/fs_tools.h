// Running the real file-system tools (mkfs.vfat, mtools, mkntfs, ntfs-3g's tools, sfdisk)
// without a shell: arguments are passed as they are, so paths with spaces or quotes are safe.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "gen/image_common.h"

namespace ravelin::gen {

struct ToolResult {
  int exitCode = -1;  // -1: could not be started or was killed by a signal
  std::string out;
  std::string err;
};

// Full path of `name`, looked up in PATH and then in /usr/sbin and /sbin (where mkfs tools
// live, often outside a normal user's PATH); nothing when absent. When RAVELIN_TOOL_PATH is
// set, only its folders are searched (tests use it to stand for a machine without the tools).
std::optional<std::string> FindTool(const std::string& name);

// kMissingTool naming the package to install when any of `names` is absent.
Status RequireTools(const std::vector<std::string>& names);

// Runs `argv` (argv[0] a tool name, looked up with FindTool) with `input` on standard input,
// LC_ALL=C and MTOOLS_SKIP_CHECK=1 added to the environment, and collects both outputs.
ToolResult RunTool(const std::vector<std::string>& argv, const std::string& input = "");

// RunTool, then kToolFailed (with the command's error output) unless it exits with 0.
Status RunToolChecked(const std::vector<std::string>& argv, ToolResult* result = nullptr,
                      const std::string& input = "");

// A private temporary folder, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Creates (or empties) `path` and sizes it to `sectors` sectors as a sparse file.
Status CreateSparseFile(const std::string& path, std::uint64_t sectors);

}  // namespace ravelin::gen
