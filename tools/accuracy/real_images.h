// Real database files laid on disk images by the generator's builders (which drive the real
// file-system tools), recovered with `ravelin recover` in-process (so that the fault-injecting
// reader can refuse the manifest's unreadable sectors) and judged against their originals.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gen/manifest.h"
#include "gen/real_file_source.h"
#include "gen/recovery_judge.h"

namespace ravelin::accuracy {

enum class ImageKind { kRaw, kFat32, kNtfs, kMbr, kGpt };

// "raw", "fat32", "ntfs", "mbr", "gpt".
std::string KindName(ImageKind kind);

struct ImageCase {
  ImageKind kind = ImageKind::kRaw;
  std::uint32_t cluster = 8;       // sectors per cluster
  std::vector<std::string> files;  // the deleted databases (targets), names under the folder
  int splitPages = 0;              // raw: pieces that end inside a page
  int unreadable = 0;              // sectors the reader refuses
  bool fewHoles = false;           // file systems: a few large decoys, so a few large holes
  std::string volume = "fat32";    // whole disks: the volume inside, "fat32" or "ntfs"
  std::uint64_t seed = 1;
};

struct OpenedFiles {
  std::vector<std::unique_ptr<gen::RealFileSource>> files;
  std::vector<const gen::PageSource*> targets;
};

// Opens every file of the case in `dir`.
gen::Status OpenFiles(const std::string& dir, const std::vector<std::string>& names,
                      OpenedFiles& opened);

// Writes the case's image to `image` and its ground truth to `manifest`.
gen::Status BuildImage(const ImageCase& c, const OpenedFiles& files, const std::string& image,
                       gen::Manifest& manifest);

struct Recovered {
  int exitCode = 0;
  std::string errors;  // the command's error output, when it did not exit with 0
  // Per target, in the manifest's order.
  std::vector<gen::RecoveryJudgement> judgements;
  // Whether a scan can find the target at all: a file is found by its page 0 followed by its
  // PFS page, so where page 0 lies alone in its piece no file starts there.
  std::vector<bool> findable;
  double seconds = 0;
};

// Recovers the image (whole, or its partition 1) into `dir`/out with the default options and
// judges each target's rebuilt file; another target's pages count as the other file's.
Recovered RecoverAndJudge(const OpenedFiles& files, const gen::Manifest& manifest,
                          const std::string& image, const std::string& dir, bool partitionOne);

}  // namespace ravelin::accuracy
