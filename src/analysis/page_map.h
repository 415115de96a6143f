// The page map of the database file under analysis: one record per page id, filled from
// the file's PFS and IAM pages and from the links of its data and index pages, read by the
// missing-page check and the search for missing fragments.
#pragma once

#include <cstdint>
#include <vector>

namespace ravelin {

struct PageRecord {
  std::uint8_t PageKind = 0;        // 10 when a PFS byte marks the page as an IAM page
  std::int32_t OwnerId = 0;         // object id of the owner; 0 = not known
  std::uint8_t AllocState = 0xFF;   // 1 allocated, 0 free (per a PFS page), 0xFF not known
  std::uint8_t OwnerSource = 0xFF;  // 0 allocation pages, 1 page links, 0xFF never set
};

// Grows with the file under analysis instead of a fixed table of 20,000,001 records.
using PageMap = std::vector<PageRecord>;

}  // namespace ravelin
