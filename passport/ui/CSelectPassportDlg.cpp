#include "passport/ui/CSelectPassportDlg.h"

#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>
#include <filesystem>

#include "external/tools/folders.h"
#include "external/tools/profile.h"
#include "gui/cad_view.h"
#include "gui/file_filters.h"
#include "gui/prompts.h"
#include "parser/ui/CIndexDlg.h"
#include "passport/passport_database.h"

namespace ortavia::ui {

namespace {

constexpr const char* kCurveLayer = "Curve";

const QColor kEvenRow(255, 255, 255);
const QColor kOddRow(230, 230, 230);
const QColor kLabelText(0, 0, 0);
const QColor kValueText(0, 170, 0);

// The cells the table leaves empty by design; their text is drawn in the background colour.
bool IsBlankCell(int row, int column) {
  using namespace passport;
  if (column == 1) return row == kRowPixelSize;
  if (column == 2)
    return row == kRowModel || row == kRowSerial || row == kRowWidth || row == kRowHeight;
  return false;
}

QString ImportFilter() {
  return CaseBlindFilter(
      "Camera Passport (*.ccb;*.cvc;*.cvcc;*.bcc;*.rdr)|*.ccb;*.cvc;*.cvcc;*.bcc;*.rdr|"
      "CCB Camera Passport (*.ccb)|*.ccb|CVC Camera Passport (*.cvc)|*.cvc|"
      "CVCC Camera Passport (*.cvcc)|*.cvcc|BCC Camera Passport (*.bcc)|*.bcc|"
      "RDR Camera Passport (*.rdr)|*.rdr||");
}

}  // namespace

CSelectPassportDlg::CSelectPassportDlg(Prompts* prompts, QWidget* parent) : QDialog(parent) {
  if (!prompts) ownPrompts_ = std::make_unique<QtPrompts>(this);
  prompts_ = prompts ? prompts : ownPrompts_.get();
  setWindowTitle(QStringLiteral("Select your Passport"));
  resize(760, 470);  // grows to the table's full height

  combo_ = new QComboBox(this);
  combo_->setEditable(false);
  combo_->setInsertPolicy(QComboBox::NoInsert);
  tableWidget_ = new QTableWidget(this);
  importButton_ = new QPushButton(tr("Import"), this);
  selectButton_ = new QPushButton(tr("Select"), this);
  cancelButton_ = new QPushButton(tr("Cancel"), this);
  for (QPushButton* b : {importButton_, selectButton_, cancelButton_}) b->setAutoDefault(false);
  syntaxButton_ = new QPushButton(tr("Formula Syntax"), this);
  curveSelector_ = new QComboBox(this);
  previewHost_ = new QFrame(this);
  previewHost_->setFrameShape(QFrame::StyledPanel);
  previewHost_->setMinimumSize(220, 160);
  // Created without the visible style, and nothing shows them.
  for (QWidget* w : std::initializer_list<QWidget*>{syntaxButton_, curveSelector_, previewHost_})
    w->setVisible(false);

  auto* side = new QVBoxLayout;
  side->addWidget(syntaxButton_);
  side->addWidget(curveSelector_);
  side->addWidget(previewHost_, 1);
  auto* middle = new QHBoxLayout;
  middle->addWidget(tableWidget_, 1);
  middle->addLayout(side);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(importButton_);
  buttons->addStretch(1);
  buttons->addWidget(selectButton_);
  buttons->addWidget(cancelButton_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(combo_);
  layout->addLayout(middle, 1);
  layout->addLayout(buttons);

  connect(importButton_, &QPushButton::clicked, this, &CSelectPassportDlg::ImportPassport);
  connect(selectButton_, &QPushButton::clicked, this, &CSelectPassportDlg::SelectPassport);
  connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
  connect(syntaxButton_, &QPushButton::clicked, this, &CSelectPassportDlg::OnFormulaSyntax);

  // Initialisation, in the order the selection depends on.
  BuildTable();
  curveSelector_->addItem(tr("Radial"));
  curveSelector_->addItem(tr("Tangential"));
  curveSelector_->setCurrentIndex(0);
  const int n = RefreshPassportList();
  const int remembered = passport::ParseRememberedIndex(
      GT_GetUserProfileString(passport::kProfileSection, passport::kProfileIndexKey, ""));
  if (remembered < n) {
    const QSignalBlocker block(combo_);
    combo_->setCurrentIndex(remembered < 0 ? -1 : remembered);
  }
  LoadSelectedPassport();
  connect(combo_, &QComboBox::currentIndexChanged, this, &CSelectPassportDlg::LoadSelectedPassport);
  connect(curveSelector_, &QComboBox::currentIndexChanged, this, &CSelectPassportDlg::UpdateDistortionPreview);
  if (!CreateFormulaParser()) return;  // the dialog still selects, without preview and icons
  CreatePreview();
  QStyle* st = style();
  importButton_->setIcon(st->standardIcon(QStyle::SP_DialogOpenButton));
  selectButton_->setIcon(st->standardIcon(QStyle::SP_DialogOkButton));
  cancelButton_->setIcon(st->standardIcon(QStyle::SP_DialogCancelButton));
}

CSelectPassportDlg::~CSelectPassportDlg() {
  if (preview_) preview_->SetDrawing(nullptr);
}

// --- table ------------------------------------------------------------------------------------

void CSelectPassportDlg::BuildTable() {
  tableWidget_->setColumnCount(3);
  tableWidget_->setRowCount(passport::kTableRows);
  tableWidget_->setHorizontalHeaderLabels(QString::fromLatin1(passport::kTableHeader).split(';'));
  tableWidget_->verticalHeader()->setVisible(false);
  tableWidget_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tableWidget_->setSelectionBehavior(QAbstractItemView::SelectRows);
  tableWidget_->setSelectionMode(QAbstractItemView::SingleSelection);
  tableWidget_->setShowGrid(true);
  tableWidget_->setWordWrap(false);
  tableWidget_->viewport()->installEventFilter(this);
  table_ = passport::InitialPassportTable();
  for (int row = 0; row < passport::kTableRows; ++row)
    for (int column = 0; column < 3; ++column) {
      auto* item = new QTableWidgetItem;
      item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
      const QColor background = row % 2 == 0 ? kEvenRow : kOddRow;
      item->setBackground(background);
      item->setForeground(IsBlankCell(row, column) ? background
                          : column == 0           ? kLabelText
                          : column == 1           ? kValueText
                                                  : kLabelText);
      tableWidget_->setItem(row, column, item);
    }
  PaintTable();
  // Room for every row, so the formulas at the bottom need no scrolling.
  tableWidget_->resizeRowsToContents();
  tableWidget_->setMinimumHeight(tableWidget_->verticalHeader()->length() +
                                 tableWidget_->horizontalHeader()->sizeHint().height() +
                                 2 * tableWidget_->frameWidth() + 2);
  FitColumns();
}

void CSelectPassportDlg::PaintTable() {
  for (int row = 0; row < passport::kTableRows; ++row) {
    tableWidget_->item(row, 0)->setText(QString::fromStdString(table_[row].label));
    tableWidget_->item(row, 1)->setText(QString::fromStdString(table_[row].value));
    tableWidget_->item(row, 2)->setText(QString::fromStdString(table_[row].other));
  }
}

// Shares of the list's client width, as the columns were laid out for.
void CSelectPassportDlg::FitColumns() {
  const int width = tableWidget_->viewport()->width();
  tableWidget_->setColumnWidth(0, static_cast<int>(width * 0.38));
  tableWidget_->setColumnWidth(1, static_cast<int>(width * 0.38));
  tableWidget_->setColumnWidth(2, static_cast<int>(width * 0.237));
}

bool CSelectPassportDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == tableWidget_->viewport() && event->type() == QEvent::Resize) FitColumns();
  return QDialog::eventFilter(watched, event);
}

