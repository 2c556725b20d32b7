#pragma once
// The formula syntax listing: the operators, functions and constants a parser defines, in
// definition order, with usage and description. A double click on a function shows its help.
#include <QDialog>
#include <memory>

class QTreeWidget;
class QTreeWidgetItem;

namespace ortavia {
class MTParser;
}

namespace ortavia::ui {

class Prompts;

class CIndexDlg : public QDialog {
  Q_OBJECT
 public:
  // parser: not owned, outlives the dialog. prompts: not owned; the dialog's own when null.
  CIndexDlg(const MTParser* parser, Prompts* prompts = nullptr, QWidget* parent = nullptr);
  ~CIndexDlg() override;

  QTreeWidget* Operators() const { return operators_; }
  QTreeWidget* Functions() const { return functions_; }
  QTreeWidget* Constants() const { return constants_; }

  // The help box of the function in a row of the function list.
  void ShowFunctionHelp(QTreeWidgetItem* item);

 private:
  void FillLists();

  const MTParser* parser_;
  std::unique_ptr<Prompts> ownPrompts_;
  Prompts* prompts_;
  QTreeWidget* operators_ = nullptr;
  QTreeWidget* functions_ = nullptr;
  QTreeWidget* constants_ = nullptr;
};

}  // namespace ortavia::ui
