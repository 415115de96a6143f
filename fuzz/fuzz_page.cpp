// The page operations on any 8192 bytes: the header tests, integrity, torn-bit repair, the
// file size and name readers, the structure test, the PFS reader, the byte copy and the
// row-field helpers. Input: the page, then (past 8192 bytes) numbers for the copy.
#include <array>
#include <string>

#include "fuzz_support.h"
#include "page/allocation_page.h"
#include "page/page_format.h"
#include "page/page_structure.h"

using namespace ravelin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::array<std::uint8_t, kPageSize> page{};
  std::memcpy(page.data(), data, std::min(size, page.size()));
  fuzz::Input in(data + std::min(size, page.size()), size - std::min(size, page.size()));
  const auto fileId = in.Take<std::uint16_t>();

  const HeaderView header(page.data(), kPageHeaderSize);
  (void)IsDataPageHeader(header, fileId);
  (void)IsFileHeaderPage(header, fileId);
  (void)IsPfsPageHeader(header, fileId);
  (void)IsExpectedPage(fileId, in.Take<std::int32_t>(), header, fileId);
  (void)PageChecksum(page);
  const bool intact = IsPageIntact(page);
  (void)IsPageStructurallySound(page);

  std::int32_t pages = 0;
  (void)GetFileSizeFromHeader(page, pages);
  std::string name;
  (void)GetFileNameFromPage(page, name);
  (void)GetField(name, in.Take<std::uint8_t>() % 8);
  (void)ExtractDirPart(name);

  std::array<std::uint8_t, 64> destination{};
  CopyPageBytes(page, destination, in.Take<std::int64_t>(), in.Take<std::int64_t>());

  // Repair is idempotent, and what the PFS reader gives lies inside the page.
  RestoreTornBits(page);
  const std::array<std::uint8_t, kPageSize> once = page;
  RestoreTornBits(page);
  if (once != page) __builtin_trap();
  (void)intact;
  (void)IsPageStructurallySound(page);
  if (const auto pfs = ReadPfsBytes(page)) {
    const std::uint8_t* first = pfs->bytes.data();
    if (first < page.data() || first + pfs->bytes.size() > page.data() + page.size())
      __builtin_trap();
  }

  // The content scramble is undone by its inverse.
  const auto key = in.Take<std::uint32_t>();
  ScramblePage(page, key);
  UnscramblePage(page, key);
  if (once != page) __builtin_trap();
  return 0;
}
