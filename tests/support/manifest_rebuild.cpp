#include "support/manifest_rebuild.h"

#include <algorithm>
#include <cstring>

#include "support/image_fixtures.h"

namespace ravelin::test {

std::vector<std::uint8_t> RebuildFromManifest(const gen::Manifest& manifest,
                                              const std::string& imagePath, int file) {
  const auto pages = static_cast<std::size_t>(manifest.files.at(file).pageCount);
  std::vector<std::uint8_t> out(pages * kPageSize, 0);
  for (const gen::ManifestFragment& f : manifest.fragments) {
    if (f.file != file) continue;
    const gen::FileExtent& e = f.extent;
    const std::vector<std::uint8_t> bytes =
        ReadImageSectors(imagePath, e.diskSector, e.sectorCount);
    for (std::uint64_t i = 0; i < e.sectorCount; ++i) {
      const std::uint64_t at = (e.fileSector + i) * kSectorSize;
      if (at + kSectorSize > out.size()) break;
      if (std::binary_search(manifest.unreadableSectors.begin(), manifest.unreadableSectors.end(),
                             e.diskSector + i)) {
        continue;
      }
      std::memcpy(out.data() + at, bytes.data() + i * kSectorSize, kSectorSize);
    }
  }
  return out;
}

::testing::AssertionResult EqualExceptUnrecoverable(const gen::Manifest& manifest, int file,
                                                    const std::vector<std::uint8_t>& rebuilt,
                                                    const gen::PageSource& original) {
  if (rebuilt.size() != static_cast<std::size_t>(original.PageCount()) * kPageSize) {
    return ::testing::AssertionFailure() << "rebuilt file has the wrong size";
  }
  const std::vector<gen::PageRange> lost = manifest.UnrecoverablePages(file);
  const auto unrecoverable = [&](std::int64_t n) {
    return std::any_of(lost.begin(), lost.end(), [&](const gen::PageRange& r) {
      return n >= r.firstPage && n < r.firstPage + r.pageCount;
    });
  };
  std::vector<std::uint8_t> page(kPageSize);
  for (std::int64_t n = 0; n < original.PageCount(); ++n) {
    if (unrecoverable(n)) continue;
    original.ReadPage(n, MutablePage(page.data(), kPageSize));
    if (!std::equal(page.begin(), page.end(),
                    rebuilt.begin() + static_cast<std::ptrdiff_t>(n) * kPageSize)) {
      return ::testing::AssertionFailure()
             << "file " << file << ": page " << n
             << " is not listed as unrecoverable but does not come back";
    }
  }
  return ::testing::AssertionSuccess();
}

std::optional<std::uint64_t> FileSectorOnImage(const gen::Manifest& manifest, int file,
                                               std::int64_t page) {
  const std::uint64_t fileSector = 16 * static_cast<std::uint64_t>(page);
  for (const gen::ManifestFragment& f : manifest.fragments) {
    const gen::FileExtent& e = f.extent;
    if (f.file == file && fileSector >= e.fileSector && fileSector < e.fileSector + e.sectorCount)
      return e.diskSector + (fileSector - e.fileSector);
  }
  return std::nullopt;
}

}  // namespace ravelin::test
