#include "scan/scan_engine.h"

#include <algorithm>
#include <ctime>

#include "catalogue/fragment_table.h"
#include "common/text.h"
#include "scan/block_window.h"
#include "scan/page_format.h"
#include "workspace/workspace.h"

namespace ravelin {
namespace {

constexpr std::int64_t kPage = static_cast<std::int64_t>(kSectorsPerPage);  // 16 sectors

std::int32_t PageNumberOf(const PageHeader& header) {
  return static_cast<std::int32_t>(DecodeFixed32(header.data() + page_header::kPageNumber));
}

HeaderView View(const PageHeader& header) { return HeaderView(header.data(), header.size()); }

__extension__ typedef __int128 Int128;  // position x 100 overflows 64 bits on huge sources

// position x 100 / end to the nearest whole number, halves to even.
int Percent(std::int64_t position, std::int64_t end) {
  if (end <= 0) return 0;
  const Int128 scaled = static_cast<Int128>(position) * 100;
  Int128 q = scaled / end;
  const Int128 r2 = 2 * (scaled % end);
  if (r2 > end || (r2 == end && (q & 1))) ++q;
  return static_cast<int>(q);
}

class Scan {
 public:
  Scan(Workspace& ws, const ScanSettings& settings)
      : ws_(ws),
        ui_(ws.ui()),
        // Positions past the source's last sector hold nothing to find: an end typed beyond
        // it would only log a read error for each of them.
        end_(static_cast<std::int64_t>(std::min<std::uint64_t>(
            static_cast<std::uint64_t>(std::max<std::int64_t>(settings.end, 0)),
            std::min<std::uint64_t>(ws.reader.ReadableEnd(), INT64_MAX)))),
        step_(settings.step),
        position_(settings.start),
        freeSpaceOnly_(ws.controls.tab1.chkfreespace),
        window_(ws.source, ws.opener(), ws.reader, ws.scanReadAhead) {}

  // Returns true when the scan reached the end sector.
  bool Run();

 private:
  void Log(const std::string& line) { ui_.AppendMemo(Memo::kMemo1, line); }
  void Advance() { position_ += step_; }
  int Header(bool advance, std::int64_t sector) {
    return window_.GetPageHeader(header_, advance, windowLength_,
                                 static_cast<std::uint64_t>(sector), end_);
  }
  void RunFromPageZero();
  void RunFromMiddle();

