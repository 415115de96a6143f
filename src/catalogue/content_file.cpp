#include "catalogue/content_file.h"

#include <array>
#include <bit>
#include <random>

#include "catalogue/stored_content.h"
#include "common/rounding.h"
#include "page/page_format.h"

namespace ravelin {
namespace {

// The 15 sectors before `startSector` into `leadIn`. Sectors before sector 0 do not exist;
// they are stored as zeros so that a fragment near the start of the source keeps the same
// layout as every other.
bool ReadLeadIn(FragmentSource& source, std::uint64_t startSector,
                std::array<std::uint8_t, kLeadInBytes>& leadIn) {
  leadIn.fill(0);
  const std::uint64_t missing = startSector < kLeadInSectors ? kLeadInSectors - startSector : 0;
  const auto count = static_cast<std::int32_t>(kLeadInSectors - missing);
  if (count == 0) return true;
  return source.ReadSectors(startSector, -static_cast<std::int64_t>(count), count,
                            MutableBytes(leadIn).subspan(missing * kSectorSize));
}

}  // namespace

std::uint32_t DrawContentKey() {
  std::random_device random;
  std::uniform_int_distribution<std::uint32_t> draw(0, 2147483646u);
  return draw(random);
}

ExtractStatus WriteContent(const std::vector<FragmentRow>& rows, FragmentSource& source,
                           std::uint32_t key, std::int16_t sectorsPerCluster, OutputFile& out,
                           Reporter& reporter) {
  std::array<std::uint8_t, kLeadInBytes> leadIn;
  std::array<std::uint8_t, kPageSize> page;
  const auto n = static_cast<std::int64_t>(rows.size());
  for (std::int64_t i = 0; i < n; ++i) {
    reporter.Yield();
    if (n > 1) reporter.Progress(static_cast<int>(RoundHalfEven(100 * i, n - 1)));
    const FragmentRow& row = rows[static_cast<std::size_t>(i)];
    if (!ReadLeadIn(source, row.StartSector, leadIn)) return ExtractStatus::kReadFailed;
    if (!out.Append(leadIn)) return ExtractStatus::kWriteFailed;
    const std::int64_t pages = row.Pages();
    for (std::int64_t k = 0; k < pages; ++k) {
      if (!source.ReadPage(row.StartSector, k, page)) return ExtractStatus::kReadFailed;
      ScramblePage(page, key);
      if (!out.Append(page)) return ExtractStatus::kWriteFailed;
    }
  }
  std::array<std::uint8_t, kTrailerBytes> trailer{};
  EncodeFixed32(trailer.data(), std::rotr(key, 3));
  EncodeFixed16(trailer.data() + 4, static_cast<std::uint16_t>(sectorsPerCluster));
  return out.Append(trailer) ? ExtractStatus::kDone : ExtractStatus::kWriteFailed;
}

std::optional<ContentTrailer> ReadContentTrailer(Device& file) {
  const std::uint64_t size = file.SizeBytes();
  std::array<std::uint8_t, kTrailerBytes> trailer{};
  if (size < kTrailerBytes || !file.ReadAt(size - kTrailerBytes, trailer)) return std::nullopt;
  return ContentTrailer{std::rotl(DecodeFixed32(trailer.data()), 3),
                        static_cast<std::int16_t>(DecodeFixed16(trailer.data() + 4))};
}

}  // namespace ravelin
