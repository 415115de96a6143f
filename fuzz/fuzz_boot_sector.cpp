// Boot sectors at every sector size a volume may declare (512, 1024, 2048, 4096 bytes),
// through detection and the free-space map: whatever the fields say, the counts handed on
// are in 512-byte sectors, the MFT record size is one the map can read, and the map is
// built or refused without reading outside the image. Input: the sector size's choice,
// a probe sector, then the image (sector 0 first).
#include "fuzz_support.h"

using namespace ravelin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 21)) return 0;
  fuzz::Input in(data, size);
  const auto choice = in.Take<std::uint8_t>();
  const auto probe = in.Take<std::uint64_t>();
  std::vector<std::uint8_t> bytes = in.Rest();
  if (bytes.size() < kSectorSize) bytes.resize(kSectorSize, 0);
  const std::uint16_t bytesPerSector = static_cast<std::uint16_t>(512u << (choice & 3));
  Store16(bytes, 11, bytesPerSector);
  fuzz::MemoryImage image(std::move(bytes), true);

  const BootSectorInfo boot = ParseBootSector(ByteView(*image.bytes).first(kSectorSize));
  if (boot.bytesPerSector != bytesPerSector) __builtin_trap();
  if (boot.sectorsPerCluster < 0) __builtin_trap();
  if (boot.fileSystemName == kFileSystemNtfs &&
      (boot.mftRecordBytes < kSectorSize || boot.mftRecordBytes > kMaxMftRecordBytes ||
       boot.mftRecordBytes % kSectorSize != 0))
    __builtin_trap();
  if (boot.fileSystemName == kFileSystemFat32) {
    const std::uint64_t factor = bytesPerSector / kSectorSize;
    if (boot.fatReservedSectors % factor != 0 || boot.fatSectorsPerFat % factor != 0 ||
        boot.dataStartSector != boot.fatReservedSectors + 2 * boot.fatSectorsPerFat)
      __builtin_trap();
  }
  (void)ClusterAreaBytes(boot);

  fuzz::DetectAndMap(image, {0, probe, image.source.TotalSectors, image.source.DataStartSector,
                             ~std::uint64_t{0}});
  return 0;
}
