#include "catalogue/fragment_reader.h"

#include <algorithm>

#include "workspace/workspace.h"

namespace ravelin {

bool ReadStoredSectors(Workspace& ws, std::int64_t offset, std::int32_t count, MutableBytes buffer,
                       std::uint64_t startSector) {
  return ws.storedContent.Read(offset, count, buffer, startSector);
}

bool ReadFragmentSectors(Workspace& ws, std::uint64_t startSector, std::int64_t offset,
                         std::int32_t count, MutableBytes buffer) {
  if (!ws.source.LiveSource) return ReadStoredSectors(ws, offset, count, buffer, startSector);
  if (offset < 0 && static_cast<std::uint64_t>(-offset) > startSector) return false;
  return ws.reader.ReadSectors(count, buffer, startSector + static_cast<std::uint64_t>(offset));
}

bool ReadFragmentPage(Workspace& ws, std::uint64_t startSector, std::int64_t k, MutablePage page) {
  std::fill(page.begin(), page.end(), std::uint8_t{0});
  return ReadFragmentSectors(ws, startSector, k * static_cast<std::int64_t>(kSectorsPerPage),
                             static_cast<std::int32_t>(kSectorsPerPage), page);
}

}  // namespace ravelin
