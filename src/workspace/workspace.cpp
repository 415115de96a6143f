#include "workspace/workspace.h"

#include <cassert>

#include "analysis/file_identification.h"
#include "catalogue/fragment_rows.h"
#include "common/messages.h"
#include "common/text.h"

namespace ravelin {

Workspace::Workspace(Ui& ui, DeviceOpener opener)
    : reader_(source_, CountingOpener(opener, sourceReads_)),
      listView2_(MakeFragmentListView()),
      listView3_(MakeFileListView()),
      listView4_(MakeFragmentListView()),
      opener_(CountingOpener(std::move(opener), sourceReads_)),
      ui_(ui),
      liveFragments_(reader_),
      jobs_([this](const std::string& job, const std::string& what) {
        // A job that broke off leaves nothing running: say so where its log goes.
        scanStopped_.store(true);
        ui_.AppendMemo(
            job == "scan" ? Memo::kMemo1 : Memo::kMemo2,
            std::string(Text(TextId::kJobFailed)) + "(the job " + job + " failed): " + what);
        ui_.SetStatus(Text(TextId::kJobFailed));
      }) {
  ReadCurrentFileId();
}

Workspace::~Workspace() {
  closing_.store(true);
  scanStopped_.store(true);
  jobs_.JoinAll();
}

FragmentSource& Workspace::Fragments() {
  if (source_.LiveSource) return liveFragments_;
  return storedContent_;
}

namespace {

// The path read, as a partition or not, and the sectors a read may reach.
std::string LiveOrigin(const DataSource& source) {
  return "source " + std::to_string(source.IsPartition) + " " +
         std::to_string(source.TotalSectors) + " " + std::to_string(source.SectorLimit) + " " +
         source.SourcePath;
}

}  // namespace

std::string Workspace::FactsOrigin() const {
  if (source_.LiveSource) return LiveOrigin(source_);
  return "content " + std::to_string(storedContent_.FileSize()) + " " + storedContent_.Path();
}

PageFacts& Workspace::FactsForScan() {
  // The scan reads the source whatever else pages come from meanwhile.
  const std::string origin = LiveOrigin(source_);
  if (pageFacts_.Origin() != origin) pageFacts_.Reset(origin);
  return pageFacts_;
}

FragmentSource& Workspace::DecidingFragments() {
  if (pageFacts_.Pages() == 0 || pageFacts_.Origin() != FactsOrigin()) return Fragments();
  if (source_.LiveSource) return factsOverLive_;
  return factsOverStored_;
}

bool Workspace::ReadCurrentFileId() {
  const auto value = ParseInteger(controls_.tab1.Edit2);
  if (!value) return false;
  currentFileId_ = static_cast<std::uint16_t>(*value);
  return true;
}

ReportList& Workspace::LockedList(const ReportList& list) {
  // The lists are ours; handing the caller its own list back writable is what the lock
  // allows.
  if (&list == &listView2_) return listView2_;
  if (&list == &listView3_) return listView3_;
  assert(&list == &listView4_);
  return listView4_;
}

FragmentTable::Snapshot Workspace::SnapshotFragments(RowChanges::Cursor& cursor) const {
  MutexLock lock(tableLock);
  return fragments_.TakeSnapshot(cursor);
}

ReportList::Snapshot Workspace::SnapshotList(const ReportList& list,
                                             RowChanges::Cursor& cursor) const {
  MutexLock lock(tableLock);
  return list.TakeSnapshot(cursor);
}

}  // namespace ravelin
