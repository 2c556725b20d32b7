#pragma once
// The formula syntax listing: the operators, functions and constants a parser defines, in
// definition order, with usage and description. A double click on a function shows its help.
#include <QDialog>
#include <QString>
#include <functional>

class QTreeWidget;
class QTreeWidgetItem;

namespace ortavia {
class MTParser;
}

namespace ortavia::ui {

// Shows a message without icon under its caption.
using ShowPlainMessage = std::function<void(const QString& caption, const QString& text)>;

class CIndexDlg : public QDialog {
  Q_OBJECT
 public:
  // parser: not owned, outlives the dialog. showPlain: how the help is shown; a message box
  // parented to the dialog when empty.
  CIndexDlg(const MTParser* parser, ShowPlainMessage showPlain = {}, QWidget* parent = nullptr);
  ~CIndexDlg() override;

  QTreeWidget* Operators() const { return operators_; }
  QTreeWidget* Functions() const { return functions_; }
  QTreeWidget* Constants() const { return constants_; }

  // The help box of the function in a row of the function list.
  void ShowFunctionHelp(QTreeWidgetItem* item);

 private:
  void FillLists();

  const MTParser* parser_;
  ShowPlainMessage showPlain_;
  QTreeWidget* operators_ = nullptr;
  QTreeWidget* functions_ = nullptr;
  QTreeWidget* constants_ = nullptr;
};

}  // namespace ortavia::ui