void CSelectPassportDlg::ShowPassportValues() {
  passport::ShowPassportValues(passport_.get(), table_);
  PaintTable();
}

// --- the list ---------------------------------------------------------------------------------

int CSelectPassportDlg::RefreshPassportList() {
  passportList_ = passport::ListPassports(passport::PassportFolder());
  const QSignalBlocker block(combo_);
  combo_->clear();
  for (const auto& path : passportList_)
    combo_->addItem(QString::fromStdString(std::filesystem::path(path).filename().string()));
  combo_->setCurrentIndex(-1);
  return static_cast<int>(passportList_.size());
}

void CSelectPassportDlg::OpenListedPassport(int position) {
  selectedPath_ = passportList_[static_cast<std::size_t>(position)];
  passport_.reset();
  passport_ = passport::OpenPassport(selectedPath_);
}

void CSelectPassportDlg::LoadSelectedPassport() {
  const int position = combo_->currentIndex();
  if (position < 0 || position >= static_cast<int>(passportList_.size())) return;
  OpenListedPassport(position);
  ShowPassportValues();
}

void CSelectPassportDlg::SelectPassport() {
  const int position = combo_->currentIndex();
  if (position < 0 || position >= static_cast<int>(passportList_.size())) {
    prompts_->Inform(QString::fromLatin1(passport::kSelectPassportText));
    return;
  }
  // Remembered before opening, so a position is kept even when the file then fails.
  GT_WriteUserProfileString(passport::kProfileSection, passport::kProfileIndexKey,
                            std::to_string(position).c_str());
  OpenListedPassport(position);
  if (passport_) {
    accept();
    return;
  }
  prompts_->Warn(QString::fromLatin1(passport::kInvalidPassportText));
}

