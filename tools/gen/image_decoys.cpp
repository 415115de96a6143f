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
    // (VLF, block) goes down as one number: lowering the block alone would wrap a small
    // block round to a huge one and make the "older" page look newer. An LSN too small to
    // lower stays at 0:0.
    const std::uint64_t lsn =
        (std::uint64_t{Load32(out, ph::kLsn)} << 32) | Load32(out, ph::kLsn + 4);
    const std::uint64_t lowered = lsn > patch_.age ? lsn - patch_.age : 0;
    Store32(out, ph::kLsn, static_cast<std::uint32_t>(lowered >> 32));
    Store32(out, ph::kLsn + 4, static_cast<std::uint32_t>(lowered));
    // One byte in the row area, away from the sector ends that hold torn bits, so a
    // torn-page-protected page stays consistent.
    out[4000] = static_cast<std::uint8_t>(out[4000] ^ 0x5A);
  }
  ReprotectPage(out);
}

}  // namespace ravelin::gen
