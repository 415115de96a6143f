// Filling a page map from arbitrary pages and judging arbitrary fragments against it.
// Input: the map's size, the settings and up to four fragment geometries, then the image the
// fragments' pages are read from (its pages at any sector).
#include "analysis/page_matching.h"
#include "common/reporter.h"
#include "fuzz_support.h"

using namespace ravelin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;
  fuzz::Input in(data, size);
  // Small maps most of the time; sometimes one past a PFS interval or two.
  const std::int64_t mapPages = 1 + in.Take<std::uint16_t>() % 20000;
  PageMapSettings settings;
  settings.sectorsPerCluster = static_cast<std::int32_t>(in.Take<std::uint8_t>() % 65);
  settings.fileId = in.Take<std::uint8_t>() % 3;

  struct Step {
    std::uint8_t what;
    FragmentGeometry geometry;
  };
  std::vector<Step> steps(4);
  for (Step& s : steps) {
    s.what = in.Take<std::uint8_t>();
    s.geometry.pages = in.Take<std::int16_t>();
    s.geometry.startPage = in.Take<std::int32_t>();
    s.geometry.startSector = in.Take<std::uint16_t>();
  }
  fuzz::MemoryImage image(in.Rest());

  PageMap map;
  if (!map.Reset(mapPages)) return 0;
  SectorReader reader(image.source, image.Opener());
  LiveFragmentSource source(reader);
  NullReporter reporter;
  PageMapper mapper(map, source, settings, reporter);
  for (const Step& s : steps) {
    switch (s.what % 4) {
      case 0: (void)mapper.AddToPageMap(s.geometry); break;
      case 1: (void)mapper.AddHeaderToPageMap(s.geometry); break;
      case 2: {
        const MatchCounters c = mapper.MatchPagesToMap(s.geometry);
        if (c.Matches < 0 || c.Conflicts < 0 || c.Conflicts > 1) __builtin_trap();
        break;
      }
      default: (void)mapper.ClassifyCandidate(s.geometry); break;
    }
  }
  return 0;
}
