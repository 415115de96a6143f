// The fragment content file reader on any bytes: the trailer, and every read the analysis
// and the assembly make of a stored fragment (lead-in and pages, in and out of range).
// Input: up to four rows (start sector, page count), the reads' offsets, then the file.
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
    row.StartSector = in.Take<std::uint16_t>();
    row.SizeKB = in.Take<std::int16_t>();
    row.EndSector = row.StartSector + static_cast<std::uint64_t>(row.Pages() < 0 ? 0 : row.Pages()) * 16;
    row.StartPage = in.Take<std::int16_t>();
    row.EndPage = row.StartPage + row.Pages();
    rows.push_back(row);
  }
  const auto offset = in.Take<std::int16_t>();
  const auto count = in.Take<std::int16_t>();
  auto bytes = std::make_shared<const std::vector<std::uint8_t>>(in.Rest());

  MemoryDevice trailerFile(bytes);
  (void)ReadContentTrailer(trailerFile);

  FragmentTable table;
  table.Replace(rows);
  StoredContent content;
  content.Open(std::make_unique<MemoryDevice>(bytes), "fuzz.dat", table);
  (void)StoredContent::ExpectedSize(table);
  std::vector<std::uint8_t> buffer(64 * kSectorSize);
  std::array<std::uint8_t, kPageSize> page{};
  for (const FragmentRow& row : rows) {
    const std::int32_t n = std::clamp<std::int32_t>(count, 0, 64);
    (void)content.ReadSectors(row.StartSector, offset, n, buffer);
    (void)content.ReadSectors(row.StartSector, -15, 15, buffer);
    (void)content.ReadPage(row.StartSector, offset, page);
    (void)content.ReadPages(row.StartSector, 0, 4, buffer);
  }
  (void)content.ReadSectors(in.Take<std::uint16_t>(), 0, 1, buffer);
  return 0;
}
