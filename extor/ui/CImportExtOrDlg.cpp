#include "extor/ui/CImportExtOrDlg.h"

#include <QApplication>
#include <QCursor>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "extor/point_file_settings.h"
#include "extor/ui/point_table_models.h"
#include "gui/prompts.h"

namespace ortavia::ui {

namespace {

using B = CImportExtOrDlg::Button;
constexpr int kStretchedColumns = 12;  // more columns than this keep a readable width and scroll

QTableView* MakeTable(QWidget* parent, QAbstractItemModel* model, QAbstractItemView::SelectionMode mode) {
  auto* view = new QTableView(parent);
  view->setModel(model);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setSelectionMode(mode);
  view->setAlternatingRowColors(true);
  view->setWordWrap(false);
  view->setCornerButtonEnabled(false);
  // Rows of one height let the view jump to any of a few hundred thousand rows at once.
  view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
  QHeaderView* header = view->horizontalHeader();
  header->setSectionsClickable(true);
  header->setHighlightSections(false);
  // A header click opens the column's menu; it must not select the column as well.
  QObject::disconnect(header, SIGNAL(sectionPressed(int)), view, SLOT(selectColumn(int)));
  QObject::disconnect(header, SIGNAL(sectionEntered(int)), view, SLOT(_q_selectColumn(int)));
  return view;
}

void FitColumns(QTableView* view, int columns) {
  QHeaderView* header = view->horizontalHeader();
  header->setSectionResizeMode(columns <= kStretchedColumns ? QHeaderView::Stretch : QHeaderView::Interactive);
  if (columns > kStretchedColumns) header->setDefaultSectionSize(90);
}

}  // namespace

CImportExtOrDlg::CImportExtOrDlg(std::map<std::string, geo::COrientation>* orientations, QWidget* parent)
    : QDialog(parent), orientations_(orientations) {
  ownPrompts_ = std::make_unique<QtPrompts>(this);
  prompts_ = ownPrompts_.get();
  chooseMenu_ = [this](const std::vector<extor::MenuEntry>& entries) { return ChooseFromMenu(entries); };
  setWindowTitle(tr("Import External Orientation Parameters"));
  setWindowFlags(windowFlags() | Qt::WindowMaximizeButtonHint);
  parsedModel_ = new ParsedDataModel(model_, this);
  importedModel_ = new ImportedPointsModel(model_, this);
  BuildLayout();

  // The stored texts go into the boxes, whose change handlers keep them (no file yet).
  const extor::PointFileSettings settings = extor::LoadPointFileSettings();
  commentsEdit_->setText(QString::fromStdString(settings.comments));
  separatorsEdit_->setText(QString::fromStdString(settings.separators));
  model_.SetComments(settings.comments);
  model_.SetSeparatorsText(settings.separators);
  // The column assignment of the last use: point files of one supplier keep their layout.
  model_.SetSourceColumns(settings.sourceColumns);
  resize(980, 720);
}

CImportExtOrDlg::~CImportExtOrDlg() = default;

void CImportExtOrDlg::SetPrompts(Prompts* prompts) { prompts_ = prompts ? prompts : ownPrompts_.get(); }

int CImportExtOrDlg::exec() {
  if (!orientations_) {
    setResult(QDialog::Rejected);
    return QDialog::Rejected;
  }
  return QDialog::exec();
}

void CImportExtOrDlg::BuildLayout() {
  auto button = [this](B b, const QString& text) {
    auto* p = new QPushButton(text, this);
    p->setAutoDefault(false);
    buttons_[static_cast<std::size_t>(b)] = p;
    return p;
  };
  buttons_.assign(8, nullptr);
  button(B::Browse, tr("Browse..."));
  button(B::Reset, tr("Reset"));
  button(B::Clean, tr("Clean"));
  button(B::SelectAll, tr("Select All"));
  button(B::UnselectAll, tr("Unselect All"));
  button(B::SaveAs, tr("Save As.."));
  button(B::Import, tr("Import"));
  button(B::Cancel, tr("Cancel"));

  pathEdit_ = new QLineEdit(this);
  pathEdit_->setReadOnly(true);
  commentsEdit_ = new QLineEdit(this);
  commentsEdit_->setMaxLength(127);
  separatorsEdit_ = new QLineEdit(this);
  separatorsEdit_->setMaxLength(127);
  outputSeparator_ = new QLineEdit(this);
  outputSeparator_->setMaximumWidth(40);

  parsedView_ = MakeTable(this, parsedModel_, QAbstractItemView::SingleSelection);
  importedView_ = MakeTable(this, importedModel_, QAbstractItemView::ExtendedSelection);
  FitColumns(importedView_, extor::kQuantityCount);
  progress_ = new QProgressBar(this);
  progress_->setRange(0, 100);
  progress_->setValue(0);
  progress_->setTextVisible(false);

  auto* fileRow = new QHBoxLayout;
  fileRow->addWidget(GetButton(B::Browse));
  fileRow->addWidget(pathEdit_, 1);
  auto* boxesRow = new QHBoxLayout;
  boxesRow->addWidget(new QLabel(tr("Comments:"), this));
  boxesRow->addWidget(commentsEdit_);
  boxesRow->addSpacing(20);
  boxesRow->addWidget(new QLabel(tr("Separators:"), this));
  boxesRow->addWidget(separatorsEdit_);
  boxesRow->addStretch(1);

  auto* parsedBox = new QGroupBox(tr("Parsed Data"), this);
  (new QVBoxLayout(parsedBox))->addWidget(parsedView_);

  auto* importedBox = new QGroupBox(tr("Imported Points"), this);
  auto* importedLayout = new QVBoxLayout(importedBox);
  importedLayout->addWidget(importedView_, 1);
  auto* tableCommands = new QHBoxLayout;
  for (B b : {B::Reset, B::Clean, B::SelectAll, B::UnselectAll}) tableCommands->addWidget(GetButton(b));
  tableCommands->addStretch(1);
  importedLayout->addLayout(tableCommands);

  auto* outputBox = new QGroupBox(tr("Output"), this);
  auto* outputLayout = new QHBoxLayout(outputBox);
  outputLayout->addWidget(new QLabel(QStringLiteral(","), this));
  outputLayout->addWidget(outputSeparator_);
  outputLayout->addWidget(GetButton(B::SaveAs));

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(outputBox);
  bottom->addWidget(progress_, 1);
  bottom->addWidget(GetButton(B::Import));
  bottom->addWidget(GetButton(B::Cancel));

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fileRow);
  layout->addLayout(boxesRow);
  layout->addWidget(parsedBox, 1);
  layout->addWidget(importedBox, 1);
  layout->addLayout(bottom);

