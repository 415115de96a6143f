// The sector reader: every byte of the disk, partition or image under recovery is read
// here. Callers count in 512-byte sectors whatever the device's own sector size; requests
// are clamped to the end of the chosen source (DataSource::SectorLimit) and served by the
// path reader (whole disks and image files) or the partition reader (a partition's own
// device node). Each keeps its device open until a different path or partition is asked
// for, or until Close().
//
// Not thread-safe: one device and one file position per reader, no lock. The scan thread
// and the window thread must not read at the same time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/bytes.h"
#include "datasource/data_source.h"
#include "datasource/device.h"

namespace ravelin {

// Counts of 65536 sectors or more are refused: no caller asks for more than 12288, and a
// count folded to 16 bits would turn a large request into a small or empty one that
// "succeeds".
inline constexpr std::int32_t kMaxSectorsPerRequest = 65535;

class SectorReader {
 public:
  // `source` is the Workspace's record; it must outlive the reader.
  explicit SectorReader(const DataSource& source, DeviceOpener opener = OpenSystemDevice);
  ~SectorReader();
  SectorReader(const SectorReader&) = delete;
  SectorReader& operator=(const SectorReader&) = delete;

  // Reads `count` sectors at `sector` of the chosen source into the front of `buffer`.
  // True when every requested byte was read. Fails without reading when count is negative
  // or above kMaxSectorsPerRequest, when count × 512 exceeds buffer.size(), or when the
  // request starts at or past the end of the source. A request running past the end is
  // shortened to end there (the shortened request then succeeds). A count of 0 inside the
  // source succeeds without reading. No clamping while SectorLimit is 0.
  bool ReadSectors(std::int32_t count, MutableBytes buffer, std::uint64_t sector);

  // One past the last sector ReadSectors will read (no limit while SectorLimit is 0). A
  // request running past it is shortened, so a caller that reads in large blocks must not
  // trust the bytes beyond it.
  std::uint64_t ReadableEnd() const;

  // Whole disk or image file at `path`, no clamping. Reopens only when `path` differs from
  // the device it holds.
  bool ReadPathSectors(const std::string& path, std::int32_t count, MutableBytes buffer,
                       std::uint64_t sector);

  // Partition `driveNumber` (its 1-based entry number) read through its own device node
  // `devicePath`; `sector` counts from the partition's first sector. No clamping. Reopens
  // only when the drive number or the path differs from the device it holds.
  bool ReadDriveSectors(std::uint8_t driveNumber, const std::string& devicePath,
                        std::uint64_t sector, std::int32_t count, MutableBytes buffer);

  // Devices opened from now on are told that reads will move forward (the scan's windows).
  void AdviseSequential();
  // Tells the chosen source's device that `count` sectors at `sector` will be read soon
  // (the scan's next window). Does nothing while no device is open.
  void AdviseWillNeed(std::uint64_t sector, std::int64_t count);

  // Closes both held devices. Call when a new source is chosen, so a file replaced under
  // the same name is opened afresh.
  void Close();

  // errno of the last failed open (EACCES, ENOENT, ...); 0 when the last open succeeded.
  int LastOpenError() const { return lastOpenError_; }

  // Logical sector size of the held path or partition device; 0 while none is open.
  std::uint32_t PathDeviceSectorSize() const;
  std::uint32_t DriveDeviceSectorSize() const;

 private:
  struct HeldDevice {
    std::unique_ptr<Device> device;
    std::string path;
    int driveNumber = -1;  // -1 for the path reader
  };

  Device* Acquire(HeldDevice& slot, const std::string& path, int driveNumber);
  static bool ReadFrom(Device& device, std::int32_t count, MutableBytes buffer,
                       std::uint64_t sector);

  const DataSource& source_;
  DeviceOpener opener_;
  HeldDevice pathDevice_;
  HeldDevice driveDevice_;
  int lastOpenError_ = 0;
  bool sequential_ = false;
};

}  // namespace ravelin
