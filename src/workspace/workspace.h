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

  DataSource source;
  SectorReader reader;
  Controls controls;

  std::uint16_t CurrentFileId = 1;

  FragmentTable fragments;
  ReportList ListView2;  // the fragment list of tab II
  ReportList ListView3;  // the database files of tab III
  ReportList ListView4;  // the Assembly list of tab IV
  int SortColumn = 0;    // shared by list II and the Assembly list

  // The file under analysis: its page map, page count and physical name. Written by the
  // analysis (and later the search for missing fragments); read by tab IV while no job runs.
  PageMap pageMap;
  std::int32_t FilePageCount = 0;
  std::string DatabaseFileName = "c:\\noname.mdf";
  // Pages taken from fragments another copy of the database left, ascending.
  std::vector<std::int64_t> VersionUncertainPages;
  // The successor choice dialog of the current analysis (Tfrmuserchoose).
  SuccessorChoice frmuserchoose;

  std::atomic<bool> ScanStopped{true};
  // A tab IV operation (check, search, writing the MDF) is running on the window's thread,
  // which handles messages meanwhile: a second one must not start.
  bool tab4Busy = false;
  // A manual analysis is running on the window's thread (it handles messages while it asks).
  std::atomic<bool> AnalysisOnWindowThread{false};
  // Set when the Workspace is being destroyed: long jobs that check it end early.
  std::atomic<bool> Closing{false};

  // The data-source menu: its disk entries (DiskCaptions, each with its disk number) and
  // its partition entries (PartitionCaptions, numbered from 1), filled by ListDataSources.
  std::vector<DiskEntry> DiskCaptions;
  std::vector<PartitionEntry> PartitionCaptions;
  // The partitions of the whole-disk image chosen last, offered after the image's entry
  // (ImagePartitionCaptions' `number` is the partition's number in the image's table).
  std::string ImagePartitionsOf;
  std::vector<PartitionEntry> ImagePartitionCaptions;
  // Serves fragment reads while source.LiveSource is false; indexed from the rows each
  // time a content file or a row file is opened.
  StoredContent storedContent;
  // The scan-info row file opened last (an input no output may replace); empty when none.
  std::string rowFilePath;
  // The system calls outputs are written through; tests hand in failing ones. Null: the
  // system's.
  const OutputOps* outputOps = nullptr;
  FreeSpaceMap freeSpaceMap;
  JobRunner jobs;

  // Taken by a job around each change of a table it fills, and by other threads around
  // each snapshot. Never held across a question to the person.
  mutable Mutex tableLock;

  // The tables other threads snapshot, for a change: callable only with tableLock held, so
  // that the compiler finds a change made without it. Reads by the thread that changes
  // them (the job while one runs, else the window's) need no lock.
  FragmentTable& LockedFragments() REQUIRES(tableLock) { return fragments; }
  ReportList& LockedList(ReportList& list) REQUIRES(tableLock) { return list; }

  // Where fragment pages come from now: the source, or the opened content file.
  FragmentSource& Fragments();

  // A job (scan or analysis) has been started and has not finished. Operations that read
  // sectors or change the lists are refused meanwhile.
  // A manual analysis counts: it runs on the window's thread, which keeps handling messages.
  bool JobRunning() const { return jobs.Busy() || AnalysisOnWindowThread.load(); }

  // Reads CurrentFileId from the Edit2 text: its integer value, low 16 bits.
  // Returns false (and keeps the old value) when the text is not an integer.
  bool ReadCurrentFileId();

  // Snapshots for readers on other threads (the window's list models): what changed since
  // the reader's cursor, copied under tableLock.
  FragmentTable::Snapshot SnapshotFragments(RowChanges::Cursor& cursor) const EXCLUDES(tableLock);
  ReportList::Snapshot SnapshotList(const ReportList& list, RowChanges::Cursor& cursor) const
      EXCLUDES(tableLock);

  // What the scan kept of the pages it accepted, for the steps that decide.
  // Facts are those of one origin: the source they were read from (its path and size), or
  // the content file they were saved with. The store is read only while its origin is the
  // one pages come from now.
  PageFacts& Facts() { return pageFacts_; }
  // The origin of the pages read now: the chosen source, or the opened content file.
  std::string FactsOrigin() const;
  // The store for a scan of the chosen source: emptied first when it holds another origin's.
  PageFacts& FactsForScan();
  // Fragment pages for the analysis, the search and the check: the kept facts where they
  // hold a page of the current origin, the rest as Fragments() reads it. The writer and the
  // extractions read Fragments().
  FragmentSource& DecidingFragments();

 private:
  DeviceOpener opener_;
  Ui& ui_;
  LiveFragmentSource liveFragments_;
  PageFacts pageFacts_;
  PageFactsSource factsOverLive_{pageFacts_, liveFragments_};
  PageFactsSource factsOverStored_{pageFacts_, storedContent};
};

}  // namespace ravelin
