#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <cmath>

#include <ogr_spatialref.h>

#include "external/geo/pump.h"
#include "gui/cad_view.h"
#include "model/dem.h"
#include "support/test_env.h"
#include "support/test_geotiff.h"
#include "window_fixture.h"

namespace ortavia::ui::test {
namespace {

using B = COrtaviaDlg::Button;
using S = COrtaviaDlg::Step;
using ortavia::test::MakeTempDir;
using ortavia::test::TestRaster;
using ortavia::test::WriteGeoTiff;

// 60 x 40 DEM of 10-unit pixels at (1000, 2000), heights 100..160 rising to the east, with a
// no-data block in the north-west corner (columns and rows below 10).
std::string WriteDem(const std::string& stem, int bands = 1, GDALDataType type = GDT_Float32) {
  const auto path = MakeTempDir("dem") / (stem + ".tif");
  TestRaster r;
  r.width = 60;
  r.height = 40;
  r.bands = bands;
  r.type = type;
  r.geoTransform = {1000.0, 10.0, 0.0, 2000.0, 0.0, -10.0};
  r.noData = -32767.0;
  EXPECT_TRUE(WriteGeoTiff(path, r, [](int, int c, int row) { return c < 10 && row < 10 ? -32767.0 : 100.0 + c; }));
  return path.string();
}

class DemFlowTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    dlg->resize(1000, 700);
    dlg->show();
    QApplication::processEvents();
  }
  void PickDem(const std::string& path) {
    prompts.QueueFile(QString::fromStdString(path));
    dlg->LoadDem();
  }
};

TEST_F(DemFlowTest, LoadingShowsTheDemAndOpensTheNextStep) {
  PickDem(WriteDem("hills"));
  ASSERT_TRUE(project().dem.dataset);
  EXPECT_EQ(prompts.LastFilter(), "DEM File (*.gtif *.GTIF *.tif *.TIF)");
  EXPECT_TRUE(prompts.Texts(ScriptedPrompts::Kind::Question).isEmpty()) << "nothing to replace yet";
  EXPECT_EQ(newestLog(), "DTM added: hills");
  EXPECT_TRUE(dlg->StepReady(S::Dem));
  EXPECT_TRUE(enabled(B::PassportAdd));
  EXPECT_FALSE(enabled(B::Start));
  EXPECT_TRUE(enabled(B::Exit)) << "busy mode of the footprint pass ended";
  EXPECT_EQ(dlg->Progress()->value(), dlg->Progress()->minimum());
  // The footprint pass measured the heights (the no-data block left out).
  EXPECT_DOUBLE_EQ(project().dem.minHeight, 100.0);
  EXPECT_NEAR(project().dem.maxHeight, 159.0, 1.0);

  const CadEntity* picture = project().cad.Find(project().dem.pictureEntity);
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->layer, kLayerDem);
  EXPECT_EQ(picture->code, kDemPictureCode);
  // Zoomed to the DEM's extent.
  const CadBox box = dlg->View()->VisibleBox();
  EXPECT_LE(box.left, 1000.0);
  EXPECT_GE(box.right, 1600.0);
  EXPECT_LE(box.bottom, 1600.0);
  EXPECT_GE(box.top, 2000.0);
  EXPECT_LT(box.right - box.left, 2 * 600.0 * dlg->View()->width() / dlg->View()->height() + 600.0);
}

TEST_F(DemFlowTest, TheProgressBarFollowsTheHeightsRead) {
  const std::string path = WriteDem("rows");
  QList<int> seen;
  int maximum = 0;
  geo::SetPumpHook([&] {
    if (dlg->LoadRunning()) seen << dlg->Progress()->value();
    maximum = std::max(maximum, dlg->Progress()->maximum());
  });
  PickDem(path);
  geo::SetPumpHook(nullptr);
  ASSERT_TRUE(project().dem.dataset);
  ASSERT_FALSE(seen.isEmpty()) << "the read keeps the window alive";
  // The first look comes after the first of the 40 rows: part of the way, not at either end.
  EXPECT_GT(seen.front(), dlg->Progress()->minimum());
  EXPECT_LT(seen.front(), maximum);
  EXPECT_EQ(dlg->Progress()->value(), dlg->Progress()->minimum()) << "back to empty afterwards";
}

