// The one road to the disk: a source of bytes at 64-bit offsets. The sector reader reads
// every disk, partition and image file through this interface; the file/block-device
// implementation is the only code that talks to the OS, the in-memory one serves tests and
// generated images, and the fault-injecting wrapper turns chosen sectors unreadable.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "common/bytes.h"
#include "datasource/container_kind.h"

namespace ravelin {

// The container an image file turned out to be, when it is not a raw copy of a disk.
struct ContainerInfo {
  ContainerKind kind = ContainerKind::kRaw;
  std::string detail;            // what the library tells of it: "dynamic", "3 segment files"
  std::uint64_t guestBytes = 0;  // the guest disk's size, which is the device's size
};

// What the kernel tells of a block device beyond its length; image files have none of it.
struct BlockDetails {
  unsigned major = 0;
  unsigned minor = 0;
  std::uint32_t heads = 0;            // HDIO_GETGEO, 0 when the driver gives no geometry
  std::uint32_t sectorsPerTrack = 0;  // likewise
};

class Device {
 public:
  virtual ~Device() = default;

  // Fills `out` with the bytes at [byteOffset, byteOffset + out.size()). True only when
  // every byte was read; after a failure `out` holds the bytes read before the failure and
  // unspecified bytes after them. Never writes outside `out`.
  virtual bool ReadAt(std::uint64_t byteOffset, MutableBytes out) = 0;

  // Size of the source in bytes (the device's length, or the file's length).
  virtual std::uint64_t SizeBytes() const = 0;

  // The device's logical sector size as the kernel reports it (512 for image files). Reads
  // are addressed in 512-byte units whatever this says; it is kept for captions.
  virtual std::uint32_t LogicalSectorSize() const = 0;

  // The block device's details; nothing for an image file or an in-memory source.
  virtual std::optional<BlockDetails> Block() const { return std::nullopt; }
  // The container whose guest disk this is; nothing for a raw image, a disk or memory.
  virtual std::optional<ContainerInfo> Container() const { return std::nullopt; }

  // Tells the OS that reads will mostly move forward through the source, so it may read
  // further ahead. A hint only; devices that have nothing to tell ignore it.
  virtual void AdviseSequential() {}
  // Tells the OS that these bytes will be read soon, so it may start reading them now.
  virtual void WillNeed(std::uint64_t /*byteOffset*/, std::uint64_t /*length*/) {}
};

struct OpenResult {
  OpenResult() = default;
  OpenResult(std::unique_ptr<Device> opened, int errorNumber, std::string why = {})
      : device(std::move(opened)), error(errorNumber), reason(std::move(why)) {}

  std::unique_ptr<Device> device;  // null when the open failed
  int error = 0;                   // errno of the failed open, 0 on success
  std::string reason;              // a container's refusal in words, empty otherwise
};

// Opens a source by path. The system opener opens real files and block devices; tests hand
// the reader openers that serve in-memory or faulty devices keyed by path.
using DeviceOpener = std::function<OpenResult(const std::string& path)>;

// Opens a regular file or a block device read-only (never for writing). A regular file whose
// signature names a container (container_kind.h) is opened as the guest disk inside it.
OpenResult OpenSystemDevice(const std::string& path);

}  // namespace ravelin
