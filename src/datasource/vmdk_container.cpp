// VMDK disks through libvmdk: a monolithic sparse file (its descriptor inside), or a text
// descriptor naming its extent files (flat or sparse), which lie beside it. A child disk of
// a snapshot holds only what changed since its parent, so alone it is no disk: it is refused.
#include <libvmdk.h>

#include <filesystem>
#include <string>

#include "datasource/container_library.h"

namespace ravelin {
namespace {

const char* DiskTypeName(int type) {
  switch (type) {
    case LIBVMDK_DISK_TYPE_MONOLITHIC_SPARSE:
      return "monolithic sparse";
    case LIBVMDK_DISK_TYPE_MONOLITHIC_FLAT:
      return "flat";
    case LIBVMDK_DISK_TYPE_2GB_EXTENT_FLAT:
      return "2 GB flat extents";
    case LIBVMDK_DISK_TYPE_2GB_EXTENT_SPARSE:
      return "2 GB sparse extents";
    case LIBVMDK_DISK_TYPE_STREAM_OPTIMIZED:
      return "stream-optimized";
    case LIBVMDK_DISK_TYPE_VMFS_FLAT:
    case LIBVMDK_DISK_TYPE_VMFS_FLAT_PRE_ALLOCATED:
    case LIBVMDK_DISK_TYPE_VMFS_FLAT_ZEROED:
      return "VMFS flat";
    case LIBVMDK_DISK_TYPE_VMFS_SPARSE:
    case LIBVMDK_DISK_TYPE_VMFS_SPARSE_THIN:
      return "VMFS sparse";
    default:
      return "other layout";
  }
}

}  // namespace

OpenedContainer OpenVmdkContainer(const std::string& path) {
  static const LibraryCalls kCalls{libvmdk_handle_read_buffer_at_offset, libvmdk_handle_close,
                                   libvmdk_handle_free, libvmdk_error_sprint, libvmdk_error_free};
  OpenedContainer result;
  auto handle = OpenLibraryFile(kCalls, libvmdk_handle_initialize, libvmdk_handle_open,
                                LIBVMDK_OPEN_READ, path, result.failure);
  if (!handle) return result;
  libvmdk_handle_t* raw = handle->get();
  libvmdk_error_t* error = nullptr;

  size_t parentNameSize = 0;
  if (libvmdk_handle_get_utf8_parent_filename_size(raw, &parentNameSize, &error) == 1 &&
      parentNameSize > 1) {
    result.failure =
        "a snapshot's child disk holds only the blocks changed since its parent disk; open the "
        "parent, or consolidate the snapshots first";
    return result;
  }
  if (error != nullptr) libvmdk_error_free(&error);

  // The extent files are named relative to the descriptor's folder, not the current one.
  const std::string folder = std::filesystem::path(path).parent_path().string();
  if (!folder.empty() &&
      libvmdk_handle_set_extent_data_files_path(raw, folder.c_str(), folder.size(), &error) != 1) {
    result.failure = TakeErrorText(kCalls, error);
    return result;
  }
  if (libvmdk_handle_open_extent_data_files(raw, &error) != 1) {
    result.failure = "its extent files cannot be opened: " + TakeErrorText(kCalls, error);
    return result;
  }

  int diskType = 0;
  size64_t mediaSize = 0;
  if (libvmdk_handle_get_disk_type(raw, &diskType, &error) != 1 ||
      libvmdk_handle_get_media_size(raw, &mediaSize, &error) != 1) {
    result.failure = TakeErrorText(kCalls, error);
    return result;
  }
  result.detail = DiskTypeName(diskType);
  result.guestBytes = mediaSize;
  result.handle = std::move(handle);
  return result;
}

}  // namespace ravelin
