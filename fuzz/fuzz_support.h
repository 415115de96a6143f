// What the fuzz targets share: an in-memory image read through the real sector reader, and a
// little cursor that takes numbers off the front of the fuzzer's input.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "common/reporter.h"
#include "datasource/data_source.h"
#include "datasource/file_system.h"
#include "datasource/free_space_map.h"
#include "datasource/memory_device.h"
#include "datasource/sector_reader.h"

namespace ravelin::fuzz {

inline constexpr const char* kImagePath = "fuzz.img";

// Takes fixed-size numbers off the front of the input; zeros once it runs out.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  template <typename T>
  T Take() {
    T value{};
    const std::size_t n = std::min(sizeof(T), size_);
    std::memcpy(&value, data_, n);
    data_ += n;
    size_ -= n;
    return value;
  }
  std::vector<std::uint8_t> Rest() { return {data_, data_ + size_}; }
  std::size_t Left() const { return size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

// An image file named kImagePath held in memory, chosen as the data source.
struct MemoryImage {
  explicit MemoryImage(std::vector<std::uint8_t> image, bool isPartition = false)
      : bytes(std::make_shared<const std::vector<std::uint8_t>>(std::move(image))) {
    source.SourceChosen = true;
    source.IsPartition = isPartition;
    source.DriveNumber = isPartition ? 1 : 0;
    source.SourcePath = kImagePath;
    source.TotalSectors = bytes->size() / 512;
    source.SectorLimit =
        isPartition && source.TotalSectors > 0 ? source.TotalSectors - 1 : source.TotalSectors;
  }

  DeviceOpener Opener() const {
    auto shared = bytes;
    return [shared](const std::string& path) -> OpenResult {
      if (path != kImagePath) return {nullptr, ENOENT};
      return {std::make_unique<MemoryDevice>(shared), 0};
    };
  }

  std::shared_ptr<const std::vector<std::uint8_t>> bytes;
  DataSource source;
};

// Detection and the free-space map on `image` as a scan limited to free space runs them,
// then the map's answer for each of `probes`.
inline void DetectAndMap(MemoryImage& image, std::initializer_list<std::uint64_t> probes) {
  SectorReader reader(image.source, image.Opener());
  NullReporter reporter;
  if (DetectFileSystem(image.source, reader, reporter) != 0) return;
  image.source.HasFileSystem = image.source.FileSystemName != kFileSystemUnknown;
  image.source.FileSystemSectorsPerCluster = image.source.SectorsPerCluster;
  FreeSpaceMap map;
  if (map.BuildFreeSpaceMap(image.source, reader, reporter) != 0) return;
  for (std::uint64_t s : probes) (void)map.IsClusterInUse(s);
}

}  // namespace ravelin::fuzz
