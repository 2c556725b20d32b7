#include "gui/log_model.h"

#include <iterator>

namespace ortavia::ui {

void LogModel::Add(const QString& when, const QString& text) {
  if (held_) {
    waiting_.push_back({when, text});
    return;
  }
  beginInsertRows(QModelIndex(), 0, 0);
  rows_.push_back({when, text});
  endInsertRows();
}

void LogModel::Hold(bool hold) {
  held_ = hold;
  if (!hold) Flush();
}

void LogModel::Flush() {
  if (waiting_.empty()) return;
  beginInsertRows(QModelIndex(), 0, static_cast<int>(waiting_.size()) - 1);
  rows_.insert(rows_.end(), std::make_move_iterator(waiting_.begin()), std::make_move_iterator(waiting_.end()));
  waiting_.clear();
  endInsertRows();
}

QString LogModel::Operation(int row) const {
  return row >= 0 && row < rowCount() ? At(row).text : QString();
}

QString LogModel::When(int row) const {
  return row >= 0 && row < rowCount() ? At(row).when : QString();
}

int LogModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int LogModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

QVariant LogModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
    const Row& r = At(index.row());
    return index.column() == 0 ? r.when : r.text;
  }
  return {};
}

QVariant LogModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  return section == 0 ? QStringLiteral("Date Time") : QStringLiteral("Operation");
}

}  // namespace ortavia::ui