  Workspace& ws_;
  Ui& ui_;
  const std::int64_t end_;
  const std::int64_t step_;
  std::int64_t position_;
  const bool freeSpaceOnly_;
  BlockWindow window_;
  PageHeader header_{};
  std::int64_t windowLength_ = kBlockSectors;
  std::int64_t lastRunEnd_ = 0;
  std::int32_t fragmentCount_ = 0;
};

bool Scan::Run() {
  if (!window_.FillFirst(static_cast<std::uint64_t>(position_), kBlockSectors, end_)) {
    Log("512error1sec" + std::to_string(position_));
    return false;
  }
  int shownPercent = -1;
  // The gauge is worked out every thousandth of the way and told only when its value
  // changes: a scan visits millions of positions.
  const std::int64_t progressStride = std::max<std::int64_t>(1, (end_ - position_) / 1000);
  std::int64_t nextProgress = position_;
  while (position_ < end_) {
    if (position_ >= nextProgress) {
      const int percent = Percent(position_, end_);
      if (percent != shownPercent) {
        ui_.SetProgress(percent);
        shownPercent = percent;
      }
      ws_.scanPosition.store(position_, std::memory_order_relaxed);
      nextProgress = position_ + progressStride;
    }
    if (ws_.ScanStopped.load(std::memory_order_relaxed)) {
      ui_.SetStatus("已停止扫描");
      return false;
    }
    if (freeSpaceOnly_ && ws_.freeSpaceMap.IsClusterInUse(static_cast<std::uint64_t>(position_))) {
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
    } else if (IsFileHeaderPage(View(header_), ws_.CurrentFileId)) {
      RunFromPageZero();
    } else if (IsDataPageHeader(View(header_), ws_.CurrentFileId)) {
      RunFromMiddle();
    }
    Advance();
  }
  ws_.scanPosition.store(end_, std::memory_order_relaxed);  // the whole range was scanned
  return true;
}

void Scan::RunFromPageZero() {
  const std::int64_t runStart = position_;
  if (const int code = Header(false, position_ + kPage); code != 0) {
    Log("512error" + std::to_string(code) + "sec" + std::to_string(position_ + kPage));
    return;
  }
  if (!IsPfsPageHeader(View(header_), ws_.CurrentFileId)) return;
  std::int32_t pages = 0;
  std::int32_t expected = 0;
  lastRunEnd_ = runStart;
  do {
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
  } while (IsExpectedPage(ws_.CurrentFileId, expected, View(header_), ws_.CurrentFileId));
  ++fragmentCount_;
  AddFragment(ws_, fragmentCount_, pages, 0, static_cast<std::uint64_t>(runStart));
}

void Scan::RunFromMiddle() {
  const std::int64_t runStart = position_;
  const std::int32_t firstPage = PageNumberOf(header_);
  std::int32_t expected = firstPage;
  std::int32_t pages = 0;
  lastRunEnd_ = runStart;
  do {
    lastRunEnd_ += kPage;
    ++expected;
    ++pages;
    if (lastRunEnd_ >= end_) break;
    if (const int code = Header(true, lastRunEnd_); code != 0) {
      // The stale header fails the next test, which ends the run here.
      Log("8192error" + std::to_string(code) + "sec" + std::to_string(lastRunEnd_));
      Advance();
    }
  } while (IsExpectedPage(ws_.CurrentFileId, expected, View(header_), ws_.CurrentFileId));

  FragmentTable& table = ws_.fragments;
  if (fragmentCount_ > 0 && !table.Empty()) {
    const FragmentRow& last = table.Row(table.Count() - 1);
    const auto prevStart = static_cast<std::int64_t>(last.StartSector);
    const auto prevEnd = static_cast<std::int64_t>(last.EndSector);
    const std::int64_t prevPage = last.StartPage;
    const std::int64_t gap = runStart - prevEnd;
    const bool continuesNumbering =
        runStart - prevStart == (static_cast<std::int64_t>(firstPage) - prevPage) * kPage;
    if (gap > 0 && continuesNumbering && gap <= kMaxMergeGap) {
      // One fragment from the previous start page to the end of this run, gap included.
      const auto merged = static_cast<std::int32_t>(pages + (firstPage - prevPage));
      std::optional<std::string> inherited;
      if (prevPage == 0) inherited = last.Remark;
      const auto startPage = static_cast<std::int32_t>(prevPage);
      const auto startSector = static_cast<std::uint64_t>(prevStart);
      table.RemoveLast();
      ws_.ListView2.RemoveLast();
      AddFragment(ws_, fragmentCount_, merged, startPage, startSector, inherited);
      return;
    }
  }
  ++fragmentCount_;
  AddFragment(ws_, fragmentCount_, pages, firstPage, static_cast<std::uint64_t>(runStart));
}

}  // namespace

std::string NowText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::optional<ScanSettings> ReadScanSettings(const Workspace& ws, std::string* error) {
  const Tab1Controls& tab1 = ws.controls.tab1;
  auto fail = [&](const char* message) -> std::optional<ScanSettings> {
    if (error) *error = message;
    return std::nullopt;
  };
  const auto start = ParseInteger(tab1.edtbegin);
  if (!start) return fail("开始扇区必须是整数");
  const auto end = ParseInteger(tab1.edtend);
  if (!end) return fail("结束扇区必须是整数");
  const auto step = ParseInteger(tab1.edtsecs);
  if (!step) return fail("每簇扇区数必须是整数");
  if (*step <= 0) return fail("每簇扇区数必须大于0");
  if (*start < 0) return fail("开始扇区不能小于0");
  if (tab1.CheckBox1 && !ParseInteger<std::int32_t>(tab1.edtmaxpageid))
    return fail("开始页面号小于: 必须是整数");
  return ScanSettings{*start, *end, *step};
}

void ScanDataSource(Workspace& ws) {
  Ui& ui = ws.ui();
  Tab1Controls& tab1 = ws.controls.tab1;
  tab1.optionsEnabled = false;
  tab1.chkfreespaceEnabled = false;
  ui.Changed(Change::kControls);
  ui.ClearMemo(Memo::kMemo1);

  // However the job ends, no scan is running afterwards.
  using Outcome = Workspace::ScanOutcome;
  ws.lastScanOutcome = Outcome::kFailed;
  struct Idle {
    Workspace& ws;
    ~Idle() { ws.ScanStopped.store(true); }
  } idle{ws};

  if (ws.source.HasFileSystem && tab1.chkfreespace) {
    ui.AppendMemo(Memo::kMemo1, "正在取分区存储位图" + NowText());
    if (ws.freeSpaceMap.BuildFreeSpaceMap(ws.source, ws.reader, ui) != 0) {
      ui.ShowMessage("生成存储位图失败");
      return;
    }
  }
  ui.AppendMemo(Memo::kMemo1, "开始扫描" + NowText());
  ui.SetStatus("开始扫描");

  std::string error;
  auto settings = ReadScanSettings(ws, &error);
  if (!settings) return;  // refused before the job started; nothing to scan
  ws.source.SectorsPerCluster = static_cast<std::int16_t>(settings->step);
  if (settings->step >= 32) settings->step = 16;

  ws.scanPosition = settings->start;
  Scan scan(ws, *settings);
  if (!scan.Run()) {
    if (ws.ScanStopped) ws.lastScanOutcome = Outcome::kStopped;
    return;
  }
  ui.AppendMemo(Memo::kMemo1, "完成" + NowText());
  ui.SetStatus("完成");
  ws.fragments.BuildFragmentIndex();
  ws.lastScanOutcome = Outcome::kCompleted;
  ui.Changed(Change::kFragmentList);
}

}  // namespace ravelin
