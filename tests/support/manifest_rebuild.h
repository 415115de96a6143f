// The file a perfect recovery would write, taken from an image by its manifest alone: every
// extent of the file copied to its place, unreadable sectors and uncovered stretches left as
// zeros. A recovery test compares its own result with the original the same way; the
// generator's tests use it to check that the manifest's list of unrecoverable pages is true.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "gen/manifest.h"
#include "gen/page_source.h"

namespace ravelin::test {

// Sectors of file `file` as its extents in `imagePath` hold them (pageCount pages).
std::vector<std::uint8_t> RebuildFromManifest(const gen::Manifest& manifest,
                                              const std::string& imagePath, int file);

// Every page of `rebuilt` equals `original`'s except the pages the manifest lists as
// unrecoverable for `file`.
::testing::AssertionResult EqualExceptUnrecoverable(const gen::Manifest& manifest, int file,
                                                    const std::vector<std::uint8_t>& rebuilt,
                                                    const gen::PageSource& original);

// Where page `page` of file `file` has its first sector on the image, by the manifest.
std::optional<std::uint64_t> FileSectorOnImage(const gen::Manifest& manifest, int file,
                                               std::int64_t page);

}  // namespace ravelin::test
