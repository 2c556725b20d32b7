#include "app/COrtaviaDlg.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QGuiApplication>
#include <QSplitter>
#include <QStyle>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <ogr_spatialref.h>

#include "app/CAboutDlg.h"
#include "app/CSelectBandDlg.h"
#include "external/geo/pump.h"
#include "external/tools/folders.h"
#include "external/tools/sysinfo.h"
#include "extor/bundle_import.h"
#include "extor/ui/CImportExtOrDlg.h"
#include "gui/busy_scope.h"
#include "gui/cad_view.h"
#include "gui/file_filters.h"
#include "gui/folder_memory.h"
#include "gui/icons.h"
#include "gui/log_model.h"
#include "gui/maker.h"
#include "gui/prompts.h"
#include "model/add_images.h"
#include "model/dem.h"
#include "model/footprints.h"
#include "model/start_wait.h"
#include "passport/ui/CSelectPassportDlg.h"
#include "process/ui/TProgressTimeToComplete.h"
#include "process/ui/run_questions.h"
#include "products/ui/COrthoPreviewDlg.h"

namespace ortavia::ui {

namespace {

COrtaviaDlg* g_mainWindow = nullptr;

// Short name of the DEM's ground unit for the scale bar; empty when the DEM does not say.
QString GroundUnitName(GDALDataset* dem) {
  const OGRSpatialReference* srs = dem ? dem->GetSpatialRef() : nullptr;
  if (!srs) return {};
  if (srs->IsGeographic()) return QStringLiteral("°");
  const char* name = nullptr;
  const double toMetre = srs->GetLinearUnits(&name);
  if (toMetre == 1.0) return QStringLiteral("m");
  if (std::abs(toMetre - 0.3048) < 1e-6 || std::abs(toMetre - 1200.0 / 3937.0) < 1e-9) return QStringLiteral("ft");
  return name ? QString::fromUtf8(name) : QString();
}

using B = COrtaviaDlg::Button;

// The buttons whose state busy mode remembers, in this order.
constexpr std::array<B, 7> kRemembered = {B::PassportAdd, B::RemoveAll,          B::RemoveSelection,
                                          B::ImageAdd,    B::DemAdd,             B::ExtOrientationsAdd,
                                          B::Import};
// The buttons busy mode disables and gives back.
constexpr std::array<B, 14> kBusyDisabled = {
    B::RemoveAll, B::ImageAdd, B::RemoveSelection, B::Start,  B::DemAdd,   B::Settings, B::Exit,
    B::PassportAdd, B::ExtOrientationsAdd, B::Fill, B::About, B::Tutorial, B::Import, B::FullReport};

// A long load that Stop and Escape may end, for as long as it is in scope.
class StoppableLoad {
 public:
  explicit StoppableLoad(COrtaviaDlg& window) : window_(window) { window_.BeginStoppableLoad(); }
  ~StoppableLoad() { window_.EndStoppableLoad(); }
  StoppableLoad(const StoppableLoad&) = delete;
  StoppableLoad& operator=(const StoppableLoad&) = delete;

