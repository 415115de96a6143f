// Writing and reading the fragment content file: for each row, in row order, the 15 sectors
// before the fragment (its lead-in, as read) and its pages scrambled with the content key;
// a 6-byte trailer (the key, rotated, and SectorsPerCluster) ends the file. The format is
// described in docs/scan_info_format.md; StoredContent serves reads from an opened file.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "catalogue/extraction.h"
#include "catalogue/fragment_source.h"
#include "catalogue/fragment_table.h"
#include "common/reporter.h"
#include "datasource/device.h"
#include "output/output_file.h"

namespace ravelin {

// A content key: uniform in [0, 2^31 - 1).
std::uint32_t DrawContentKey();

// Appends the content of `rows` to `out`: lead-ins and scrambled pages read from `source`,
// then the trailer. Progress as the rows go by, Yield between rows. On kReadFailed the file
// holds what was written before the failed read, without trailer.
ExtractStatus WriteContent(const std::vector<FragmentRow>& rows, FragmentSource& source,
                           std::uint32_t key, std::int16_t sectorsPerCluster, OutputFile& out,
                           Reporter& reporter);

struct ContentTrailer {
  std::uint32_t key = 0;
  std::int16_t sectorsPerCluster = 0;
};

// The trailer of a content file; nothing when the file is shorter than one or the read fails.
std::optional<ContentTrailer> ReadContentTrailer(Device& file);

}  // namespace ravelin