TEST_F(DemFlowTest, TheViewPaintsHeightsAndNoDataAtScreenResolution) {
  PickDem(WriteDem("paint"));
  CadView* view = dlg->View();
  view->ZoomToBox({800.0, 1400.0, 1800.0, 2200.0});
  const QImage shot = view->grab().toImage();
  auto pixelAt = [&](double x, double y) {
    const QPointF w = view->GroundToWidget(x, y);
    return shot.pixelColor(static_cast<int>(w.x() * shot.devicePixelRatio()),
                           static_cast<int>(w.y() * shot.devicePixelRatio()));
  };
  EXPECT_EQ(pixelAt(1050.0, 1950.0), QColor(0, 0, 0)) << "no-data corner is black";
  // West is low (blue end of the ramp), east is high (red end).
  const QColor west = pixelAt(1105.0, 1650.0), east = pixelAt(1595.0, 1650.0);
  EXPECT_GT(west.blue(), west.red());
  EXPECT_GT(east.red(), east.blue());
  // Outside the DEM the view's background remains.
  EXPECT_EQ(pixelAt(900.0, 1800.0), view->palette().color(QPalette::Base));
}

TEST_F(DemFlowTest, InvalidRastersAreRefusedAndLeaveTheWindowUsable) {
  PickDem(WriteDem("three_bands", 3));
  EXPECT_EQ(prompts.Texts(ScriptedPrompts::Kind::Warning).value(0), "Invalid DEM!");
  EXPECT_FALSE(project().dem.dataset);
  EXPECT_FALSE(dlg->StepReady(S::Dem));
  EXPECT_FALSE(enabled(B::PassportAdd));
  EXPECT_TRUE(enabled(B::DemAdd));

  prompts.Clear();
  PickDem(WriteDem("bytes", 1, GDT_Byte));
  EXPECT_EQ(prompts.Texts(ScriptedPrompts::Kind::Warning).value(0), "Invalid DEM!");
  EXPECT_FALSE(project().dem.dataset);

  prompts.Clear();
  const auto junk = MakeTempDir("junk") / "junk.tif";
  FILE* f = std::fopen(junk.c_str(), "wb");
  std::fputs("II*\0 this is not a tiff", f);
  std::fclose(f);
  PickDem(junk.string());
  EXPECT_EQ(prompts.Texts(ScriptedPrompts::Kind::Warning).value(0), "Invalid DEM!");
  EXPECT_FALSE(enabled(B::Start));
}

TEST_F(DemFlowTest, CancelledFileChoiceChangesNothing) {
  dlg->LoadDem();  // nothing queued: the dialog is cancelled
  EXPECT_FALSE(project().dem.dataset);
  EXPECT_TRUE(prompts.Texts(ScriptedPrompts::Kind::Question).isEmpty());
  EXPECT_EQ(newestLog(), "Session started");
}

TEST_F(DemFlowTest, ReplacingTheDemAsksAndEmptiesTheProject) {
  PickDem(WriteDem("first"));
  ChoosePassport();
  AddImages({"a", "b"}, true);

  prompts.QueueYesNo(false);
  PickDem(WriteDem("second"));
  EXPECT_EQ(prompts.Texts(ScriptedPrompts::Kind::Question).value(0),
            "If you select again the DEM all other data will be removed. Do you want to proceed?");
  EXPECT_TRUE(QString(project().dem.dataset->GetDescription()).endsWith("first.tif"));
  EXPECT_EQ(project().images.size(), 2u);
  EXPECT_TRUE(project().passport);

  prompts.QueueYesNo(true);
  PickDem(WriteDem("third"));
  ASSERT_TRUE(project().dem.dataset);
  EXPECT_TRUE(QString(project().dem.dataset->GetDescription()).endsWith("third.tif"));
  EXPECT_EQ(newestLog(), "DTM added: third");
  EXPECT_TRUE(project().images.empty());
  EXPECT_TRUE(project().orientations.empty());
  EXPECT_FALSE(project().passport);
  EXPECT_EQ(dlg->ImageList()->topLevelItemCount(), 0);
  EXPECT_TRUE(dlg->PassportEdit()->text().isEmpty());
  EXPECT_TRUE(dlg->StepReady(S::Dem));
  for (S s : {S::Passport, S::ImageToProject, S::ExternalOrientations}) EXPECT_FALSE(dlg->StepReady(s));
  EXPECT_TRUE(enabled(B::PassportAdd));
  EXPECT_FALSE(enabled(B::ImageAdd));
  EXPECT_FALSE(enabled(B::Start));
  // One DEM picture only.
  int pictures = 0;
  for (const auto& e : project().cad.Entities()) pictures += !e.erased && e.kind == CadEntityKind::Image;
  EXPECT_EQ(pictures, 1);
}

