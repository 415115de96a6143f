// The fragment content file reader on any bytes: the trailer, and every read the analysis
// and the assembly make of a stored fragment (lead-in and pages, in and out of range).
// Input: up to four rows with every field over its whole range (rows the row-file reader
// would refuse included, as a table filled by other means may hold them), the reads'
// offsets, then the file.
#include "catalogue/content_file.h"
#include "catalogue/stored_content.h"
#include "datasource/memory_device.h"
#include "fuzz_support.h"

using namespace ravelin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;
  fuzz::Input in(data, size);
  const int rowCount = in.Take<std::uint8_t>() % 5;
  std::vector<FragmentRow> rows;
  for (int i = 0; i < rowCount; ++i) {
    FragmentRow row;
    row.No = i + 1;
    row.StartSector = in.Take<std::uint64_t>();
    row.EndSector = in.Take<std::uint64_t>();
    row.SizeKB = in.Take<std::int64_t>();
    row.StartPage = in.Take<std::int32_t>();
    row.EndPage = in.Take<std::int64_t>();
    rows.push_back(row);
  }
  const auto offset = in.Take<std::int64_t>();
  const auto count = in.Take<std::int32_t>();
  const auto page = in.Take<std::int64_t>();
  auto bytes = std::make_shared<const std::vector<std::uint8_t>>(in.Rest());

  MemoryDevice trailerFile(bytes);
  (void)ReadContentTrailer(trailerFile);

  FragmentTable table;
  table.Replace(rows);
  StoredContent content;
  content.Open(std::make_unique<MemoryDevice>(bytes), "fuzz.dat", table);
  (void)StoredContent::ExpectedSize(table);
  std::vector<std::uint8_t> buffer(64 * kSectorSize);
  std::array<std::uint8_t, kPageSize> one{};
  for (const FragmentRow& row : rows) {
    (void)content.ReadSectors(row.StartSector, offset, count, buffer);
    (void)content.ReadSectors(row.StartSector, offset, std::clamp<std::int32_t>(count, 0, 64),
                              buffer);
    (void)content.ReadSectors(row.StartSector, -15, 15, buffer);
    (void)content.ReadPage(row.StartSector, page, one);
    (void)content.ReadPages(row.StartSector, page, 4, buffer);
  }
  return 0;
}
