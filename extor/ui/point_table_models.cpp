#include "extor/ui/point_table_models.h"

namespace ortavia::ui {

int PointTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() || held_ ? 0 : Rows();
}

int PointTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() || held_ ? 0 : Columns();
}

QVariant PointTableModel::data(const QModelIndex& index, int role) const {
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignCenter);
  if (role != Qt::DisplayRole || !index.isValid() || held_) return {};
  return QString::fromStdString(Cell(index.row(), index.column()));
}

QVariant PointTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return section + 1;
  return QString::fromStdString(Caption(section));
}

std::string ParsedDataModel::Cell(int row, int column) const {
  const auto& cells = model_.Parsed()[static_cast<std::size_t>(row)];
  const auto c = static_cast<std::size_t>(column);
  return c < cells.size() ? cells[c] : std::string();
}

void ImportedPointsModel::ColumnChanged(int column) {
  if (rowCount() > 0) emit dataChanged(index(0, column), index(rowCount() - 1, column));
}

}  // namespace ortavia::ui