 private:
  COrtaviaDlg& window_;
};

QGroupBox* Box(const QString& title, QWidget* parent) {
  auto* box = new QGroupBox(title, parent);
  return box;
}

}  // namespace

COrtaviaDlg* COrtaviaDlg::Instance() { return g_mainWindow; }

COrtaviaDlg::COrtaviaDlg(QWidget* parent) : QDialog(parent) {
  ownPrompts_ = std::make_unique<QtPrompts>(
      this, [](QWidget* parent, const QString& imagePath, int bandCount, const std::vector<int>& roles) {
        return SelectBandOrder(parent, imagePath.toStdString(), bandCount, roles);
      });
  prompts_ = ownPrompts_.get();
  openUrl_ = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
  ownRunQuestions_ = std::make_unique<DialogRunQuestions>(this, prompts_);
  runQuestions_ = ownRunQuestions_.get();
  mailSettings_ = ReadMailSettings();
  mailOptions_.pump = [] { geo::PumpMsgs(); };
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
  setWindowIcon(AppIcon());
  setSizeGripEnabled(false);

  BuildLayout();
  ConnectCommands();

  // Only DEM Add and the commands outside the steps are usable on an empty project.
  SetStepState(Step::Dem, false);
  SetStepState(Step::Passport, false);
  SetStepState(Step::ImageToProject, false);
  SetStepState(Step::ExternalOrientations, false);
  UpdateStart();

  cadView_->SetDrawing(&project_.cad);
  cadView_->SetDrawImage([this](int code, QPainter& p, const QRectF& picture, const QRect& visible) {
    return code == kDemPictureCode && PaintDemPicture(p, picture, visible);
  });
  cadView_->SetEmptyText(tr("Add a DEM to show the terrain and the image footprints here"));
  preview_ = new COrthoPreviewDlg(project_, this);
  preview_->hide();
  // The layout of the last session, else maximised. Desktops without a window manager ignore the
  // maximised state: take the screen anyway.
  processSplit_->restoreState(StoredLayout(QStringLiteral("MainWindowProcessSplitter")));
  viewLogSplit_->restoreState(StoredLayout(QStringLiteral("MainWindowLogSplitter")));
  if (!restoreGeometry(StoredLayout(QStringLiteral("MainWindow")))) {
    if (const QScreen* screen = QGuiApplication::primaryScreen())
      setGeometry(screen->availableGeometry());
    else
      resize(1280, 800);
    setWindowState(windowState() | Qt::WindowMaximized);
  }

  g_mainWindow = this;
  SetTitle();
  AddLogEntry(QStringLiteral("Session started"));
}

COrtaviaDlg::~COrtaviaDlg() {
  if (g_mainWindow == this) g_mainWindow = nullptr;
  cadView_->SetDrawing(nullptr);
}

void COrtaviaDlg::SetPrompts(Prompts* prompts) {
  prompts_ = prompts ? prompts : ownPrompts_.get();
  ownRunQuestions_->SetPrompts(prompts_);
}

void COrtaviaDlg::SetRunQuestions(RunQuestions* questions) {
  runQuestions_ = questions ? questions : ownRunQuestions_.get();
}

void COrtaviaDlg::SetTitle() {
  QString version = QString::fromStdString(GT_GetVersionInfo());
  version.replace(',', '.');
  setWindowTitle(QStringLiteral("%1 %2 - %3 - %4").arg(kProductName, version, kMakerName, kMakerWebShort));
}

// --- layout ------------------------------------------------------------------------------------

QPushButton* COrtaviaDlg::MakeButton(Button b, const QString& text, const QIcon& icon, bool enabled) {
  auto* button = new QPushButton(icon, text, this);
  button->setAutoDefault(false);
  button->setDefault(false);
  button->setEnabled(enabled);
  buttons_[static_cast<int>(b)] = button;
  return button;
}

void COrtaviaDlg::BuildLayout() {
  QStyle* st = style();
  const QIcon addIcon = st->standardIcon(QStyle::SP_FileDialogNewFolder);
  const QIcon openIcon = st->standardIcon(QStyle::SP_DialogOpenButton);

  // Buttons as the dialog resource creates them: the step commands after DEM start disabled.
  MakeButton(B::DemAdd, tr("Add"), openIcon, true);
  MakeButton(B::Import, tr("Import"), st->standardIcon(QStyle::SP_ArrowDown), true);
  MakeButton(B::PassportAdd, tr("Add"), openIcon, false);
  MakeButton(B::ImageAdd, tr("Add"), addIcon, false);
  MakeButton(B::RemoveSelection, tr("Remove Selection"), st->standardIcon(QStyle::SP_DialogDiscardButton), false);
  MakeButton(B::RemoveAll, tr("Remove All"), st->standardIcon(QStyle::SP_TrashIcon), false);
  MakeButton(B::ExtOrientationsAdd, tr("Add"), openIcon, false);
  MakeButton(B::Settings, tr("Settings"), st->standardIcon(QStyle::SP_FileDialogDetailedView), true);
  MakeButton(B::Start, tr("Start"), st->standardIcon(QStyle::SP_MediaPlay), false);
  MakeButton(B::Stop, tr("Stop"), st->standardIcon(QStyle::SP_MediaStop), false);
  MakeButton(B::Fill, tr("Fill"), st->standardIcon(QStyle::SP_DialogApplyButton), false);
  GetButton(B::Fill)->setCheckable(true);
  MakeButton(B::LastWarp, tr("Last Warp"), st->standardIcon(QStyle::SP_FileDialogContentsView), false);
  MakeButton(B::FullReport, tr("Full Report"), st->standardIcon(QStyle::SP_FileIcon), false);
  MakeButton(B::About, tr("About"), st->standardIcon(QStyle::SP_MessageBoxInformation), true);
  MakeButton(B::Tutorial, tr("Tutorial"), st->standardIcon(QStyle::SP_DialogHelpButton), true);
  MakeButton(B::Exit, tr("Exit"), st->standardIcon(QStyle::SP_DialogCloseButton), true);

  for (auto& pic : stepPictures_) {
    pic = new QLabel(this);
    pic->setFixedSize(24, 24);
    pic->setAlignment(Qt::AlignCenter);
  }
  auto stepPicture = [this](Step s) { return stepPictures_[static_cast<int>(s)]; };

  // Top row: DEM, bundle import, Passport, Image To Project, External Orientations, Settings.
  auto* demBox = Box(tr("DEM"), this);
  auto* demLayout = new QHBoxLayout(demBox);
  demLayout->addWidget(GetButton(B::DemAdd));
  demLayout->addWidget(stepPicture(Step::Dem));

  auto* importBox = Box(tr("Import from Trivane"), this);
  auto* importLayout = new QHBoxLayout(importBox);
  importLayout->addWidget(GetButton(B::Import));

  auto* passportBox = Box(tr("Passport"), this);
  auto* passportLayout = new QHBoxLayout(passportBox);
  passportLayout->addWidget(GetButton(B::PassportAdd));
  passportLayout->addWidget(stepPicture(Step::Passport));
  passportEdit_ = new QLineEdit(this);
  passportEdit_->setReadOnly(true);
  passportEdit_->setPlaceholderText(tr("No passport selected"));
  passportEdit_->setMinimumWidth(160);
  passportLayout->addWidget(passportEdit_, 1);

  auto* imagesBox = Box(tr("Image To Project"), this);
  auto* imagesLayout = new QHBoxLayout(imagesBox);
  imagesLayout->addWidget(GetButton(B::ImageAdd));
  imagesLayout->addWidget(GetButton(B::RemoveSelection));
  imagesLayout->addWidget(GetButton(B::RemoveAll));
  imagesLayout->addWidget(stepPicture(Step::ImageToProject));

  auto* eoBox = Box(tr("External Orientations"), this);
  auto* eoLayout = new QHBoxLayout(eoBox);
  eoLayout->addWidget(GetButton(B::ExtOrientationsAdd));
  eoLayout->addWidget(stepPicture(Step::ExternalOrientations));

  auto* settingsBox = Box(QString(), this);
  auto* settingsLayout = new QHBoxLayout(settingsBox);
  settingsLayout->addWidget(GetButton(B::Settings));

  auto* top = new QHBoxLayout;
  top->addWidget(demBox);
  top->addWidget(importBox);
  top->addWidget(passportBox, 1);
  top->addWidget(imagesBox);
  top->addWidget(eoBox);
  top->addWidget(settingsBox);

  // Process group: image list with its commands on the left, CAD view, coordinates and log right.
  imageList_ = new QTreeWidget(this);
  imageList_->setColumnCount(3);
  imageList_->setHeaderLabels({tr("Added Images"), QString(), tr("State")});
  imageList_->setRootIsDecorated(false);
  imageList_->setUniformRowHeights(true);
  imageList_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  imageList_->setSelectionBehavior(QAbstractItemView::SelectRows);
  imageList_->setAlternatingRowColors(true);
  imageList_->header()->setStretchLastSection(false);
  imageList_->header()->setSectionResizeMode(0, QHeaderView::Interactive);
  imageList_->header()->setSectionResizeMode(kStateColumn, QHeaderView::Stretch);
  imageList_->header()->resizeSection(0, 140);
  imageList_->setColumnHidden(1, true);  // the path column has no width

  auto* listCommands = new QHBoxLayout;
  listCommands->addWidget(GetButton(B::Start));
  listCommands->addWidget(GetButton(B::Stop));
  listCommands->addWidget(GetButton(B::Fill));
  listCommands->addWidget(GetButton(B::LastWarp));

  startReason_ = new QLabel(this);
  startReason_->setWordWrap(true);
  startReason_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* left = new QWidget(this);
  auto* leftLayout = new QVBoxLayout(left);
  leftLayout->setContentsMargins(0, 0, 0, 0);
  leftLayout->addWidget(imageList_, 1);
  leftLayout->addLayout(listCommands);
  leftLayout->addWidget(startReason_);

  auto* cadFrame = new QFrame(this);
  cadFrame->setFrameShape(QFrame::StyledPanel);
  cadFrame->setFrameShadow(QFrame::Sunken);
  auto* cadFrameLayout = new QVBoxLayout(cadFrame);
  cadFrameLayout->setContentsMargins(1, 1, 1, 1);
  cadView_ = new CadView(cadFrame);
  cadFrameLayout->addWidget(cadView_);

  coordText_ = new QLabel(this);
  coordText_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  coordText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  coordText_->setMinimumWidth(200);
  QFont mono = coordText_->font();
  mono.setFamily(QStringLiteral("monospace"));
  mono.setStyleHint(QFont::Monospace);
  coordText_->setFont(mono);

  logModel_ = new LogModel(this);
  logView_ = new QTreeView(this);
  logView_->setModel(logModel_);
  logView_->setRootIsDecorated(false);
  logView_->setUniformRowHeights(true);
  logView_->setSelectionBehavior(QAbstractItemView::SelectRows);
  logView_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  logView_->header()->setStretchLastSection(true);
  logView_->header()->resizeSection(0, 150);
  logView_->setStyleSheet(QStringLiteral(
      "QTreeView { background-color: rgb(40, 40, 40); color: rgb(250, 250, 250);"
      " selection-background-color: rgb(70, 100, 140); border: 1px solid rgb(25, 25, 25); }"
      "QTreeView QHeaderView::section { background-color: rgb(55, 55, 55); color: rgb(230, 230, 230);"
      " border: none; border-right: 1px solid rgb(40, 40, 40); padding: 3px 6px; }"));

  // Log rows can be copied as text, one "date time<TAB>operation" line each.
  auto* copyLog = new QAction(tr("Copy"), logView_);
  copyLog->setShortcut(QKeySequence::Copy);
  copyLog->setShortcutContext(Qt::WidgetShortcut);
  connect(copyLog, &QAction::triggered, this, &COrtaviaDlg::CopyLogSelection);
  logView_->addAction(copyLog);
  logView_->setContextMenuPolicy(Qt::ActionsContextMenu);

  auto* cadColumn = new QWidget(this);
  auto* cadColumnLayout = new QVBoxLayout(cadColumn);
  cadColumnLayout->setContentsMargins(0, 0, 0, 0);
  cadColumnLayout->addWidget(cadFrame, 1);
  cadColumnLayout->addWidget(coordText_);

  auto* rightSplit = new QSplitter(Qt::Vertical, this);
  rightSplit->addWidget(cadColumn);
  rightSplit->addWidget(logView_);
  rightSplit->setStretchFactor(0, 1);
  rightSplit->setStretchFactor(1, 0);
  rightSplit->setSizes({600, 170});
  rightSplit->setChildrenCollapsible(false);
  viewLogSplit_ = rightSplit;

  auto* split = new QSplitter(Qt::Horizontal, this);
  split->addWidget(left);
  split->addWidget(rightSplit);
  split->setStretchFactor(0, 0);
  split->setStretchFactor(1, 1);
  split->setSizes({300, 1000});
  split->setChildrenCollapsible(false);
  processSplit_ = split;

  auto* processBox = Box(tr("Process"), this);
  auto* processLayout = new QVBoxLayout(processBox);
  processLayout->addWidget(split);

  // Bottom: progress across the window, then the report and the window commands.
  timeProgress_ = new TProgressTimeToComplete(this);
  progress_ = timeProgress_;
  progress_->setRange(0, 100);
  progress_->setValue(0);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(GetButton(B::FullReport));
  bottom->addStretch(1);
  bottom->addWidget(GetButton(B::About));
  bottom->addWidget(GetButton(B::Tutorial));
  bottom->addWidget(GetButton(B::Exit));

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(processBox, 1);
  layout->addWidget(progress_);
  layout->addLayout(bottom);
}

void COrtaviaDlg::ConnectCommands() {
  connect(GetButton(B::DemAdd), &QPushButton::clicked, this, &COrtaviaDlg::LoadDem);
  connect(GetButton(B::RemoveSelection), &QPushButton::clicked, this, &COrtaviaDlg::OnRemoveSelection);
  connect(GetButton(B::RemoveAll), &QPushButton::clicked, this, &COrtaviaDlg::OnRemoveAll);
  connect(GetButton(B::Fill), &QPushButton::clicked, this, &COrtaviaDlg::OnFill);
  connect(GetButton(B::About), &QPushButton::clicked, this, &COrtaviaDlg::OnAbout);
  connect(GetButton(B::Tutorial), &QPushButton::clicked, this, &COrtaviaDlg::OnTutorial);
  connect(GetButton(B::Exit), &QPushButton::clicked, this, &COrtaviaDlg::OnExit);
  connect(GetButton(B::ExtOrientationsAdd), &QPushButton::clicked, this, &COrtaviaDlg::OnExtOrientationsAdd);
  connect(GetButton(B::ImageAdd), &QPushButton::clicked, this, &COrtaviaDlg::OnAddImages);
  connect(GetButton(B::Import), &QPushButton::clicked, this, &COrtaviaDlg::OnImport);
  connect(GetButton(B::Start), &QPushButton::clicked, this, &COrtaviaDlg::OnStart);
  connect(GetButton(B::Stop), &QPushButton::clicked, this, &COrtaviaDlg::OnStop);
  connect(GetButton(B::LastWarp), &QPushButton::clicked, this, &COrtaviaDlg::OnLastWarp);
  connect(GetButton(B::FullReport), &QPushButton::clicked, this, &COrtaviaDlg::OnFullReport);
  connect(GetButton(B::PassportAdd), &QPushButton::clicked, this, &COrtaviaDlg::OnPassportAdd);
  connect(GetButton(B::Settings), &QPushButton::clicked, this, &COrtaviaDlg::OnSettings);

  connect(cadView_, &CadView::GroundPositionChanged, this, [this](double x, double y) {
    if (!Instance()) return;
    coordText_->setText(QString::asprintf("%.3f, %.3f", x, y));
  });
  connect(cadView_, &CadView::EntitySelected, this, [this](CadHandle h) { OnEntitySelected(h, true); });
  connect(cadView_, &CadView::EntityDeselected, this, [this](CadHandle h) { OnEntitySelected(h, false); });
  connect(imageList_, &QTreeWidget::itemSelectionChanged, this, &COrtaviaDlg::OnImageSelectionChanged);
  connect(imageList_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
    ZoomToFootprint(imageList_->indexOfTopLevelItem(item));
  });
  imageList_->installEventFilter(this);
}

