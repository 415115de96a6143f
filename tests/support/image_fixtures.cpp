#include "support/image_fixtures.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "gen/fs_tools.h"
#include "gen/sha256.h"
#include "support/page_builder.h"

namespace ravelin::test {

void SyntheticDatabase::ReadPage(std::int64_t n, MutablePage out) const {
  PageBuilder builder = n == 0   ? FileHeaderPage(fileId_, static_cast<std::int32_t>(pageCount_))
                        : n == 1 ? PfsPage(fileId_)
                                 : PageBuilder();
  builder.PageId(static_cast<std::int32_t>(n)).FileId(fileId_);
  if (n >= 2) {
    builder.ObjId(static_cast<std::int32_t>(1000 + seed_ % 7))
        .Noise(seed_ * 7919u + static_cast<std::uint32_t>(n));
  }
  const Page page = builder.Checksum().Build();
  std::memcpy(out.data(), page.data(), kPageSize);
}

namespace {
gen::DatabaseSpec SpecFor(std::int64_t pageCount, std::uint64_t seed, std::uint16_t fileId,
                          int generation, std::string name) {
  gen::DatabaseSpec design;
  design.physicalPath = "C:\\data\\" + name + ".mdf";
  design.logicalName = std::move(name);
  design.pageCount = pageCount;
  design.seed = seed;
  design.fileId = fileId;
  design.generation = generation;
  return design;
}
}  // namespace

GeneratedDatabase::GeneratedDatabase(std::int64_t pageCount, std::uint64_t seed,
                                     std::uint16_t fileId, int generation, std::string name)
    : gen::DatabaseGenerator(SpecFor(pageCount, seed, fileId, generation, std::move(name))) {}

std::vector<std::uint8_t> ReadImageSectors(const std::string& path, std::uint64_t sector,
                                           std::uint64_t count) {
  std::vector<std::uint8_t> bytes(count * kSectorSize, 0);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return bytes;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::pread(fd, bytes.data() + done, bytes.size() - done,
                              static_cast<off_t>(sector * kSectorSize + done));
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return bytes;
}

std::vector<std::uint8_t> SourceSectors(const gen::PageSource& source, std::uint64_t sector,
                                        std::uint64_t count) {
  std::vector<std::uint8_t> bytes(count * kSectorSize, 0);
  std::vector<std::uint8_t> page(kPageSize);
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint64_t s = sector + i;
    const auto n = static_cast<std::int64_t>(s / kSectorsPerPage);
    if (n >= source.PageCount()) continue;
    source.ReadPage(n, MutablePage(page.data(), kPageSize));
    std::memcpy(bytes.data() + i * kSectorSize, page.data() + (s % kSectorsPerPage) * kSectorSize,
                kSectorSize);
  }
  return bytes;
}

::testing::AssertionResult FragmentsHoldPages(
    const gen::Manifest& manifest, const std::string& imagePath,
    const std::map<int, const gen::PageSource*>& sources) {
  for (auto [file, source] : sources) {
    if (manifest.files.at(file).sha256 != gen::Sha256OfPages(*source)) {
      return ::testing::AssertionFailure() << "file " << file << ": wrong sha256";
    }
    int checked = 0;
    for (const gen::ManifestFragment& f : manifest.fragments) {
      if (f.file != file) continue;
      const gen::FileExtent& e = f.extent;
      if (ReadImageSectors(imagePath, e.diskSector, e.sectorCount) !=
          SourceSectors(*source, e.fileSector, e.sectorCount)) {
        return ::testing::AssertionFailure()
               << "file " << file << ": extent at sector " << e.diskSector << " (" << e.sectorCount
               << " sectors from file sector " << e.fileSector
               << ") does not hold the file's sectors";
      }
      if (f.pageCount > 0 &&
          f.startSector !=
              e.diskSector +
                  (static_cast<std::uint64_t>(f.firstPage) * kSectorsPerPage - e.fileSector)) {
        return ::testing::AssertionFailure() << "fragment start sector " << f.startSector
                                             << " is not where page " << f.firstPage << " lies";
      }
      ++checked;
    }
    if (checked == 0) return ::testing::AssertionFailure() << "file " << file << " has no fragment";
  }
  return ::testing::AssertionSuccess();
}

std::string FileSha256(const std::string& path) {
  gen::Sha256 sha;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "";
  std::vector<std::uint8_t> buffer(1 << 20);
  ssize_t n;
  while ((n = ::read(fd, buffer.data(), buffer.size())) > 0) {
    sha.Update(ByteView(buffer.data(), static_cast<std::size_t>(n)));
  }
  ::close(fd);
  return sha.FinishHex();
}

bool FilesEqual(const std::string& a, const std::string& b) {
  std::error_code error;
  const auto size = std::filesystem::file_size(a, error);
  if (error || size != std::filesystem::file_size(b, error) || error) return false;
  constexpr std::uint64_t kChunkSectors = 2048;
  const std::uint64_t sectors = (size + kSectorSize - 1) / kSectorSize;
  for (std::uint64_t s = 0; s < sectors; s += kChunkSectors) {
    const std::uint64_t n = std::min(kChunkSectors, sectors - s);
    if (ReadImageSectors(a, s, n) != ReadImageSectors(b, s, n)) return false;
  }
  return true;
}

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "ravelin-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

}  // namespace ravelin::test
