// Start, Stop, Last Warp and Full Report of the main window, with scripted answers.
#include <QSignalSpy>
#include <QAbstractItemModel>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QTimer>
#include <QProgressBar>
#include <QUrl>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gdal_priv.h>

#include "external/tools/profile.h"
#include "process/suggested_gsd.h"
#include "process/ui/CWarpSettingsDlg.h"
#include "process/ui/run_questions.h"
#include "products/ui/COrthoPreviewDlg.h"
#include "report/ui/CProcessSettingsDlg.h"
#include "runner/batch_runner.h"
#include "runner/sample_project.h"
#include "support/fake_smtp.h"
#include "support/test_env.h"
#include "window_fixture.h"

namespace ortavia::ui::test {
namespace {

namespace fs = std::filesystem;
using B = COrtaviaDlg::Button;
using S = COrtaviaDlg::Step;
using Kind = ScriptedPrompts::Kind;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Stored(const char* key) { return GT_GetUserProfileString("ProcessSetting", key, "<none>"); }

WarpSettings Settings(double gsd, int index = 1) {
  WarpSettings s;
  s.gsd = gsd;
  s.tileSizeIndex = index;
  s.tileStep = index == 0 ? 1 : 16;
  return s;
}

class StartTest : public WindowTest {
 protected:
  static void SetUpTestSuite() {
    SampleOptions o;
    o.images = 3;
    o.width = 240;
    o.height = 180;
    o.bands = 3;
    o.demSize = 48;
    sampleDir_ = new fs::path(ortavia::test::MakeTempDir("sample"));
    files_ = new SampleFiles;
    ASSERT_EQ(WriteSampleProject(sampleDir_->string(), o, {}, files_), "");
  }
  static void TearDownTestSuite() {
    delete files_;
    delete sampleDir_;
  }

  void SetUp() override {
    WindowTest::SetUp();
    dlg->SetRunQuestions(&questions);
    dlg->SetUrlOpener([this](const QUrl& url) {
      opened << url;
      return openerWorks;
    });
    out = ortavia::test::MakeTempDir("out");
    GT_WriteUserProfileString("ProcessSetting", "gsd", "7.00");
    GT_WriteUserProfileString("ProcessSetting", "destinationFolder", "/stored/before");
  }

  // The project as the steps leave it: DEM, passport, three images, orientations, footprints.
  void FillProject() {
    BatchIo io;
    BatchProjectOptions o;
    o.dem = files_->dem;
    o.passport = files_->passport;
    o.eo = files_->orientations;
    o.images = files_->images;
    ASSERT_EQ(FillBatchProject(project(), o, io), kBatchDone);
    dlg->SetStepState(S::Dem, true);
    dlg->SetStepState(S::Passport, true);
    dlg->ImagesChanged();
    dlg->SetStepState(S::ExternalOrientations, true);
    dlg->UpdateStart();
    ASSERT_TRUE(enabled(B::Start));
  }

  // The answers of a whole Start sequence.
  void QueueRun(double gsd, int conditions = -1) {
    questions.QueueSettings(Settings(gsd));
    questions.QueueBandRoles(std::vector<int>{3, 4, 5});
    prompts.QueueFolder(QString::fromStdString(out.string()));
    if (conditions >= 0) questions.QueueSkipOverwrite(conditions);
  }

  // Settings, as the operator fills the e-mail dialog and presses OK (or Cancel).
  void ConfigureMail(const MailSettings& s, bool ok = true) {
    QTimer::singleShot(0, [s, ok] {
      auto* d = qobject_cast<CProcessSettingsDlg*>(QApplication::activeModalWidget());
      ASSERT_NE(d, nullptr);
      d->SendCheck()->setChecked(s.sendEmail);
      d->ToEdit()->setText(QString::fromStdString(s.recipients));
      d->ServerEdit()->setText(QString::fromStdString(s.smtpServer));
      d->SubjectEdit()->setText(QString::fromStdString(s.subject));
      if (ok) d->accept();
      if (d->isVisible()) d->reject();
    });
    dlg->OnSettings();
  }