// --- enabling rules ----------------------------------------------------------------------------

void COrtaviaDlg::SetEnabled(Button b, bool enabled) {
  if (IsBusy()) {
    // The commands stay disabled while busy; what a step decides meanwhile applies at the end.
    if (b == B::Start) return;
    const auto it = std::find(kRemembered.begin(), kRemembered.end(), b);
    if (it != kRemembered.end()) {
      savedEnable_[static_cast<std::size_t>(it - kRemembered.begin())] = enabled;
      return;
    }
  }
  GetButton(b)->setEnabled(enabled);
}
bool COrtaviaDlg::Enabled(Button b) const { return GetButton(b)->isEnabled(); }

void COrtaviaDlg::ShowStepPicture(Step step, bool ready) {
  stepReady_[static_cast<int>(step)] = ready;
  QLabel* pic = stepPictures_[static_cast<int>(step)];
  pic->setPixmap(StepPixmap(ready));
  pic->setToolTip(ready ? tr("Ready") : tr("Not ready"));
}

void COrtaviaDlg::SetStepState(Step step, bool ready) {
  ShowStepPicture(step, ready);
  const bool unlocked = !project_.bundleLock;
  switch (step) {
    case Step::Dem:
      if (ready) {
        if (unlocked) SetEnabled(B::PassportAdd, true);
      } else {
        ShowStepPicture(Step::Passport, false);
        ShowStepPicture(Step::ImageToProject, false);
        ShowStepPicture(Step::ExternalOrientations, false);
        for (B b : {B::PassportAdd, B::ImageAdd, B::RemoveAll, B::RemoveSelection, B::ExtOrientationsAdd})
          SetEnabled(b, false);
      }
      break;
    case Step::Passport:
      if (ready) {
        if (unlocked) SetEnabled(B::ImageAdd, true);
      } else {
        ShowStepPicture(Step::ImageToProject, false);
        ShowStepPicture(Step::ExternalOrientations, false);
        for (B b : {B::ImageAdd, B::RemoveAll, B::RemoveSelection, B::ExtOrientationsAdd}) SetEnabled(b, false);
      }
      break;
    case Step::ImageToProject:
      if (ready) {
        if (unlocked)
          for (B b : {B::ExtOrientationsAdd, B::RemoveAll, B::RemoveSelection}) SetEnabled(b, true);
      } else {
        ShowStepPicture(Step::ExternalOrientations, false);
        for (B b : {B::RemoveAll, B::RemoveSelection, B::ExtOrientationsAdd}) SetEnabled(b, false);
      }
      break;
    case Step::ExternalOrientations:
      break;
  }
}