TEST_F(DemFlowTest, ReplacingWithAnInvalidFileLeavesNoDem) {
  PickDem(WriteDem("first"));
  ChoosePassport();
  prompts.QueueYesNo(true);
  PickDem(WriteDem("bad", 3));
  EXPECT_EQ(prompts.Texts(ScriptedPrompts::Kind::Warning).value(0), "Invalid DEM!");
  EXPECT_FALSE(project().dem.dataset);
  EXPECT_FALSE(project().passport);
  EXPECT_FALSE(dlg->StepReady(S::Dem));
  EXPECT_FALSE(enabled(B::PassportAdd));
  EXPECT_TRUE(enabled(B::DemAdd));
  EXPECT_TRUE(enabled(B::Exit));
}

TEST_F(DemFlowTest, FootprintsAreDrawnForOrientedImagesWithTheFillFlag) {
  PickDem(WriteDem("flat"));
  ChoosePassport();
  AddImages({"down", "missing"}, false);
  // A vertical camera 1000 units above the DEM centre; the other image has no orientation.
  project().orientations["down"].N = Wml::Point3d(1300.0, 1800.0, 1130.0);
  project().orientations["down"].SetRotMat(Wml::Matrix3d::FromEulerAnglesXYZ(0.0, 0.0, 0.0));
  dlg->SetBusy(true);
  dlg->SetBusy(false);
  dlg->GetButton(B::Fill)->click();
  dlg->OrientationsImported();
  ASSERT_EQ(project().footprints.size(), 1u);
  const CadEntity* fp = project().cad.Find(project().footprints.at("down"));
  ASSERT_NE(fp, nullptr);
  EXPECT_EQ(fp->layer, kLayerOrtho);
  EXPECT_TRUE(fp->filled);
  EXPECT_EQ(fp->points.size(), 12u);
  EXPECT_TRUE(enabled(B::Exit));
  EXPECT_FALSE(enabled(B::Start)) << "one image is still without orientation";
}


TEST_F(DemFlowTest, GeographicDemIsShownWithAWarningInTheLog) {
  const auto path = MakeTempDir("dem") / "wgs84.tif";
  TestRaster r;
  r.width = r.height = 30;
  r.geoTransform = {14.5, 0.001, 0.0, 45.2, 0.0, -0.001};
  ASSERT_TRUE(WriteGeoTiff(path, r, [](int, int c, int row) { return 100.0 + c + row; }));
  {
    GDALDatasetUniquePtr ds(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_UPDATE));
    OGRSpatialReference wgs84;
    wgs84.importFromEPSG(4326);
    ASSERT_EQ(ds->SetSpatialRef(&wgs84), CE_None);
  }
  PickDem(path.string());
  ASSERT_TRUE(project().dem.dataset);  // loaded and drawn; the run is what refuses it
  EXPECT_TRUE(newestLog().startsWith("Warning: DEM ")) << newestLog().toStdString();
  EXPECT_TRUE(newestLog().contains("gdalwarp -t_srs EPSG:32633")) << newestLog().toStdString();
  EXPECT_TRUE(prompts.Texts(ScriptedPrompts::Kind::Warning).isEmpty());

  // With every other input in place Start stays disabled and says why.
  ChoosePassport();
  AddImages({"a"}, true);
  EXPECT_FALSE(enabled(B::Start));
  EXPECT_TRUE(dlg->StartReason()->isVisible());
  EXPECT_TRUE(dlg->StartReason()->text().startsWith("Start waits for a projected DEM: DEM ")) << dlg->StartReason()->text().toStdString();
  EXPECT_TRUE(dlg->StartReason()->text().contains("EPSG:32633"));
  EXPECT_EQ(dlg->GetButton(B::Start)->toolTip(), dlg->StartReason()->text());
  // Start reached another way refuses at once, before any question.
  dlg->OnStart();
  const QStringList warnings = prompts.Texts(ScriptedPrompts::Kind::Warning);
  ASSERT_EQ(warnings.size(), 1);
  EXPECT_TRUE(warnings[0].contains("geographic coordinate system")) << warnings[0].toStdString();
  EXPECT_TRUE(prompts.Texts(ScriptedPrompts::Kind::Folder).isEmpty());

  // A projected DEM in its place gives Start back.
  prompts.QueueYesNo(true);
  PickDem(WriteDem("projected"));
  ChoosePassport();
  AddImages({"a"}, true);
  EXPECT_TRUE(enabled(B::Start));
  EXPECT_FALSE(dlg->StartReason()->isVisible());
}

}  // namespace
}  // namespace ortavia::ui::test
