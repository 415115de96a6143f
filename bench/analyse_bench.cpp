// The analysis on a generated 1 GiB raw image holding a 100,000-page database among decoys
// (stale pages, another database, another file id), scanned at 8 sectors per cluster:
//
// - ClassifyEveryFragment: ClassifyCandidate for every position of the page-order index
//   against the database's map as the analysis leaves it. Its reference is a plain read
//   (pread, the same requests into the same buffer size) of exactly the bytes the
//   classification read, timed in the same iteration: `x_plain_read` is the classification's
//   time over the plain read's, so 1.0 means it costs nothing beyond reading.
// - WholeAnalysis: the analysis of the database from its header fragment (map reset, header
//   mapped, the sequential search), with the bytes it read.
// - ClassifyEveryFragmentPageByPage: the first, with every page read by a request of its own
//   (block reads refused), to show what reading in blocks buys.
//
// The image is built once into $RAVELIN_BENCH_DIR (/tmp/ravelin-bench) and read from the page
// cache. Run through `scripts/bench analyse`.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include "analysis/chaining.h"
#include "analysis/page_matching.h"
#include "commands/scan_commands.h"
#include "gen/database_generator.h"
#include "gen/image_raw.h"
#include "ports/ui.h"
#include "workspace/workspace.h"

namespace {

using namespace ravelin;

class QuietUi final : public Ui {
 public:
  void ShowMessage(std::string_view, std::string_view, MessageIcon) override {}
  bool AskYesNo(std::string_view, std::string_view) override { return false; }
  void AppendMemo(Memo, std::string_view) override {}
  void ClearMemo(Memo) override {}
  void SetProgress(int) override {}
  void SetStatus(std::string_view) override {}
  std::optional<std::string> OpenFileDialog(std::string_view, std::string_view) override {
    return std::nullopt;
  }
  std::optional<std::string> SaveFileDialog(std::string_view, std::string_view) override {
    return std::nullopt;
  }
  std::optional<std::string> ChooseFolder(std::string_view) override { return std::nullopt; }
  void ProcessMessages() override {}
  void SetClipboardText(std::string_view) override {}
  void Changed(Change) override {}
  void AskSuccessor(SuccessorChoice& dialog) override { dialog.ChoiceResult = kChoiceCancelled; }
};

// Forwards reads and remembers each request, so that the reference can read the same bytes.
class RecordingSource final : public FragmentSource {
 public:
  explicit RecordingSource(FragmentSource& inner) : inner_(inner) {}
  bool ReadSectors(std::uint64_t startSector, std::int64_t offset, std::int32_t count,
                   MutableBytes buffer) override {
    requests.push_back({startSector + static_cast<std::uint64_t>(offset), count});
    bytes += static_cast<std::uint64_t>(count) * kSectorSize;
    return inner_.ReadSectors(startSector, offset, count, buffer);
  }
  bool ReadPages(std::uint64_t startSector, std::int64_t k, std::int32_t count,
                 MutableBytes pages) override {
    requests.push_back({startSector + 16 * static_cast<std::uint64_t>(k), count * 16});
    bytes += static_cast<std::uint64_t>(count) * kPageSize;
    return inner_.ReadPages(startSector, k, count, pages);
  }
  struct Request {
    std::uint64_t sector;
    std::int32_t sectors;
  };
  std::vector<Request> requests;
  std::uint64_t bytes = 0;

 private:
  FragmentSource& inner_;
};

// Refuses block reads, so that every page is read with its own 16-sector request: the cost
// of reading the way the analysis was first described, for comparison.
class PageByPageSource final : public FragmentSource {
 public:
  explicit PageByPageSource(FragmentSource& inner) : inner_(inner) {}
  bool ReadSectors(std::uint64_t startSector, std::int64_t offset, std::int32_t count,
                   MutableBytes buffer) override {
    return inner_.ReadSectors(startSector, offset, count, buffer);
  }
  bool ReadPages(std::uint64_t, std::int64_t, std::int32_t, MutableBytes) override { return false; }

 private:
  FragmentSource& inner_;
};

struct Setup {
  Setup() : ws(ui) {
    const char* dirEnv = std::getenv("RAVELIN_BENCH_DIR");
    const std::string dir = dirEnv ? dirEnv : "/tmp/ravelin-bench";
    std::filesystem::create_directories(dir);
    image = dir + "/analyse-1g.img";
    gen::DatabaseSpec design;
    design.pageCount = 100000;
    design.seed = 7;
    design.generation = 1;
    gen::DatabaseGenerator target(design);
    design.generation = 0;
    gen::DatabaseGenerator older(design);
    gen::Manifest manifest;
    if (!std::filesystem::exists(image) ||
        gen::ReadManifest(image + ".json", manifest).code() != gen::StatusCode::kOk) {
      gen::DatabaseSpec otherDesign;
      otherDesign.pageCount = 20000;
      otherDesign.seed = 8;
      otherDesign.logicalName = "other";
      gen::DatabaseGenerator other(otherDesign);
      otherDesign.fileId = 3;
      gen::DatabaseGenerator otherId(otherDesign);
      gen::RawImageOptions o;
      o.seed = 7;
      o.sectorsPerCluster = 8;
      o.totalSectors = (1ull << 30) / kSectorSize;
      o.fragments = 40;
      o.staleRuns = 20;
      o.otherDatabaseRuns = 20;
      o.otherFileIdRuns = 20;
      o.zeroGapShare = 0.2;
      const gen::Status built =
          gen::BuildRawImage(target, {nullptr, &older, &other, &otherId}, o, image, manifest);
      if (!built.ok() || !gen::WriteManifest(manifest, image + ".json").ok()) std::abort();
    }
    for (const auto& f : manifest.FragmentsOf(manifest.TargetFile()))
      if (f.firstPage == 0) headerSector = f.startSector;

    ws.source().SourceChosen = true;
    ws.source().SourcePath = image;
    ws.source().TotalSectors = manifest.totalSectors;
    ws.source().SectorLimit = manifest.totalSectors;
    ws.controls().tab1.edtbegin = std::string("0");
    ws.controls().tab1.edtend = std::to_string(manifest.totalSectors);
    ws.controls().tab1.edtsecs = std::string("8");
    ws.controls().tab1.chkfreespace = false;
    ws.ScanStopped() = false;
    if (ScanDataSource(ws).outcome != JobOutcome::kCompleted) std::abort();
    for (std::size_t i = 0; i < ws.fragments().Count(); ++i)
      if (ws.fragments().Row(i).StartSector == headerSector) header = ws.fragments().Row(i);
    if (Analyse(ws.Fragments()) != AnalysisOutcome::kChained) std::abort();
    fd = ::open(image.c_str(), O_RDONLY | O_CLOEXEC);
  }
  ~Setup() { ::close(fd); }

