#include "extor/ui/point_table_models.h"

namespace ortavia::ui {

namespace {
QVariant Centred() { return QVariant::fromValue(Qt::AlignCenter); }
}  // namespace

int ParsedDataModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() || held_ ? 0 : static_cast<int>(model_.Parsed().size());
}

int ParsedDataModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() || held_ ? 0 : model_.ParsedColumnCount();
}

QVariant ParsedDataModel::data(const QModelIndex& index, int role) const {
  if (role == Qt::TextAlignmentRole) return Centred();
  if (role != Qt::DisplayRole || !index.isValid()) return {};
  const auto& row = model_.Parsed()[static_cast<std::size_t>(index.row())];
  const auto column = static_cast<std::size_t>(index.column());
  return column < row.size() ? QString::fromStdString(row[column]) : QString();
}

QVariant ParsedDataModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return section + 1;
  return QString::fromUtf8(extor::kParsedColumnCaption);
}

void ImportedPointsModel::ColumnChanged(int column) {
  if (rowCount() > 0) emit dataChanged(index(0, column), index(rowCount() - 1, column));
}

int ImportedPointsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() || held_ ? 0 : static_cast<int>(model_.Imported().size());
}

int ImportedPointsModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : extor::kQuantityCount;
}

QVariant ImportedPointsModel::data(const QModelIndex& index, int role) const {
  if (role == Qt::TextAlignmentRole) return Centred();
  if (role != Qt::DisplayRole || !index.isValid()) return {};
  return QString::fromStdString(
      model_.Imported()[static_cast<std::size_t>(index.row())][static_cast<std::size_t>(index.column())]);
}

QVariant ImportedPointsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return section + 1;
  return QString::fromUtf8(extor::QuantityCaption(section));
}

}  // namespace ortavia::ui
