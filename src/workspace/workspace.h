// The Workspace: the one instance of every table, record and option the recovery works
// on. The window owns one; the command line and every test make their own, so nothing is
// global and each test starts clean.
//
// Threads: while a job runs it is the only writer of the tables it fills (the fragment
// table and list II for the scan; the page map, FragmentChosen, the Assembly list for the
// analysis), and it takes tableLock around each change. Any other thread reads those tables
// only through the snapshots below, which take the same lock. While no job runs, the
// window's thread is the only writer.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "analysis/page_map.h"
#include "assembly/assembly_list.h"
#include "catalogue/fragment_source.h"
#include "catalogue/fragment_table.h"
#include "catalogue/page_facts.h"
#include "catalogue/stored_content.h"
#include "common/mutex.h"
#include "common/thread_annotations.h"
#include "datasource/counting_device.h"
#include "datasource/data_source.h"
#include "datasource/discovery.h"
#include "datasource/free_space_map.h"
#include "datasource/sector_reader.h"
#include "output/output_file.h"
#include "ports/controls.h"
#include "ports/report_list.h"
#include "ports/successor_choice.h"
#include "ports/ui.h"
#include "workspace/jobs.h"

namespace ravelin {

class Workspace {
  // Counts what every reader of the source reads through the opener (declared first: the
  // reader below is made with the counting opener).
  std::shared_ptr<ReadCounter> sourceReads_ = std::make_shared<ReadCounter>();

 public:
  // `opener` is the road to the disk: the system's files and devices by default, in-memory
  // or fault-injecting ones in tests.
  explicit Workspace(Ui& ui, DeviceOpener opener = OpenSystemDevice);
  // Stops a running job and waits for every job thread before anything is destroyed.
  ~Workspace();
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;

  Ui& ui() { return ui_; }
  // Opens sources and files for readers of our own (the scan's window, the content file).
  const DeviceOpener& opener() const { return opener_; }
  // Bytes read so far from the sources and content files opened through opener(), by every
  // reader: what a run costs the disk.
  std::uint64_t SourceBytesRead() const { return sourceReads_->Bytes(); }

  // ---- The source. Chosen and changed on the window's thread while no job runs (the source
  // menu refuses while one does); a running job reads it and changes nothing but the cluster
  // size it was started with.
  DataSource& source() { return source_; }
  const DataSource& source() const { return source_; }
  SectorReader& reader() { return reader_; }
  // Serves fragment reads while source().LiveSource is false; indexed from the rows each
  // time a content file or a row file is opened.
  StoredContent& storedContent() { return storedContent_; }
  const StoredContent& storedContent() const { return storedContent_; }
  FreeSpaceMap& freeSpaceMap() { return freeSpaceMap_; }
  // Where fragment pages come from now: the source, or the opened content file.
  FragmentSource& Fragments();

  // What the scan kept of the pages it accepted, for the steps that decide: filled by the
  // scan job while it runs (or from a saved scan's side file on the window's thread), read
  // by the analysis, the search and the check. Facts are those of one origin: the source
  // they were read from (its path and size), or the content file they were saved with. The
  // store is read only while its origin is the one pages come from now.
  PageFacts& Facts() { return pageFacts_; }
  // The origin of the pages read now: the chosen source, or the opened content file.
  std::string FactsOrigin() const;
  // The store for a scan of the chosen source: emptied first when it holds another origin's.
  PageFacts& FactsForScan();
  // Fragment pages for the analysis, the search and the check: the kept facts where they
  // hold a page of the current origin, the rest as Fragments() reads it. The writer and the
  // extractions read Fragments().
  FragmentSource& DecidingFragments();

  // ---- The window's thread only (the command line's main thread): the controls, the menus
  // and what the handlers remember between clicks. A job gets what it needs from them as
  // parameters when it starts.
  Controls& controls() { return controls_; }
  const Controls& controls() const { return controls_; }
  std::uint16_t& CurrentFileId() { return currentFileId_; }
  std::uint16_t CurrentFileId() const { return currentFileId_; }
  int& SortColumn() { return sortColumn_; }  // shared by list II and the Assembly list
  // False for a run without a window (the command line): list II and the Assembly list keep
  // no display items. List II is then the table's shown rows, and the Assembly list is
  // assembly(); their items are made when asked for (commands/workspace_*.h). Set before
  // any job starts.
  bool showsLists() const { return showsLists_; }
  void SetShowsLists(bool shows) { showsLists_ = shows; }
  // A tab IV operation (check, search, writing the MDF) is running on the window's thread,
  // which handles messages meanwhile: a second one must not start.
  bool& tab4Busy() { return tab4Busy_; }
  // The data-source menu: its disk entries (DiskCaptions, each with its disk number) and
  // its partition entries (PartitionCaptions, numbered from 1), filled by ListDataSources.
  std::vector<DiskEntry>& DiskCaptions() { return diskCaptions_; }
  std::vector<PartitionEntry>& PartitionCaptions() { return partitionCaptions_; }
  // The partitions of the whole-disk image chosen last, offered after the image's entry
  // (ImagePartitionCaptions' `number` is the partition's number in the image's table).
  std::string& ImagePartitionsOf() { return imagePartitionsOf_; }
  std::vector<PartitionEntry>& ImagePartitionCaptions() { return imagePartitionCaptions_; }
  // The scan-info row file opened last (an input no output may replace); empty when none.
  std::string& rowFilePath() { return rowFilePath_; }
  const std::string& rowFilePath() const { return rowFilePath_; }
  // The system calls outputs are written through; tests hand in failing ones. Null: the
  // system's.
  const OutputOps* outputOps() const { return outputOps_; }
  void SetOutputOps(const OutputOps* ops) { outputOps_ = ops; }

