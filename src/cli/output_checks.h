// What a command will write, checked before it does anything: before the scan starts and
// before any file or folder is made. A file is refused when the output road would refuse it
// (a device node, a folder, one of the run's inputs, a folder that is missing or read-only,
// the source or a file system on it) and, unless --force, when something already exists
// there. A folder for the outputs (--out-dir) is checked on the nearest part of its path
// that exists, made only once every check has passed, and removed again (the parts this
// run made) when the run writes nothing into it.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace ravelin::cli {

// Says on `err` why `path`, given with `option`, may not be written, and returns false; true
// when it may. `sourcePath` is the source being read (empty: none); `inputs` the files the
// run reads.
bool CheckNewFile(const std::string& option, const std::string& path, const std::string& sourcePath,
                  const std::vector<std::string>& inputs, bool force, std::ostream& err);

// The folder of --out-dir.
class OutDir {
 public:
  // Checks `dir` (named by `option`) against `sourcePath`: it is not a file, the part of it
  // that exists may be written, and it does not lie on the source. Says why on `err` when it
  // may not be used; makes nothing.
  static bool Check(const std::string& option, const std::string& dir,
                    const std::string& sourcePath, std::ostream& err);

  // Makes the folder (checked already); false, said on `err`, when it cannot.
  bool Make(const std::string& option, const std::string& dir, std::ostream& err);
  // Something was written into the folder: it stays whatever happens later.
  void Keep() { keep_ = true; }
  // Removes the folders Make created, deepest first, unless Keep was called (only empty ones).
  ~OutDir();

 private:
  std::vector<std::filesystem::path> made_;  // outermost first
  bool keep_ = false;
};

}  // namespace ravelin::cli
