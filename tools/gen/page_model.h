// The per-page decisions shared by the page renderers and by the PFS pages that describe
// them: which generation last wrote a page, its LSN, how full it is, whether it carries
// ghost records, whether it is protected, and what stale bytes a free page holds.
// Everything is a pure function of (seed, generation, page number, layout).
#pragma once

#include <cstdint>

#include "gen/allocation_layout.h"
#include "gen/page_writer.h"

namespace ravelin::gen {

struct ModelParams {
  std::uint64_t seed = 1;
  PageVerify verify = PageVerify::kChecksum;
  std::uint16_t fileId = 1;
  int unprotectedPerMille = 5;  // share of object pages written without protection
};

// How a data, index or text page is filled.
struct ContentPlan {
  std::uint16_t rowSize = 0;  // bytes per row (index rows: fixed by the row format)
  std::uint16_t rows = 0;
  std::uint16_t ghosts = 0;   // rows marked as ghost records
  std::uint8_t fullness = 0;  // PFS fullness code 0..4
};

// What a free page holds.
struct StaleInfo {
  bool zero = true;
  int unit = -1;  // the unit whose old page it is, or -1 for a dropped object
  std::int32_t objId = 0;
  std::uint16_t indexId = 0;
  std::uint8_t type = 0;
  int generation = 0;   // generation that wrote it
  bool oldLsn = false;  // written before generation 0 (a dropped object's page)
};

class PageModel {
 public:
  PageModel(const ModelParams& params, const AllocationLayout& layout);

  const ModelParams& Params() const { return params_; }
  const AllocationLayout& Layout() const { return layout_; }

  // Generation that last wrote an object page (its run's generation or a later rewrite).
  int ModifiedGeneration(std::int64_t n, const PageRole& role) const;
  Lsn PageLsn(std::int64_t n, int generation) const;
  Lsn OldLsn(std::int64_t n) const;  // before generation 0
  Lsn CheckpointLsn() const;         // page 0: above every page LSN of this generation
  std::uint8_t TornPattern(std::int64_t n, int generation) const;

  ContentPlan Plan(std::int64_t n, UnitKind kind, bool upperLevel, int generation) const;
  StaleInfo Stale(std::int64_t n, const PageRole& role) const;
  // Protection of a page that is not all zero.
  PageVerify Protection(std::int64_t n, const PageRole& role) const;
  std::uint8_t PfsByte(std::int64_t n) const;

  // The type a unit's page of `rank` has, and whether it is an upper index level.
  std::uint8_t UnitPageType(int unit, std::int64_t rank, bool* upper = nullptr) const;

 private:
  ModelParams params_;
  const AllocationLayout& layout_;
};

}  // namespace ravelin::gen
