// The Workspace: the one instance of every table, record and option the recovery works
// on. The window owns one; the command line and every test make their own, so nothing is
// global and each test starts clean.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "analysis/page_map.h"
#include "catalogue/fragment_table.h"
#include "catalogue/stored_content.h"
#include "datasource/data_source.h"
#include "datasource/discovery.h"
#include "datasource/free_space_map.h"
#include "datasource/sector_reader.h"
#include "scan/jobs.h"
#include "workspace/controls.h"
#include "workspace/report_list.h"
#include "workspace/ui.h"

namespace ravelin {

inline constexpr char kJobRunningMessage[] = "任务正在运行，请稍候(a job is running)";

// Column layout shared by list II and the Assembly list.
ReportList MakeFragmentListView();

class Workspace {
 public:
  // `opener` is the road to the disk: the system's files and devices by default, in-memory
  // or fault-injecting ones in tests.
  explicit Workspace(Ui& ui, DeviceOpener opener = OpenSystemDevice);
  // Stops a running scan and waits for every job thread before anything is destroyed.
  ~Workspace();
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;

  Ui& ui() { return ui_; }
  // Opens sources for readers of our own (the scan's read-ahead thread has one).
  const DeviceOpener& opener() const { return opener_; }

  DataSource source;
  SectorReader reader;
  Controls controls;

  std::uint16_t CurrentFileId = 1;

  FragmentTable fragments;
  ReportList ListView2;  // the fragment list of tab II
  ReportList ListView3;  // the database files of tab III
  ReportList ListView4;  // the Assembly list of tab IV
  int SortColumn = 0;    // shared by list II and the Assembly list

  PageMap pageMap;
  std::int32_t FilePageCount = 0;
  std::string DatabaseFileName = "c:\\noname.mdf";

  std::atomic<bool> ScanStopped{true};

  // The data-source menu: its disk entries (DiskCaptions, each with its disk number) and
  // its partition entries (PartitionCaptions, numbered from 1), filled by ListDataSources.
  std::vector<DiskEntry> DiskCaptions;
  std::vector<PartitionEntry> PartitionCaptions;
  // Read by ReadStoredSectors while source.LiveSource is false; indexed from the rows each
  // time a content file or a row file is opened.
  StoredContent storedContent;
  FreeSpaceMap freeSpaceMap;
  // The scan asks the kernel for its next window while it tests the current one.
  bool scanReadAhead = true;
  // How the last scan ended, and how far a scan has come (sector; for progress displays
  // that want more than the gauge's percent; its end sector once it completes). Written by
  // the scan job.
  enum class ScanOutcome { kNone, kCompleted, kStopped, kFailed };
  std::atomic<ScanOutcome> lastScanOutcome{ScanOutcome::kNone};
  std::atomic<std::int64_t> scanPosition{0};
  JobRunner jobs;

  // A job (scan or analysis) has been started and has not finished. Operations that read
  // sectors or change the lists are refused meanwhile.
  bool JobRunning() const { return jobs.Busy(); }

  // Reads CurrentFileId from the Edit2 text: its integer value, low 16 bits.
  // Returns false (and keeps the old value) when the text is not an integer.
  bool ReadCurrentFileId();

 private:
  DeviceOpener opener_;
  Ui& ui_;
};

// Shows kJobRunningMessage and returns true while a scan or analysis job runs: commands that
// read sectors, change the lists or change the source call it first.
bool RefuseWhileJobRuns(Workspace& ws);

// The runtime's message for an edit whose text is not a decimal integer.
std::string NotAnIntegerMessage(const std::string& text);

}  // namespace ravelin
