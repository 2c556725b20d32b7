#pragma once
// The main window: owns the project for the whole session, shows the four steps with their Add
// buttons, the image list, the CAD view with the DEM and the footprints, the log and the progress
// bar, and keeps the enabling rules of every command.
#include <QDialog>
#include <QUrl>
#include <array>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "model/add_images.h"
#include "model/project.h"
#include "gui/refresh_gate.h"
#include "model/run_context.h"
#include "report/notification.h"

class QLabel;
class QPainter;
class QLineEdit;
class QProgressBar;
class QSplitter;
class QPushButton;
class QTreeView;
class QTreeWidget;

namespace ortavia {
struct BundleImport;
struct WarpSettings;
}

namespace ortavia::ui {

class CadView;
class COrthoPreviewDlg;
class DialogRunQuestions;
class LogModel;
class Prompts;
class RunQuestions;
class TProgressTimeToComplete;
}  // namespace ortavia::ui

namespace ortavia {
struct RunResult;
}  // namespace ortavia

namespace ortavia::ui {

class COrtaviaDlg : public QDialog {
  Q_OBJECT
 public:
  enum class Step { Dem, Passport, ImageToProject, ExternalOrientations };
  // The commands, by the name their button shows.
  enum class Button {
    DemAdd, PassportAdd, ImageAdd, RemoveSelection, RemoveAll, ExtOrientationsAdd, Import, Start,
    Stop, Settings, LastWarp, FullReport, Fill, About, Tutorial, Exit
  };

  explicit COrtaviaDlg(QWidget* parent = nullptr);
  ~COrtaviaDlg() override;

  // The window that is up, or null before its initialisation ended and after it is gone.
  static COrtaviaDlg* Instance();

  WarpProject& Project() { return project_; }
  const WarpProject& Project() const { return project_; }

  // The operator's side of every question and message; the window's own by default. Not owned.
  void SetPrompts(Prompts* prompts);
  // The dialogs Start asks before a run; the window's own by default. Not owned.
  void SetRunQuestions(RunQuestions* questions);
  // How documents are opened (the desktop's browser by default).
  void SetUrlOpener(std::function<bool(const QUrl&)> opener) { openUrl_ = std::move(opener); }
  // The clock that spaces the refreshes of a run (tests freeze it); the steady clock by default.
  void SetRefreshClock(RefreshGate::Clock clock) { refreshClock_ = std::move(clock); }

  // --- operations other commands use ---
  void AddLogEntry(const QString& text);
  void SetStepState(Step step, bool ready);
  bool StepReady(Step step) const { return stepReady_[static_cast<int>(step)]; }
  bool CanStart() const { return ortavia::CanStart(project_); }
  // Start follows CanStart() and the DEM's units; the line beside it says what Start waits for.
  void UpdateStart();
  // The columns of the image list: name, path (hidden), state.
  static constexpr int kStateColumn = 2;
  // Disables the commands around a long operation and gives them back afterwards; Start then
  // follows CanStart(). Nested calls act only at the outermost level. Steps that change meanwhile
  // take effect when busy mode ends.
  void SetBusy(bool busy);
  bool IsBusy() const { return busyDepth_ > 0; }
  // Around a long load in busy mode (DEM, images, bundle, footprints): Stop and Escape then stop
  // it, the load leaving the project as it was. Nested calls act only at the outermost level.
  void BeginStoppableLoad();
  void EndStoppableLoad();
  bool LoadRunning() const { return loadDepth_ > 0; }
  void RemoveAllImages();
  // Redraws the image list from project.images (after images were added or replaced), each row
  // with its state, and after them the files the last Add or Import refused, greyed, with why.
  void ImagesChanged();
  // Rewrites the state column of the listed images (orientation and footprint).
  void RefreshImageStates();
  // The window side of a passport choice: asks before replacing one, empties images and
  // orientations on Yes, takes a copy of the passport. False when the operator kept the old one.
  bool ApplyPassport(const geo::CCameraPassport& passport, const std::string& file);
  // After exterior orientations were imported into project.orientations: Start, the step, the log
  // line and the footprints.
  void OrientationsImported();
  // Locks passport, images and orientations after a bundle import.
  void SetBundleLock(bool locked);

  // Recomputes the footprints of every oriented image (and the DEM's height range) in busy mode,
  // with the progress bar, then shows the whole drawing.
  void ComputeFootprints();

  // --- commands ---
  // DEM Add: choose a GeoTIFF, confirm the replacement of a loaded DEM, load and show it.
  void LoadDem();
  void OnRemoveSelection();
  void OnRemoveAll();
  void OnFill();
  void OnAbout();
  void OnTutorial();
  void OnExit();
  void OnExtOrientationsAdd();
  // Image Add: the file dialog, then the engine's checks with the progress bar, the log lines,
  // the step and Start.
  void OnAddImages();
  // Import: reads a bundle file whole before anything changes; on success it replaces passport,
  // images and orientations, locks them and computes the footprints. False when nothing changed.
  bool OnImport();
  // Passport Add: the passport dialog; OK applies the chosen passport.
  void OnPassportAdd();
  // Shows the footprint of the image in a list row (double click); nothing when it has none.
  void ZoomToFootprint(int row);
  // Copies the selected log rows to the clipboard.
  void CopyLogSelection();

