// A disk as a person means it. A source (device or image) that carries an MBR or GPT, given
// without --partition N, --partition-image, --whole, --begin or --end, is scanned in parts:
// each partition as --partition N scans it (its file system, its clusters, free space only
// unless --all-space), and the space outside the partitions raw. Anything else is one part,
// the source as given.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/commands.h"

namespace CLI {
class App;
}  // namespace CLI

namespace ravelin::cli {

// One scan of a run: the source as given, or one partition of a whole disk, or a stretch of
// the disk outside its partitions.
struct ScanPart {
  ScanOptions scan;
  std::string label;  // where its fragments were found; empty for the source as given
};

// --whole: a disk with a partition table scanned as one, raw.
void AddWholeOption(CLI::App& cmd, SourceArgs& args);

// The parts `scan` asks for; when there are several, one line on `err` says so.
std::vector<ScanPart> ScanParts(const ScanOptions& scan, const CliEnv& env, std::ostream& err);

}  // namespace ravelin::cli
