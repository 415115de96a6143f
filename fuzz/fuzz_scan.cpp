// The scan over an arbitrary small image, every sector a candidate position. Input: the
// settings' choices, then the image.
#include <atomic>

#include "common/reporter.h"
#include "datasource/free_space_map.h"
#include "fuzz_support.h"
#include "scan/scan_engine.h"

using namespace ravelin;

namespace {

class TableSink final : public FragmentSink {
 public:
  const FragmentRow* Last() const override { return rows.empty() ? nullptr : &rows.back(); }
  void Append(FragmentRow row) override { rows.push_back(std::move(row)); }
  void RemoveLast() override {
    if (rows.empty()) __builtin_trap();
    rows.pop_back();
  }
  std::vector<FragmentRow> rows;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 19)) return 0;
  fuzz::Input in(data, size);
  const auto choice = in.Take<std::uint8_t>();
  ScanSettings settings;
  settings.step = (choice & 1) ? 1 : 16;
  settings.fileId = static_cast<std::uint16_t>(1 + ((choice >> 1) & 1));
  settings.readAhead = (choice & 4) != 0;
  if (choice & 8) settings.startPageBelow = in.Take<std::uint16_t>();
  fuzz::MemoryImage image(in.Rest());
  settings.start = 0;
  settings.end = static_cast<std::int64_t>(image.source.SectorLimit);

  SectorReader reader(image.source, image.Opener());
  FreeSpaceMap freeSpace;
  std::atomic<bool> stop{false};
  TableSink sink;
  NullReporter reporter;
  const ScanResult result = ScanSource(settings, image.source, image.Opener(), reader, freeSpace,
                                       stop, sink, reporter);
  if (result.outcome == ScanOutcome::kStopped) __builtin_trap();
  // Every fragment lies inside the image and holds at least one page.
  for (const FragmentRow& row : sink.rows) {
    if (row.EndSector <= row.StartSector) __builtin_trap();
    if (row.StartSector >= image.source.TotalSectors + 16) __builtin_trap();
  }
  return 0;
}
