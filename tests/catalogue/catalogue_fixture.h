// A Workspace over an in-memory image on which a test places pages, with a scripted Ui and a
// scratch folder for the files the catalogue writes.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "catalogue/fragment_table.h"
#include "commands/workspace_fragments.h"
#include "common/bytes.h"
#include "support/image_fixtures.h"
#include "support/memory_sources.h"
#include "support/page_builder.h"
#include "support/scripted_ui.h"
#include "support/workspace_tables.h"
#include "workspace/workspace.h"

namespace ravelin::test {

inline constexpr char kImagePath[] = "disk.img";

class CatalogueTest : public ::testing::Test {
 protected:
  explicit CatalogueTest(std::size_t sectors = 8192) : image_(sectors * kSectorSize, 0) {}

  void PutPage(std::uint64_t sector, const Page& page) {
    std::copy(page.begin(), page.end(),
              image_.begin() + static_cast<std::ptrdiff_t>(sector * kSectorSize));
  }
  // Data pages first..first+count-1 with noisy, checksummed bodies from `sector` on.
  void PutRun(std::uint64_t sector, std::int32_t first, std::int32_t count) {
    for (std::int32_t i = 0; i < count; ++i)
      PutPage(sector + 16 * static_cast<std::uint64_t>(i),
              PageBuilder()
                  .PageId(first + i)
                  .Noise(static_cast<std::uint32_t>(first + i) * 7919u + 1)
                  .Checksum()
                  .Build());
  }
  // Distinct bytes in every sector (lead-ins must come back exactly).
  void FillNoise() {
    for (std::size_t i = 0; i < image_.size(); ++i)
      image_[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 13);
  }

  Workspace& Ws() {
    if (!ws_) {
      sources_.Add(kImagePath, image_);
      if (!bad_.empty()) sources_.SetBadSectors(kImagePath, bad_);
      ws_ = std::make_unique<Workspace>(ui_, sources_.Opener());
      ws_->source().SourceChosen = true;
      ws_->source().SourcePath = kImagePath;
      ws_->source().SectorLimit = image_.size() / kSectorSize;
      ws_->source().SectorsPerCluster = 8;
    }
    return *ws_;
  }

  // A row without reading the source (start page other than 0, or a row a test fakes).
  void AddRow(std::int32_t pages, std::int32_t startPage, std::uint64_t startSector,
              std::string remark = " ") {
    FragmentRow row;
    row.No = static_cast<std::int32_t>(Ws().fragments().Count()) + 1;
    row.StartSector = startSector;
    row.EndSector = startSector + 16 * static_cast<std::uint64_t>(pages);
    row.SizeKB = 8 * static_cast<std::int64_t>(pages);
    row.StartPage = startPage;
    row.EndPage = startPage + pages;
    row.Remark = std::move(remark);
    test::EditFragments(Ws()).Append(row);
    FillFragmentList(Ws());
  }

  std::vector<std::uint8_t> Sectors(std::uint64_t sector, std::size_t count) const {
    const auto begin = image_.begin() + static_cast<std::ptrdiff_t>(sector * kSectorSize);
    return std::vector<std::uint8_t>(begin,
                                     begin + static_cast<std::ptrdiff_t>(count * kSectorSize));
  }

  static std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
  }
  static void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }

  std::vector<std::string> MessageTexts() const {
    std::vector<std::string> texts;
    for (const auto& m : ui_.messages) texts.push_back(m.text);
    return texts;
  }

  std::vector<std::uint8_t> image_;
  std::set<std::uint64_t> bad_;
  MemorySources sources_;
  ScriptedUi ui_;
  ScratchDir dir_;
  std::unique_ptr<Workspace> ws_;
};

}  // namespace ravelin::test