  connect(GetButton(B::Browse), &QPushButton::clicked, this, &CImportExtOrDlg::OnBrowse);
  connect(GetButton(B::Reset), &QPushButton::clicked, this, &CImportExtOrDlg::OnReset);
  connect(GetButton(B::Clean), &QPushButton::clicked, this, &CImportExtOrDlg::OnClean);
  connect(GetButton(B::SelectAll), &QPushButton::clicked, this, &CImportExtOrDlg::OnSelectAll);
  connect(GetButton(B::UnselectAll), &QPushButton::clicked, this, &CImportExtOrDlg::OnUnselectAll);
  connect(GetButton(B::SaveAs), &QPushButton::clicked, this, &CImportExtOrDlg::OnSaveAs);
  connect(GetButton(B::Import), &QPushButton::clicked, this, &CImportExtOrDlg::OnImport);
  connect(GetButton(B::Cancel), &QPushButton::clicked, this, &CImportExtOrDlg::reject);
  connect(commentsEdit_, &QLineEdit::textChanged, this, [this](const QString& text) {
    model_.SetComments(text.toStdString());
    extor::StoreComments(text.toStdString());  // an unwritable profile must not stop the editing
    LoadFile();
  });
  connect(separatorsEdit_, &QLineEdit::textChanged, this, [this](const QString& text) {
    model_.SetSeparatorsText(text.toStdString());
    extor::StoreSeparators(text.toStdString());
    LoadFile();
  });
  connect(outputSeparator_, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (text.size() >= 2) outputSeparator_->setText(text.left(1));
  });
  connect(parsedView_->horizontalHeader(), &QHeaderView::sectionClicked, this, &CImportExtOrDlg::OnParsedHeaderClicked);
  connect(importedView_->horizontalHeader(), &QHeaderView::sectionClicked, this,
          &CImportExtOrDlg::OnImportedHeaderClicked);
}

RunContext CImportExtOrDlg::ProgressContext() {
  RunContext ctx;
  ctx.pump = [] { QCoreApplication::processEvents(); };
  ctx.progressRange = [this](int lo, int hi) {
    progress_->setRange(lo, std::max(lo, hi));
    progress_->setValue(lo);
  };
  ctx.progressPos = [this](int pos) { progress_->setValue(pos); };
  return ctx;
}

int CImportExtOrDlg::ChooseFromMenu(const std::vector<extor::MenuEntry>& entries) {
  QMenu menu(this);
  for (const extor::MenuEntry& e : entries) {
    if (e.command == 0) {
      menu.addSeparator();
      continue;
    }
    menu.addAction(QString::fromStdString(e.caption))->setData(e.command);
  }
  const QAction* chosen = menu.exec(QCursor::pos());
  return chosen ? chosen->data().toInt() : 0;
}

