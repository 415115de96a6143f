#include "workspace/workspace.h"

#include "analysis/file_identification.h"
#include "catalogue/fragment_rows.h"
#include "common/messages.h"
#include "common/text.h"

namespace ravelin {

Workspace::Workspace(Ui& ui, DeviceOpener opener)
    : reader(source, CountingOpener(opener, sourceReads_)),
      ListView2(MakeFragmentListView()),
      ListView3(MakeFileListView()),
      ListView4(MakeFragmentListView()),
      jobs([this](const std::string& job, const std::string& what) {
        // A job that broke off leaves nothing running: say so where its log goes.
        ScanStopped.store(true);
        ui_.AppendMemo(
            job == "scan" ? Memo::kMemo1 : Memo::kMemo2,
            std::string(Text(TextId::kJobFailed)) + "(the job " + job + " failed): " + what);
        ui_.SetStatus(Text(TextId::kJobFailed));
      }),
      opener_(CountingOpener(std::move(opener), sourceReads_)),
      ui_(ui),
      liveFragments_(reader) {
  ReadCurrentFileId();
}

Workspace::~Workspace() {
  Closing.store(true);
  ScanStopped.store(true);
  jobs.JoinAll();
}

FragmentSource& Workspace::Fragments() {
  if (source.LiveSource) return liveFragments_;
  return storedContent;
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
  if (source.LiveSource) return LiveOrigin(source);
  return "content " + std::to_string(storedContent.FileSize()) + " " + storedContent.Path();
}

PageFacts& Workspace::FactsForScan() {
  // The scan reads the source whatever else pages come from meanwhile.
  const std::string origin = LiveOrigin(source);
  if (pageFacts_.Origin() != origin) pageFacts_.Reset(origin);
  return pageFacts_;
}

FragmentSource& Workspace::DecidingFragments() {
  if (pageFacts_.Pages() == 0 || pageFacts_.Origin() != FactsOrigin()) return Fragments();
  if (source.LiveSource) return factsOverLive_;
  return factsOverStored_;
}

bool Workspace::ReadCurrentFileId() {
  const auto value = ParseInteger(controls.tab1.Edit2);
  if (!value) return false;
  CurrentFileId = static_cast<std::uint16_t>(*value);
  return true;
}

FragmentTable::Snapshot Workspace::SnapshotFragments(RowChanges::Cursor& cursor) const {
  MutexLock lock(tableLock);
  return fragments.TakeSnapshot(cursor);
}

ReportList::Snapshot Workspace::SnapshotList(const ReportList& list,
                                             RowChanges::Cursor& cursor) const {
  MutexLock lock(tableLock);
  return list.TakeSnapshot(cursor);
}

}  // namespace ravelin
