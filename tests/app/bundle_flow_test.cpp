// Image Add and bundle Import as the operator meets them: the dialogs' filters, the messages, the
// log lines in their order, the steps, Start and the lock that a bundle leaves.
#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <QLineEdit>
#include <QProgressBar>
#include <fstream>

#include "extor/ui/CImportExtOrDlg.h"
#include "support/bundle_writer.h"
#include "support/test_env.h"
#include "support/test_geotiff.h"
#include "window_fixture.h"

namespace ortavia::ui::test {
namespace {

namespace fs = std::filesystem;
using B = COrtaviaDlg::Button;
using S = COrtaviaDlg::Step;
using K = ScriptedPrompts::Kind;

// The passport of MakePassport (window_fixture.h): 1000 x 800 pixels; the images here are smaller
// copies for speed, with their own passport texts.
const char* kBcc =
    "[BCC Camera Passport]\nModel = Block Cam\nSerialNumber = 12\nFocalLength = 100\n"
    "PixelSize = 0.01\nWidth = 40\nHeight = 30\nPrincipalPointX = 19.5\nPrincipalPointY = 14.5\n";
const char* kCcb =
    "[Calibration Certificate]\nCamera = Old Cam\nSerial = 3\nFocalLengthMM = 100\n"
    "PixelSizeMicrons = 10\nColumns = 40\nRows = 30\nPPAxMM = 0\nPPAyMM = 0\n";

class BundleFlowTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    dir = ortavia::test::MakeTempDir("flow");
  }
  std::string Image(const std::string& file, int w = 40, int h = 30) {
    ortavia::test::TestRaster r;
    r.width = w;
    r.height = h;
    r.type = GDT_Byte;
    r.georeferenced = false;
    EXPECT_TRUE(ortavia::test::WriteGeoTiff(dir / file, r, [](int, int c, int row) { return c + row; }));
    return (dir / file).string();
  }
  ortavia::test::TestBundleRecord Record(const std::string& path, double x, int flag = 1) {
    ortavia::test::TestBundleRecord r;
    r.path = path;
    r.hasOrientation = flag;
    r.x = x;
    r.y = 1800.0;
    r.z = 1500.0;
    return r;
  }
  QString Bundle(int version, std::vector<ortavia::test::TestBundleRecord> records, const std::string& file = "block.bun") {
    ortavia::test::TestBundle b;
    b.version = version;
    b.passportText = kBcc;
    b.records = std::move(records);
    EXPECT_TRUE(ortavia::test::WriteBytes(dir / file, EncodeTestBundle(b)));
    return QString::fromStdString((dir / file).string());
  }
  // The log from oldest to newest, from the row `from` (counted from the oldest) on.
  QStringList LogSince(int from) const {
    QStringList rows;
    for (int i = logRows() - 1 - from; i >= 0; --i) rows << dlg->Log()->Operation(i);
    return rows;
  }
  bool Import(const QString& path) {
    prompts.QueueFile(path);
    return dlg->OnImport();
  }

  fs::path dir;
};

TEST_F(BundleFlowTest, ImportFillsTheProjectLocksItAndEnablesStart) {
  LoadDem();
  const QString bun = Bundle(206, {Record(Image("a.tif"), 1200), Record(Image("b.tif"), 1210, 0),
                                   Record(Image("c.tif"), 1220)});
  const int before = logRows();
  ASSERT_TRUE(Import(bun));
  EXPECT_EQ(prompts.LastFilter(), "Trivane File (*.bun *.BUN)");
  EXPECT_TRUE(prompts.Texts(K::Warning).isEmpty());
  EXPECT_EQ(LogSince(before).mid(0, 6),
            (QStringList{"All imported images removed", "Passport selected: Block Cam (s.n. 12) - focal length 100.00",
                         "2 images added", "1 images without external orientation data",
                         QString::fromStdString("Image " + (dir / "b.tif").string() + " refused: it has no orientation"),
                         "2 External Orientation currently loaded"}));
  EXPECT_EQ(ListNames(), (QStringList{"a", "c"}));
  // The refused record is listed after the images, greyed, with why.
  ASSERT_EQ(dlg->ImageList()->topLevelItemCount(), 3);
  const QTreeWidgetItem* refused = dlg->ImageList()->topLevelItem(2);
  EXPECT_EQ(refused->text(0), "b.tif");
  EXPECT_FALSE(refused->flags() & Qt::ItemIsEnabled);
  EXPECT_EQ(refused->text(COrtaviaDlg::kStateColumn), "refused: it has no orientation");
  EXPECT_EQ(dlg->PassportEdit()->text(), "Block Cam - s.n. 12");
  for (S s : {S::Dem, S::Passport, S::ImageToProject, S::ExternalOrientations}) EXPECT_TRUE(dlg->StepReady(s));
  EXPECT_TRUE(project().bundleLock);
  EXPECT_TRUE(enabled(B::Start));
  EXPECT_EQ(project().footprints.size(), 2u);
  for (B b : {B::PassportAdd, B::ImageAdd, B::RemoveAll, B::RemoveSelection, B::ExtOrientationsAdd})
    EXPECT_FALSE(enabled(b));
  EXPECT_TRUE(enabled(B::Import));
  EXPECT_TRUE(enabled(B::DemAdd));
}

