#include "gen/fs_common.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "gen/fs_tools.h"
#include "gen/image_raw.h"
#include "gen/image_writer.h"
#include "gen/random.h"
#include "gen/sha256.h"

namespace ravelin::gen {

Status StageFile(const std::string& path, const PageSource* source, std::uint64_t sectors,
                 std::uint64_t seed) {
  Placement p;
  p.sectorCount = source != nullptr
                      ? static_cast<std::uint64_t>(source->PageCount()) * kSectorsPerPage
                      : sectors;
  p.kind = source != nullptr ? FillKind::kPages : FillKind::kRandom;
  p.source = source;
  p.seed = seed;
  WriteOptions options;
  options.totalSectors = p.sectorCount;
  if (Status s = WritePlacements(path, {p}, options); !s.ok()) return s;
  const timespec times[2] = {{kFixedFileTime, 0}, {kFixedFileTime, 0}};
  if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
    return Status::IoError("cannot set the time of " + path + ": " + std::strerror(errno));
  }
  return Status::Ok();
}

Status CheckFileSystemBuild(const PageSource& target, std::uint32_t sectorsPerCluster,
                            const std::vector<std::string>& tools) {
  if (!IsValidClusterSize(sectorsPerCluster)) {
    return Status::BadInput("sectors per cluster must be a power of two from 1 to 128");
  }
  if (target.PageCount() <= 0) return Status::BadInput("the database file has no pages");
  return RequireTools(tools);
}

std::uint64_t StagedSectors(const StagedFile& file, std::uint32_t maxClusters,
                            std::uint64_t sectorsPerCluster) {
  return file.pages ? static_cast<std::uint64_t>(file.pages->PageCount()) * kSectorsPerPage
                    : static_cast<std::uint64_t>(maxClusters) * sectorsPerCluster;
}

Status StageDecoys(const std::string& dir, const LiveDecoyOptions& o,
                   std::uint32_t sectorsPerCluster, std::uint64_t seed,
                   std::vector<StagedFile>& files, int round) {
  if (o.count < 0 || o.minClusters < 1 || o.maxClusters < o.minClusters) {
    return Status::BadInput("decoy files need a count >= 0 and 1 <= min clusters <= max");
  }
  Random random(seed ^ 0xDEC0Full ^ (static_cast<std::uint64_t>(round) << 40));
  for (int i = 0; i < o.count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "DECOY%03d.BIN", round * o.count + i + 1);
    const std::uint64_t clusters = o.minClusters + random.Below(o.maxClusters - o.minClusters + 1);
    StagedFile f{name, dir + "/" + name, nullptr, ""};
    if (Status s = StageFile(f.path, nullptr, clusters * sectorsPerCluster, random.Next());
        !s.ok()) {
      return s;
    }
    files.push_back(f);
  }
  const auto addPages = [&](const PageSource* source, const char* name, const char* role) {
    if (source == nullptr || source->PageCount() <= 0) return Status::Ok();
    StagedFile f{name, dir + "/" + name, source, role};
    if (Status s = StageFile(f.path, source, 0, 0); !s.ok()) return s;
    files.push_back(f);
    return Status::Ok();
  };
  if (round > 0) return Status::Ok();
  if (Status s = addPages(o.olderCopy, "OLDCOPY.MDF", "older-copy"); !s.ok()) return s;
  return addPages(o.otherDatabase, "OTHER.MDF", "other-database");
}

Status ReadHead(const std::string& path, std::size_t count, std::vector<std::uint8_t>& bytes) {
  bytes.assign(count, 0);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Status::IoError("cannot open " + path + ": " + std::strerror(errno));
  const ssize_t got = ::pread(fd, bytes.data(), count, 0);
  ::close(fd);
  if (got < 0) return Status::IoError("cannot read " + path);
  bytes.resize(static_cast<std::size_t>(got));
  return Status::Ok();
}

void AddLiveDatabase(Manifest& manifest, const StagedFile& file, std::vector<FileExtent> extents) {
  DescribeFileLayout(manifest, AddManifestFile(manifest, *file.pages, file.role),
                     std::move(extents));
}

}  // namespace ravelin::gen
