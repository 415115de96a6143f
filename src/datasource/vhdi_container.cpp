// VHD (fixed and dynamic) and VHDX disks through libvhdi. A differencing disk holds only
// what changed since its parent, so alone it is no disk: it is refused.
#include <libvhdi.h>

#include <string>

#include "datasource/container_library.h"

namespace ravelin {

OpenedContainer OpenVhdiContainer(const std::string& path) {
  static const LibraryCalls kCalls{libvhdi_file_read_buffer_at_offset, libvhdi_file_close,
                                   libvhdi_file_free, libvhdi_error_sprint, libvhdi_error_free};
  OpenedContainer result;
  auto handle = OpenLibraryFile(kCalls, libvhdi_file_initialize, libvhdi_file_open,
                                LIBVHDI_OPEN_READ, path, result.failure);
  if (!handle) return result;
  libvhdi_file_t* raw = handle->get();
  libvhdi_error_t* error = nullptr;

  std::uint32_t diskType = 0;
  size64_t mediaSize = 0;
  if (libvhdi_file_get_disk_type(raw, &diskType, &error) != 1 ||
      libvhdi_file_get_media_size(raw, &mediaSize, &error) != 1) {
    result.failure = TakeErrorText(kCalls, error);
    return result;
  }
  switch (diskType) {
    case LIBVHDI_DISK_TYPE_FIXED:
      result.detail = "fixed";
      break;
    case LIBVHDI_DISK_TYPE_DYNAMIC:
      result.detail = "dynamic";
      break;
    case LIBVHDI_DISK_TYPE_DIFFERENTIAL:
      result.failure =
          "a differencing disk holds only the blocks changed since its parent disk; open the "
          "parent, or merge the two into one disk first";
      return result;
    default:
      result.failure = "unknown disk type " + std::to_string(diskType);
      return result;
  }
  result.guestBytes = mediaSize;
  result.handle = std::move(handle);
  return result;
}

}  // namespace ravelin
