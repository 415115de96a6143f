// Boot sectors, MFT record 6 and FAT chains through detection and the free-space map, on a
// partition image or a whole-disk image of any bytes. Input: the choices, then the image.
#include "common/reporter.h"
#include "datasource/file_system.h"
#include "datasource/free_space_map.h"
#include "fuzz_support.h"

using namespace ravelin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 21)) return 0;
  fuzz::Input in(data, size);
  const auto choice = in.Take<std::uint8_t>();
  const auto probe = in.Take<std::uint32_t>();
  fuzz::MemoryImage image(in.Rest(), (choice & 1) != 0);

  const std::span<const std::uint8_t> all(*image.bytes);
  (void)ParseBootSector(all.first(std::min<std::size_t>(all.size(), 512)));
  const BootSectorInfo boot = ParseBootSector(all);
  (void)ClusterAreaBytes(boot);

  fuzz::DetectAndMap(image, {0, probe, image.source.TotalSectors, ~std::uint64_t{0}});
  // The fix-up on a record-sized piece of the image.
  std::vector<std::uint8_t> record(
      image.bytes->begin(),
      image.bytes->begin() + std::min<std::size_t>(image.bytes->size(), kMftRecordBytes));
  (void)ApplyUpdateSequence(record);
  return 0;
}
