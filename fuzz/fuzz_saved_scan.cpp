// A row file and a content file together, as `files`, `analyse` and `recover` open them:
// rows over every field's whole range go through the row file's reader; what it accepts
// indexes the content file. When the content file has the size the rows call for, every
// page of every fragment must read; no read may leave its fragment or the file.
#include "catalogue/scan_text.h"
#include "catalogue/stored_content.h"
#include "datasource/memory_device.h"
#include "fuzz_support.h"

using namespace ravelin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 16)) return 0;
  fuzz::Input in(data, size);
  const int rowCount = in.Take<std::uint8_t>() % 6;
  std::vector<FragmentRow> written;
  for (int i = 0; i < rowCount; ++i) {
    FragmentRow row;
    row.No = i + 1;
    // Small values are likelier to agree with each other; the top bit of the choice byte
    // takes a field over its whole range instead.
    const std::uint8_t wide = in.Take<std::uint8_t>();
    row.StartSector = wide & 1 ? in.Take<std::uint64_t>() : in.Take<std::uint16_t>();
    const std::int64_t pages = wide & 2 ? in.Take<std::int64_t>() : in.Take<std::uint8_t>() % 8;
    row.StartPage = wide & 4 ? in.Take<std::int32_t>() : in.Take<std::uint8_t>();
    // Wrapping sums: the harness must not overflow where the reader is meant to refuse.
    const auto upages = static_cast<std::uint64_t>(pages);
    row.EndPage =
        wide & 8 ? in.Take<std::int64_t>()
                 : static_cast<std::int64_t>(static_cast<std::uint64_t>(row.StartPage) + upages);
    row.SizeKB = wide & 16 ? in.Take<std::int64_t>() : static_cast<std::int64_t>(8 * upages);
    row.EndSector = wide & 32 ? in.Take<std::uint64_t>() : row.StartSector + 16 * upages;
    written.push_back(row);
  }
  const auto offset = in.Take<std::int64_t>();
  const auto count = in.Take<std::int16_t>();
  const bool exactSize = in.Take<std::uint8_t>() % 2 == 0;
  std::vector<std::uint8_t> file = in.Rest();

  std::string error;
  const auto rows = ParseRowFile(RowFileText(written).value_or(""), &error);
  if (!rows) return 0;
  FragmentTable table;
  table.Replace(*rows);
  const auto expected = StoredContent::ExpectedSize(table);
  const bool matches = exactSize && expected && *expected <= (1u << 22);
  if (matches) file.resize(static_cast<std::size_t>(*expected));
  auto bytes = std::make_shared<const std::vector<std::uint8_t>>(std::move(file));
  StoredContent content;
  content.Open(std::make_unique<MemoryDevice>(bytes), "fuzz.dat", table);

  std::vector<std::uint8_t> buffer(64 * kSectorSize);
  std::array<std::uint8_t, kPageSize> page{};
  std::vector<std::uint64_t> seen;
  for (const FragmentRow& row : table.Rows()) {
    (void)content.ReadSectors(row.StartSector, offset, std::clamp<std::int32_t>(count, 0, 64),
                              buffer);
    // Rows sharing a start sector read from the first of them.
    if (std::find(seen.begin(), seen.end(), row.StartSector) != seen.end()) continue;
    seen.push_back(row.StartSector);
    const bool leadIn = content.ReadSectors(row.StartSector, -15, 15, buffer);
    if (matches && !leadIn) __builtin_trap();
    for (std::int64_t k = 0; k < row.Pages() && k < 8; ++k) {
      if (!content.ReadPage(row.StartSector, k, page) && matches) __builtin_trap();
    }
    if (content.ReadPage(row.StartSector, row.Pages(), page)) __builtin_trap();  // past its end
  }
  return 0;
}
