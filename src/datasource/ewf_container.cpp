// E01 (Expert Witness, EWF version 1) images through libewf: one or more segment files
// (x.E01, x.E02 …) holding the disk in compressed chunks.
#include <libewf.h>

#include <string>

#include "datasource/container_library.h"

namespace ravelin {

namespace {

// libewf records each chunk whose checksum failed as a run of sectors.
bool ChecksumFailed(libewf_handle_t* handle, std::uint64_t offset, std::uint64_t length) {
  libewf_error_t* error = nullptr;
  std::uint32_t count = 0;
  if (libewf_handle_get_number_of_checksum_errors(handle, &count, &error) != 1) {
    libewf_error_free(&error);
    return false;
  }
  const std::uint64_t first = offset / 512;
  const std::uint64_t end = (offset + length + 511) / 512;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint64_t start = 0;
    std::uint64_t sectors = 0;
    if (libewf_handle_get_checksum_error(handle, i, &start, &sectors, &error) != 1) {
      libewf_error_free(&error);
      return true;  // a damage record that cannot be read: trust none of it
    }
    if (start < end && first < start + sectors) return true;
  }
  return false;
}

}  // namespace

OpenedContainer OpenEwfContainer(const std::string& path) {
  static const LibraryCalls kCalls{libewf_handle_read_random, libewf_handle_close,
                                   libewf_handle_free,        libewf_error_sprint,
                                   libewf_error_free,         ChecksumFailed};
  OpenedContainer result;
  libewf_error_t* error = nullptr;

  // The segment files belong together by name: libewf finds x.E02 … beside x.E01. A segment
  // missing from the run is found by the open, which then refuses the set.
  char** segments = nullptr;
  int segmentCount = 0;
  if (libewf_glob(path.c_str(), path.size(), LIBEWF_FORMAT_UNKNOWN, &segments, &segmentCount,
                  &error) != 1) {
    result.failure = "its segment files cannot be listed: " + TakeErrorText(kCalls, error);
    return result;
  }
  libewf_handle_t* raw = nullptr;
  if (libewf_handle_initialize(&raw, &error) != 1) {
    libewf_glob_free(segments, segmentCount, nullptr);
    result.failure = TakeErrorText(kCalls, error);
    return result;
  }
  auto handle = std::make_unique<LibraryHandle>(kCalls, raw, false);
  const int opened =
      libewf_handle_open(raw, segments, segmentCount, libewf_get_access_flags_read(), &error);
  libewf_glob_free(segments, segmentCount, nullptr);
  if (opened != 1) {
    result.failure = TakeErrorText(kCalls, error);
    return result;
  }
  handle->MarkOpened();

  size64_t mediaSize = 0;
  if (libewf_handle_get_media_size(raw, &mediaSize, &error) != 1) {
    result.failure = TakeErrorText(kCalls, error);
    return result;
  }
  // The segment files are found by name, so a set with a segment missing opens as the run
  // of segments before the gap; the last one found then does not end the set, and libewf
  // calls the set corrupted. The last sector is read too: a set cut short cannot give it.
  std::uint8_t last[512];
  if (libewf_handle_segment_files_corrupted(raw, &error) != 0 || mediaSize < sizeof last ||
      !handle->Read(mediaSize - sizeof last, last)) {
    if (error != nullptr) libewf_error_free(&error);
    result.failure = "the segment files end before the disk does (" + std::to_string(segmentCount) +
                     " found beside it): a segment file is missing or damaged";
    return result;
  }
  result.guestBytes = mediaSize;
  result.detail =
      std::to_string(segmentCount) + (segmentCount == 1 ? " segment file" : " segment files");
  result.handle = std::move(handle);
  return result;
}

}  // namespace ravelin
