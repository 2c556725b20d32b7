// The main window's side of a run: Start with its questions, Stop, Last Warp and Full Report.
#include <QFileInfo>
#include <QPushButton>
#include <QStringList>
#include <filesystem>

#include "app/COrtaviaDlg.h"
#include "app/run_display.h"
#include "external/geo/pump.h"
#include "gui/cad_view.h"
#include "gui/log_model.h"
#include "gui/prompts.h"
#include "process/run_process.h"
#include "process/suggested_gsd.h"
#include "process/ui/TProgressTimeToComplete.h"
#include "process/ui/run_questions.h"
#include "process/warp_settings.h"
#include "model/dem.h"
#include "model/start_wait.h"
#include "products/ui/COrthoPreviewDlg.h"
#include "report/process_report.h"
#include "report/ui/CProcessSettingsDlg.h"

namespace ortavia::ui {

namespace fs = std::filesystem;
using B = COrtaviaDlg::Button;

void COrtaviaDlg::OnStart() {
  if (project_.processRunning) return;
  project_.abortRequested = false;
  project_.processRunning = true;
  SetBusy(true);
  project_.lastOrthoPath.clear();
  preview_->ShowOrtho(QString());
  RunFromWindow();
  if (!project_.abortRequested) AddLogEntry(QString::fromUtf8(kWarpProcessFinished));
  project_.abortRequested = false;
  project_.processRunning = false;
  SetBusy(false);
  progress_->setValue(progress_->minimum());
}

void COrtaviaDlg::OnStop() {
  if (!project_.processRunning) {
    if (LoadRunning()) project_.abortRequested = true;
    return;
  }
  if (prompts_->AskYesNo(tr("Abort process?"))) project_.abortRequested = true;
}

void COrtaviaDlg::OnLastWarp() {
  preview_->show();
  preview_->raise();
  preview_->activateWindow();
}

void COrtaviaDlg::OnFullReport() {
  // Only a folder chosen in a run counts: an empty or relative one would name some other file.
  const std::string folder = ReadDestinationFolder();
  const std::string path = fs::path(folder).is_absolute() ? ReportPath(folder) : std::string();
  std::error_code ec;
  if (path.empty() || !fs::is_regular_file(path, ec)) {
    prompts_->Inform(QString::fromUtf8(kNoReportFound));
    return;
  }
  if (!openUrl_(QUrl::fromLocalFile(QString::fromStdString(path))))
    prompts_->Warn(tr("Unable to open the report %1: the desktop has no program to show it.")
                       .arg(QString::fromStdString(path)));
}

void COrtaviaDlg::SetMailOptions(const MailOptions& options) {
  mailOptions_ = options;
  if (!mailOptions_.pump) mailOptions_.pump = [] { geo::PumpMsgs(); };
}

void COrtaviaDlg::OnSettings() {
  CProcessSettingsDlg dlg(mailSettings_, prompts_, this);
  dlg.SetMailOptions(mailOptions_);
  if (dlg.exec() != QDialog::Accepted) return;
  mailSettings_ = dlg.Settings();
  if (!WriteMailSettings(mailSettings_)) AddLogEntry(tr("Unable to store the e-mail settings in the profile"));
}

void COrtaviaDlg::NotifyRunEnd(const RunResult& result) {
  if (!NotificationWanted(mailSettings_)) return;
  // Only a report that was written goes along.
  const NotificationResult sent = SendRunNotification(mailSettings_, result.elapsed, result.resultText,
                                                      result.reportWritten ? result.reportPath : std::string(),
                                                      mailOptions_);
  if (!sent.mail.sent) {
    const QString cause = QString::fromStdString(sent.mail.error);
    AddLogEntry(tr("Unable to send email: %1").arg(cause));
    prompts_->Warn(QString::fromUtf8(kNotificationFailed) + QLatin1Char('\n') + cause);
    return;
  }
  geo::PumpMsgs();
  if (Instance()) AddLogEntry(QString::fromUtf8(kMailSentLog));
}

bool COrtaviaDlg::AskBandComposition(std::string& composition) {
  const std::string& path = project_.images.front().path;
  const int bands = ImageBandCount(path);
  if (bands == 0) {
    prompts_->Warn(QString::fromUtf8(kBandCheckMessage));
    return false;
  }
  if (bands == 1) {
    composition = "1";
    return true;
  }
  for (;;) {
    // Every round starts again from the initial assignment.
    std::vector<int> roles = InitialBandRoles(bands);
    if (!runQuestions_->ChooseBandRoles(QString::fromStdString(path), bands, roles)) return false;
    composition = CompositionFromColorRoles(roles);
    if (IsAcceptedComposition(composition, bands)) return true;
    prompts_->Warn(QString::fromUtf8(kInvalidCompositionMessage));
  }
}

bool COrtaviaDlg::RefusedBeforeQuestions() {
  // What the run would refuse anyway is said before the operator answers anything.
  if (!project_.dem.geographicAdvice.empty()) {
    prompts_->Warn(QString::fromStdString(project_.dem.geographicAdvice));
    return true;
  }
  if (const std::string waits = StartWaitsFor(project_); !waits.empty()) {
    prompts_->Warn(QString::fromUtf8(kMissingDataMessage) + QStringLiteral("\n") +
                   tr("Start waits for %1").arg(QString::fromStdString(waits)));
    return true;
  }
  if (const std::string changed = DemFileChangedMessage(project_.dem); !changed.empty()) {
    prompts_->Warn(QString::fromStdString(changed));
    return true;
  }
  if (ImageBandCount(project_.images.front().path) == 0) {
    AddLogEntry(tr("%1 cannot be opened").arg(QString::fromStdString(project_.images.front().path)));
    prompts_->Warn(QString::fromUtf8(kBandCheckMessage));
    return true;
  }
  return false;
}

bool COrtaviaDlg::AskWarpSettings(WarpSettings& settings) {
  for (;;) {
    if (!runQuestions_->EditWarpSettings(settings)) return false;
    const std::string bad = CheckRunGsd(project_, settings.gsd);
    if (bad.empty()) return true;
    prompts_->Warn(QString::fromStdString(bad));
  }
}

QString COrtaviaDlg::AskDestinationFolder() {
  QString start = QString::fromStdString(ReadDestinationFolder());
  for (;;) {
    const QString folder = prompts_->PickFolderAt(tr("Select destination folder"), start);
    if (folder.isEmpty()) return {};
    const std::string destination = fs::path(folder.toStdString()).lexically_normal().string();
    const std::string cause = CheckDestinationWritable(destination);
    if (cause.empty()) return QString::fromStdString(destination);
    prompts_->Warn(tr("Destination folder not writable: %1").arg(QString::fromStdString(cause)));
    start = folder;
  }
}

void COrtaviaDlg::RunFromWindow() {
  if (RefusedBeforeQuestions()) return;

  WarpSettings settings = ReadWarpSettings();
  // A GSD kept from an earlier run wins; without one the dialog starts from the images' own.
  if (!(settings.gsd > 0.0))
    if (const std::optional<double> suggested = SuggestedGsd(project_)) {
      settings.gsd = *suggested;
      AddLogEntry(QString::fromStdString("Warp settings start from " + SuggestedGsdText(*suggested)));
    }
  if (!AskWarpSettings(settings)) return;
  if (!WriteWarpSettings(settings)) AddLogEntry(tr("Unable to store the warp settings in the profile"));

  std::string composition;
  if (!AskBandComposition(composition)) return;

  const QString folder = AskDestinationFolder();
  if (folder.isEmpty()) return;
  const std::string destination = folder.toStdString();

  RunOptions options;
  options.gsd = settings.gsd;
  options.tileStep = settings.tileStep;
  options.maxError = settings.maxError;
  options.cog = settings.cog;
  options.compress = settings.compress;
  options.alpha = settings.alpha;
  options.occlusion = settings.occlusion;
  options.composition = composition;
  options.destinationFolder = destination;
  if (settings.mosaic) options.mosaicPath = (fs::path(destination) / "mosaic.tif").string();
  options.mosaic.blend = settings.mosaicBlend;
  options.presentOrthos = PresentOrthosMode::Skip;
  const std::vector<std::string> present = FindPresentOrthos(destination);
  if (!present.empty()) {
    QStringList paths;
    for (const auto& p : present) paths << QString::fromStdString(p);
    switch (runQuestions_->ChooseSkipOverwrite(paths)) {
      case 100: options.presentOrthos = PresentOrthosMode::Skip; break;
      case 200: options.presentOrthos = PresentOrthosMode::Overwrite; break;
      default: return;
    }
  }
  if (!WriteDestinationFolder(destination))
    AddLogEntry(tr("Unable to store the destination folder in the profile"));

  QPushButton* fill = GetButton(B::Fill);
  // While the run pumps, the view shows the footprints as the warp recolours them, the preview the
  // last ortho and the log its new rows, each at most once per refresh interval.
  RunDisplay display({
      [this](const QString& path, bool first) { preview_->OrthoWritten(path, first); },
      [this, fill] {
        if (fill->isChecked() != project_.fillFootprints) fill->setChecked(project_.fillFootprints);
        cadView_->update();
      },
      [this](int pos) { progress_->setValue(pos); },
      [this] { logModel_->Flush(); },
  }, refreshClock_);
  std::uint64_t drawnRevision = project_.cad.Revision();
  options.orthoWritten = [&display](const std::string& path, bool first) {
    display.OrthoWritten(QString::fromStdString(path), first);
  };
  RunContext ctx = MakeRunContext();
  ctx.progressPos = [&display](int pos) { display.ProgressAt(pos); };
  ctx.pump = [this, &display, &drawnRevision] {
    if (project_.cad.Revision() != drawnRevision) {
      drawnRevision = project_.cad.Revision();
      display.DrawingChanged();
    }
    if (logModel_->Waiting() > 0) display.LogQueued();
    display.Pump();
    geo::PumpMsgs();
  };
  logModel_->Hold(true);
  const RunResult result = RunProcess(project_, options, ctx);
  display.DrawingChanged();
  display.Finish();
  logModel_->Hold(false);
  geo::PumpMsgs();

  switch (result.status) {
    case RunStatus::Done:
    case RunStatus::Aborted:
    case RunStatus::WarpRefused:
      if (!result.reportWritten) prompts_->Warn(QString::fromUtf8(kReportSaveFailed));
      NotifyRunEnd(result);
      prompts_->Inform(QString::fromStdString(result.summary));
      break;
    default:
      if (!result.message.empty()) prompts_->Warn(QString::fromStdString(result.message));
      break;
  }
}

}  // namespace ortavia::ui
