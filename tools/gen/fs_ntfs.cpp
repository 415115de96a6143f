#include "gen/fs_ntfs.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "gen/extent_plan.h"
#include "gen/fs_tools.h"
#include "gen/image_raw.h"
#include "gen/image_writer.h"
#include "gen/random.h"
#include "gen/sha256.h"

namespace ravelin::gen {
namespace {

bool ClusterFree(const std::vector<std::uint8_t>& bitmap, std::uint64_t c) {
  return c / 8 < bitmap.size() && (bitmap[c / 8] & (1u << (c % 8))) == 0;
}

}  // namespace

Status ReadNtfsBitmap(const std::string& imagePath, std::vector<std::uint8_t>& bitmap) {
  ToolResult r;
  if (Status s = RunToolChecked({"ntfscat", imagePath, "$Bitmap"}, &r); !s.ok()) return s;
  bitmap.assign(r.out.begin(), r.out.end());
  if (bitmap.empty()) return Status::ToolFailed("ntfscat returned an empty $Bitmap");
  return Status::Ok();
}

Status NtfsFileRuns(const std::string& imagePath, const std::string& name,
                    std::vector<std::pair<std::uint64_t, std::uint64_t>>& runs) {
  runs.clear();
  ToolResult r;
  if (Status s = RunToolChecked({"ntfsinfo", "-v", "-F", "/" + name, imagePath}, &r); !s.ok()) {
    return s;
  }
  // After "Dumping attribute $DATA", the lines under "Runlist:" read "VCN LCN Length" in hex.
  std::istringstream lines(r.out);
  std::string line;
  bool inData = false, inRuns = false;
  while (std::getline(lines, line)) {
    if (line.find("Dumping attribute") != std::string::npos) {
      inData = line.find("$DATA") != std::string::npos;
      inRuns = false;
      continue;
    }
    if (!inData) continue;
    std::string text = line;
    const std::size_t mark = text.find("Runlist:");
    if (mark != std::string::npos) {
      inRuns = true;
      continue;  // the header line names the columns
    }
    if (!inRuns) continue;
    std::istringstream fields(text);
    std::string vcn, lcn, length;
    if (!(fields >> vcn >> lcn >> length) || vcn.rfind("0x", 0) != 0) {
      inRuns = false;
      continue;
    }
    try {
      runs.emplace_back(std::stoull(lcn, nullptr, 16), std::stoull(length, nullptr, 16));
    } catch (const std::exception&) {
      inRuns = false;  // a sparse run ("<HOLE>") holds no clusters
    }
  }
  if (runs.empty()) return Status::ToolFailed("ntfsinfo listed no clusters for " + name);
  return Status::Ok();
}

Status BuildNtfsImage(const PageSource& target, const NtfsImageOptions& o,
                      const std::string& imagePath, Manifest& manifest) {
  return BuildNtfsImage(std::vector<const PageSource*>{&target}, o, imagePath, manifest);
}

Status BuildNtfsImage(const std::vector<const PageSource*>& targets, const NtfsImageOptions& o,
                      const std::string& imagePath, Manifest& manifest) {
  manifest = Manifest{};
  if (o.fragments < 1 || o.maxGapClusters < 1) {
    return Status::BadInput("at least one fragment and gaps of at least one cluster");
  }
  if (targets.empty() || targets.front() == nullptr) {
    return Status::BadInput("an NTFS image needs at least one database file");
  }
  std::uint64_t dbSectors = 0;
  for (const PageSource* t : targets) {
    if (Status s = CheckFileSystemBuild(*t, o.sectorsPerCluster,
                                        {"mkntfs", "ntfscp", "ntfscat", "ntfsinfo", "ntfsls"});
        !s.ok()) {
      return s;
    }
    dbSectors += static_cast<std::uint64_t>(t->PageCount()) * kSectorsPerPage;
  }
  TempDir temp;
  if (!temp.ok()) return Status::IoError("cannot create a temporary folder");
  const std::uint64_t spc = o.sectorsPerCluster;

  std::vector<StagedFile> decoys;
  if (Status s = StageDecoys(temp.path(), o.decoys, o.sectorsPerCluster, o.seed, decoys); !s.ok()) {
    return s;
  }
  std::uint64_t totalSectors = o.totalSectors;
  if (totalSectors == 0) {
    std::uint64_t need = dbSectors + (targets.size() * o.fragments + 1) * o.maxGapClusters * spc;
    for (const StagedFile& f : decoys) {
      need += StagedSectors(f, o.decoys.maxClusters, spc);
    }
    // Room for the MFT, its zone and the other system files besides the data.
    totalSectors = std::max<std::uint64_t>(16384, RoundUp(need * 2 + 8192, spc));
  }

  const std::string work = imagePath + ".tmp";
  const auto fail = [&](Status s) {
    std::remove(work.c_str());
    return s;
  };
  if (Status s = CreateSparseFile(work, totalSectors); !s.ok()) return s;
  if (Status s =
          RunToolChecked({"mkntfs", "-F", "-Q", "-T", "-q", "-c", std::to_string(spc * 512), "-s",
                          "512", "-p", std::to_string(o.hiddenSectors), "-L", "RAVELIN", work});
      !s.ok()) {
    return fail(s);
  }
  for (const StagedFile& f : decoys) {
    if (Status s = RunToolChecked({"ntfscp", "-q", work, f.path, f.name}); !s.ok()) return fail(s);
  }

  std::vector<std::uint8_t> boot;
  if (Status s = ReadHead(work, kSectorSize, boot); !s.ok()) return fail(s);
  if (std::string(boot.begin() + 3, boot.begin() + 7) != "NTFS") {
    return fail(Status::ToolFailed("mkntfs left no NTFS boot sector"));
  }
  const std::uint64_t volumeClusters = Load64(boot, 40) / spc;
  const std::uint64_t mftCluster = Load64(boot, 48);
  std::vector<std::uint8_t> bitmap;
  if (Status s = ReadNtfsBitmap(work, bitmap); !s.ok()) return fail(s);

  // Cut the database into pieces, then lay the pieces in random order into the free
  // clusters, skipping a few free clusters before each and splitting a piece wherever it
  // meets an allocated cluster.
  // Pieces of every target, mixed: (target, piece).
  std::vector<std::pair<std::size_t, FileExtent>> pieces;
  for (std::size_t t = 0; t < targets.size(); ++t) {
    RawImageOptions cut;
    cut.seed = t == 0 ? o.seed : o.seed ^ (0x7A26E7ull * t);
    cut.sectorsPerCluster = o.sectorsPerCluster;
    cut.fragments = o.fragments;
    std::vector<FileExtent> planned;
    if (Status s = PlanExtents(targets[t]->PageCount(), cut, planned); !s.ok()) return fail(s);
    for (const FileExtent& e : planned) pieces.emplace_back(t, e);
  }
  Random random(o.seed ^ 0x4E7F5ull);
  for (std::size_t i = pieces.size(); i > 1; --i) std::swap(pieces[i - 1], pieces[random.Below(i)]);

  std::vector<std::vector<FileExtent>> extents(targets.size());
  std::vector<Placement> placements;
  Random noise(o.seed ^ 0x9015Eull);
  std::uint64_t cluster = 1;  // cluster 0 holds the boot sector
  const auto nextFree = [&](std::uint64_t c) {
    while (c < volumeClusters && !ClusterFree(bitmap, c)) ++c;
    return c;
  };
  for (const auto& [t, piece] : pieces) {
    // Skipped free clusters: left as they are or filled with noise, like an old file's.
    const std::uint64_t skip = 1 + random.Below(o.maxGapClusters);
    for (std::uint64_t k = 0; k < skip; ++k) {
      cluster = nextFree(cluster);
      if (cluster >= volumeClusters) break;
      const bool fill = noise.Chance(o.randomGapShare);
      if (fill) {
        placements.push_back({cluster * spc, spc, FillKind::kRandom, nullptr, 0, noise.Next()});
        manifest.noise.push_back({cluster * spc, spc, "random"});
      }
      ++cluster;
    }
    std::uint64_t fileSector = piece.fileSector;
    const std::uint64_t end = piece.fileSector + piece.sectorCount;
    while (fileSector < end) {
      cluster = nextFree(cluster);
      if (cluster >= volumeClusters) {
        return fail(Status::BadInput("the NTFS volume of " + std::to_string(totalSectors) +
                                     " sectors has too few free clusters for the database"));
      }
      std::uint64_t run = 0;
      while (cluster + run < volumeClusters && ClusterFree(bitmap, cluster + run) &&
             fileSector + run * spc < end) {
        ++run;
      }
      const std::uint64_t sectors = std::min(run * spc, end - fileSector);
      extents[t].push_back({fileSector, sectors, cluster * spc});
      placements.push_back({cluster * spc, sectors, FillKind::kPages, targets[t], fileSector, 0});
      fileSector += sectors;
      cluster += run;
    }
  }
  WriteOptions overlay;
  overlay.newFile = false;
  if (Status s = WritePlacements(work, placements, overlay); !s.ok()) return fail(s);

  // The file system must still be whole: every live file listed, volume readable.
  ToolResult listing;
  if (Status s = RunToolChecked({"ntfsls", work}, &listing); !s.ok()) return fail(s);
  for (const StagedFile& f : decoys) {
    if (listing.out.find(f.name) == std::string::npos) {
      return fail(Status::ToolFailed("ntfsls no longer lists " + f.name));
    }
  }
  if (Status s = RunToolChecked({"ntfsinfo", "-m", work}); !s.ok()) return fail(s);

  manifest.kind = "ntfs";
  manifest.seed = o.seed;
  manifest.totalSectors = totalSectors;
  manifest.sectorsPerCluster = o.sectorsPerCluster;
  PartitionInfo part;
  part.sectorCount = totalSectors;
  part.fileSystem = "NTFS";
  part.mftStartCluster = mftCluster;
  part.clusterCount = volumeClusters;
  manifest.partition = part;
  for (const PageSource* t : targets) AddManifestFile(manifest, *t, "target");
  for (const StagedFile& f : decoys) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> runs;
    if (Status s = NtfsFileRuns(work, f.name, runs); !s.ok()) return fail(s);
    std::vector<FileExtent> live;
    std::uint64_t fileSector = 0;
    for (auto [lcn, count] : runs) {
      live.push_back({fileSector, count * spc, lcn * spc});
      fileSector += count * spc;
    }
    if (f.pages != nullptr) {
      const std::uint64_t sectors =
          static_cast<std::uint64_t>(f.pages->PageCount()) * kSectorsPerPage;
      for (FileExtent& e : live) {
        e.sectorCount =
            e.fileSector >= sectors ? 0 : std::min(e.sectorCount, sectors - e.fileSector);
      }
      std::erase_if(live, [](const FileExtent& e) { return e.sectorCount == 0; });
    }
    manifest.liveFiles.push_back({f.name, live});
    if (f.pages != nullptr) AddLiveDatabase(manifest, f, live);
  }
  std::vector<FileExtent> allExtents;
  for (std::size_t t = 0; t < targets.size(); ++t) {
    DescribeFileLayout(manifest, static_cast<int>(t), extents[t]);
    NoteZeroNextPages(manifest, static_cast<int>(t), *targets[t]);
    NoteSplitHardCases(manifest, static_cast<int>(t));
    allExtents.insert(allExtents.end(), extents[t].begin(), extents[t].end());
  }
  MarkUnreadable(manifest, ChooseUnreadable(o.seed, o.unreadableSectors, allExtents, totalSectors));

  if (std::rename(work.c_str(), imagePath.c_str()) != 0) {
    return fail(Status::IoError("cannot rename " + work + " to " + imagePath));
  }
  return Status::Ok();
}

}  // namespace ravelin::gen