void COrtaviaDlg::UpdateStart() {
  // A DEM in degrees is accepted for display; Start waits for a projected one.
  const QString waits = QString::fromStdString(StartWaitsFor(project_));
  SetEnabled(B::Start, waits.isEmpty());
  const QString text = waits.isEmpty() ? QString() : tr("Start waits for %1").arg(waits);
  startReason_->setText(text);
  startReason_->setVisible(!text.isEmpty());
  GetButton(B::Start)->setToolTip(text);
}

void COrtaviaDlg::SetBusy(bool busy) {
  if (busy) {
    if (busyDepth_++ > 0) return;
    for (std::size_t i = 0; i < kRemembered.size(); ++i) savedEnable_[i] = Enabled(kRemembered[i]);
    for (B b : kBusyDisabled) GetButton(b)->setEnabled(false);
    GetButton(B::Stop)->setEnabled(project_.processRunning);
    GetButton(B::LastWarp)->setEnabled(project_.processRunning);
    return;
  }
  if (busyDepth_ == 0 || --busyDepth_ > 0) return;
  for (B b : kBusyDisabled) GetButton(b)->setEnabled(true);
  for (std::size_t i = 0; i < kRemembered.size(); ++i) GetButton(kRemembered[i])->setEnabled(savedEnable_[i]);
  GetButton(B::Stop)->setEnabled(false);
  // The last ortho of a run stays there to be looked at.
  GetButton(B::LastWarp)->setEnabled(!project_.lastOrthoPath.empty());
  UpdateStart();
}

