// What the ravelin-mkimage sub-commands take, and the functions that carry them out
// (image_cli_run.cpp). image_cli.cpp turns the command line into these.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "gen/image_common.h"

namespace ravelin::gen {

struct DbArgs {
  std::int64_t pages = 2000;
  std::uint64_t seed = 1;
  std::string verify = "checksum";
  int generation = 0;
  std::uint16_t fileId = 1;
  std::string name = "shop";
  std::string physicalPath;
};

struct ImageArgs {
  std::string kind;
  std::string out, manifest, mdf, otherMdf;
  std::string size = "0";
  std::uint64_t seed = 1;
  std::uint32_t cluster = 8;
  int fragments = 8, splitPages = 0, detachedTails = 0, lostFragments = 0;
  int splitBeforeZero = 0;
  bool inOrder = false;
  std::vector<std::string> extents;
  std::uint32_t maxGap = 64;
  double zeroShare = 0.5;
  bool olderCopy = false;
  int staleRuns = 0, otherRuns = 0, otherFileIdRuns = 0, maxRunPages = 8;
  bool otherOnFreePages = false;
  std::string secondTarget;  // "", "older" or "other"
  std::string secondMdf;
  bool olderAfterHeader = false;
  int decoyFiles = 8;
  std::uint32_t decoyMin = 1, decoyMax = 48, overwrite = 0;
  bool liveOlderCopy = false, liveOther = false;
  std::string dbName = "DATA.MDF";
  std::string fs = "fat32";
  std::string table = "mbr";
  std::vector<std::string> partitionsBefore;  // "fat32" or "empty", with ":SECTORS"
  std::uint64_t partitionStart = 2048, trailing = 2048;
  int unreadable = 0;
};

struct SampleArgs {
  std::string out, manifest, realDir, originals;
  std::uint64_t seed = 1;
};

int ExitFor(const Status& s);
int WriteDatabase(const DbArgs& a, const std::string& path, std::ostream& out, std::ostream& err);
int WriteImage(const ImageArgs& a, const DbArgs& d, std::ostream& out, std::ostream& err);
int WriteSample(const SampleArgs& a, std::ostream& out, std::ostream& err);

}  // namespace ravelin::gen