  // ---- The tables other threads snapshot: the fragment table and the three lists. Their
  // owner is the job that fills them while it runs (the scan: the fragment table and list II;
  // the analysis: FragmentChosen and the Assembly list), else the window's thread. The owner
  // reads them here without a lock; every change goes through LockedFragments() and
  // LockedList(), which need tableLock, so that the compiler finds a change made without it.
  // Any other thread reads them only through SnapshotFragments() and SnapshotList().
  const FragmentTable& fragments() const { return fragments_; }
  const ReportList& ListView2() const { return listView2_; }  // the fragment list of tab II
  const ReportList& ListView3() const { return listView3_; }  // the database files of tab III
  const ReportList& ListView4() const { return listView4_; }  // the Assembly list of tab IV
  // The Assembly list of a run without a window: the same owner, and no other thread reads it.
  const AssemblyOrder& assembly() const { return assembly_; }
  FragmentTable& LockedFragments() REQUIRES(tableLock) { return fragments_; }
  AssemblyOrder& LockedAssembly() REQUIRES(tableLock) { return assembly_; }
  // `list` is one of ListView2(), ListView3() and ListView4().
  ReportList& LockedList(const ReportList& list) REQUIRES(tableLock);

  // Taken by a job around each change of a table it fills, and by other threads around
  // each snapshot. Never held across a question to the person.
  mutable Mutex tableLock;

  // Snapshots for readers on other threads (the window's list models): what changed since
  // the reader's cursor, copied under tableLock.
  FragmentTable::Snapshot SnapshotFragments(RowChanges::Cursor& cursor) const EXCLUDES(tableLock);
  ReportList::Snapshot SnapshotList(const ReportList& list, RowChanges::Cursor& cursor) const
      EXCLUDES(tableLock);

  // ---- The file under analysis: its page map, page count and physical name, the pages
  // taken from another copy, and the successor question. Written only by the analysis job
  // while it runs (and by the search for missing fragments, on the window's thread, while
  // none runs); read by tab IV and the command line while no job runs.
  PageMap& pageMap() { return pageMap_; }
  const PageMap& pageMap() const { return pageMap_; }
  std::int32_t& FilePageCount() { return filePageCount_; }
  std::int32_t FilePageCount() const { return filePageCount_; }
  std::string& DatabaseFileName() { return databaseFileName_; }
  const std::string& DatabaseFileName() const { return databaseFileName_; }
  // Pages taken from fragments another copy of the database left, ascending.
  std::vector<std::int64_t>& VersionUncertainPages() { return versionUncertainPages_; }
  const std::vector<std::int64_t>& VersionUncertainPages() const { return versionUncertainPages_; }
  // The successor choice dialog of the current analysis (Tfrmuserchoose).
  SuccessorChoice& frmuserchoose() { return frmuserchoose_; }

  // ---- Any thread: flags that are atomic, and the job runner, which locks for itself.
  std::atomic<bool>& ScanStopped() { return scanStopped_; }
  // A manual analysis is running on the window's thread (it handles messages while it asks).
  std::atomic<bool>& AnalysisOnWindowThread() { return analysisOnWindowThread_; }
  // Set when the Workspace is being destroyed: long jobs that check it end early.
  std::atomic<bool>& Closing() { return closing_; }
  JobRunner& jobs() { return jobs_; }

  // A job (scan or analysis) has been started and has not finished. Operations that read
  // sectors or change the lists are refused meanwhile.
  // A manual analysis counts: it runs on the window's thread, which keeps handling messages.
  bool JobRunning() const { return jobs_.Busy() || analysisOnWindowThread_.load(); }

  // Reads CurrentFileId from the Edit2 text: its integer value, low 16 bits.
  // Returns false (and keeps the old value) when the text is not an integer.
  bool ReadCurrentFileId();

 private:
  DataSource source_;
  SectorReader reader_;
  StoredContent storedContent_;
  FreeSpaceMap freeSpaceMap_;

  Controls controls_;
  std::uint16_t currentFileId_ = 1;
  int sortColumn_ = 0;
  bool tab4Busy_ = false;
  std::vector<DiskEntry> diskCaptions_;
  std::vector<PartitionEntry> partitionCaptions_;
  std::string imagePartitionsOf_;
  std::vector<PartitionEntry> imagePartitionCaptions_;
  std::string rowFilePath_;
  const OutputOps* outputOps_ = nullptr;

  FragmentTable fragments_;
  ReportList listView2_;
  ReportList listView3_;
  ReportList listView4_;
  bool showsLists_ = true;
  AssemblyOrder assembly_;

  PageMap pageMap_;
  std::int32_t filePageCount_ = 0;
  std::string databaseFileName_ = "c:\\noname.mdf";
  std::vector<std::int64_t> versionUncertainPages_;
  SuccessorChoice frmuserchoose_;

  std::atomic<bool> scanStopped_{true};
  std::atomic<bool> analysisOnWindowThread_{false};
  std::atomic<bool> closing_{false};

  DeviceOpener opener_;
  Ui& ui_;
  LiveFragmentSource liveFragments_;
  PageFacts pageFacts_;
  PageFactsSource factsOverLive_{pageFacts_, liveFragments_};
  PageFactsSource factsOverStored_{pageFacts_, storedContent_};
  JobRunner jobs_;  // last: its threads are joined before the tables they use go
};

}  // namespace ravelin
