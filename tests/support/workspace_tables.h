// Tests set the Workspace's tables up, and change them, on their own thread while no job
// runs, so no other thread can be looking: these hand them out writable without the lock
// that every change in the program takes.
#pragma once

#include <cstdint>
#include <string>

#include "common/thread_annotations.h"
#include "workspace/workspace.h"

namespace ravelin::test {

inline FragmentTable& EditFragments(Workspace& ws) NO_THREAD_SAFETY_ANALYSIS {
  return ws.LockedFragments();
}

// `list` is one of the Workspace's lists (ListView2(), ListView3(), ListView4()).
inline ReportList& EditList(Workspace& ws, const ReportList& list) NO_THREAD_SAFETY_ANALYSIS {
  return ws.LockedList(list);
}

// Chooses the image file `image` as the source and sets tab I for a scan of all its
// `sectors` sectors, `step` sectors a step, as a person would before pressing SCAN.
inline void ChooseImageForScan(Workspace& ws, const std::string& image, std::uint64_t sectors,
                               std::int32_t step = 1) {
  ws.source().SourceChosen = true;
  ws.source().SourcePath = image;
  ws.source().TotalSectors = sectors;
  ws.source().SectorLimit = sectors;
  ws.controls().tab1.edtbegin = "0";
  ws.controls().tab1.edtend = std::to_string(sectors);
  ws.controls().tab1.edtsecs = std::to_string(step);
  ws.controls().tab1.chkfreespace = false;
  ws.ScanStopped().store(false);
}

}  // namespace ravelin::test
