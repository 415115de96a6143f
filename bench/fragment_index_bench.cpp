// The page-order index over a full table of 2,000,001 fragments. The reference is a plain
// std::sort of the same entries by StartPage, measured in the same run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>

#include "catalogue/fragment_table.h"

namespace {

std::vector<ravelin::FragmentIndexEntry> MakeEntries(std::size_t n, std::int32_t spread) {
  std::mt19937 rng(1);
  std::vector<ravelin::FragmentIndexEntry> entries(n);
  for (std::size_t i = 0; i < n; ++i) {
    const auto start = static_cast<std::int32_t>(rng() % spread);
    entries[i] = {static_cast<std::int32_t>(i), start, start + 8};
  }
  return entries;
}

void BM_SelectionOrder(benchmark::State& state) {
  const auto entries = MakeEntries(static_cast<std::size_t>(state.range(0)),
                                   static_cast<std::int32_t>(state.range(1)));
  for (auto _ : state) {
    state.PauseTiming();
    auto copy = entries;
    state.ResumeTiming();
    ravelin::SelectionOrder(copy);
    benchmark::DoNotOptimize(copy.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_ReferenceStdSort(benchmark::State& state) {
  const auto entries = MakeEntries(static_cast<std::size_t>(state.range(0)),
                                   static_cast<std::int32_t>(state.range(1)));
  for (auto _ : state) {
    state.PauseTiming();
    auto copy = entries;
    state.ResumeTiming();
    std::sort(copy.begin(), copy.end(),
              [](const auto& a, const auto& b) { return a.StartPage < b.StartPage; });
    benchmark::DoNotOptimize(copy.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_BuildFragmentIndex(benchmark::State& state) {
  ravelin::FragmentTable table;
  for (const auto& e : MakeEntries(static_cast<std::size_t>(state.range(0)),
                                   static_cast<std::int32_t>(state.range(1)))) {
    ravelin::FragmentRow row;
    row.StartPage = e.StartPage;
    row.EndPage = e.EndPage;
    row.SizeKB = 64;
    table.Append(row);
  }
  for (auto _ : state) {
    table.BuildFragmentIndex();
    benchmark::DoNotOptimize(table.FragmentIndex().data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// Many distinct start pages, and a scan of one file where most start pages repeat.
BENCHMARK(BM_SelectionOrder)
    ->Args({2000001, 20000000})
    ->Args({2000001, 1000})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildFragmentIndex)->Args({2000001, 20000000})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReferenceStdSort)
    ->Args({2000001, 20000000})
    ->Args({2000001, 1000})
    ->Unit(benchmark::kMillisecond);

}  // namespace
