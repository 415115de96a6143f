// Tests set the Workspace's tables up, and change them, on their own thread while no job
// runs, so no other thread can be looking: these hand them out writable without the lock
// that every change in the program takes.
#pragma once

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

}  // namespace ravelin::test
