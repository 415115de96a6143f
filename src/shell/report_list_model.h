// A report list of the Workspace (list II, the database files, the Assembly list) as a Qt
// table model.
//
// The model never reads the core's list directly: a job may be appending to it. It keeps its
// own copy of what it shows and brings it up to date in Refresh(), on the window's thread,
// from a snapshot (Workspace::SnapshotList) of the rows added or changed since its last one.
// A tick the person sets goes to the core's list through the tick handler; the copy follows
// at the next Refresh().
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QStringList>
#include <functional>
#include <vector>

#include "common/row_changes.h"
#include "ports/report_list.h"

namespace ravelin {
class Workspace;
}

namespace ravelin::shell {

class ReportListModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  // Sets the tick of row `row` in the core's list; false when it may not now.
  using TickHandler = std::function<bool(std::size_t row, bool checked)>;

  // What changed in the list since a cursor: a snapshot under the lock of the list's owner.
  using Snapshotter = std::function<ReportList::Snapshot(RowChanges::Cursor&)>;

  // A list of the Workspace, read through Workspace::SnapshotList. `captions` replace the
  // list's own column captions when given.
  ReportListModel(const Workspace& ws, const ReportList& list, QStringList captions = {},
                  QObject* parent = nullptr);
  // A list only the window's thread ever touches (the successor dialog's).
  explicit ReportListModel(const ReportList& list, QObject* parent = nullptr);

  void SetTickHandler(TickHandler handler) { tick_ = std::move(handler); }
  void SetImages(std::vector<QIcon> images) { images_ = std::move(images); }

  // Takes the snapshot and updates the copy and the views.
  void Refresh();

  const std::vector<ReportRow>& Rows() const { return rows_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

 private:
  const ReportList& list_;
  Snapshotter snapshot_;
  QStringList captions_;
  RowChanges::Cursor cursor_;
  std::vector<ReportRow> rows_;
  TickHandler tick_;
  std::vector<QIcon> images_;
};

}  // namespace ravelin::shell
