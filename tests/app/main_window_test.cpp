#include <QClipboard>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QTreeView>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTest>
#include <QLineEdit>
#include <set>

#include "app/CAboutDlg.h"
#include "external/tools/sysinfo.h"
#include "gui/cad_view.h"
#include "window_fixture.h"

namespace ortavia::ui::test {
namespace {

using B = COrtaviaDlg::Button;
using S = COrtaviaDlg::Step;

const std::vector<B> kAll = {B::DemAdd, B::PassportAdd, B::ImageAdd, B::RemoveSelection, B::RemoveAll,
                             B::ExtOrientationsAdd, B::Import, B::Start, B::Stop, B::Settings, B::LastWarp,
                             B::FullReport, B::Fill, B::About, B::Tutorial, B::Exit};

std::set<B> EnabledSet(const COrtaviaDlg& dlg) {
  std::set<B> on;
  for (B b : kAll)
    if (dlg.GetButton(b)->isEnabled()) on.insert(b);
  return on;
}

TEST_F(WindowTest, EmptyProjectEnablesOnlyTheFirstStepAndTheWindowCommands) {
  EXPECT_EQ(EnabledSet(*dlg), (std::set<B>{B::DemAdd, B::Settings, B::Exit, B::About, B::Tutorial, B::Import}));
  for (S s : {S::Dem, S::Passport, S::ImageToProject, S::ExternalOrientations}) EXPECT_FALSE(dlg->StepReady(s));
  EXPECT_EQ(newestLog(), "Session started");
  EXPECT_EQ(COrtaviaDlg::Instance(), dlg.get());
  EXPECT_TRUE(dlg->windowTitle().startsWith("Ortavia "));
  EXPECT_TRUE(dlg->windowTitle().contains("Varnell Software"));

  // Fill and Full Report come to life when busy mode ends the first time.
  dlg->SetBusy(true);
  EXPECT_TRUE(EnabledSet(*dlg).empty());
  dlg->SetBusy(false);
  EXPECT_TRUE(enabled(B::Fill));
  EXPECT_TRUE(enabled(B::FullReport));
  EXPECT_FALSE(enabled(B::PassportAdd));  // remembered state comes back
  EXPECT_FALSE(enabled(B::Stop));
  EXPECT_FALSE(enabled(B::LastWarp));
}

TEST_F(WindowTest, StepsEnableTheNextStepAndResetTheLaterOnes) {
  LoadDem();
  EXPECT_TRUE(enabled(B::PassportAdd));
  EXPECT_FALSE(enabled(B::ImageAdd));
  ChoosePassport();
  EXPECT_TRUE(enabled(B::ImageAdd));
  EXPECT_FALSE(enabled(B::RemoveAll));
  AddImages({"a", "b"}, false);
  EXPECT_TRUE(dlg->StepReady(S::ImageToProject));
  for (B b : {B::ExtOrientationsAdd, B::RemoveAll, B::RemoveSelection}) EXPECT_TRUE(enabled(b));

  dlg->SetStepState(S::Dem, false);
  for (S s : {S::Passport, S::ImageToProject, S::ExternalOrientations}) EXPECT_FALSE(dlg->StepReady(s));
  for (B b : {B::PassportAdd, B::ImageAdd, B::RemoveAll, B::RemoveSelection, B::ExtOrientationsAdd})
    EXPECT_FALSE(enabled(b));
}

TEST_F(WindowTest, StartNeedsEveryImageOriented) {
  LoadDem();
  ChoosePassport();
  AddImages({"a", "b"}, false);
  EXPECT_FALSE(enabled(B::Start));
  project().orientations["a"].N = Wml::Point3d(1.0, 0.0, 0.0);
  dlg->UpdateStart();
  EXPECT_FALSE(enabled(B::Start)) << "one image still without projection centre";
  project().orientations["b"].N = Wml::Point3d(0.0, 0.0, 2.0);
  dlg->UpdateStart();
  EXPECT_TRUE(enabled(B::Start));
}

TEST_F(WindowTest, SecondPassportYesEmptiesImagesNoKeepsTheOld) {
  LoadDem();
  ChoosePassport("RC30", "5001");
  EXPECT_EQ(project().cameraName, "cam01.bcc");
  EXPECT_EQ(dlg->PassportEdit()->text(), "RC30 - s.n. 5001");
  EXPECT_EQ(newestLog(), "Passport selected: RC30 (s.n. 5001) - focal length 100.50");
  AddImages({"a", "b"}, true);
  const CadHandle fp = AddFootprint("a", 1000, 1500, 50);

  prompts.QueueYesNo(false);
  auto other = MakePassport("UCX", "77");
  EXPECT_FALSE(dlg->ApplyPassport(*other, "/x/ucx.cvc"));
  EXPECT_EQ(project().passport->model, "RC30");
  EXPECT_EQ(project().images.size(), 2u);
  EXPECT_EQ(prompts.Texts(ScriptedPrompts::Kind::Question).value(0),
            "If you proceed all images and external orientation will be removed. Do you want to proceed?");

  prompts.QueueYesNo(true);
  EXPECT_TRUE(dlg->ApplyPassport(*other, "/x/UCX.cvc"));
  EXPECT_EQ(project().passport->model, "UCX");
  EXPECT_EQ(project().cameraName, "ucx.cvc");
  EXPECT_TRUE(project().images.empty());
  EXPECT_TRUE(project().orientations.empty());
  EXPECT_EQ(dlg->ImageList()->topLevelItemCount(), 0);
  EXPECT_EQ(project().cad.Find(fp), nullptr) << "no polygon of a removed image stays";
  EXPECT_TRUE(project().footprints.empty());
  EXPECT_TRUE(dlg->StepReady(S::Passport));
  EXPECT_FALSE(dlg->StepReady(S::ImageToProject));
  EXPECT_TRUE(enabled(B::ImageAdd));
  EXPECT_FALSE(enabled(B::RemoveAll));
}

TEST_F(WindowTest, RemoveSelectionOfTheMiddleRowKeepsTheOthersInOrder) {
  LoadDem();
  ChoosePassport();
  AddImages({"one", "two", "three"}, true);
  const CadHandle middle = AddFootprint("two", 1000, 1500, 50);
  const CadHandle last = AddFootprint("three", 1100, 1500, 50);
  dlg->ImageList()->topLevelItem(1)->setSelected(true);
  dlg->OnRemoveSelection();
  EXPECT_EQ(ListNames(), (QStringList{"one", "three"}));
  EXPECT_EQ(project().images.size(), 2u);
  EXPECT_EQ(project().images[1].name, "three");
  EXPECT_EQ(project().orientations.count("two"), 0u);
  EXPECT_EQ(project().footprints.count("two"), 0u);
  EXPECT_EQ(project().cad.Find(middle), nullptr);
  EXPECT_NE(project().cad.Find(last), nullptr);
  EXPECT_EQ(newestLog(), "1 images removed");
  EXPECT_TRUE(dlg->StepReady(S::ImageToProject));
  EXPECT_TRUE(enabled(B::Start));
}

TEST_F(WindowTest, RemoveSelectionWithoutSelectionDoesNothing) {
  LoadDem();
  ChoosePassport();
  AddImages({"one", "two"}, true);
  const int rows = logRows();
  dlg->OnRemoveSelection();
  EXPECT_EQ(ListNames(), (QStringList{"one", "two"}));
  EXPECT_EQ(logRows(), rows);
}

TEST_F(WindowTest, RemovingEveryRowBySelectionSetsTheStepNotReady) {
  LoadDem();
  ChoosePassport();
  AddImages({"one", "two"}, true);
  dlg->ImageList()->selectAll();
  dlg->OnRemoveSelection();
  EXPECT_EQ(newestLog(), "2 images removed");
  EXPECT_FALSE(dlg->StepReady(S::ImageToProject));
  EXPECT_FALSE(enabled(B::RemoveSelection));
  EXPECT_FALSE(enabled(B::RemoveAll));
  EXPECT_FALSE(enabled(B::Start));
}

TEST_F(WindowTest, RemoveAllAsksFirst) {
  LoadDem();
  ChoosePassport();
  AddImages({"one", "two"}, true);
  const CadHandle fp = AddFootprint("one", 1000, 1500, 50);

  prompts.QueueYesNo(false);
  dlg->OnRemoveAll();
  EXPECT_EQ(ListNames().size(), 2);
  EXPECT_EQ(prompts.Texts(ScriptedPrompts::Kind::Question).value(0),
            "Do you really want to remove all imported images?");

  prompts.QueueYesNo(true);
  dlg->OnRemoveAll();
  EXPECT_TRUE(ListNames().isEmpty());
  EXPECT_TRUE(project().orientations.empty());
  EXPECT_TRUE(project().footprints.empty());
  EXPECT_EQ(project().cad.Find(fp), nullptr);
  EXPECT_EQ(newestLog(), "All imported images removed");
  EXPECT_FALSE(dlg->StepReady(S::ImageToProject));
  EXPECT_FALSE(enabled(B::Start));
}

TEST_F(WindowTest, BundleLockHoldsThroughBusyModeAndSteps) {
  LoadDem();
  ChoosePassport();
  AddImages({"one"}, true);
  dlg->SetBusy(true);
  dlg->SetBundleLock(true);
  dlg->SetBusy(false);
  dlg->SetBundleLock(true);
  const std::vector<B> locked = {B::PassportAdd, B::ImageAdd, B::RemoveAll, B::RemoveSelection, B::ExtOrientationsAdd};
  for (B b : locked) EXPECT_FALSE(enabled(b));
  dlg->SetBusy(true);
  dlg->SetBusy(false);
  for (S s : {S::Dem, S::Passport, S::ImageToProject}) dlg->SetStepState(s, true);
  for (B b : locked) EXPECT_FALSE(enabled(b));
  EXPECT_TRUE(enabled(B::DemAdd));
}

TEST_F(WindowTest, NestedBusyModeRestoresOnlyAtTheOutermostEnd) {
  LoadDem();
  dlg->SetBusy(true);
  dlg->SetBusy(true);  // e.g. the footprint pass inside a bundle import
  dlg->SetBusy(false);
  EXPECT_FALSE(enabled(B::Exit)) << "the outer operation still runs";
  EXPECT_FALSE(enabled(B::DemAdd));
  dlg->SetBusy(false);
  EXPECT_TRUE(enabled(B::Exit));
  EXPECT_TRUE(enabled(B::DemAdd));
  EXPECT_TRUE(enabled(B::PassportAdd));
  dlg->SetBusy(false);  // unbalanced end: nothing changes
  EXPECT_TRUE(enabled(B::Exit));
}

TEST_F(WindowTest, StepsChangedInsideBusyModeApplyWhenItEnds) {
  LoadDem();
  dlg->SetBusy(true);
  ChoosePassport();  // e.g. the passport of a bundle file
  AddImages({"one"}, true);
  EXPECT_FALSE(enabled(B::ImageAdd)) << "nothing is usable while busy";
  EXPECT_FALSE(enabled(B::Start));
  dlg->SetBusy(false);
  EXPECT_TRUE(enabled(B::ImageAdd));
  EXPECT_TRUE(enabled(B::RemoveAll));
  EXPECT_TRUE(enabled(B::ExtOrientationsAdd));
  EXPECT_TRUE(enabled(B::Start)) << "Start follows CanStart() after busy mode";

  project().orientations["one"].N = Wml::Point3d(0.0, 0.0, 0.0);
  dlg->SetBusy(true);
  dlg->SetBusy(false);
  EXPECT_FALSE(enabled(B::Start));
}

TEST_F(WindowTest, StopAndLastWarpOnlyWhileTheProcessRuns) {
  project().processRunning = true;
  dlg->SetBusy(true);
  EXPECT_TRUE(enabled(B::Stop));
  EXPECT_TRUE(enabled(B::LastWarp));
  prompts.QueueYesNo(false);
  dlg->GetButton(B::Stop)->click();
  EXPECT_FALSE(project().abortRequested) << "No keeps the run going";
  prompts.QueueYesNo(true);
  dlg->GetButton(B::Stop)->click();
  EXPECT_TRUE(project().abortRequested);
  EXPECT_EQ(prompts.Texts(ScriptedPrompts::Kind::Question), (QStringList{"Abort process?", "Abort process?"}));
  dlg->SetBusy(false);
  EXPECT_FALSE(enabled(B::Stop));
}

TEST_F(WindowTest, FootprintSelectionSelectsItsRowOnlyWhenReadyToStart) {
  LoadDem();
  ChoosePassport();
  AddImages({"one", "two"}, false);
  const CadHandle fp = AddFootprint("two", 1000, 1500, 50);
  AddFootprint("one", 1200, 1500, 50);
  dlg->resize(900, 700);
  dlg->show();
  CadView* view = dlg->View();
  view->ZoomExtents();
  const QPoint inside = view->GroundToWidget(1025, 1525).toPoint();
  QTest::mouseClick(view, Qt::LeftButton, {}, inside);
  EXPECT_EQ(view->Selection(), std::set<CadHandle>{fp});
  EXPECT_TRUE(dlg->ImageList()->selectedItems().isEmpty()) << "Start is not enabled yet";
  view->SetSelected(fp, false);

  for (auto& [name, o] : project().orientations) o.N = Wml::Point3d(1.0, 2.0, 3.0);
  dlg->UpdateStart();
  QTest::mouseClick(view, Qt::LeftButton, {}, inside);
  ASSERT_EQ(dlg->ImageList()->selectedItems().size(), 1);
  EXPECT_EQ(dlg->ImageList()->selectedItems()[0]->text(0), "two");
  view->SetSelected(fp, false);
  EXPECT_TRUE(dlg->ImageList()->selectedItems().isEmpty());
}

TEST_F(WindowTest, DeleteKeyRemovesTheSelectionAndDoubleClickShowsTheFootprint) {
  LoadDem();
  ChoosePassport();
  AddImages({"one", "two", "three"}, true);
  AddFootprint("one", 1000, 1500, 50);
  dlg->resize(900, 700);
  dlg->show();
  dlg->ZoomToFootprint(0);
  const CadBox box = dlg->View()->VisibleBox();
  EXPECT_NEAR((box.left + box.right) / 2, 1025.0, 1e-6);
  EXPECT_NEAR((box.bottom + box.top) / 2, 1525.0, 1e-6);
  dlg->ZoomToFootprint(1);  // no footprint: the view stays
  EXPECT_NEAR(dlg->View()->VisibleBox().left, box.left, 1e-9);

  dlg->ImageList()->setFocus();
  dlg->ImageList()->topLevelItem(2)->setSelected(true);
  QTest::keyClick(dlg->ImageList(), Qt::Key_Delete);
  EXPECT_EQ(ListNames(), (QStringList{"one", "two"}));
  dlg->SetBundleLock(true);
  dlg->ImageList()->topLevelItem(0)->setSelected(true);
  QTest::keyClick(dlg->ImageList(), Qt::Key_Delete);
  EXPECT_EQ(ListNames().size(), 2) << "a disabled command stays disabled from the keyboard";
}

TEST_F(WindowTest, FillAppliesToEveryFootprint) {
  LoadDem();
  const CadHandle a = AddFootprint("a", 1000, 1500, 50);
  const CadHandle b = AddFootprint("b", 1100, 1500, 50);
  dlg->SetBusy(true);
  dlg->SetBusy(false);
  dlg->GetButton(B::Fill)->click();
  EXPECT_TRUE(project().fillFootprints);
  EXPECT_TRUE(project().cad.Find(a)->filled);
  EXPECT_TRUE(project().cad.Find(b)->filled);
  dlg->GetButton(B::Fill)->click();
  EXPECT_FALSE(project().cad.Find(a)->filled);
}

TEST_F(WindowTest, ExitAndCloseAreRefusedWhileTheProcessRuns) {
  dlg->show();
  project().processRunning = true;
  dlg->OnExit();
  EXPECT_TRUE(dlg->isVisible());
  EXPECT_EQ(prompts.Texts(ScriptedPrompts::Kind::Information).value(0),
            "Please stop the process before close the application");
  EXPECT_FALSE(dlg->close());
  EXPECT_TRUE(dlg->isVisible());
  project().processRunning = false;
  dlg->OnExit();
  EXPECT_FALSE(dlg->isVisible());
  EXPECT_EQ(dlg->result(), QDialog::Accepted);
}

TEST_F(WindowTest, CloseAndEscapeAreRefusedWhileBusy) {
  dlg->show();
  dlg->SetBusy(true);
  EXPECT_FALSE(dlg->close());
  EXPECT_TRUE(dlg->isVisible());
  dlg->SetBusy(false);
  QTest::keyClick(dlg.get(), Qt::Key_Escape);
  EXPECT_TRUE(dlg->isVisible()) << "Escape does not end the application";
  EXPECT_TRUE(dlg->close());
}

TEST_F(WindowTest, OrientationImportNeedsAPassport) {
  dlg->OnExtOrientationsAdd();
  EXPECT_EQ(prompts.Texts(ScriptedPrompts::Kind::Information).value(0), "Select camera passport before!");
  LoadDem();
  ChoosePassport();
  AddImages({"a", "b", "c"}, true);
  dlg->OrientationsImported();
  EXPECT_EQ(newestLog(), "3 External Orientation currently loaded");
  EXPECT_TRUE(dlg->StepReady(S::ExternalOrientations));
  EXPECT_TRUE(enabled(B::Start));
}

TEST_F(WindowTest, MissingTutorialIsReported) {
  int opened = 0;
  dlg->SetUrlOpener([&](const QUrl&) { return ++opened > 0; });
  ASSERT_FALSE(QFile::exists(COrtaviaDlg::TutorialPath()));
  EXPECT_TRUE(COrtaviaDlg::TutorialPath().endsWith("/tutorial/test_app.html"));
  dlg->OnTutorial();
  EXPECT_EQ(opened, 0);
  EXPECT_EQ(prompts.Texts(ScriptedPrompts::Kind::Warning).value(0),
            "The tutorial was not present. Please contact Varnell Software to get the tutorial.");
}

TEST_F(WindowTest, LogKeepsTheNewestFirstAndIgnoresCallsWithoutWindow) {
  LogMessage("first");
  LogMessage("second");
  LogMessage(nullptr);
  EXPECT_EQ(dlg->Log()->Operation(0), "second");
  EXPECT_EQ(dlg->Log()->Operation(1), "first");
  EXPECT_EQ(dlg->Log()->When(0).size(), QString("2026-01-01 00:00:00").size());
  dlg.reset();
  EXPECT_EQ(COrtaviaDlg::Instance(), nullptr);
  LogMessage("after the window");  // must not touch a destroyed window
}

TEST_F(WindowTest, SelectedLogRowsAreCopiedAsText) {
  dlg->AddLogEntry("DTM added: dem");
  dlg->LogView()->selectAll();
  dlg->CopyLogSelection();
  const QStringList lines = QGuiApplication::clipboard()->text().split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 2);
  EXPECT_TRUE(lines[0].endsWith("\tDTM added: dem"));
  EXPECT_TRUE(lines[1].endsWith("\tSession started"));
}

TEST_F(WindowTest, GroundPositionIsShownWithThreeDecimals) {
  dlg->resize(900, 700);
  dlg->show();
  CadView* view = dlg->View();
  emit view->GroundPositionChanged(512345.6789, 4123456.0004);
  EXPECT_EQ(dlg->CoordinateText()->text(), "512345.679, 4123456.000");
}

}  // namespace
}  // namespace ortavia::ui::test

namespace ortavia::ui::test {
namespace {

TEST(AboutBox, ShowsTheVersionWithDots) {
  EXPECT_EQ(CAboutDlg::VersionText("1,2,3,4"), "Ver. 1.2.3.4");
  CAboutDlg about;
  auto* version = about.findChild<QLabel*>("version");
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(version->text(), CAboutDlg::VersionText(QString::fromStdString(GT_GetVersionInfo())));
  EXPECT_FALSE(version->text().contains(','));
}

}  // namespace
}  // namespace ortavia::ui::test
