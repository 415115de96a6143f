// The one way to read the sectors of a fragment. While the recovery works from the data
// source (source.LiveSource), sectors come from the sector reader at the fragment's start
// sector + offset; once a fragment content file is open they come from the stored content,
// found by the fragment's start sector. Extraction, the update information, the analysis
// and the assembly all read fragment pages through here.
#pragma once

#include <cstdint>

#include "common/bytes.h"

namespace ravelin {

class Workspace;

// ReadStoredSectors: `count` sectors of the stored fragment that starts at `startSector`,
// from `offset` sectors after its start (down to -15, the lead-in). False when no content
// file is open, no row starts there, or the content ends first.
bool ReadStoredSectors(Workspace& ws, std::int64_t offset, std::int32_t count, MutableBytes buffer,
                       std::uint64_t startSector);

// `count` sectors at `startSector` + `offset`, from wherever fragment pages come from now.
bool ReadFragmentSectors(Workspace& ws, std::uint64_t startSector, std::int64_t offset,
                         std::int32_t count, MutableBytes buffer);

// Page `k` of the fragment (16 sectors at `startSector` + 16k) into `page`, zero-filled first
// so that a short read at the end of the source leaves zeros, not stale bytes.
bool ReadFragmentPage(Workspace& ws, std::uint64_t startSector, std::int64_t k, MutablePage page);

}  // namespace ravelin
