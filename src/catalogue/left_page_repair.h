// Left-page repair. When a cluster is smaller than a page, the last page of a fragment can
// miss its final clusters: the file system put them elsewhere, and when the next fragment
// continues the page numbering they are often the clusters lying just before that
// fragment's first sector. The repair tries the page as it is, then with its last 1, 2, ...
// clusters taken from those sectors. Shared by the combined extraction file and the MDF
// writer.
//
// Which trial is right: the page as read, when it holds (checksum, torn bits, or for a page
// without protection its structure), is never touched. Otherwise every trial is judged:
// protected pages by their protection, unprotected ones by their structure. The protection
// tests are weak where clusters are small — torn bits check two bits a sector, and the
// checksum cannot tell apart sectors whose words XOR to the same value (a zero sector and a
// sector of one repeated word) — so a trial replacing too few or too many sectors can pass
// as well. When trials that give different pages pass, the structure test decides; when it
// cannot, an allocation page (GAM, SGAM, BCM) is judged by its bits for extents beyond the
// file's size, which SQL Server leaves as it formatted them: when exactly one version keeps
// them so, it is taken. Otherwise the repair says it is uncertain: where the versions differ
// only in the page's free space (between m_freeData and the slot array, where the original
// holds stale bytes), the one with the fewest all-zero sectors is written (a zero sector
// passes anywhere; stale bytes that pass do not by chance), a page that passes its test; else
// the page stays as read.
//
// With one sector per cluster (what a whole disk or an image reports) the cluster size comes
// from the file itself: every page header of one file lies on its cluster grid, so the
// largest power of two up to 16 dividing every difference between the start sectors of its
// fragments is a multiple of the cluster size the file's pages respect (LearnClusterSectors).
// It is no more than that: a volume whose data area starts on a multiple of 16 sectors can
// hold a whole file on one residue modulo 16, and a learned 16 then says nothing. So a learned
// size is tried first and, where none of its trials passes, its halves down to one sector.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "common/bytes.h"

namespace ravelin {

// The 15 sectors that end just before the next fragment's start sector.
using LeadInView = std::span<const std::uint8_t, 15 * kSectorSize>;

using PageCopy = std::array<std::uint8_t, kPageSize>;

// Of versions of one page that all pass their test and differ only in the page's free space
// (between m_freeData and the slot array), the one to write: the one with the fewest all-zero
// sectors, the first of those on a tie. Nothing when they differ elsewhere.
std::optional<std::size_t> FreeSpaceVersion(const std::vector<PageCopy>& versions);

// Whether a repair is tried at all: only clusters of 1 to 15 sectors can split a page.
bool LeftPageRepairApplies(std::int32_t sectorsPerCluster);

// The largest power of two up to 16 that divides every difference between `startSectors`;
// 1 when fewer than two are given (nothing to learn from).
std::int32_t LearnClusterSectors(const std::vector<std::uint64_t>& startSectors);

// The cluster size a repair works with: the source's when it gives one (2 and up), else
// the one learned from the file's fragment start sectors (RepairLeftPage's `learned`).
std::int32_t RepairClusterSectors(std::int32_t sectorsPerCluster,
                                  const std::vector<std::uint64_t>& startSectors);

enum class LeftPageOutcome : std::uint8_t {
  kNotTried,   // clusters of a page or more: nothing can be split
  kIntact,     // the page as read holds; unchanged
  kRepaired,   // one version passed (or the structure chose one); the page is now that one
  kUncertain,  // versions that differ passed and the structure could not choose: as read,
               // or, where they differ only in free space, the one of them with the
               // fewest all-zero sectors (`sectors`)
  kFailed,     // no trial passed: as read
};

struct LeftPageResult {
  LeftPageOutcome outcome = LeftPageOutcome::kNotTried;
  std::int32_t sectors = 0;  // kRepaired, kUncertain: sectors taken from the lead-in (0: none)
  bool byStructure = false;  // the structure test accepted the page or chose the version
  std::int32_t passing = 0;  // trials that passed (k > 0)
};

// Repairs `page` in place with trials of whole clusters of `clusterSectors` sectors: trial
// k replaces the last k clusters of the page by the last k clusters of `leadIn`, for
// k = 1 .. T-1, T = 16 / clusterSectors (nearest integer, halves to even). `learned`: the size
// came from LearnClusterSectors, not from the source; where no trial of it passes (or it is
// 16), the trials of each half down to one sector are tried in turn. `filePages`: the file's
// page count from its header, for judging allocation pages (0: unknown).
LeftPageResult RepairLeftPage(MutablePage page, LeadInView leadIn, std::int32_t clusterSectors,
                              bool learned = false, std::int64_t filePages = 0);

// The page as it fails or holds by itself: protected pages by their protection (torn-page
// ones by their structure too: ProtectionHolds), unprotected ones by their structure.
bool PageHolds(PageView page);

// The plain repair: trials of `sectorsPerCluster` sectors, the first version whose
// protection holds is kept. Returns the accepted k (0: the page was already intact), or -1
// when no trial was accepted; the page is then left as it came in. The writers use
// RepairLeftPage and compare with this to say where the careful repair decided otherwise.
int LeftPageRepair(MutablePage previousPage, LeadInView leadIn, std::int32_t sectorsPerCluster);

}  // namespace ravelin
