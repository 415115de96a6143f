// Left-page repair. When a cluster is smaller than a page, the last page of a fragment can
// miss its final clusters: the file system put them elsewhere, and when the next fragment
// continues the page numbering they are often the clusters lying just before that
// fragment's first sector. The repair tries the page as it is, then with its last 1, 2, ...
// clusters taken from those sectors, and keeps the first version whose protection
// (checksum or torn bits) holds. Shared by the combined extraction file and the MDF writer.
#pragma once

#include <cstdint>
#include <span>

#include "common/bytes.h"

namespace ravelin {

// The 15 sectors that end just before the next fragment's start sector.
using LeadInView = std::span<const std::uint8_t, 15 * kSectorSize>;

// Whether a repair is tried at all: only clusters of 1 to 15 sectors can split a page.
bool LeftPageRepairApplies(std::int32_t sectorsPerCluster);

// Repairs `previousPage` in place. Trials k = 0 .. T-1 with T = 16 / sectorsPerCluster
// (nearest integer, halves to even): trial k replaces the last k clusters of the page by the
// last k clusters of `leadIn`. Returns the accepted k (0: the page was already intact), or
// -1 when no trial was accepted; the page is then left as it came in.
int LeftPageRepair(MutablePage previousPage, LeadInView leadIn, std::int32_t sectorsPerCluster);

}  // namespace ravelin