  // --- the run ---
  // Start: the questions in their order, the run, the report, the e-mail and the summary.
  void OnStart();
  // Stop: asks "Abort process?"; Yes stops the run at its next check. During a long load it stops
  // the load without asking.
  void OnStop();
  // Shows the ortho preview without reloading it.
  void OnLastWarp();
  // Opens the report of the destination folder stored last.
  void OnFullReport();
  // Settings: the e-mail notification dialog on a copy of the settings in force.
  void OnSettings();
  // The notification settings in force (read from the profile at start-up).
  const MailSettings& MailSettingsInForce() const { return mailSettings_; }
  // Time-outs of the notification and the test message.
  void SetMailOptions(const MailOptions& options);

  // Tutorial file beside the executable: tutorial/<executable name>.html; installed, the one in
  // ../share/ortavia/tutorial/.
  static QString TutorialPath();

  QPushButton* GetButton(Button b) const { return buttons_[static_cast<int>(b)]; }
  QTreeWidget* ImageList() const { return imageList_; }
  LogModel* Log() const { return logModel_; }
  CadView* View() const { return cadView_; }
  QProgressBar* Progress() const { return progress_; }
  QTreeView* LogView() const { return logView_; }
  QLineEdit* PassportEdit() const { return passportEdit_; }
  QLabel* CoordinateText() const { return coordText_; }
  QLabel* StartReason() const { return startReason_; }
  QSplitter* ProcessSplitter() const { return processSplit_; }
  QSplitter* ViewLogSplitter() const { return viewLogSplit_; }
  TProgressTimeToComplete* TimeProgress() const { return timeProgress_; }
  COrthoPreviewDlg* Preview() const { return preview_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void reject() override;
  // Closing keeps the window's geometry and splitter sizes for the next session.
  void done(int result) override;

 private:
  void BuildLayout();
  QPushButton* MakeButton(Button b, const QString& text, const QIcon& icon, bool enabled);
  void ConnectCommands();
  void SetEnabled(Button b, bool enabled);
  bool Enabled(Button b) const;
  void ShowStepPicture(Step step, bool ready);
  void EraseFootprint(const std::string& name);
  void EraseAllFootprints();
  void OnEntitySelected(CadHandle handle, bool selected);
  void OnImageSelectionChanged();
  void SetTitle();
  void ShowPassport(const geo::CCameraPassport& passport);
  QString ImageState(const ImageItem& item) const;
  // Refusals Start can tell before its first question; false (after the warning) when one holds.
  bool RefusedBeforeQuestions();
  // The warp settings question until its GSD is usable for this project; false when cancelled.
  bool AskWarpSettings(WarpSettings& settings);
  // The destination folder question until a writable folder is chosen; empty when cancelled.
  QString AskDestinationFolder();
  void ApplyBundle(BundleImport&& im);
  bool PaintDemPicture(QPainter& painter, const QRectF& pictureRect, const QRect& visibleRect);
  RunContext MakeRunContext();
  // The questions and the run of Start; returns when the run ended or a question was cancelled.
  void RunFromWindow();
  // The band composition of the first image; false when cancelled or unreadable.
  bool AskBandComposition(std::string& composition);
  // The e-mail after a run that wrote its report (or tried to), when it is switched on.
  void NotifyRunEnd(const RunResult& result);

  WarpProject project_;
  std::vector<RefusedImage> refused_;  // files the last Add or Import refused
  std::set<std::string> missed_;       // images whose footprint misses the terrain
  std::unique_ptr<Prompts> ownPrompts_;
  Prompts* prompts_ = nullptr;
  std::function<bool(const QUrl&)> openUrl_;
  RefreshGate::Clock refreshClock_;
  std::unique_ptr<DialogRunQuestions> ownRunQuestions_;
  RunQuestions* runQuestions_ = nullptr;
  MailSettings mailSettings_;
  MailOptions mailOptions_;

  std::array<QPushButton*, 16> buttons_{};
  std::array<QLabel*, 4> stepPictures_{};
  std::array<bool, 4> stepReady_{};
  std::array<bool, 7> savedEnable_{};
  int busyDepth_ = 0;
  int loadDepth_ = 0;
  bool syncingSelection_ = false;  // the list and the view are being matched; no echo back

  QLineEdit* passportEdit_ = nullptr;
  QTreeWidget* imageList_ = nullptr;
  QTreeView* logView_ = nullptr;
  LogModel* logModel_ = nullptr;
  CadView* cadView_ = nullptr;
  QLabel* coordText_ = nullptr;
  QLabel* startReason_ = nullptr;
  QSplitter* processSplit_ = nullptr;  // image list | view and log
  QSplitter* viewLogSplit_ = nullptr;  // view | log
  QProgressBar* progress_ = nullptr;
  TProgressTimeToComplete* timeProgress_ = nullptr;
  COrthoPreviewDlg* preview_ = nullptr;
};

// Log callback handed to long operations: keeps the window alive and logs when the window is up.
void LogMessage(const char* text);

}  // namespace ortavia::ui