void COrtaviaDlg::BeginStoppableLoad() {
  if (loadDepth_++ > 0) return;
  project_.abortRequested = false;
  GetButton(B::Stop)->setEnabled(true);
}

void COrtaviaDlg::EndStoppableLoad() {
  if (loadDepth_ == 0 || --loadDepth_ > 0) return;
  project_.abortRequested = false;
  GetButton(B::Stop)->setEnabled(IsBusy() && project_.processRunning);
}

void COrtaviaDlg::SetBundleLock(bool locked) {
  project_.bundleLock = locked;
  if (locked)
    for (B b : {B::PassportAdd, B::RemoveAll, B::RemoveSelection, B::ImageAdd, B::ExtOrientationsAdd})
      SetEnabled(b, false);
}

// --- log ---------------------------------------------------------------------------------------

void COrtaviaDlg::AddLogEntry(const QString& text) {
  const QString when = QString::fromStdString(GT_GetCurrentSysDate(0, 0) + " " + GT_GetCurrentSysTime());
  logModel_->Add(when, text);
  geo::PumpMsgs();
}

void COrtaviaDlg::CopyLogSelection() {
  QModelIndexList rows = logView_->selectionModel()->selectedRows();
  std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  QStringList lines;
  for (const QModelIndex& index : rows)
    lines << logModel_->When(index.row()) + QLatin1Char('\t') + logModel_->Operation(index.row());
  if (!lines.isEmpty()) QGuiApplication::clipboard()->setText(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

void LogMessage(const char* text) {
  geo::PumpMsgs();
  if (text && COrtaviaDlg::Instance()) COrtaviaDlg::Instance()->AddLogEntry(QString::fromUtf8(text));
}

// --- images ------------------------------------------------------------------------------------

void COrtaviaDlg::ImagesChanged() {
  const QSignalBlocker block(imageList_);
  imageList_->clear();
  QList<QTreeWidgetItem*> rows;
  rows.reserve(static_cast<qsizetype>(project_.images.size()));
  for (const ImageItem& item : project_.images) {
    auto* row = new QTreeWidgetItem(
        QStringList{QString::fromStdString(item.name), QString::fromStdString(item.path), ImageState(item)});
    row->setToolTip(0, QString::fromStdString(item.path));
    rows << row;
  }
  // Refused files come last and cannot be chosen: the rows above stay those of project.images.
  const QBrush grey = palette().brush(QPalette::Disabled, QPalette::Text);
  for (const RefusedImage& refused : refused_) {
    const QString path = QString::fromStdString(refused.path);
    auto* row = new QTreeWidgetItem(
        QStringList{QFileInfo(path).fileName(), path, tr("refused: %1").arg(QString::fromStdString(refused.cause))});
    row->setFlags(Qt::NoItemFlags);
    for (int c = 0; c < 3; ++c) row->setForeground(c, grey);
    row->setToolTip(0, path);
    row->setToolTip(kStateColumn, row->text(kStateColumn));
    rows << row;
  }
  imageList_->addTopLevelItems(rows);
  SetStepState(Step::ImageToProject, !project_.images.empty());
  UpdateStart();
}

QString COrtaviaDlg::ImageState(const ImageItem& item) const {
  const auto it = project_.orientations.find(item.name);
  if (it == project_.orientations.end() || !HasExteriorOrientation(it->second))
    return tr("waits for its exterior orientation");
  if (project_.footprints.count(item.name)) return tr("oriented, footprint on the terrain");
  if (missed_.count(item.name)) return tr("oriented, footprint misses the terrain (angles in degrees?)");
  return tr("oriented");
}

void COrtaviaDlg::RefreshImageStates() {
  const int n = std::min(imageList_->topLevelItemCount(), static_cast<int>(project_.images.size()));
  for (int row = 0; row < n; ++row) {
    QTreeWidgetItem* item = imageList_->topLevelItem(row);
    const QString state = ImageState(project_.images[static_cast<std::size_t>(row)]);
    if (item->text(kStateColumn) != state) item->setText(kStateColumn, state);
  }
}

void COrtaviaDlg::EraseFootprint(const std::string& name) {
  auto it = project_.footprints.find(name);
  if (it == project_.footprints.end()) return;
  project_.cad.Erase(it->second);
  project_.footprints.erase(it);
}

void COrtaviaDlg::EraseAllFootprints() {
  for (const auto& [name, handle] : project_.footprints) project_.cad.Erase(handle);
  project_.footprints.clear();
}

void COrtaviaDlg::OnRemoveSelection() {
  std::vector<bool> selected(project_.images.size(), false);
  int count = 0;
  for (int row = 0; row < imageList_->topLevelItemCount(); ++row) {
    if (row < static_cast<int>(selected.size()) && imageList_->topLevelItem(row)->isSelected()) {
      selected[static_cast<std::size_t>(row)] = true;
      ++count;
    }
  }
  if (count == 0) return;
  std::vector<ImageItem> kept;
  for (std::size_t i = 0; i < project_.images.size(); ++i) {
    const ImageItem& item = project_.images[i];
    if (!selected[i]) {
      kept.push_back(item);
      continue;
    }
    project_.orientations.erase(item.name);
    EraseFootprint(item.name);
  }
  project_.images = std::move(kept);
  ImagesChanged();
  AddLogEntry(QString::asprintf("%d images removed", count));
  project_.cad.Purge();
  cadView_->update();
}

void COrtaviaDlg::OnRemoveAll() {
  if (!prompts_->AskYesNo(tr("Do you really want to remove all imported images?"))) return;
  RemoveAllImages();
}

void COrtaviaDlg::RemoveAllImages() {
  const bool hadRows = !project_.images.empty();
  {
    const QSignalBlocker block(imageList_);
    imageList_->clear();
  }
  project_.images.clear();
  project_.orientations.clear();
  refused_.clear();
  missed_.clear();
  SetStepState(Step::ImageToProject, false);
  UpdateStart();
  EraseAllFootprints();
  if (hadRows) project_.cad.Purge();
  cadView_->update();
  geo::PumpMsgs();
  AddLogEntry(QStringLiteral("All imported images removed"));
}

void COrtaviaDlg::OnAddImages() {
  if (!project_.passport) {
    prompts_->Inform(QString::fromUtf8(kSelectPassportText));
    return;
  }
  const QStringList files = prompts_->PickOpenFiles(tr("Add images"), CaseBlindFilter(kImageFileFilter));
  if (files.isEmpty()) return;
  std::vector<std::string> paths;
  paths.reserve(static_cast<std::size_t>(files.size()));
  for (const QString& f : files) paths.push_back(f.toStdString());
  AddImagesResult result;
  {
    BusyScope busy(*this);
    StoppableLoad load(*this);
    result = AddImages(project_, paths, MakeRunContext());
  }
  if (result.status == AddImagesStatus::Stopped) return;  // logged; nothing changed
  if (result.status == AddImagesStatus::FirstImageUnreadable) {
    prompts_->Warn(QString::fromUtf8(kFirstImageUnreadableText));
    return;
  }
  refused_ = std::move(result.refused);
  ImagesChanged();
}

bool COrtaviaDlg::OnImport() {
  const QString path = prompts_->PickOpenFile(tr("Import from Trivane"), CaseBlindFilter(kBundleFileFilter));
  if (path.isEmpty()) return false;
  QString failure;
  {
    BusyScope busy(*this);
    BundleImport im;
    {
      StoppableLoad load(*this);
      im = PrepareBundleImport(path.toStdString(), project_.cameraName, MakeRunContext());
    }
    if (im.status == BundleImportStatus::Stopped) {
      AddLogEntry(QString::fromUtf8(kBundleImportStoppedText));
      return false;
    }
    if (im.status != BundleImportStatus::Imported) {
      failure = QString::fromStdString(im.message);
      AddLogEntry(QString::fromStdString(im.message + " " + im.detail));
    } else {
      ApplyBundle(std::move(im));
    }
  }
  // A refused file changes nothing, an earlier bundle's lock included.
  if (!failure.isEmpty()) {
    prompts_->Warn(failure);
    return false;
  }
  SetBundleLock(true);
  return true;
}

void COrtaviaDlg::ShowPassport(const geo::CCameraPassport& p) {
  passportEdit_->setText(QString::asprintf("%s - s.n. %s", p.model.c_str(), p.serialNumber.c_str()));
  AddLogEntry(QString::asprintf("Passport selected: %s (s.n. %s) - focal length %.2f", p.model.c_str(),
                                p.serialNumber.c_str(), p.focalLength));
}

void COrtaviaDlg::ApplyBundle(BundleImport&& im) {
  // The log tells the steps in the order the operator knows: a version-202 passport comes from
  // its own file before the images go, the others from the bundle after.
  const bool passportFirst = im.version == kBundleMinVersion;
  const std::vector<std::string> counts = im.countLines;
  std::vector<RefusedImage> refused = std::move(im.refused);
  if (passportFirst) ShowPassport(*im.passport);
  RemoveAllImages();
  ApplyBundleImport(project_, std::move(im));
  if (!passportFirst) ShowPassport(*project_.passport);
  for (const std::string& line : counts) AddLogEntry(QString::fromStdString(line));
  for (const std::string& line : RefusedImageLines(refused)) AddLogEntry(QString::fromStdString(line));
  refused_ = std::move(refused);
  SetStepState(Step::Passport, project_.passport != nullptr);
  ImagesChanged();
  SetStepState(Step::ExternalOrientations, !project_.orientations.empty());
  UpdateStart();
  AddLogEntry(QString::asprintf("%d External Orientation currently loaded", static_cast<int>(project_.orientations.size())));
  ComputeFootprints();
}

// --- passport and orientations -----------------------------------------------------------------

bool COrtaviaDlg::ApplyPassport(const geo::CCameraPassport& passport, const std::string& file) {
  if (project_.passport) {
    if (!prompts_->AskYesNo(
            tr("If you proceed all images and external orientation will be removed. Do you want to proceed?")))
      return false;
    {
      const QSignalBlocker block(imageList_);
      imageList_->clear();
    }
    project_.images.clear();
    project_.orientations.clear();
    refused_.clear();
    missed_.clear();
    EraseAllFootprints();
    project_.cad.Purge();
    SetStepState(Step::Passport, false);
    project_.passport.reset();
  }
  project_.passport = geo::CCameraPassport::New(&passport);
  std::string name = QFileInfo(QString::fromStdString(file)).fileName().toLower().toStdString();
  project_.cameraName = name;
  SetStepState(Step::Passport, true);
  UpdateStart();
  ShowPassport(passport);
  cadView_->update();
  return true;
}

void COrtaviaDlg::OnPassportAdd() {
  CSelectPassportDlg dialog(prompts_, this);
  if (dialog.exec() != QDialog::Accepted || !dialog.Passport()) return;
  ApplyPassport(*dialog.Passport(), dialog.SelectedPath());
}

void COrtaviaDlg::OnExtOrientationsAdd() {
  if (!project_.passport) {
    prompts_->Inform(tr("Select camera passport before!"));
    return;
  }
  CImportExtOrDlg dlg(&project_.orientations, this);
  dlg.SetPrompts(prompts_);
  const int result = dlg.exec();
  for (const std::string& line : dlg.LogLines()) AddLogEntry(QString::fromStdString(line));
  if (result == QDialog::Accepted) OrientationsImported();
}

void COrtaviaDlg::OrientationsImported() {
  UpdateStart();
  if (!project_.orientations.empty()) SetStepState(Step::ExternalOrientations, true);
  AddLogEntry(QString::asprintf("%d External Orientation currently loaded",
                                static_cast<int>(project_.orientations.size())));
  ComputeFootprints();
}

// --- DEM and footprints ------------------------------------------------------------------------

RunContext COrtaviaDlg::MakeRunContext() {
  RunContext ctx;
  ctx.log = [this](const std::string& text) { AddLogEntry(QString::fromStdString(text)); };
  ctx.pump = [] { geo::PumpMsgs(); };
  ctx.abort = &project_.abortRequested;
  ctx.progressRange = [this](int lo, int hi) { timeProgress_->Restart(lo, hi); };
  ctx.progressPos = [this](int pos) { progress_->setValue(pos); };
  return ctx;
}

void COrtaviaDlg::LoadDem() {
  const QString path = prompts_->PickOpenFile(tr("Select DEM"), CaseBlindFilter(kDemFileFilter));
  if (path.isEmpty()) return;
  const bool replacing = project_.dem.dataset != nullptr;
  if (replacing && !prompts_->AskYesNo(QString::fromUtf8(kReplaceDemQuestion))) return;

  // Busy while the engine works: its log line dispatches window messages.
  QApplication::setOverrideCursor(Qt::WaitCursor);
  SetBusy(true);
  cadView_->UnselectAll();
  BeginStoppableLoad();
  const LoadDemResult result = ortavia::LoadDem(project_, path.toStdString(), MakeRunContext());
  EndStoppableLoad();
  SetBusy(false);
  QApplication::restoreOverrideCursor();
  progress_->setValue(progress_->minimum());
  if (result.status == LoadDemStatus::Stopped) return;  // logged; the project is as it was
  if (replacing) {
    // The project was emptied: the window shows it before anything else.
    const QSignalBlocker block(imageList_);
    imageList_->clear();
    refused_.clear();
    missed_.clear();
    passportEdit_->clear();
    SetStepState(Step::Dem, false);
  }
  if (result.status != LoadDemStatus::Loaded) prompts_->Warn(QString::fromStdString(result.message));
  if (project_.dem.dataset) {
    SetStepState(Step::Dem, true);
    cadView_->SetUnitName(GroundUnitName(project_.dem.dataset.get()));
    cadView_->Regen();
    cadView_->ZoomExtents();
  }
  UpdateStart();
  ComputeFootprints();
  cadView_->Regen();
}

void COrtaviaDlg::ComputeFootprints() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const bool withDem = project_.dem.dataset != nullptr;
  if (withDem) SetBusy(true);
  FootprintResult result;
  {
    StoppableLoad load(*this);
    result = ortavia::ComputeFootprints(project_, MakeRunContext());
  }
  if (!result.stopped) missed_ = std::set<std::string>(result.missed.begin(), result.missed.end());
  RefreshImageStates();
  progress_->setValue(progress_->minimum());
  if (withDem) {
    SetBusy(false);
    UpdateStart();
  }
  QApplication::restoreOverrideCursor();
  cadView_->Regen();
  if (result.ran && (!project_.passport || result.terrainPoints > 2)) cadView_->ZoomExtents();
}

bool COrtaviaDlg::PaintDemPicture(QPainter& painter, const QRectF& picture, const QRect& visible) {
  if (!project_.dem.dataset || !project_.dem.pictureEntity) return false;
  // The DEM is read at the resolution of the device, which may hold more pixels than the widget.
  const qreal dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
  const cv::Rect2d pictureDevice(picture.x() * dpr, picture.y() * dpr, picture.width() * dpr, picture.height() * dpr);
  const QRect visibleDevice(QPointF(visible.topLeft()) .toPoint() * dpr, visible.size() * dpr);
  const DemPaint paint = PaintDem(project_, pictureDevice,
                                  cv::Rect(visibleDevice.x(), visibleDevice.y(), visibleDevice.width(), visibleDevice.height()));
  if (paint.bgr.empty()) return false;
  const QImage image(paint.bgr.data, paint.bgr.cols, paint.bgr.rows, static_cast<qsizetype>(paint.bgr.step),
                     QImage::Format_BGR888);
  const QRectF target(paint.topLeft.x / dpr, paint.topLeft.y / dpr, paint.bgr.cols / dpr, paint.bgr.rows / dpr);
  painter.save();
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  painter.drawImage(target, image);
  painter.restore();
  return true;
}

// --- CAD view and list -------------------------------------------------------------------------

void COrtaviaDlg::OnEntitySelected(CadHandle handle, bool selected) {
  if (!Instance() || syncingSelection_ || !CanStart()) return;
  const CadEntity* e = project_.cad.Find(handle);
  if (!e || e->layer != kLayerOrtho) return;
  auto it = std::find_if(project_.footprints.begin(), project_.footprints.end(),
                         [handle](const auto& kv) { return kv.second == handle; });
  if (it == project_.footprints.end()) return;
  const int row = FindImage(project_, it->first);
  if (row < 0 || row >= imageList_->topLevelItemCount()) return;
  syncingSelection_ = true;
  QTreeWidgetItem* item = imageList_->topLevelItem(row);
  item->setSelected(selected);
  if (selected) imageList_->scrollToItem(item);
  syncingSelection_ = false;
}

void COrtaviaDlg::OnImageSelectionChanged() {
  if (syncingSelection_) return;
  // Show the footprints of the chosen rows in the view.
  syncingSelection_ = true;
  for (int row = 0; row < imageList_->topLevelItemCount() && row < static_cast<int>(project_.images.size()); ++row) {
    auto it = project_.footprints.find(project_.images[static_cast<std::size_t>(row)].name);
    if (it != project_.footprints.end())
      cadView_->SetSelected(it->second, imageList_->topLevelItem(row)->isSelected());
  }
  syncingSelection_ = false;
}

void COrtaviaDlg::ZoomToFootprint(int row) {
  if (row < 0 || row >= static_cast<int>(project_.images.size())) return;
  auto it = project_.footprints.find(project_.images[static_cast<std::size_t>(row)].name);
  if (it == project_.footprints.end()) return;
  if (const auto box = project_.cad.EntityBox(it->second)) cadView_->ZoomToBox(*box);
}

// --- other commands ----------------------------------------------------------------------------

void COrtaviaDlg::OnFill() {
  project_.fillFootprints = GetButton(B::Fill)->isChecked();
  for (const auto& [name, handle] : project_.footprints) project_.cad.SetFilled(handle, project_.fillFootprints);
  cadView_->update();
}

void COrtaviaDlg::OnAbout() {
  CAboutDlg about(this);
  about.exec();
}

QString COrtaviaDlg::TutorialPath() {
  const QFileInfo exe(QCoreApplication::applicationFilePath());
  const QString name = exe.completeBaseName() + QStringLiteral(".html");
  const QString beside = exe.absolutePath() + QStringLiteral("/tutorial/") + name;
  // Installed, the executable sits in <prefix>/bin and the tutorial in <prefix>/share/ortavia.
  const QString installed = exe.absolutePath() + QStringLiteral("/../share/ortavia/tutorial/") + name;
  return !QFileInfo::exists(beside) && QFileInfo::exists(installed) ? QFileInfo(installed).absoluteFilePath()
                                                                     : beside;
}

void COrtaviaDlg::OnTutorial() {
  const QString path = TutorialPath();
  if (!QFileInfo::exists(path)) {
    prompts_->Warn(tr("The tutorial was not present. Please contact Varnell Software to get the tutorial."));
    return;
  }
  openUrl_(QUrl::fromLocalFile(path));
}

void COrtaviaDlg::OnExit() {
  if (project_.processRunning) {
    prompts_->Inform(tr("Please stop the process before close the application"));
    return;
  }
  accept();
}

void COrtaviaDlg::closeEvent(QCloseEvent* event) {
  // A long operation is still using the project: the window stays until it ends.
  if (project_.processRunning || IsBusy()) {
    event->ignore();
    return;
  }
  event->accept();
  done(QDialog::Rejected);
}

bool COrtaviaDlg::eventFilter(QObject* watched, QEvent* event) {
  // Delete in the image list is Remove Selection, when that command is usable.
  if (watched == imageList_ && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
    if (GetButton(B::RemoveSelection)->isEnabled()) OnRemoveSelection();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void COrtaviaDlg::keyPressEvent(QKeyEvent* event) {
  // Escape would close the whole application as a dialog; here it is Stop, when Stop is usable.
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    if (GetButton(B::Stop)->isEnabled()) OnStop();
    return;
  }
  QDialog::keyPressEvent(event);
}

void COrtaviaDlg::done(int result) {
  StoreLayout(QStringLiteral("MainWindow"), saveGeometry());
  StoreLayout(QStringLiteral("MainWindowProcessSplitter"), processSplit_->saveState());
  StoreLayout(QStringLiteral("MainWindowLogSplitter"), viewLogSplit_->saveState());
  QDialog::done(result);
}

void COrtaviaDlg::reject() {
  if (project_.processRunning || IsBusy()) return;
  QDialog::reject();
}

}  // namespace ortavia::ui
