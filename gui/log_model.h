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

  // Adds a row at the top; while held, the row waits for the next Flush.
  void Add(const QString& when, const QString& text);
  // Holding gathers added rows so that a burst reaches the view as one insertion; letting go
  // publishes what waits.
  void Hold(bool hold);
  // Publishes the waiting rows, newest on top, in one insertion.
  void Flush();
  int Waiting() const { return static_cast<int>(waiting_.size()); }
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
  std::vector<Row> waiting_;
  bool held_ = false;
};

}  // namespace ortavia::ui
