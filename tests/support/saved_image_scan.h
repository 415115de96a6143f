// A scan of an image file saved as the command line reads it back (row file, and content
// file when asked), written from rows a test lays out by hand rather than from a scan.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ravelin::test {

// One fragment of whole pages, 16 sectors each.
struct ScanRow {
  std::int64_t pages = 0;
  std::int32_t startPage = 0;
  std::uint64_t startSector = 0;
  std::string remark = " ";  // the memo column, " " when blank as a scan leaves it
};

// Saves `rows`, numbered 1, 2, … in this order, as the scan of the image file `image`
// (`sectors` long, `sectorsPerCluster` per cluster) to `rowsPath` and, when given,
// `contentPath` (the fragments' bytes read from the image).
::testing::AssertionResult SaveImageScan(const std::string& image, std::uint64_t sectors,
                                         std::int16_t sectorsPerCluster,
                                         const std::vector<ScanRow>& rows,
                                         const std::string& rowsPath,
                                         const std::optional<std::string>& contentPath);

}  // namespace ravelin::test
