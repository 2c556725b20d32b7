#pragma once
// Qt table models over the import model's grid ("Parsed Data") and table ("Imported Points"):
// they hold no copy, so a file of hundreds of thousands of lines costs the views only the rows on
// screen.
#include <QAbstractTableModel>

#include "extor/ext_or_import_model.h"

namespace ortavia::ui {

class PointTableModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  PointTableModel(const extor::ExtOrImportModel& model, QObject* parent)
      : QAbstractTableModel(parent), model_(model) {}
  // After the data changed (row and column counts may change).
  void Refresh() { Hold(held_); }
  // While held the model shows no row: the grid is being rebuilt.
  void Hold(bool held) {
    beginResetModel();
    held_ = held;
    endResetModel();
  }
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 protected:
  virtual int Rows() const = 0;
  virtual int Columns() const = 0;
  virtual std::string Cell(int row, int column) const = 0;
  virtual std::string Caption(int column) const = 0;
  const extor::ExtOrImportModel& model_;

 private:
  bool held_ = false;
};

class ParsedDataModel : public PointTableModel {
  Q_OBJECT
 public:
  using PointTableModel::PointTableModel;

 protected:
  int Rows() const override { return static_cast<int>(model_.Parsed().size()); }
  int Columns() const override { return model_.ParsedColumnCount(); }
  std::string Cell(int row, int column) const override;
  std::string Caption(int) const override { return extor::kParsedColumnCaption; }
};

class ImportedPointsModel : public PointTableModel {
  Q_OBJECT
 public:
  using PointTableModel::PointTableModel;
  // After a correction of one column (rows unchanged, selection kept).
  void ColumnChanged(int column);

 protected:
  int Rows() const override { return static_cast<int>(model_.Imported().size()); }
  int Columns() const override { return extor::kQuantityCount; }
  std::string Cell(int row, int column) const override {
    return model_.Imported()[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
  }
  std::string Caption(int column) const override { return extor::QuantityCaption(column); }
};

}  // namespace ortavia::ui
