// What the window tells the operator without being asked: what Start waits for, each image's
// state in the list, the footprints that miss the terrain and the files an Add refused.
#include <QLabel>
#include <QPushButton>
#include <cmath>
#include <filesystem>

#include "support/test_env.h"
#include "window_fixture.h"

namespace ortavia::ui::test {
namespace {

namespace fs = std::filesystem;
using B = COrtaviaDlg::Button;
using K = ScriptedPrompts::Kind;

class GuidanceTest : public WindowTest {
 protected:
  void Orient(const std::string& name, double omega = 0.0) {
    geo::COrientation& o = project().orientations[name];
    o.N = Wml::Point3d(1250.0, 1800.0, 1000.0);
    o.SetRotMat(Wml::Matrix3d::FromEulerAnglesXYZ(omega, 0.0, 0.0));
  }
  QString reason() const { return dlg->StartReason()->text(); }
};

TEST_F(GuidanceTest, StartSaysWhatItWaitsForStepByStep) {
  struct Case {
    const char* stage;
    std::function<void()> step;
    QString reason;  // empty: Start enabled
  };
  const Case cases[] = {
      {"empty project", [] {}, "Start waits for a DEM"},
      {"DEM", [this] { LoadDem(); }, "Start waits for a camera passport"},
      {"passport", [this] { ChoosePassport(); }, "Start waits for images to project"},
      {"four images", [this] { AddImages({"a", "b", "c", "d"}, false); },
       "Start waits for exterior orientations of 4 of 4 images (a, b, c, ...)"},
      {"three oriented",
       [this] {
         for (const char* n : {"a", "b", "c"}) Orient(n);
         dlg->OrientationsImported();
       },
       "Start waits for exterior orientations of 1 of 4 images (d)"},
      {"all oriented",
       [this] {
         Orient("d");
         dlg->OrientationsImported();
       },
       ""},
  };
  for (const Case& c : cases) {
    c.step();
    EXPECT_EQ(reason(), c.reason) << c.stage;
    EXPECT_EQ(enabled(B::Start), c.reason.isEmpty()) << c.stage;
    EXPECT_EQ(dlg->StartReason()->isHidden(), c.reason.isEmpty()) << c.stage;
    EXPECT_EQ(dlg->GetButton(B::Start)->toolTip(), c.reason) << c.stage;
  }
}

TEST_F(GuidanceTest, EveryImageShowsItsStateAndMissedFootprintsAreLoggedByName) {
  LoadDem();
  ChoosePassport();
  AddImages({"down", "up", "none"}, false);
  EXPECT_EQ(ListStates(), (QStringList{"waits for its exterior orientation", "waits for its exterior orientation",
                                       "waits for its exterior orientation"}));
  Orient("down");
  Orient("up", M_PI);  // looking at the sky, as 180 degrees read as radians nearly do
  dlg->OrientationsImported();
  EXPECT_EQ(ListStates(), (QStringList{"oriented, footprint on the terrain",
                                       "oriented, footprint misses the terrain (angles in degrees?)",
                                       "waits for its exterior orientation"}));
  EXPECT_EQ(dlg->Log()->Operation(1), "No footprint for up: its rays miss the terrain");
  EXPECT_TRUE(newestLog().startsWith("Angles left in degrees are the usual cause")) << newestLog().toStdString();

  // Oriented again in radians, the image gets its footprint and the log says nothing more.
  Orient("up");
  const int rows = logRows();
  dlg->OrientationsImported();
  EXPECT_EQ(ListStates().value(1), "oriented, footprint on the terrain");
  EXPECT_EQ(logRows(), rows + 1) << "only the orientation count";
}

TEST_F(GuidanceTest, RefusedFilesAreListedGreyedWithTheirCause) {
  LoadDem();
  ChoosePassport();
  const fs::path dir = ortavia::test::MakeTempDir("refused");
  prompts.QueueFiles({QString::fromStdString((dir / "gone.tif").string()),
                      QString::fromStdString((dir / "coverage.tif").string())});
  dlg->OnAddImages();
  EXPECT_TRUE(ListNames().isEmpty());
  ASSERT_EQ(dlg->ImageList()->topLevelItemCount(), 2);
  EXPECT_EQ(ListStates().join('|'),
            "refused: GDAL cannot open it as a raster|refused: its name is that of a mosaic product");
  EXPECT_EQ(dlg->ImageList()->topLevelItem(0)->text(0), "gone.tif");
  EXPECT_FALSE(dlg->ImageList()->topLevelItem(0)->flags() & Qt::ItemIsSelectable);
  EXPECT_EQ(reason(), "Start waits for images to project");

  // Listed images come first; Remove All takes the refused rows too.
  AddImages({"a"}, true);
  EXPECT_EQ(ListNames(), QStringList{"a"});
  EXPECT_EQ(dlg->ImageList()->topLevelItemCount(), 3);
  prompts.QueueYesNo(true);
  dlg->OnRemoveAll();
  EXPECT_EQ(dlg->ImageList()->topLevelItemCount(), 0);
}

}  // namespace
}  // namespace ortavia::ui::test
