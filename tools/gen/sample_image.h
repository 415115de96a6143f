// The project's built-in sample, for demonstrations and end-to-end scripts: a whole-disk
// image (MBR, one FAT32 partition of 4-sector clusters) with live files and a deleted,
// fragmented database, at least one of whose pages is split across clusters with its tail
// right before the next fragment (repairable), and an older copy of the same database
// elsewhere on the disk, deleted as well. Both copies are targets of the manifest, and every
// page of both can come back, so a rebuilt file's SHA-256 can be held to the original's.
#pragma once

#include <cstdint>
#include <string>

#include "gen/image_common.h"
#include "gen/manifest.h"

namespace ravelin::gen {

struct SampleOptions {
  std::uint64_t seed = 1;
  // A folder holding SQL Server's own files: checksum-2014.mdf is used when present (then
  // tornpage-2008r2.mdf, then checksum-2005.mdf); "" or none of them: a generated database.
  std::string realDir;
  std::string manifestPath;  // "": <image>.json
  std::string originalsDir;  // when set: both original files are written there, by name
};

// The files a sample was made of, as written under originalsDir.
struct SampleFiles {
  std::string database;  // the newer copy's name ("checksum-2014.mdf", "sample.mdf")
  std::string older;     // the older copy's name
  bool real = false;     // the database is one of SQL Server's files
};

Status BuildSample(const SampleOptions& options, const std::string& imagePath, Manifest& manifest,
                   SampleFiles* files = nullptr);

}  // namespace ravelin::gen
