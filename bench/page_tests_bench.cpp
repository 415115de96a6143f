// How fast the scan can judge candidate positions and verify pages.
//
// The window mixes what a disk holds: random bytes (compressed or encrypted data), zero runs,
// text, and real-looking pages, some of them at sector offsets that are not page-aligned.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <span>
#include <vector>

#include "common/bytes.h"
#include "page/page_format.h"

namespace ravelin {
namespace {

constexpr std::size_t kWindowBytes = 6 * 1024 * 1024;
constexpr std::uint16_t kFile = 1;

void PutDataPage(std::span<std::uint8_t> at, std::int32_t pageNumber, std::mt19937& rng) {
  for (std::size_t i = 0; i < kPageSize; ++i) at[i] = static_cast<std::uint8_t>(rng());
  std::fill(at.begin(), at.begin() + kPageHeaderSize, std::uint8_t{0});
  at[0] = 1;                                  // m_headerVersion
  at[1] = kPageTypeData;                      // m_type
  Store16(at, page_header::kFreeCnt, 100);    // m_freeCnt
  Store16(at, page_header::kFreeData, 8000);  // m_freeData
  Store32(at, page_header::kPageNumber, static_cast<std::uint32_t>(pageNumber));
  Store16(at, page_header::kFileId, kFile);
  at[5] = 2;  // checksum
  Store32(at, page_header::kTornBits, PageChecksum(PageView(at.data(), kPageSize)));
}

std::vector<std::uint8_t> MixedWindow() {
  std::mt19937 rng(42);
  std::vector<std::uint8_t> window(kWindowBytes);
  for (auto& b : window) b = static_cast<std::uint8_t>(rng());
  const std::size_t quarter = kWindowBytes / 4;
  // A zero run and a run of ASCII text: both are common on disks and cheap to reject.
  std::fill(window.begin() + quarter, window.begin() + 2 * quarter - 1, std::uint8_t{0});
  for (std::size_t i = 2 * quarter; i < 3 * quarter; ++i) {
    window[i] = static_cast<std::uint8_t>('a' + i % 26);
  }
  // The last quarter: a run of pages, shifted by three sectors.
  std::int32_t pageNumber = 100;
  for (std::size_t at = 3 * quarter + 3 * kSectorSize; at + kPageSize <= kWindowBytes;
       at += kPageSize) {
    PutDataPage(std::span(window).subspan(at, kPageSize), pageNumber++, rng);
  }
  return window;
}

void BM_HeaderTestsPerSector(benchmark::State& state) {
  const std::vector<std::uint8_t> window = MixedWindow();
  const std::size_t positions = (window.size() - kPageSize) / kSectorSize + 1;
  std::int64_t hits = 0;
  for (auto _ : state) {
    for (std::size_t p = 0; p < positions; ++p) {
      const HeaderView header(window.data() + p * kSectorSize, kPageHeaderSize);
      hits += IsDataPageHeader(header, kFile) || IsFileHeaderPage(header, kFile) ||
              IsPfsPageHeader(header, kFile);
    }
    benchmark::DoNotOptimize(hits);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(positions));
  state.counters["pages_found_per_pass"] =
      static_cast<double>(hits) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_HeaderTestsPerSector);

void BM_PageChecksum(benchmark::State& state) {
  const std::vector<std::uint8_t> window = MixedWindow();
  const std::size_t pages = window.size() / kPageSize;
  std::uint32_t acc = 0;
  for (auto _ : state) {
    for (std::size_t n = 0; n < pages; ++n) {
      acc ^= PageChecksum(PageView(window.data() + n * kPageSize, kPageSize));
    }
    benchmark::DoNotOptimize(acc);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(pages));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(pages * kPageSize));
}
BENCHMARK(BM_PageChecksum);

void BM_IsPageIntact(benchmark::State& state) {
  const std::vector<std::uint8_t> window = MixedWindow();
  const std::size_t pages = window.size() / kPageSize;
  std::int64_t intact = 0;
  for (auto _ : state) {
    for (std::size_t n = 0; n < pages; ++n) {
      intact += IsPageIntact(PageView(window.data() + n * kPageSize, kPageSize));
    }
    benchmark::DoNotOptimize(intact);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(pages));
}
BENCHMARK(BM_IsPageIntact);

}  // namespace
}  // namespace ravelin
