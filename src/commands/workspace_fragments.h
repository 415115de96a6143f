// The fragment table and list II as the scan fills them: every row goes into the table and,
// unless hidden, into list II, under the Workspace's table lock so that the window can take
// snapshots meanwhile.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "ports/report_list.h"
#include "scan/scan_engine.h"

namespace ravelin {

class Workspace;

class WorkspaceFragmentSink final : public FragmentSink {
 public:
  explicit WorkspaceFragmentSink(Workspace& ws) : ws_(ws) {}
  const FragmentRow* Last() const override;
  void Append(FragmentRow row) override;
  void RemoveLast() override;
  void KeepPage(std::uint64_t sector, PageView page) override;

 private:
  Workspace& ws_;
};

// Records one fragment as the scan does (its remark read from the source when it starts at
// page 0), outside a scan: the tab I page-number limit applies. True when a row was added.
bool AddFragment(Workspace& ws, std::int32_t no, std::int64_t pages, std::int32_t startPage,
                 std::uint64_t startSector,
                 const std::optional<std::string>& inheritedRemark = std::nullopt);

// Rebuilds list II from the table and tells the window (nothing to rebuild when the
// Workspace shows no lists).
void FillFragmentList(Workspace& ws);

// Rebuilds the table's page-order index (FragmentIndex) under the table lock.
void BuildFragmentIndex(Workspace& ws);

// List II's items in order, made from the table when the Workspace keeps none. Its count.
std::size_t FragmentListCount(const Workspace& ws);
void ForEachFragmentListItem(const Workspace& ws, const std::function<void(const ReportRow&)>& f);

}  // namespace ravelin
