#include "gen/page_protection.h"

#include <bit>

#include "gen/page_layout.h"

namespace ravelin::gen {
namespace {

constexpr std::size_t kWordsPerSector = kSectorSize / 4;
// m_tornBits is word 15 of sector 0; the checksum leaves it out.
constexpr std::size_t kTornBitsWord = header::kTornBits / 4;

std::size_t SectorEnd(std::size_t sector) { return sector * kSectorSize + kSectorSize - 1; }

}  // namespace

int ProtectionNibble(PageView page) { return page[header::kFlagBits + 1] & 0x0F; }

std::uint32_t ComputePageChecksum(PageView page) {
  // Rotation distributes over XOR, so each sector is folded first and rotated once.
  std::uint32_t sum = 0;
  for (std::size_t s = 0; s < kSectorsPerPage; ++s) {
    std::uint32_t fold = 0;
    for (std::size_t w = 0; w < kWordsPerSector; ++w) {
      const std::size_t word = s * kWordsPerSector + w;
      if (word != kTornBitsWord) fold ^= Load32(page, 4 * word);
    }
    sum ^= std::rotl(fold, static_cast<int>(kSectorsPerPage - 1 - s));
  }
  return sum;
}

bool ChecksumMatches(PageView page) {
  return ComputePageChecksum(page) == Load32(page, header::kTornBits);
}

void StampChecksum(MutablePage page) {
  std::uint8_t& byte5 = page[header::kFlagBits + 1];
  byte5 = static_cast<std::uint8_t>((byte5 & 0xF0) | 0x02);
  Store32(page, header::kTornBits, ComputePageChecksum(page));
}

void StampTornBits(MutablePage page, std::uint8_t pattern) {
  std::uint8_t& byte5 = page[header::kFlagBits + 1];
  byte5 = static_cast<std::uint8_t>((byte5 & 0xF0) | 0x01);
  const std::uint32_t mark = pattern == 2 ? 2u : 1u;
  std::uint32_t bits = mark;
  // Sector 0 takes no part: the header itself carries the pattern.
  for (std::size_t k = 1; k < kSectorsPerPage; ++k) {
    std::uint8_t& end = page[SectorEnd(k)];
    bits |= static_cast<std::uint32_t>(end & 0x03) << (2 * k);
    end = static_cast<std::uint8_t>((end & 0xFC) | mark);
  }
  Store32(page, header::kTornBits, bits);
}

bool TornBitsConsistent(PageView page) {
  if (ProtectionNibble(page) != 1) return false;
  const std::uint32_t mark = Load32(page, header::kTornBits) & 0x03;
  if (mark != 1 && mark != 2) return false;
  for (std::size_t k = 1; k < kSectorsPerPage; ++k) {
    if ((page[SectorEnd(k)] & 0x03) != mark) return false;
  }
  return true;
}

void UndoTornBits(MutablePage page) {
  if ((page[header::kFlagBits + 1] & 0x01) == 0) return;
  const std::uint32_t bits = Load32(page, header::kTornBits);
  const std::uint32_t mark = bits & 0x03;
  if (mark != 1 && mark != 2) return;
  for (std::size_t k = 1; k < kSectorsPerPage; ++k) {
    std::uint8_t& end = page[SectorEnd(k)];
    end = static_cast<std::uint8_t>((end & 0xFC) | ((bits >> (2 * k)) & 0x03));
  }
}

}  // namespace ravelin::gen