  AnalysisOutcome Analyse(FragmentSource& source) {
    // Nothing else runs: the lock is only what a change of the table takes.
    MutexLock lock(ws.tableLock);
    ws.LockedFragments().FragmentChosen().assign(ws.fragments().Count(), 0);
    VectorChosenMarks marks(ws.LockedFragments().FragmentChosen());
    NullReporter reporter;
    const AnalysisInputs in{ws.fragments(), source, {8, 1}, nullptr, nullptr};
    AnalysisOutputs out{ws.pageMap(), ws.FilePageCount(), ws.DatabaseFileName(), marks};
    return AnalyseHeaderFragment({header.StartSector, header.Pages()}, in, out, reporter);
  }

  QuietUi ui;
  Workspace ws;
  std::string image;
  std::uint64_t headerSector = 0;
  FragmentRow header;
  int fd = -1;
};

Setup& Get() {
  static Setup setup;
  return setup;
}

void BM_ClassifyEveryFragment(benchmark::State& state) {
  Setup& s = Get();
  NullReporter reporter;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(kMaxBlockPages) * kPageSize);
  double classifySeconds = 0;
  double readSeconds = 0;
  std::uint64_t bytes = 0;
  std::int64_t belonging = 0;
  for (auto _ : state) {
    RecordingSource source(s.ws.Fragments());
    PageMapper mapper(s.ws.pageMap(), source, {8, 1}, reporter);
    const auto t0 = std::chrono::steady_clock::now();
    belonging = 0;
    for (std::int32_t p = 0; p < s.ws.fragments().FragmentCount(); ++p)
      belonging += mapper.ClassifyCandidate(s.ws.fragments(), p) == Candidate::kBelongs;
    const auto t1 = std::chrono::steady_clock::now();
    state.PauseTiming();
    // The reference: the same requests, plain pread into a buffer of the same size.
    const auto r0 = std::chrono::steady_clock::now();
    for (const auto& req : source.requests) {
      const auto n = static_cast<std::size_t>(req.sectors) * kSectorSize;
      if (::pread(s.fd, buffer.data(), n, static_cast<off_t>(req.sector * kSectorSize)) < 0)
        state.SkipWithError("pread failed");
    }
    const auto r1 = std::chrono::steady_clock::now();
    state.ResumeTiming();
    classifySeconds += std::chrono::duration<double>(t1 - t0).count();
    readSeconds += std::chrono::duration<double>(r1 - r0).count();
    bytes += source.bytes;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
  state.counters["fragments"] = s.ws.fragments().FragmentCount();
  state.counters["belonging"] = static_cast<double>(belonging);
  state.counters["read_MB_per_pass"] =
      static_cast<double>(bytes) / 1e6 / static_cast<double>(state.iterations());
  state.counters["plain_read_MB/s"] = static_cast<double>(bytes) / 1e6 / readSeconds;
  state.counters["x_plain_read"] = classifySeconds / readSeconds;
}
BENCHMARK(BM_ClassifyEveryFragment)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ClassifyEveryFragmentPageByPage(benchmark::State& state) {
  Setup& s = Get();
  NullReporter reporter;
  for (auto _ : state) {
    PageByPageSource pages(s.ws.Fragments());
    RecordingSource source(pages);
    PageMapper mapper(s.ws.pageMap(), source, {8, 1}, reporter);
    for (std::int32_t p = 0; p < s.ws.fragments().FragmentCount(); ++p)
      benchmark::DoNotOptimize(mapper.ClassifyCandidate(s.ws.fragments(), p));
  }
}
BENCHMARK(BM_ClassifyEveryFragmentPageByPage)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WholeAnalysis(benchmark::State& state) {
  Setup& s = Get();
  std::uint64_t bytes = 0;
  for (auto _ : state) {
    RecordingSource source(s.ws.Fragments());
    if (s.Analyse(source) != AnalysisOutcome::kChained) state.SkipWithError("not chained");
    bytes += source.bytes;
  }
  std::int64_t chained = 0;
  for (const std::int32_t c : s.ws.fragments().FragmentChosen()) chained += c == 1;
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
  state.counters["chained"] = static_cast<double>(chained);
  state.counters["file_pages"] = s.ws.FilePageCount();
}
BENCHMARK(BM_WholeAnalysis)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
