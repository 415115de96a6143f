#include "scan/scan_engine.h"

#include <algorithm>
#include <limits>

#include "catalogue/fragment_rows.h"
#include "common/messages.h"
#include "common/rounding.h"
#include "page/page_format.h"
#include "scan/block_window.h"

namespace ravelin {
namespace {

constexpr std::int64_t kPage = static_cast<std::int64_t>(kSectorsPerPage);  // 16 sectors
constexpr std::int64_t kLargestPageId = std::numeric_limits<std::int32_t>::max();

std::int32_t PageNumberOf(const PageHeader& header) {
  return static_cast<std::int32_t>(DecodeFixed32(header.data() + page_header::kPageNumber));
}

HeaderView View(const PageHeader& header) { return HeaderView(header.data(), header.size()); }

class Scan {
 public:
  Scan(const ScanSettings& settings, std::int64_t end, const DataSource& source,
       const DeviceOpener& opener, SectorReader& reader, const FreeSpaceMap& freeSpace,
       const std::atomic<bool>& stop, FragmentSink& sink, Reporter& reporter,
       ScanCheckpoints* checkpoints)
      : settings_(settings),
        end_(end),
        step_(settings.step >= 32 ? 16 : settings.step),
        position_(settings.start),
        freeSpace_(freeSpace),
        stop_(stop),
        sink_(sink),
        reporter_(reporter),
        checkpoints_(checkpoints),
        reader_(reader),
        window_(source, opener, reader, settings.readAhead) {
    if (settings.resumeFrom) {
      position_ = settings.resumeFrom->position;
      lastRunEnd_ = settings.resumeFrom->lastRunEnd;
      fragmentCount_ = settings.resumeFrom->fragmentCount;
    }
  }

  ScanOutcome Run();
  ScanPoint Point() const { return {position_, lastRunEnd_, fragmentCount_}; }

 private:
  void Log(const std::string& line) { reporter_.Log(line); }
  void Advance() { position_ += step_; }
  int Header(bool advance, std::int64_t sector) {
    return window_.GetPageHeader(header_, advance, windowLength_,
                                 static_cast<std::uint64_t>(sector), end_);
  }
  bool Expected(std::int64_t pageNumber) const {
    // A page id is 32 bits: a run cannot go on past the largest one.
    if (pageNumber > kLargestPageId) return false;
    return IsExpectedPage(settings_.fileId, static_cast<std::int32_t>(pageNumber), View(header_),
                          settings_.fileId);
  }
  // The page at `sector` is counted into the run: the sink may keep what it needs of it.
  void Keep(std::int64_t sector) {
    if (const std::uint8_t* page = window_.WholePage(static_cast<std::uint64_t>(sector)))
      sink_.KeepPage(static_cast<std::uint64_t>(sector), PageView(page, kPageSize));
  }
  void Record(std::int64_t pages, std::int32_t startPage, std::uint64_t startSector,
              const std::optional<std::string>& inheritedRemark = std::nullopt);
  void RunFromPageZero();
  void RunFromMiddle();

