#pragma once
// The rows of the log: "Date Time" and "Operation", newest first. Rows are two short strings, so a
// long session stays cheap; the view asks only for the rows it shows.
#include <QAbstractTableModel>
#include <QString>
#include <vector>

namespace ortavia::ui {

class LogModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  using QAbstractTableModel::QAbstractTableModel;

  // Adds a row at the top.
  void Add(const QString& when, const QString& text);
  // Text of a row counted from the top (0 = newest).
  QString Operation(int row) const;
  QString When(int row) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  struct Row {
    QString when;
    QString text;
  };
  const Row& At(int row) const { return rows_[rows_.size() - 1 - static_cast<std::size_t>(row)]; }
  std::vector<Row> rows_;  // oldest first, shown reversed
};

}  // namespace ortavia::ui
