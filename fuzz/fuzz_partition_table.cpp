// What sector 0 says an image is, and the partition table of a whole-disk image of any bytes
// (MBR with extended partitions, GPT), with the file system probed at each partition's start.
#include <sys/mman.h>
#include <unistd.h>

#include "datasource/container_kind.h"
#include "datasource/partition_table.h"
#include "fuzz_support.h"

using namespace ravelin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;
  const std::span<const std::uint8_t> all(data, size);
  const std::size_t first = std::min<std::size_t>(size, 512);
  (void)ClassifyImage(all.first(first),
                      all.subspan(first, std::min<std::size_t>(size - first, 512)));
  // A container's bytes go to its own library, which this build does not instrument: what
  // is fuzzed here is our reading of raw disks.
  if (IdentifyContainer(all.first(first), all.subspan(size - std::min<std::size_t>(size, 512))) !=
      ContainerKind::kRaw)
    return 0;

  // The table is read from a file: an anonymous one in memory, named through /proc.
  const int fd = ::memfd_create("fuzz-disk", MFD_CLOEXEC);
  if (fd < 0) return 0;
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  int error = 0;
  if (const auto table = ReadPartitionTable(path, &error)) {
    for (const ImagePartition& p : table->partitions)
      if (p.number < 1) __builtin_trap();
  }
  (void)DetectImageKind(path, OpenSystemDevice);
  ::close(fd);
  return 0;
}