void CImportExtOrDlg::OnBrowse() {
  if (loading_) return;
  const QString path = prompts_->PickOpenFile(tr("Select the point file"), QString());
  if (path.isEmpty()) return;
  pathEdit_->setText(path);
  model_.SetFilePath(path.toStdString());
  LoadFile();
}

void CImportExtOrDlg::LoadFile() {
  if (loading_) {
    reloadPending_ = true;
    return;
  }
  loading_ = true;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  extor::LoadResult result;
  do {
    reloadPending_ = false;
    // Window messages are dispatched while the file is read: the views show nothing meanwhile,
    // so that none of them reads the grid while it grows.
    parsedModel_->Hold(true);
    importedModel_->Hold(true);
    result = model_.Load(ProgressContext());
  } while (reloadPending_);
  parsedModel_->Hold(false);
  importedModel_->Hold(false);
  progress_->setValue(progress_->minimum());
  QApplication::restoreOverrideCursor();
  loading_ = false;
  ParsedChanged();
  if (result.status != extor::LoadResult::Status::kUnreadable) return;
  // The message is fixed; the main log gets the file and the reason.
  logLines_.push_back(std::string(extor::kUnableToOpenMessage) + " " + model_.FilePath() +
                      (result.detail.empty() ? "" : ": " + result.detail));
  prompts_->Warn(QString::fromUtf8(extor::kUnableToOpenMessage));
}

void CImportExtOrDlg::ParsedChanged() {
  parsedModel_->Refresh();
  FitColumns(parsedView_, model_.ParsedColumnCount());
  TableChanged();
}

void CImportExtOrDlg::TableChanged() { importedModel_->Refresh(); }

void CImportExtOrDlg::OnParsedHeaderClicked(int column) {
  if (loading_) return;
  clickedColumn_ = column;
  const int command = chooseMenu_(extor::AssignMenu());
  if (command != 0 && model_.ApplyAssignCommand(command, clickedColumn_)) AssignmentChanged();
}

void CImportExtOrDlg::OnImportedHeaderClicked(int column) {
  if (loading_) return;
  clickedColumn_ = column;
  const std::vector<extor::MenuEntry> menu = extor::CorrectionMenu(column);
  if (menu.empty()) return;
  const int command = chooseMenu_(menu);
  if (command != 0 && model_.ApplyCorrection(clickedColumn_, static_cast<extor::Correction>(command)))
    importedModel_->ColumnChanged(clickedColumn_);
}

void CImportExtOrDlg::OnReset() {
  model_.ResetAssignment();
  AssignmentChanged();
}

void CImportExtOrDlg::OnClean() {
  model_.CleanAssignment();
  AssignmentChanged();
}

void CImportExtOrDlg::AssignmentChanged() {
  TableChanged();
  extor::StoreSourceColumns(model_.SourceColumns());
}

void CImportExtOrDlg::OnSelectAll() {
  importedView_->setFocus();
  importedView_->selectAll();
}

void CImportExtOrDlg::OnUnselectAll() { importedView_->clearSelection(); }

std::vector<int> CImportExtOrDlg::SelectedRows() const {
  std::vector<int> rows;
  for (const QItemSelectionRange& range : importedView_->selectionModel()->selection())
    for (int r = range.top(); r <= range.bottom(); ++r) rows.push_back(r);
  return rows;
}

void CImportExtOrDlg::OnSaveAs() {
  if (loading_) return;
  const std::vector<int> rows = SelectedRows();
  if (rows.empty()) {
    prompts_->Inform(QString::fromUtf8(extor::kMakeSelectionMessage));
    return;
  }
  const std::string separator = outputSeparator_->text().isEmpty() ? "," : outputSeparator_->text().toStdString();
  const QString path = prompts_->PickSaveFile(tr("Save As"), QString());
  if (path.isEmpty()) return;
  std::string error;
  if (!model_.SaveAs(path.toStdString(), rows, separator, &error)) prompts_->Warn(QString::fromStdString(error));
}

void CImportExtOrDlg::OnImport() {
  if (loading_) return;
  const std::vector<int> rows = SelectedRows();
  if (rows.empty()) {
    prompts_->Inform(QString::fromUtf8(extor::kMakeSelectionMessage));
    return;
  }
  loading_ = true;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const extor::ImportResult result = model_.Import(rows, *orientations_, ProgressContext());
  progress_->setValue(progress_->minimum());
  QApplication::restoreOverrideCursor();
  loading_ = false;
  logLines_.insert(logLines_.end(), result.logLines.begin(), result.logLines.end());
  if (result.status != extor::ImportResult::Status::kOk) return;  // nothing matched: stay open
  prompts_->Inform(QString::fromStdString(extor::ImportedMessage(result.imported)));
  accept();
}

}  // namespace ortavia::ui
