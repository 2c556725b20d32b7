#include "parser/ui/CIndexDlg.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <string>
#include <utility>
#include <vector>

#include "parser/constant_text.h"
#include "parser/localizer.h"
#include "parser/parser.h"

namespace ortavia::ui {

namespace {

struct Column {
  const char* title;
  int width;
};

QTreeWidget* MakeList(const std::vector<Column>& columns, QWidget* parent) {
  auto* list = new QTreeWidget(parent);
  list->setRootIsDecorated(false);
  list->setItemsExpandable(false);
  list->setUniformRowHeights(true);
  list->setAlternatingRowColors(false);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  QStringList titles;
  for (const auto& c : columns) titles << QString::fromLatin1(c.title);
  list->setHeaderLabels(titles);
  for (int i = 0; i < static_cast<int>(columns.size()); ++i) list->setColumnWidth(i, columns[i].width);
  return list;
}

QGroupBox* Group(const QString& title, QWidget* content, QWidget* parent) {
  auto* box = new QGroupBox(title, parent);
  auto* layout = new QVBoxLayout(box);
  layout->addWidget(content);
  return box;
}

QString Text(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

// The localizer's texts of an item, or the item's own when it has none (as in this system).
template <class Lookup>
MTItemInfo InfoOr(Lookup lookup, const MTParserItemI& item) {
  try {
    return lookup();
  } catch (const MTChainedExceptions&) {
    return {std::string(item.symbol()), std::string(item.usage()), std::string(item.description())};
  }
}

QTreeWidgetItem* AddRow(QTreeWidget* list, const QStringList& texts, int position) {
  auto* row = new QTreeWidgetItem(list, texts);
  row->setData(0, Qt::UserRole, position);
  return row;
}

}  // namespace

CIndexDlg::CIndexDlg(const MTParser* parser, ShowPlainMessage showPlain, QWidget* parent)
    : QDialog(parent), parser_(parser), showPlain_(std::move(showPlain)) {
  if (!showPlain_) {
    showPlain_ = [this](const QString& caption, const QString& text) {
      QMessageBox box(QMessageBox::NoIcon, caption.isEmpty() ? QStringLiteral("Ortavia") : caption, text, QMessageBox::Ok, this);
      box.exec();
    };
  }
  setWindowTitle(QStringLiteral("Dialog"));
  resize(700, 560);

  const std::vector<Column> itemColumns = {{"Symbol", 100}, {"Usage", 180}, {"Description", 320}};
  operators_ = MakeList(itemColumns, this);
  functions_ = MakeList(itemColumns, this);
  constants_ = MakeList({{"Symbol", 120}, {"Description", 200}}, this);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Group(tr("Defined Operators"), operators_, this), 3);
  layout->addWidget(Group(tr("Defined Functions"), functions_, this), 4);
  layout->addWidget(Group(tr("Defined Constants"), constants_, this), 2);
  layout->addWidget(buttons);
  connect(functions_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) { ShowFunctionHelp(item); });
  FillLists();
}

CIndexDlg::~CIndexDlg() = default;

void CIndexDlg::FillLists() {
  if (!parser_) return;
  const MTParserLocalizer& localizer = MTParserLocalizer::getInstance();
  const ParserSyntax syntax = parser_->readSyntax();
  for (std::size_t i = 0; i < parser_->operatorCount(); ++i) {
    const MTOperatorI& op = parser_->operatorAt(i);
    const MTItemInfo info = InfoOr([&] { return localizer.getOpInfo(op.id()); }, op);
    AddRow(operators_, {Text(info.symbol), Text(info.usage), Text(info.description)}, static_cast<int>(i));
  }
  for (std::size_t i = 0; i < parser_->functionCount(); ++i) {
    const MTFunctionI& fn = parser_->functionAt(i);
    const MTItemInfo info = InfoOr([&] { return localizer.getFuncInfo(fn.id()); }, fn);
    AddRow(functions_, {Text(info.symbol), Text(info.usage), Text(info.description)}, static_cast<int>(i));
  }
  for (std::size_t i = 0; i < parser_->constantCount(); ++i) {
    const MTConstant& constant = parser_->constantAt(i);
    QString description;
    try {
      description = Text(localizer.getConstInfo(constant.name).description);
    } catch (const MTChainedExceptions&) {
      description = QString::fromStdString(ConstantValueText(constant.value, syntax.decimalPoint));
    }
    AddRow(constants_, {Text(constant.name), description}, static_cast<int>(i));
  }
}

void CIndexDlg::ShowFunctionHelp(QTreeWidgetItem* item) {
  if (!parser_ || !item) return;
  bool ok = false;
  const int position = item->data(0, Qt::UserRole).toInt(&ok);
  if (!ok || position < 0 || static_cast<std::size_t>(position) >= parser_->functionCount()) return;
  const MTFunctionI& fn = parser_->functionAt(static_cast<std::size_t>(position));
  const MTItemInfo info =
      InfoOr([&] { return MTParserLocalizer::getInstance().getFuncInfo(fn.id()); }, fn);
  const QString text = QStringLiteral("Description") + QStringLiteral(" ") + QStringLiteral("\n\r\t") +
                       Text(info.description) + QString::asprintf("\n\r%s\r\t", "Prototype") + Text(info.usage);
  showPlain_(Text(info.symbol), text);
}

}  // namespace ortavia::ui
