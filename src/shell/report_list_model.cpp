#include "shell/report_list_model.h"

#include <QBrush>
#include <QColor>

#include "shell/qstring_utf8.h"
#include "workspace/workspace.h"

namespace ravelin::shell {
namespace {

// The lists paint their rows in two alternating greens, even rows first.
const QColor kEvenRow(120, 182, 93);
const QColor kOddRow(120, 221, 139);

}  // namespace

ReportListModel::ReportListModel(const Workspace& ws, const ReportList& list, QStringList captions,
                                 QObject* parent)
    : QAbstractTableModel(parent),
      list_(list),
      snapshot_([&ws, &list](RowChanges::Cursor& cursor) { return ws.SnapshotList(list, cursor); }),
      captions_(std::move(captions)) {
  // The captions never change after the list is made.
  if (captions_.isEmpty())
    for (const std::string& c : list_.Captions()) captions_ << Q(c);
}

ReportListModel::ReportListModel(const ReportList& list, QObject* parent)
    : QAbstractTableModel(parent),
      list_(list),
      snapshot_([&list](RowChanges::Cursor& cursor) { return list.TakeSnapshot(cursor); }) {
  for (const std::string& c : list_.Captions()) captions_ << Q(c);
}

void ReportListModel::Refresh() {
  ReportList::Snapshot snapshot = snapshot_(cursor_);
  if (snapshot.reset) {
    beginResetModel();
    rows_.clear();
    rows_.resize(snapshot.count);
    for (auto& [i, row] : snapshot.rows) rows_[i] = std::move(row);
    endResetModel();
    return;
  }
  if (snapshot.permutation && snapshot.permutation->size() == rows_.size()) {
    // A sort: reorder the rows held instead of copying every one again.
    emit layoutAboutToBeChanged();
    std::vector<ReportRow> reordered;
    reordered.reserve(rows_.size());
    for (const std::uint32_t old : *snapshot.permutation) reordered.push_back(std::move(rows_[old]));
    rows_ = std::move(reordered);
    emit layoutChanged();
  }
  const std::size_t before = rows_.size();
  if (snapshot.count < before) {
    beginRemoveRows({}, static_cast<int>(snapshot.count), static_cast<int>(before) - 1);
    rows_.resize(snapshot.count);
    endRemoveRows();
  }
  const std::size_t kept = rows_.size();
  if (snapshot.count > kept) {
    beginInsertRows({}, static_cast<int>(kept), static_cast<int>(snapshot.count) - 1);
    rows_.resize(snapshot.count);
  }
  std::size_t firstChanged = kept, lastChanged = 0;
  for (auto& [i, row] : snapshot.rows) {
    if (i >= rows_.size()) continue;
    rows_[i] = std::move(row);
    if (i < kept) {
      firstChanged = std::min(firstChanged, i);
      lastChanged = std::max(lastChanged, i);
    }
  }
  if (snapshot.count > kept) endInsertRows();
  if (firstChanged < kept) {
    emit dataChanged(index(static_cast<int>(firstChanged), 0),
                     index(static_cast<int>(lastChanged), columnCount() - 1));
  }
}

int ReportListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ReportListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(captions_.size());
}

QVariant ReportListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || static_cast<std::size_t>(index.row()) >= rows_.size()) return {};
  const ReportRow& row = rows_[static_cast<std::size_t>(index.row())];
  switch (role) {
    case Qt::DisplayRole:
      return Q(row.Cell(static_cast<std::size_t>(index.column())));
    case Qt::CheckStateRole:
      if (index.column() == 0 && tick_) return row.checked ? Qt::Checked : Qt::Unchecked;
      return {};
    case Qt::DecorationRole:
      if (index.column() == 0 && row.imageIndex >= 0 &&
          static_cast<std::size_t>(row.imageIndex) < images_.size())
        return images_[static_cast<std::size_t>(row.imageIndex)];
      return {};
    case Qt::BackgroundRole:
      return QBrush(index.row() % 2 == 0 ? kEvenRow : kOddRow);
    case Qt::ForegroundRole:
      return QBrush(Qt::black);  // readable on the greens whatever the desktop's theme
    default:
      return {};
  }
}

QVariant ReportListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  if (section < 0 || section >= captions_.size()) return {};
  return captions_[section];
}

Qt::ItemFlags ReportListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.column() == 0 && tick_) f |= Qt::ItemIsUserCheckable;
  return f;
}

bool ReportListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::CheckStateRole || index.column() != 0 || !tick_ || !index.isValid()) return false;
  const bool checked = value.toInt() == Qt::Checked;
  if (!tick_(static_cast<std::size_t>(index.row()), checked)) return false;
  Refresh();
  return true;
}

}  // namespace ravelin::shell