  bool Logged(const QString& text) const {
    for (int r = 0; r < logRows(); ++r)
      if (dlg->Log()->Operation(r).contains(text)) return true;
    return false;
  }
  // The window is back at rest after Start.
  // A clock that moves on a second at each look: every pump of a run refreshes the window, so that
  // a log row reaches the view at the pump right after it was written.
  void EveryPumpRefreshes() {
    dlg->SetRefreshClock([t = std::int64_t{0}]() mutable { return t += 1000; });
  }
  void ExpectIdle() {
    EXPECT_FALSE(project().processRunning);
    EXPECT_FALSE(project().abortRequested.load());
    EXPECT_FALSE(dlg->IsBusy());
    EXPECT_FALSE(enabled(B::Stop));
    // Last Warp stays usable when the run left an ortho to look at.
    EXPECT_EQ(enabled(B::LastWarp), fs::exists(project().lastOrthoPath));
    EXPECT_EQ(dlg->Progress()->value(), 0);
  }

  static fs::path* sampleDir_;
  static SampleFiles* files_;
  ScriptedRunQuestions questions;
  fs::path out;
  QList<QUrl> opened;
  bool openerWorks = true;
};

fs::path* StartTest::sampleDir_ = nullptr;
SampleFiles* StartTest::files_ = nullptr;

TEST_F(StartTest, MissingDataIsRefusedAndTheRunStillEnds) {
  dlg->OnStart();
  // The message as it stands, then what Start waits for.
  EXPECT_EQ(prompts.Texts(Kind::Warning),
            QStringList{"Unable to start process. Missing data (DTM, camera passport, images or external orientations)"
                        "\nStart waits for a DEM"});
  EXPECT_TRUE(questions.asked.isEmpty());
  EXPECT_EQ(newestLog(), "Warp process finished");
  ExpectIdle();
}

TEST_F(StartTest, EachCancelEndsTheRunQuietlyAtItsQuestion) {
  FillProject();
  fs::path present = ortavia::test::MakeTempDir("present");
  std::ofstream(present / "img_001.tif") << "x";
  std::ofstream(present / "coverage.tif") << "x";
  struct Case {
    int stage;  // which question is cancelled: 0 settings, 1 bands, 2 folder, 3 "Warp conditions"
    QStringList asked;
    int folderPicks;
    const char* storedGsd;
  };
  const Case cases[] = {
      {0, {"settings"}, 0, "7.00"},
      {1, {"settings", "bands"}, 0, "0.5"},
      {2, {"settings", "bands"}, 1, "0.5"},
      {3, {"settings", "bands", "conditions"}, 1, "0.5"},
  };
  for (const Case& c : cases) {
    GT_WriteUserProfileString("ProcessSetting", "gsd", "7.00");
    questions = ScriptedRunQuestions();
    prompts.Clear();
    questions.QueueSettings(c.stage == 0 ? std::nullopt : std::optional<WarpSettings>(Settings(0.5)));
    if (c.stage >= 2) questions.QueueBandRoles(std::vector<int>{3, 4, 5});
    if (c.stage >= 3) prompts.QueueFolder(QString::fromStdString(present.string()));
    dlg->OnStart();
    EXPECT_EQ(questions.asked, c.asked) << c.stage;
    EXPECT_EQ(prompts.Texts(Kind::Folder).size(), c.folderPicks) << c.stage;
    EXPECT_EQ(Stored("gsd"), c.storedGsd) << c.stage;
    EXPECT_EQ(Stored("destinationFolder"), "/stored/before") << c.stage;
    EXPECT_TRUE(prompts.Texts(Kind::Information).isEmpty()) << c.stage;
    EXPECT_TRUE(prompts.Texts(Kind::Warning).isEmpty()) << c.stage;
    EXPECT_FALSE(fs::exists(present / "report.txt")) << c.stage;
    EXPECT_FALSE(Logged("Process started")) << c.stage;
    EXPECT_EQ(newestLog(), "Warp process finished") << c.stage;
    ExpectIdle();
  }
  // The folder question opens at the folder stored last; "Warp conditions" lists the orthos only.
  EXPECT_EQ(prompts.LastFolderStart(), "/stored/before");
  ASSERT_EQ(questions.presentShown.size(), 1u);
  EXPECT_EQ(questions.presentShown[0], QStringList{QString::fromStdString((present / "img_001.tif").string())});
}

// A GSD kept from an earlier run wins; without one the dialog opens at the images' own.
TEST_F(StartTest, TheSettingsOpenAtTheSuggestedGsdWhenNoneIsKept) {
  FillProject();
  const std::optional<double> suggested = SuggestedGsd(project());
  ASSERT_TRUE(suggested.has_value());
  for (const char* stored : {"7.00", "0.0", "abc"}) {
    GT_WriteUserProfileString("ProcessSetting", "gsd", stored);
    questions = ScriptedRunQuestions();
    questions.QueueSettings(std::nullopt);
    dlg->OnStart();
    ASSERT_EQ(questions.settingsShown.size(), 1u) << stored;
    const bool kept = std::string(stored) == "7.00";
    EXPECT_EQ(questions.settingsShown[0].gsd, kept ? 7.0 : *suggested) << stored;
    EXPECT_EQ(Logged("Warp settings start from GSD "), !kept) << stored;
  }
}

TEST_F(StartTest, TheBandDialogComesBackUntilTheCompositionFits) {
  FillProject();
  questions.QueueSettings(Settings(0.5));
  questions.QueueBandRoles(std::vector<int>{3, 0, 0});  // "1" on a 3-band image
  questions.QueueBandRoles(std::vector<int>{0, 3, 4});  // "23"
  questions.QueueBandRoles(std::nullopt);
  dlg->OnStart();
  EXPECT_EQ(prompts.Texts(Kind::Warning), (QStringList{"Invalid Band Composition!", "Invalid Band Composition!"}));
  // Every round starts again from red, green, blue.
  ASSERT_EQ(questions.bandProposals.size(), 3u);
  for (const auto& proposal : questions.bandProposals) EXPECT_EQ(proposal, (std::vector<int>{3, 4, 5}));
  EXPECT_TRUE(prompts.Texts(Kind::Folder).isEmpty());
  EXPECT_EQ(newestLog(), "Warp process finished");
}

TEST_F(StartTest, AnUnreadableFirstImageEndsTheRunBeforeAnyQuestion) {
  FillProject();
  project().images.front().path = (out / "gone.tif").string();
  questions.QueueSettings(Settings(0.5));
  dlg->OnStart();
  EXPECT_EQ(prompts.Texts(Kind::Warning), QStringList{"Unable to check images bands composition"});
  EXPECT_TRUE(questions.asked.isEmpty());
  EXPECT_TRUE(Logged("gone.tif cannot be opened"));
}

TEST_F(StartTest, AGsdOrFolderTheRunWouldRefuseIsAskedAgainWithTheReason) {
  FillProject();
  std::ofstream(out / "plain.txt") << "x";
  const std::string blocked = (out / "plain.txt" / "sub").string();
  struct Case {
    const char* what;
    double gsd;
    const char* folder;  // null: the run ends at the settings
    QStringList asked;
    int folderPicks;
    QString warning;  // how the one warning starts
  };
  const Case cases[] = {
      {"zero GSD", 0.0, nullptr, {"settings", "settings"}, 0, "Input a valid GSD value"},
      {"GSD far finer than the images", 0.0001, nullptr, {"settings", "settings"}, 0, "GSD 0.0001 is too small: the ortho of img_00"},
      {"folder under a file", 0.5, blocked.c_str(), {"settings", "bands"}, 2, "Destination folder not writable: "},
  };
  for (const Case& c : cases) {
    questions = ScriptedRunQuestions();
    prompts.Clear();
    questions.QueueSettings(Settings(c.gsd));
    if (c.folder) {
      questions.QueueBandRoles(std::vector<int>{3, 4, 5});
      prompts.QueueFolder(QString::fromUtf8(c.folder));
    }
    dlg->OnStart();
    EXPECT_EQ(questions.asked, c.asked) << c.what;
    EXPECT_EQ(prompts.Texts(Kind::Folder).size(), c.folderPicks) << c.what;
    const QStringList warnings = prompts.Texts(Kind::Warning);
    ASSERT_EQ(warnings.size(), 1) << c.what;
    EXPECT_TRUE(warnings[0].startsWith(c.warning)) << warnings[0].toStdString();
    if (c.folder) EXPECT_EQ(prompts.LastFolderStart(), QString::fromUtf8(c.folder)) << "asked again where it was";
    EXPECT_FALSE(Logged("Process started")) << c.what;
    EXPECT_FALSE(fs::exists(out / "report.txt")) << c.what;
  }
}

TEST_F(StartTest, TheGsdComesBackAsEnteredAndLastWarpStaysAfterTheRun) {
  FillProject();
  QueueRun(0.375);
  dlg->OnStart();
  ASSERT_TRUE(fs::exists(out / "img_003.tif"));
  EXPECT_EQ(Stored("gsd"), "0.375");
  EXPECT_TRUE(enabled(B::LastWarp));
  EXPECT_EQ(dlg->Preview()->windowTitle(), "Last warp - img_003.tif");
  dlg->Preview()->hide();
  dlg->GetButton(B::LastWarp)->click();
  EXPECT_TRUE(dlg->Preview()->isVisible());

  questions = ScriptedRunQuestions();
  dlg->OnStart();  // cancelled at the settings
  ASSERT_EQ(questions.settingsShown.size(), 1u);
  EXPECT_EQ(questions.settingsShown[0].gsd, 0.375);
  CWarpSettingsDlg settingsDlg(questions.settingsShown[0], &prompts);
  EXPECT_EQ(settingsDlg.GsdEdit()->text(), "0.375");
}

TEST_F(StartTest, AWholeRunWritesOrthosReportAndSummary) {
  FillProject();
  dlg->GetButton(B::Fill)->setChecked(true);
  dlg->OnFill();
  QueueRun(0.4567);
  dlg->OnStart();

  for (const char* name : {"img_001", "img_002", "img_003"}) {
    EXPECT_TRUE(fs::exists(out / (std::string(name) + ".tif"))) << name;
    EXPECT_TRUE(fs::exists(out / (std::string(name) + ".tfw"))) << name;
  }
  EXPECT_NE(ReadAll(out / "report.txt").find("Process DONE"), std::string::npos);
  EXPECT_TRUE(prompts.Texts(Kind::Warning).isEmpty()) << prompts.Texts(Kind::Warning).join("|").toStdString();
  const QStringList info = prompts.Texts(Kind::Information);
  ASSERT_EQ(info.size(), 1);
  EXPECT_TRUE(info[0].startsWith("- Process time: ")) << info[0].toStdString();
  EXPECT_TRUE(info[0].contains("\n- GSD: 0.457 (d.u.)\n- Images warped: 3\n- Images skipped: 0")) << info[0].toStdString();
  // The GSD is used and stored as typed; the folder is stored.
  EXPECT_EQ(Stored("gsd"), "0.4567");
  EXPECT_EQ(Stored("destinationFolder"), out.string());
  EXPECT_TRUE(Logged("Process started"));
  EXPECT_EQ(newestLog(), "Warp process finished");
  // Footprints end unfilled, and the toggle says so.
  EXPECT_FALSE(dlg->GetButton(B::Fill)->isChecked());
  for (const auto& [name, handle] : project().footprints) EXPECT_FALSE(project().cad.Find(handle)->filled) << name;
  // The preview came up with the first ortho and followed the run.
  EXPECT_TRUE(dlg->Preview()->isVisible());
  EXPECT_EQ(dlg->Preview()->ShownPath(), QString::fromStdString((out / "img_003.tif").string()));
  EXPECT_EQ(project().lastOrthoPath, (out / "img_003.tif").string());
  ExpectIdle();

  // Full Report opens the report of the stored folder.
  dlg->OnFullReport();
  ASSERT_EQ(opened.size(), 1);
  EXPECT_EQ(opened[0], QUrl::fromLocalFile(QString::fromStdString((out / "report.txt").string())));
}

TEST_F(StartTest, AFrozenRefreshClockStillShowsTheLastOrthoAndEveryLogRowInOrder) {
  // With the clock frozen only the first pump's refresh passes the gate: whatever the run's speed,
  // the log reaches the view in at most that insertion, the end of the run's and the closing line.
  dlg->SetRefreshClock([] { return std::int64_t{0}; });
  FillProject();
  QueueRun(0.4567);
  const int before = logRows();
  QSignalSpy inserted(dlg->Log(), &QAbstractItemModel::rowsInserted);
  dlg->OnStart();
  EXPECT_LE(inserted.count(), 3);
  QStringList rows;
  for (int i = logRows() - 1 - before; i >= 0; --i) rows << dlg->Log()->Operation(i);
  EXPECT_GE(rows.size(), 8) << rows.join("|").toStdString();
  const QStringList order{"Process started", "start warping images...", "processing image img_001 0/3 (0%)",
                          "processing image img_003 2/3 (66%)", "end warping images...", "Warp process finished"};
  qsizetype at = -1;
  for (const QString& line : order) {
    const qsizetype found = rows.indexOf(line, at + 1);
    EXPECT_GT(found, at) << line.toStdString() << " in " << rows.join("|").toStdString();
    at = std::max(at, found);
  }
  EXPECT_EQ(dlg->Preview()->ShownPath(), QString::fromStdString((out / "img_003.tif").string()));
  EXPECT_EQ(dlg->Progress()->value(), dlg->Progress()->minimum());
}

TEST_F(StartTest, PresentOrthosAreSkippedOrOverwrittenAsAnswered) {
  FillProject();
  QueueRun(0.5);
  dlg->OnStart();
  ASSERT_TRUE(fs::exists(out / "img_002.tif"));
  struct Case {
    int code;
    const char* mode;
  };
  for (const Case& c : {Case{100, "Skip previous data"}, Case{200, "Overwrite previous data"}}) {
    questions = ScriptedRunQuestions();
    QueueRun(0.5, c.code);
    dlg->OnStart();
    ASSERT_EQ(questions.presentShown.size(), 1u);
    EXPECT_EQ(questions.presentShown[0].size(), 3) << "the products are not listed";
    EXPECT_NE(ReadAll(out / "report.txt").find(c.mode), std::string::npos) << c.mode;
  }
}

TEST_F(StartTest, StopAnsweredNoGoesOnAndYesEndsWithReportAndSummary) {
  FillProject();
  dlg->OnStop();  // nothing runs: nothing is asked
  EXPECT_TRUE(prompts.Texts(Kind::Question).isEmpty());
  prompts.QueueYesNo(false);
  prompts.QueueYesNo(true);
  bool liveDuringRun = false;
  EveryPumpRefreshes();
  QObject::connect(dlg->Log(), &QAbstractItemModel::rowsInserted, dlg.get(), [&] {
    const QString line = newestLog();
    if (line.startsWith("processing image img_001")) {
      liveDuringRun = enabled(B::Stop) && enabled(B::LastWarp) && !enabled(B::Start) && !enabled(B::Exit);
      dlg->OnStop();
    }
    if (line.startsWith("processing image img_002")) dlg->OnStop();
  });
  QueueRun(0.5);
  dlg->OnStart();
  EXPECT_TRUE(liveDuringRun);
  EXPECT_EQ(prompts.Texts(Kind::Question), (QStringList{"Abort process?", "Abort process?"}));
  EXPECT_TRUE(fs::exists(out / "img_001.tif"));
  EXPECT_FALSE(fs::exists(out / "img_002.tif"));
  EXPECT_FALSE(fs::exists(out / "img_003.tif"));
  EXPECT_NE(ReadAll(out / "report.txt").find("Process aborted by user"), std::string::npos);
  const QStringList info = prompts.Texts(Kind::Information);
  ASSERT_EQ(info.size(), 1);
  EXPECT_TRUE(info[0].contains("- Images warped: 1")) << info[0].toStdString();
  EXPECT_TRUE(Logged("process aborted by user"));
  EXPECT_FALSE(Logged("Warp process finished"));
  ExpectIdle();
}

TEST_F(StartTest, FullReportFindsOnlyAReportOfAStoredAbsoluteFolder) {
  const fs::path withReport = ortavia::test::MakeTempDir("rep");
  std::ofstream(withReport / "report.txt") << "report";
  const fs::path empty = ortavia::test::MakeTempDir("norep");
  struct Case {
    std::string folder;
    bool opener;
    const char* info;
    const char* warning;
  };
  const Case cases[] = {
      {"", true, "No report found", nullptr},
      {"relative/folder", true, "No report found", nullptr},
      {empty.string(), true, "No report found", nullptr},
      {withReport.string(), true, nullptr, nullptr},
      {withReport.string(), false, nullptr, "Unable to open the report"},
  };
  for (const Case& c : cases) {
    prompts.Clear();
    opened.clear();
    openerWorks = c.opener;
    GT_WriteUserProfileString("ProcessSetting", "destinationFolder", c.folder.c_str());
    dlg->OnFullReport();
    EXPECT_EQ(prompts.Texts(Kind::Information), c.info ? QStringList{c.info} : QStringList{}) << c.folder;
    const QStringList warnings = prompts.Texts(Kind::Warning);
    EXPECT_EQ(warnings.size(), c.warning ? 1 : 0) << c.folder;
    if (c.warning && !warnings.isEmpty()) {
      EXPECT_TRUE(warnings[0].startsWith(c.warning));
    }
    EXPECT_EQ(opened.size(), c.info ? 0 : 1) << c.folder;
  }
}

TEST_F(StartTest, SettingsKeepTheValuesInForceUnlessConfirmed) {
  const MailSettings first{true, "ops@a.example", "mail.a.example:2525", "Block 7"};
  ConfigureMail(first);
  EXPECT_EQ(dlg->MailSettingsInForce(), first);
  EXPECT_EQ(ReadMailSettings(), first);
  // Sending on without a server: refused, then cancelled; nothing changes.
  ConfigureMail({true, "other@b.example", "", ""});
  EXPECT_EQ(prompts.Texts(Kind::Information), QStringList{"You must provide a SMTP server address"});
  EXPECT_EQ(dlg->MailSettingsInForce(), first);
  EXPECT_EQ(ReadMailSettings(), first);
  // Sending off keeps the other fields as typed, an empty server included.
  const MailSettings off{false, "x@c.example", "", "s"};
  ConfigureMail(off);
  EXPECT_EQ(dlg->MailSettingsInForce(), off);
  EXPECT_EQ(ReadMailSettings(), off);
}

TEST_F(StartTest, TheNotificationCarriesTheReport) {
  FillProject();
  ortavia::test::FakeSmtpServer server;
  ConfigureMail({true, "ops@a.example", server.Address(), ""});
  QueueRun(0.5);
  dlg->OnStart();
  ASSERT_EQ(server.Messages().size(), 1u);
  const std::string data = server.Messages()[0];
  EXPECT_NE(data.find("\nSubject: Ortavia - Process Finished\n"), std::string::npos);
  EXPECT_NE(data.find("- Process DONE"), std::string::npos);
  const size_t part = data.find("filename=\"report.txt\"");
  ASSERT_NE(part, std::string::npos);
  const size_t body = data.find("\n\n", part) + 2;
  EXPECT_EQ(ortavia::test::DecodeBase64(data.substr(body, data.find("\n--", body) - body)),
            ReadAll(out / "report.txt"));
  EXPECT_TRUE(Logged("email sent!"));
  EXPECT_TRUE(prompts.Texts(Kind::Warning).isEmpty());
}

TEST_F(StartTest, AStoppedRunIsMailedAsAborted) {
  FillProject();
  ortavia::test::FakeSmtpServer server;
  ConfigureMail({true, "ops@a.example", server.Address(), "Block 7"});
  prompts.QueueYesNo(true);
  EveryPumpRefreshes();
  QObject::connect(dlg->Log(), &QAbstractItemModel::rowsInserted, dlg.get(), [&] {
    if (newestLog().startsWith("processing image img_002")) dlg->OnStop();
  });
  QueueRun(0.5);
  dlg->OnStart();
  ASSERT_EQ(server.Messages().size(), 1u);
  EXPECT_NE(server.Messages()[0].find("\nSubject: Block 7\n"), std::string::npos);
  EXPECT_NE(server.Messages()[0].find("- Process aborted by user"), std::string::npos);
}

TEST_F(StartTest, AFailedNotificationWarnsAndLeavesTheRunComplete) {
  FillProject();
  struct Case {
    ortavia::test::FakeSmtpServer::Mode mode;
    const char* cause;
  };
  for (const Case& c : {Case{ortavia::test::FakeSmtpServer::Mode::Silent, "imed out"},
                        Case{ortavia::test::FakeSmtpServer::Mode::RefuseRecipient, "550"}}) {
    ortavia::test::FakeSmtpServer server(c.mode);
    MailOptions quick;
    quick.connectTimeoutMs = 1000;
    quick.totalTimeoutMs = 1500;
    dlg->SetMailOptions(quick);
    ConfigureMail({true, "ops@a.example", server.Address(), ""});
    prompts.Clear();
    questions = ScriptedRunQuestions();
    QueueRun(0.5, 200);
    fs::remove(out / "report.txt");
    dlg->OnStart();
    const QStringList warnings = prompts.Texts(Kind::Warning);
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings[0].startsWith("Unable to send email. Please check your settings\n")) << warnings[0].toStdString();
    EXPECT_TRUE(warnings[0].contains(c.cause)) << warnings[0].toStdString();
    EXPECT_TRUE(Logged("Unable to send email: "));
    EXPECT_TRUE(fs::exists(out / "report.txt"));
    EXPECT_TRUE(fs::exists(out / "img_003.tif"));
    ASSERT_EQ(prompts.Texts(Kind::Information).size(), 1) << "the summary still follows";
    EXPECT_EQ(newestLog(), "Warp process finished");
    ExpectIdle();
  }
}

TEST_F(StartTest, NoRecipientsMeansNoMailAndNoMessage) {
  FillProject();
  ortavia::test::FakeSmtpServer server;
  ConfigureMail({true, "", server.Address(), ""});
  QueueRun(0.5);
  dlg->OnStart();
  EXPECT_EQ(server.Connections(), 0);
  EXPECT_TRUE(prompts.Texts(Kind::Warning).isEmpty());
  EXPECT_EQ(prompts.Texts(Kind::Information).size(), 1);
}

TEST_F(StartTest, OrthoFileSettingsReachTheRunAndTheProfile) {
  FillProject();
  WarpSettings settings = Settings(0.5);
  settings.cog = true;
  settings.compress = "DEFLATE";
  settings.alpha = true;
  questions.QueueSettings(settings);
  questions.QueueBandRoles(std::vector<int>{3, 4, 5});
  prompts.QueueFolder(QString::fromStdString(out.string()));
  dlg->OnStart();

  EXPECT_EQ(Stored("bCog"), "1");
  EXPECT_EQ(Stored("Compress"), "DEFLATE");
  EXPECT_EQ(Stored("bAlpha"), "1");
  GDALAllRegister();
  for (const char* name : {"img_001", "img_002", "img_003"}) {
    const fs::path tif = out / (std::string(name) + ".tif");
    GDALDatasetUniquePtr ds(GDALDataset::Open(tif.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    ASSERT_TRUE(ds) << tif;
    EXPECT_EQ(ds->GetRasterCount(), 4) << tif;  // RGB and alpha
    EXPECT_STREQ(ds->GetMetadataItem("LAYOUT", "IMAGE_STRUCTURE"), "COG") << tif;
    EXPECT_STREQ(ds->GetMetadataItem("COMPRESSION", "IMAGE_STRUCTURE"), "DEFLATE") << tif;
  }
  EXPECT_TRUE(fs::exists(out / "mosaic.vrt"));
  ExpectIdle();
}

}  // namespace
}  // namespace ortavia::ui::test
