#pragma once
// Qt table models over the import model's grid ("Parsed Data") and table ("Imported Points"):
// they hold no copy, so a file of hundreds of thousands of lines costs the views only the rows on
// screen.
#include <QAbstractTableModel>

#include "extor/ext_or_import_model.h"

namespace ortavia::ui {

class ParsedDataModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  ParsedDataModel(const extor::ExtOrImportModel& model, QObject* parent)
      : QAbstractTableModel(parent), model_(model) {}
  // After the grid changed.
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

 private:
  const extor::ExtOrImportModel& model_;
  bool held_ = false;
};

class ImportedPointsModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  ImportedPointsModel(const extor::ExtOrImportModel& model, QObject* parent)
      : QAbstractTableModel(parent), model_(model) {}
  // After the table was rebuilt (row count may change).
  void Refresh() { Hold(held_); }
  void Hold(bool held) {
    beginResetModel();
    held_ = held;
    endResetModel();
  }
  // After a correction of one column (rows unchanged, selection kept).
  void ColumnChanged(int column);
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  const extor::ExtOrImportModel& model_;
  bool held_ = false;
};

}  // namespace ortavia::ui
