#include "output/output_guard.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <set>
#include <system_error>
#include <vector>

namespace ravelin {
namespace {

namespace fs = std::filesystem;

std::string DevName(dev_t dev) {
  return std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
}

// The "MAJ:MIN" in a sysfs "dev" file, or nothing.
std::optional<dev_t> ReadDevFile(const fs::path& file) {
  std::ifstream in(file);
  unsigned maj = 0, min = 0;
  char colon = 0;
  if (!(in >> maj >> colon >> min) || colon != ':') return std::nullopt;
  return makedev(maj, min);
}

std::string FolderOf(const std::string& path) {
  const fs::path parent = fs::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

}  // namespace

bool DeviceLiesOn(dev_t device, dev_t target, const std::string& sysRoot) {
  // Walk down from the file system's device: a partition leads to its disk, a mapped or
  // RAID volume to the devices listed under its "slaves".
  std::vector<dev_t> pending{device};
  std::set<dev_t> seen;
  while (!pending.empty()) {
    const dev_t d = pending.back();
    pending.pop_back();
    if (d == target) return true;
    if (!seen.insert(d).second || seen.size() > 256) continue;
    std::error_code ec;
    const fs::path node = fs::path(sysRoot) / "dev" / "block" / DevName(d);
    const fs::path real = fs::canonical(node, ec);
    if (ec) continue;
    if (fs::exists(real / "partition", ec)) {
      if (const auto disk = ReadDevFile(real.parent_path() / "dev")) pending.push_back(*disk);
    }
    for (const auto& slave : fs::directory_iterator(real / "slaves", ec)) {
      if (const auto dev = ReadDevFile(slave.path() / "dev")) pending.push_back(*dev);
    }
  }
  return false;
}

std::optional<std::string> OutputOnSource(const std::string& sourcePath,
                                          const std::string& outputPath,
                                          const std::string& sysRoot) {
  if (sourcePath.empty()) return std::nullopt;
  struct stat src {};
  if (::stat(sourcePath.c_str(), &src) != 0) return std::nullopt;
  const std::string refusal =
      "error,不能保存到数据源所在盘，防止覆盖(the output would be written onto the data source "
      "being recovered): " +
      outputPath;

  struct stat out {};
  if (::stat(outputPath.c_str(), &out) == 0) {
    if (out.st_dev == src.st_dev && out.st_ino == src.st_ino) return refusal;
    if (S_ISBLK(src.st_mode) && S_ISBLK(out.st_mode) && out.st_rdev == src.st_rdev) return refusal;
  }
  if (!S_ISBLK(src.st_mode)) return std::nullopt;

  struct stat dir {};
  if (::stat(FolderOf(outputPath).c_str(), &dir) != 0) return std::nullopt;
  if (dir.st_dev == src.st_rdev || DeviceLiesOn(dir.st_dev, src.st_rdev, sysRoot)) return refusal;
  return std::nullopt;
}

}  // namespace ravelin