TEST_F(BundleFlowTest, RefusedOrCancelledImportsChangeNothingAndKeepTheLock) {
  LoadDem();
  ASSERT_TRUE(Import(Bundle(206, {Record(Image("a.tif"), 1200)})));
  const auto names = ListNames();
  const auto* passport = project().passport.get();

  std::vector<std::uint8_t> cut = EncodeTestBundle([&] {
    ortavia::test::TestBundle b;
    b.passportText = kBcc;
    b.records = {Record(Image("z.tif"), 1)};
    return b;
  }());
  cut.resize(cut.size() - 5);
  ASSERT_TRUE(ortavia::test::WriteBytes(dir / "cut.bun", cut));
  std::vector<std::uint8_t> v207 = cut;
  v207[0] = 207;
  ASSERT_TRUE(ortavia::test::WriteBytes(dir / "v207.bun", v207));
  struct Case {
    QString path;
    QString warning;  // empty: the dialog is cancelled
  };
  const std::vector<Case> cases = {
      {QString(), QString()},
      {QString::fromStdString((dir / "cut.bun").string()), "Unable to read BUN file!"},
      {QString::fromStdString((dir / "v207.bun").string()), "Invalid BUN file version"},
      {QString::fromStdString((dir / "gone.bun").string()), "Unable to open BUN file!"},
      {Bundle(202, {Record(Image("y.tif"), 1)}, "no_ccb.bun"), "Unable to find camera passport!"},
  };
  for (const Case& c : cases) {
    prompts.Clear();
    const int before = logRows();
    EXPECT_FALSE(Import(c.path));
    EXPECT_EQ(prompts.Texts(K::Warning), c.warning.isEmpty() ? QStringList() : QStringList{c.warning}) << c.path.toStdString();
    if (!c.warning.isEmpty()) {
      ASSERT_EQ(logRows(), before + 1);
      EXPECT_TRUE(newestLog().startsWith(c.warning + " ")) << newestLog().toStdString();
    }
    EXPECT_EQ(ListNames(), names);
    EXPECT_EQ(project().passport.get(), passport);
    EXPECT_TRUE(project().bundleLock);
    EXPECT_FALSE(enabled(B::ImageAdd));
    EXPECT_TRUE(enabled(B::Start));
  }
}

TEST_F(BundleFlowTest, Version202TakesThePassportFromTheCertificateFirst) {
  std::ofstream(dir / "Old_Cam.CCB") << kCcb;
  const QString bun = Bundle(202, {Record(Image("a.tif"), 1200)});
  const int before = logRows();
  ASSERT_TRUE(Import(bun));
  EXPECT_EQ(LogSince(before).mid(0, 3),
            (QStringList{"Passport selected: Old Cam (s.n. 3) - focal length 100.00", "All imported images removed",
                         "1 images added"}));
  EXPECT_EQ(project().cameraName, "old_cam.ccb");
  EXPECT_FALSE(enabled(B::Start)) << "no DEM yet";
}

