#include "cli/output_checks.h"

#include <sys/stat.h>

#include <optional>

#include "commands/command_guards.h"
#include "output/output_guard.h"

namespace ravelin::cli {

namespace fs = std::filesystem;

bool CheckNewFile(const std::string& option, const std::string& path, const std::string& sourcePath,
                  const std::vector<std::string>& inputs, bool force, std::ostream& err) {
  // Said as the output road says it when the file is created.
  if (const auto onSource = OutputOnSource(sourcePath, path)) {
    err << option << ": " << *onSource << '\n';
    return false;
  }
  std::vector<std::string> all = inputs;
  if (!sourcePath.empty()) all.push_back(sourcePath);
  std::optional<std::string> why = RefuseOutputTarget(path, all);
  if (!why) why = CheckOutputFolder(path);
  if (!why && !force) {
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) == 0) why = "已存在(already exists; --force replaces it)";
  }
  if (!why) return true;
  err << option << ": " << CannotCreateText(path, *why) << '\n';
  return false;
}

bool OutDir::Check(const std::string& option, const std::string& dir, const std::string& sourcePath,
                   std::ostream& err) {
  if (dir.empty()) {  // would otherwise mean the working folder
    err << option << ": 没有文件夹名(no folder named)\n";
    return false;
  }
  std::optional<std::string> why = CheckFolderWritable(NearestExistingFolder(dir));
  if (!why) why = FolderOnSource(sourcePath, dir);
  if (!why) return true;
  err << option << ": " << *why << '\n';
  return false;
}

bool OutDir::Make(const std::string& option, const std::string& dir, std::ostream& err) {
  std::error_code ec;
  std::vector<fs::path> missing;
  fs::path start = fs::absolute(dir, ec).lexically_normal();
  if (!start.has_filename()) start = start.parent_path();  // "a/b/" is "a/b"
  for (fs::path p = start; !p.empty() && !fs::exists(p, ec); p = p.parent_path()) {
    missing.insert(missing.begin(), p);
    if (p == p.parent_path()) break;
  }
  for (const fs::path& p : missing) {
    if (!fs::create_directory(p, ec) && ec) {
      err << option << ": " << p.string() << " (" << ec.message() << ")\n";
      return false;
    }
    made_.push_back(p);
  }
  return true;
}

OutDir::~OutDir() {
  if (keep_) return;
  for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
    std::error_code ec;
    if (fs::is_empty(*it, ec) && !ec) fs::remove(*it, ec);
  }
}

}  // namespace ravelin::cli
