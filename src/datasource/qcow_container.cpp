// QCOW (version 1) and QCOW2 (versions 2 and 3) disks through libqcow. An encrypted disk
// needs a key this program does not ask for, and one with a backing file holds only what
// changed since that file: both are refused.
#include <libqcow.h>

#include <string>

#include "datasource/container_library.h"

namespace ravelin {

OpenedContainer OpenQcowContainer(const std::string& path) {
  static const LibraryCalls kCalls{libqcow_file_read_buffer_at_offset, libqcow_file_close,
                                   libqcow_file_free, libqcow_error_sprint, libqcow_error_free};
  OpenedContainer result;
  auto handle = OpenLibraryFile(kCalls, libqcow_file_initialize, libqcow_file_open,
                                LIBQCOW_OPEN_READ, path, result.failure);
  if (!handle) return result;
  libqcow_file_t* raw = handle->get();
  libqcow_error_t* error = nullptr;

  std::uint32_t encryption = 0;
  std::uint32_t version = 0;
  size64_t mediaSize = 0;
  if (libqcow_file_get_encryption_method(raw, &encryption, &error) != 1 ||
      libqcow_file_get_format_version(raw, &version, &error) != 1 ||
      libqcow_file_get_media_size(raw, &mediaSize, &error) != 1) {
    result.failure = TakeErrorText(kCalls, error);
    return result;
  }
  if (encryption != LIBQCOW_ENCRYPTION_METHOD_NONE) {
    result.failure = "the disk is encrypted; decrypt it first (qemu-img convert -O raw)";
    return result;
  }
  size_t backingNameSize = 0;
  if (libqcow_file_get_utf8_backing_filename_size(raw, &backingNameSize, &error) == 1 &&
      backingNameSize > 1) {
    result.failure =
        "the disk has a backing file and holds only the blocks changed since it; merge them "
        "first (qemu-img convert)";
    return result;
  }
  if (error != nullptr) libqcow_error_free(&error);
  result.detail = "version " + std::to_string(version);
  result.guestBytes = mediaSize;
  result.handle = std::move(handle);
  return result;
}

}  // namespace ravelin