void CSelectPassportDlg::ImportPassport() {
  const QString chosen = prompts_->PickOpenFile(tr("Import Camera Passport"), ImportFilter());
  if (chosen.isEmpty()) return;
  const auto outcome = passport::ImportPassport(chosen.toStdString(), passport::PassportFolder(), [this] {
    return prompts_->AskYesNo(QString::fromLatin1(passport::kAlreadyPresentText));
  });
  switch (outcome.status) {
    case passport::ImportStatus::kNotAPassport:
      prompts_->Plain(QString(), QString::fromLatin1(passport::kUnableToOpenText));
      return;
    case passport::ImportStatus::kDeclined: return;
    case passport::ImportStatus::kCopyFailed:
      prompts_->Error(QString(), QString::fromLatin1(passport::kImportFailedText));
      break;
    case passport::ImportStatus::kImported:
    case passport::ImportStatus::kUnchanged: break;
  }
  RefreshPassportList();
}

// --- formulas and their curve -----------------------------------------------------------------

bool CSelectPassportDlg::CreateFormulaParser() {
  const auto failure = formulas_.Create();
  if (!failure) return true;
  prompts_->Error(QString::fromStdString(failure->caption), QString::fromStdString(failure->text));
  if (failure->caption == passport::kParserCreationCaption)
    prompts_->Error(QString(), QString::fromLatin1(passport::kParserNotCreatedText));
  return false;
}

void CSelectPassportDlg::CreatePreview() {
  previewDrawing_.Clear();
  previewDrawing_.AddLayer(kCurveLayer, 5, false);
  curve_ = 0;
  delete preview_;
  preview_ = new CadView(previewHost_);
  auto* hostLayout = new QVBoxLayout(previewHost_);
  hostLayout->setContentsMargins(0, 0, 0, 0);
  hostLayout->addWidget(preview_);
  preview_->SetDrawing(&previewDrawing_);
  preview_->setFocus();
}

void CSelectPassportDlg::UpdateDistortionPreview() {
  if (!formulas_.Parser()) return;
  using Status = passport::CurveOutcome::Status;
  const int position = curveSelector_->currentIndex();
  if (position < 0) {  // no formula row chosen reads as an empty formula
    prompts_->Inform(QString::fromLatin1(passport::kNoFormulaText));
    return;
  }
  const auto out = passport::SampleDistortionCurve(
      formulas_, position == 0 ? passport::CurveKind::kRadial : passport::CurveKind::kTangential, table_);
  if (!out.substituted.empty()) substituted_ = out.substituted;
  const QString message = QString::fromStdString(out.message);
  switch (out.status) {
    case Status::kNoFormula:
    case Status::kMissingName: prompts_->Inform(message); return;
    case Status::kMissingValue:
    case Status::kNotFinite: prompts_->Warn(message); return;
    case Status::kFormulaError:
      prompts_->Error(QString::fromLatin1(passport::kFormulaErrorCaption), message);
      return;
    case Status::kDrawn: break;
  }
  std::vector<cv::Point2d> points;
  for (int i = 0; i < passport::kCurvePoints; ++i) points.emplace_back(i, out.values[i]);
  if (curve_) previewDrawing_.Erase(curve_);
  previewDrawing_.Purge();
  curve_ = previewDrawing_.AddPolyline(kCurveLayer, std::move(points), false);
  if (preview_) {
    preview_->update();
    preview_->ZoomExtents();
  }
}

void CSelectPassportDlg::OnFormulaSyntax() {
  if (!formulas_.Parser()) return;
  CIndexDlg dialog(
      formulas_.Parser(), [this](const QString& caption, const QString& text) { prompts_->Plain(caption, text); },
      this);
  dialog.exec();
}

}  // namespace ortavia::ui
