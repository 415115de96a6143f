#include "gen/page_source.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "gen/page_layout.h"

namespace ravelin::gen {

std::uint16_t FileIdOf(const PageSource& source) {
  std::vector<std::uint8_t> page(kPageSize);
  for (std::int64_t n = 0; n < std::min<std::int64_t>(source.PageCount(), 64); ++n) {
    source.ReadPage(n, MutablePage(page.data(), kPageSize));
    const std::uint16_t id = Load16(page, header::kFileId);
    if (id != 0) return id;
  }
  return 0;
}

std::string HeaderLsnText(const PageSource& source) {
  std::vector<std::uint8_t> page(kPageSize, 0);
  if (source.PageCount() > 0) source.ReadPage(0, MutablePage(page.data(), kPageSize));
  char text[32];
  std::snprintf(text, sizeof text, "%08X:%08X:%04X", Load32(page, header::kLsn),
                Load32(page, header::kLsn + 4), Load16(page, header::kLsn + 8));
  return text;
}

}  // namespace ravelin::gen
