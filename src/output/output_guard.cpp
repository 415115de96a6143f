#include "output/output_guard.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
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

const char* NodeKind(mode_t mode) {
  if (S_ISDIR(mode)) return "是一个目录(is a directory)";
  if (S_ISCHR(mode)) return "是字符设备(is a character device)";
  if (S_ISBLK(mode)) return "是块设备(is a block device)";
  if (S_ISFIFO(mode)) return "是管道(is a fifo)";
  if (S_ISSOCK(mode)) return "是套接字(is a socket)";
  return "不是普通文件(is not a regular file)";
}

bool SameResolvedPath(const std::string& a, const std::string& b) {
  std::error_code ea, eb;
  const fs::path ca = fs::weakly_canonical(fs::absolute(a, ea), ea);
  const fs::path cb = fs::weakly_canonical(fs::absolute(b, eb), eb);
  return !ea && !eb && ca == cb;
}

std::string Bytes(std::uint64_t n) {
  return std::to_string(n) + " bytes (" + std::to_string(n / (1024 * 1024)) + " MiB)";
}

}  // namespace

std::string OutputFolder(const std::string& path) {
  const fs::path parent = fs::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

std::optional<std::string> RefuseOutputTarget(const std::string& path,
                                              const std::vector<std::string>& inputs) {
  if (path.empty()) return "没有文件名(no file name)";
  struct stat target {};
  const bool exists = ::stat(path.c_str(), &target) == 0;
  if (exists && !S_ISREG(target.st_mode)) return NodeKind(target.st_mode);
  for (const std::string& input : inputs) {
    if (input.empty()) continue;
    struct stat in {};
    const bool sameNode = exists && ::stat(input.c_str(), &in) == 0 && in.st_dev == target.st_dev &&
                          in.st_ino == target.st_ino;
    if (sameNode || SameResolvedPath(path, input)) {
      return "是此操作的输入文件(is an input of this operation: " + input + ")";
    }
  }
  return std::nullopt;
}

std::optional<std::string> CheckOutputFolder(const std::string& path) {
  return CheckFolderWritable(OutputFolder(path));
}

std::optional<std::string> CheckFolderWritable(const std::string& folder) {
  struct stat dir {};
  if (::stat(folder.c_str(), &dir) != 0) {
    return "目录 " + folder + " 不可用(" + std::strerror(errno) + ")";
  }
  if (!S_ISDIR(dir.st_mode)) return folder + " 不是目录(" + std::strerror(ENOTDIR) + ")";
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    return "目录 " + folder + " 不可写(" + std::strerror(errno) + ")";
  }
  return std::nullopt;
}

std::optional<std::string> CheckOutputSpace(const std::string& path, std::uint64_t bytes) {
  if (bytes == 0) return std::nullopt;
  struct statvfs vfs {};
  // A file system that cannot say (some network mounts) is given the benefit of the doubt:
  // a write that then fails still leaves no file behind.
  if (::statvfs(OutputFolder(path).c_str(), &vfs) != 0) return std::nullopt;
  const std::uint64_t unit = vfs.f_frsize != 0 ? vfs.f_frsize : vfs.f_bsize;
  const std::uint64_t blocks = vfs.f_bavail;
  if (unit == 0 || blocks > UINT64_MAX / unit) return std::nullopt;
  const std::uint64_t free = blocks * unit;
  if (free >= bytes) return std::nullopt;
  return "磁盘空间不足(not enough free space): needs " + Bytes(bytes) + ", " + Bytes(free) +
         " free";
}

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

namespace {

// Whether a file in `folder` would land on the block device `src` describes.
bool FolderLiesOnDevice(const struct stat& src, const std::string& folder,
                        const std::string& sysRoot) {
  if (!S_ISBLK(src.st_mode)) return false;
  struct stat dir {};
  if (::stat(folder.c_str(), &dir) != 0) return false;
  return dir.st_dev == src.st_rdev || DeviceLiesOn(dir.st_dev, src.st_rdev, sysRoot);
}

// Whether `outputPath` names a segment of the split Expert Witness image `sourcePath` names by
// its first segment (x.E01): x.E02 … x.E99, x.EAA … are read as one source with it, and a new
// file by such a name would join the image the next time it is opened.
bool IsSegmentOf(const std::string& sourcePath, const std::string& outputPath) {
  std::error_code ec;
  const fs::path source = fs::absolute(sourcePath, ec).lexically_normal();
  const fs::path output = fs::absolute(outputPath, ec).lexically_normal();
  const std::string first = source.extension().string();
  const std::string ext = output.extension().string();
  auto upper = [](std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
  };
  if (upper(first) != ".E01" || ext.size() != 4 || std::toupper(ext[1]) != 'E') return false;
  if (!std::isalnum(static_cast<unsigned char>(ext[2])) ||
      !std::isalnum(static_cast<unsigned char>(ext[3])))
    return false;
  return output.parent_path() == source.parent_path() && output.stem() == source.stem();
}

std::string OnSourceRefusal(const std::string& path) {
  return "error,不能保存到数据源所在盘，防止覆盖(the output would be written onto the data source "
         "being recovered): " +
         path;
}

}  // namespace

std::optional<std::string> OutputOnSource(const std::string& sourcePath,
                                          const std::string& outputPath,
                                          const std::string& sysRoot) {
  if (sourcePath.empty()) return std::nullopt;
  if (IsSegmentOf(sourcePath, outputPath)) return OnSourceRefusal(outputPath);
  struct stat src {};
  if (::stat(sourcePath.c_str(), &src) != 0) return std::nullopt;
  struct stat out {};
  if (::stat(outputPath.c_str(), &out) == 0) {
    if (out.st_dev == src.st_dev && out.st_ino == src.st_ino) return OnSourceRefusal(outputPath);
    if (S_ISBLK(src.st_mode) && S_ISBLK(out.st_mode) && out.st_rdev == src.st_rdev)
      return OnSourceRefusal(outputPath);
  }
  if (FolderLiesOnDevice(src, OutputFolder(outputPath), sysRoot))
    return OnSourceRefusal(outputPath);
  return std::nullopt;
}

std::optional<std::string> FolderOnSource(const std::string& sourcePath, const std::string& folder,
                                          const std::string& sysRoot) {
  if (sourcePath.empty()) return std::nullopt;
  struct stat src {};
  if (::stat(sourcePath.c_str(), &src) != 0) return std::nullopt;
  if (FolderLiesOnDevice(src, NearestExistingFolder(folder), sysRoot))
    return OnSourceRefusal(folder);
  return std::nullopt;
}

std::string NearestExistingFolder(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::absolute(path.empty() ? fs::path(".") : fs::path(path), ec).lexically_normal();
  while (!p.empty()) {
    if (fs::exists(p, ec)) return p.string();
    if (p == p.parent_path()) break;
    p = p.parent_path();
  }
  return "/";
}

}  // namespace ravelin