  const ScanSettings& settings_;
  const std::int64_t end_;
  const std::int64_t step_;
  std::int64_t position_;
  const FreeSpaceMap& freeSpace_;
  const std::atomic<bool>& stop_;
  FragmentSink& sink_;
  Reporter& reporter_;
  ScanCheckpoints* const checkpoints_;
  SectorReader& reader_;
  BlockWindow window_;
  PageHeader header_{};
  std::int64_t windowLength_ = kBlockSectors;
  std::int64_t lastRunEnd_ = 0;
  std::int32_t fragmentCount_ = 0;
};

ScanOutcome Scan::Run() {
  // A scan resumed at its end has nothing left to read; the first window of one resumed
  // elsewhere starts where it goes on (the headers are the same whichever window holds them).
  const bool resumedAtEnd = settings_.resumeFrom && position_ >= end_;
  if (!resumedAtEnd &&
      !window_.FillFirst(static_cast<std::uint64_t>(position_), kBlockSectors, end_)) {
    Log("512error1sec" + std::to_string(position_));
    return ScanOutcome::kFailed;
  }
  int shownPercent = -1;
  // The gauge is worked out every thousandth of the way and told only when its value
  // changes: a scan visits millions of positions.
  const std::int64_t progressStride = std::max<std::int64_t>(1, (end_ - position_) / 1000);
  std::int64_t nextProgress = position_;
  const std::int64_t checkpointStride = std::max<std::int64_t>(1, settings_.checkpointStride);
  std::int64_t nextCheckpoint = position_ + checkpointStride;
  while (position_ < end_) {
    if (position_ >= nextProgress) {
      const int percent = PercentOf(position_, end_);
      if (percent != shownPercent) {
        reporter_.Progress(percent);
        shownPercent = percent;
      }
      reporter_.Position(position_, end_);
      nextProgress = position_ + progressStride;
    }
    if (stop_.load(std::memory_order_relaxed)) {
      reporter_.Status(Text(TextId::kScanStopped));
      return ScanOutcome::kStopped;
    }
    // Here, between two candidate positions, no run is open: the rows and the point are all
    // there is to the scan.
    if (checkpoints_ && position_ >= nextCheckpoint) {
      checkpoints_->Reached(Point());
      nextCheckpoint = position_ + checkpointStride;
    }
    if (settings_.freeSpaceOnly &&
        freeSpace_.IsClusterInUse(static_cast<std::uint64_t>(position_))) {
      Advance();
      continue;
    }
    // Positions inside the last run were examined by it.
    std::int64_t limit = lastRunEnd_;
    if (lastRunEnd_ > 0 && step_ < kPage) limit = lastRunEnd_ - kPage + step_;
    if (position_ < limit) {
      Advance();
      continue;
    }
    // Every header test wants m_headerVersion 1: most positions end here, read in place.
    if (const auto first = window_.PeekFirstByte(static_cast<std::uint64_t>(position_));
        first && *first != 1) {
      Advance();
      continue;
    }
    const std::int64_t left = end_ - position_;
    windowLength_ = (left > 0 && left < kBlockSectors) ? left : kBlockSectors;
    if (const int code = Header(true, position_); code != 0) {
      Log("512error" + std::to_string(code) + "sec" + std::to_string(position_));
    } else if (IsFileHeaderPage(View(header_), settings_.fileId)) {
      RunFromPageZero();
    } else if (IsDataPageHeader(View(header_), settings_.fileId)) {
      RunFromMiddle();
    }
    Advance();
  }
  position_ = end_;  // the whole range was scanned
  if (shownPercent != 100 && end_ > 0) reporter_.Progress(100);
  reporter_.Position(position_, end_);
  return ScanOutcome::kCompleted;
}

void Scan::Record(std::int64_t pages, std::int32_t startPage, std::uint64_t startSector,
                  const std::optional<std::string>& inheritedRemark) {
  // The counter has advanced all the same: numbers then have gaps where rows were left out.
  if (settings_.startPageBelow && startPage >= *settings_.startPageBelow) return;
  if (auto row = MakeFragmentRow(fragmentCount_, pages, startPage, startSector, inheritedRemark,
                                 reader_, reporter_)) {
    sink_.Append(std::move(*row));
  }
}

void Scan::RunFromPageZero() {
  const std::int64_t runStart = position_;
  if (const int code = Header(false, position_ + kPage); code != 0) {
    Log("512error" + std::to_string(code) + "sec" + std::to_string(position_ + kPage));
    return;
  }
  if (!IsPfsPageHeader(View(header_), settings_.fileId)) return;
  std::int64_t pages = 0;
  std::int64_t expected = 0;
  lastRunEnd_ = runStart;
  do {
    Keep(lastRunEnd_);
    ++pages;
    lastRunEnd_ += kPage;
    if (lastRunEnd_ >= end_) break;
    if (const int code = Header(true, lastRunEnd_); code == 0) {
      ++expected;
    } else {
      // The unreadable page counts into the run: the previous header and number stay.
      Log("8192errorhead" + std::to_string(code) + "sec" + std::to_string(lastRunEnd_));
      Advance();
    }
  } while (Expected(expected));
  ++fragmentCount_;
  Record(pages, 0, static_cast<std::uint64_t>(runStart));
}

void Scan::RunFromMiddle() {
  const std::int64_t runStart = position_;
  const std::int64_t firstPage = PageNumberOf(header_);
  std::int64_t expected = firstPage;
  std::int64_t pages = 0;
  lastRunEnd_ = runStart;
  do {
    Keep(lastRunEnd_);
    lastRunEnd_ += kPage;
    ++expected;
    ++pages;
    if (lastRunEnd_ >= end_) break;
    if (const int code = Header(true, lastRunEnd_); code != 0) {
      // The stale header fails the next test, which ends the run here.
      Log("8192error" + std::to_string(code) + "sec" + std::to_string(lastRunEnd_));
      Advance();
    }
  } while (Expected(expected));

  const FragmentRow* last = fragmentCount_ > 0 ? sink_.Last() : nullptr;
  if (last) {
    const auto prevStart = static_cast<std::int64_t>(last->StartSector);
    const auto prevEnd = static_cast<std::int64_t>(last->EndSector);
    const std::int64_t prevPage = last->StartPage;
    const std::int64_t gap = runStart - prevEnd;
    const bool continuesNumbering = runStart - prevStart == (firstPage - prevPage) * kPage;
    if (gap > 0 && continuesNumbering && gap <= kMaxMergeGap) {
      // The gap's pages become pages of the fragment: kept too, where the window still
      // holds them.
      for (std::int64_t sector = prevEnd; sector < runStart; sector += kPage) Keep(sector);
      // One fragment from the previous start page to the end of this run, gap included.
      const std::int64_t merged = pages + (firstPage - prevPage);
      std::optional<std::string> inherited;
      if (prevPage == 0) inherited = last->Remark;
      const auto startPage = static_cast<std::int32_t>(prevPage);
      const auto startSector = static_cast<std::uint64_t>(prevStart);
      sink_.RemoveLast();
      Record(merged, startPage, startSector, inherited);
      return;
    }
  }
  ++fragmentCount_;
  Record(pages, static_cast<std::int32_t>(firstPage), static_cast<std::uint64_t>(runStart));
}

}  // namespace

std::int64_t ClampedScanEnd(std::int64_t end, const SectorReader& reader) {
  return static_cast<std::int64_t>(
      std::min<std::uint64_t>(static_cast<std::uint64_t>(std::max<std::int64_t>(end, 0)),
                              std::min<std::uint64_t>(reader.ReadableEnd(), INT64_MAX)));
}

ScanResult ScanSource(const ScanSettings& settings, const DataSource& source,
                      const DeviceOpener& opener, SectorReader& reader,
                      const FreeSpaceMap& freeSpace, const std::atomic<bool>& stop,
                      FragmentSink& sink, Reporter& reporter, ScanCheckpoints* checkpoints) {
  ScanResult result;
  result.end = ClampedScanEnd(settings.end, reader);
  Scan scan(settings, result.end, source, opener, reader, freeSpace, stop, sink, reporter,
            checkpoints);
  result.outcome = scan.Run();
  result.reached = scan.Point();
  result.position = result.reached.position;
  return result;
}

}  // namespace ravelin