TEST_F(BundleFlowTest, ImageAddChecksTheFilesAndLogsTheCounts) {
  dlg->OnAddImages();
  EXPECT_EQ(prompts.Texts(K::Information), QStringList{"Select camera passport before!"});
  EXPECT_TRUE(prompts.Texts(K::OpenFiles).isEmpty());

  LoadDem();
  auto p = ortavia::test::MakeTestPassport(40, 30, 100, 0.01);
  dlg->ApplyPassport(*p, "/x/Cam.bcc");
  prompts.Clear();
  prompts.QueueFiles({QString::fromStdString(Image("IMG_1.TIF")), QString::fromStdString(Image("img_2.tif")),
                      QString::fromStdString(Image("wide.tif", 41))});
  dlg->OnAddImages();
  EXPECT_EQ(prompts.LastFilter(),
            "Images (*.tif *.TIF *.img *.IMG *.jpg *.JPG);;TIF Images (*.tif *.TIF);;IMG Images (*.img *.IMG);;"
            "JPG Images (*.jpg *.JPG)");
  EXPECT_EQ(ListNames(), (QStringList{"img_1", "img_2"}));
  EXPECT_EQ(dlg->Log()->Operation(1), "2 images added");
  EXPECT_EQ(newestLog(), "1 images not matching the passport specifications");
  EXPECT_TRUE(dlg->StepReady(S::ImageToProject));
  EXPECT_TRUE(enabled(B::ExtOrientationsAdd));
  EXPECT_TRUE(enabled(B::Exit)) << "busy mode ended";
  EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the wait cursor ended with it";
  EXPECT_EQ(dlg->Progress()->value(), dlg->Progress()->minimum());

  // The first listed image is gone: nothing is added and the operator is told.
  fs::remove(dir / "IMG_1.TIF");
  prompts.QueueFiles({QString::fromStdString(Image("img_3.tif"))});
  dlg->OnAddImages();
  EXPECT_EQ(prompts.Texts(K::Warning), QStringList{"Unable to read first image!"});
  EXPECT_EQ(ListNames(), (QStringList{"img_1", "img_2"}));
}

TEST_F(BundleFlowTest, ExternalOrientationsAddImportsThroughTheDialog) {
  LoadDem();
  ChoosePassport();
  AddImages({"a", "b"}, false);
  const fs::path points = dir / "eo.txt";
  std::ofstream(points) << "a 1200 1800 1500 0 0 0\nb 1210 1800 1500 0 0 0\nb 1 1 1 0 0 0\n";
  prompts.QueueFile(QString::fromStdString(points.string()));
  QTimer::singleShot(0, [] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* d = qobject_cast<CImportExtOrDlg*>(w); d && d->isVisible()) {
        d->OnBrowse();
        d->GetButton(CImportExtOrDlg::Button::SelectAll)->click();
        d->GetButton(CImportExtOrDlg::Button::Import)->click();
      }
  });
  const int before = logRows();
  dlg->OnExtOrientationsAdd();
  EXPECT_EQ(prompts.Texts(K::Information), QStringList{"2 External Orientations successfully added."});
  EXPECT_EQ(LogSince(before).mid(0, 2),
            (QStringList{"1 rows skipped: an earlier row has the same ID", "2 External Orientation currently loaded"}));
  EXPECT_EQ(project().orientations.at("b").N.x(), 1210.0);
  EXPECT_TRUE(dlg->StepReady(S::ExternalOrientations));
  EXPECT_TRUE(enabled(B::Start));
}

TEST_F(BundleFlowTest, ANewDemEmptiesTheProjectAndReleasesTheBundleLock) {
  ortavia::test::TestRaster r;
  r.width = 50;
  r.height = 40;
  r.geoTransform = {1000.0, 10.0, 0.0, 2000.0, 0.0, -10.0};
  ASSERT_TRUE(ortavia::test::WriteGeoTiff(dir / "first.tif", r, [](int, int, int) { return 100.0; }));
  ASSERT_TRUE(ortavia::test::WriteGeoTiff(dir / "second.tif", r, [](int, int, int) { return 120.0; }));
  prompts.QueueFile(QString::fromStdString((dir / "first.tif").string()));
  dlg->LoadDem();
  ASSERT_TRUE(Import(Bundle(206, {Record(Image("a.tif"), 1200)})));
  ASSERT_TRUE(project().bundleLock);

  prompts.QueueFile(QString::fromStdString((dir / "second.tif").string()));
  prompts.QueueYesNo(true);
  dlg->LoadDem();
  EXPECT_FALSE(project().bundleLock);
  EXPECT_TRUE(project().images.empty());
  EXPECT_TRUE(enabled(B::PassportAdd));
  // Passport and images can be added again, as on a project that never saw a bundle.
  ChoosePassport();
  EXPECT_TRUE(enabled(B::ImageAdd));
  AddImages({"b"}, false);
  for (B b : {B::RemoveAll, B::RemoveSelection, B::ExtOrientationsAdd}) EXPECT_TRUE(enabled(b));
}

}  // namespace
}  // namespace ortavia::ui::test
