// Helpers for tests that build disk images: a small synthetic database as a page source,
// reading sectors back from an image file, and checking an image against its manifest.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "gen/database_generator.h"
#include "gen/fs_tools.h"
#include "gen/manifest.h"
#include "gen/page_source.h"

namespace ravelin::test {

// A database file of `pageCount` pages built with PageBuilder: page 0 the file header, page
// 1 a PFS page, then checksum-protected data pages of `fileId` whose bodies depend on
// `seed`, so two sources with different seeds never share a page.
class SyntheticDatabase : public gen::PageSource {
 public:
  SyntheticDatabase(std::int64_t pageCount, std::uint32_t seed, std::uint16_t fileId = 1,
                    std::string name = "synthetic")
      : pageCount_(pageCount), seed_(seed), fileId_(fileId), name_(std::move(name)) {}
  std::int64_t PageCount() const override { return pageCount_; }
  void ReadPage(std::int64_t n, MutablePage out) const override;
  std::string Name() const override { return name_; }

 private:
  std::int64_t pageCount_;
  std::uint32_t seed_;
  std::uint16_t fileId_;
  std::string name_;
};

// A database from the project's generator, with the few knobs the image tests turn.
class GeneratedDatabase : public gen::DatabaseGenerator {
 public:
  GeneratedDatabase(std::int64_t pageCount, std::uint64_t seed, std::uint16_t fileId = 1,
                    int generation = 0, std::string name = "shop");
};

// `count` sectors of an image file from `sector` on (zeros past its end).
std::vector<std::uint8_t> ReadImageSectors(const std::string& path, std::uint64_t sector,
                                           std::uint64_t count);
// Sectors [sector, sector + count) of the file behind a page source.
std::vector<std::uint8_t> SourceSectors(const gen::PageSource& source, std::uint64_t sector,
                                        std::uint64_t count);

// Every fragment of every file in `sources` (keyed by manifest file index) holds, at its
// stated sectors, exactly the source's sectors; and each such file's SHA-256 in the
// manifest is the source's.
::testing::AssertionResult FragmentsHoldPages(const gen::Manifest& manifest,
                                              const std::string& imagePath,
                                              const std::map<int, const gen::PageSource*>& sources);

std::string FileSha256(const std::string& path);
// Byte-for-byte equality of two files (faster than hashing large sparse images).
bool FilesEqual(const std::string& a, const std::string& b);

// A scratch folder for one test, removed afterwards.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace ravelin::test

// Skips the current test, printing why, when one of the outside tools is not installed.
#define RAVELIN_REQUIRE_TOOLS_OR_SKIP(...)                                             \
  do {                                                                                 \
    ::ravelin::gen::Status tools_status = ::ravelin::gen::RequireTools({__VA_ARGS__}); \
    if (!tools_status.ok()) GTEST_SKIP() << tools_status.message();                    \
  } while (0)
