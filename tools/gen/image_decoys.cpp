#include "gen/image_decoys.h"

#include <algorithm>

#include "gen/page_layout.h"
#include "gen/page_protection.h"

namespace ravelin::gen {
namespace ph = header;

void ReprotectPage(MutablePage page) {
  if (ProtectionNibble(page) == 2) StampChecksum(page);
}

void PatchedPageSource::ReadPage(std::int64_t n, MutablePage out) const {
  base_.ReadPage(n, out);
  if (std::all_of(out.begin(), out.end(), [](std::uint8_t b) { return b == 0; })) return;
  if (patch_.fileId) Store16(out, ph::kFileId, *patch_.fileId);
  if (patch_.age != 0) {
    // The LSN's middle part (log block) goes down; wrapping is harmless for a decoy.
    Store32(out, ph::kLsn + 4, Load32(out, ph::kLsn + 4) - patch_.age);
    // One byte in the row area, away from the sector ends that hold torn bits, so a
    // torn-page-protected page stays consistent.
    out[4000] = static_cast<std::uint8_t>(out[4000] ^ 0x5A);
  }
  ReprotectPage(out);
}

}  // namespace ravelin::gen
