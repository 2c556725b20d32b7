// Stop and Escape during the long loads (DEM, images, bundle, footprints): each ends its load and
// leaves the project as it was before it.
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>
#include <filesystem>
#include <functional>

#include "external/geo/pump.h"
#include "support/bundle_writer.h"
#include "support/test_env.h"
#include "support/test_geotiff.h"
#include "window_fixture.h"

namespace ortavia::ui::test {
namespace {

namespace fs = std::filesystem;
using B = COrtaviaDlg::Button;
using S = COrtaviaDlg::Step;

const char* kBcc =
    "[BCC Camera Passport]\nModel = Block Cam\nSerialNumber = 12\nFocalLength = 100\n"
    "PixelSize = 0.01\nWidth = 40\nHeight = 30\nPrincipalPointX = 19.5\nPrincipalPointY = 14.5\n";

class StopLoadTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    dir = ortavia::test::MakeTempDir("stop");
    // The loads dispatch window messages as the application does, so that Stop can come in.
    geo::SetPumpHook([] { QCoreApplication::processEvents(); });
  }
  void TearDown() override {
    geo::SetPumpHook(nullptr);
    WindowTest::TearDown();
  }
  std::string Raster(const std::string& file, int w, int h, bool georeferenced) {
    ortavia::test::TestRaster r;
    r.width = w;
    r.height = h;
    r.georeferenced = georeferenced;
    r.geoTransform = {1000.0, 10.0, 0.0, 2000.0, 0.0, -10.0};
    EXPECT_TRUE(ortavia::test::WriteGeoTiff(dir / file, r, [](int, int c, int row) { return 100.0 + c + row; }));
    return (dir / file).string();
  }
  // Stop comes with the first message dispatched from inside the load.
  void StopSoon(bool escape) {
    QTimer::singleShot(0, dlg.get(), [this, escape] {
      stopWasUsable = enabled(B::Stop);
      if (!escape) {
        dlg->GetButton(B::Stop)->click();
        return;
      }
      QKeyEvent key(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
      QApplication::sendEvent(dlg.get(), &key);
    });
  }
  void Orient(const std::string& name, double x) {
    geo::COrientation& o = project().orientations[name];
    o.N = Wml::Point3d(x, 1800.0, 1000.0);
    o.SetRotMat(Wml::Matrix3d::FromEulerAnglesXYZ(0.0, 0.0, 0.0));
  }

  fs::path dir;
  bool stopWasUsable = false;
  CadHandle footprintBefore = 0;
};

TEST_F(StopLoadTest, EachLongLoadStopsAndLeavesTheProjectAsItWas) {
  struct Case {
    const char* load;
    bool escape;
    std::function<void()> run;
    const char* logged;
    std::function<void()> check;  // the project as it was
  };
  const Case cases[] = {
      {"DEM replacing another", true,
       [this] {
         prompts.QueueFile(QString::fromStdString(Raster("second.tif", 300, 200, true)));
         prompts.QueueYesNo(true);
         dlg->LoadDem();
       },
       "DEM loading stopped: the project is unchanged",
       [this] {
         ASSERT_TRUE(project().dem.dataset);
         EXPECT_EQ(project().dem.dataset->GetRasterXSize(), 50) << "the DEM before";
         EXPECT_EQ(ListNames(), QStringList{"a"});
         EXPECT_TRUE(project().passport);
         EXPECT_EQ(dlg->PassportEdit()->text(), "RC30 - s.n. 5001");
         EXPECT_TRUE(dlg->StepReady(S::ImageToProject));
       }},
      {"images", false,
       [this] {
         prompts.QueueFiles({QString::fromStdString(Raster("b.tif", 1000, 800, false)),
                             QString::fromStdString(Raster("c.tif", 1000, 800, false))});
         project().images.front().path = Raster("a.tif", 1000, 800, false);
         dlg->OnAddImages();
       },
       "Image import stopped: no image was added",
       [this] {
         EXPECT_EQ(ListNames(), QStringList{"a"});
         EXPECT_EQ(project().orientations.size(), 1u);
       }},
      {"bundle", true,
       [this] {
         ortavia::test::TestBundle b;
         b.version = 206;
         b.passportText = kBcc;
         for (const char* f : {"x.tif", "y.tif"}) {
           ortavia::test::TestBundleRecord r;
           r.path = Raster(f, 40, 30, false);
           r.hasOrientation = 1;
           r.x = 1200.0;
           r.y = 1800.0;
           r.z = 1500.0;
           b.records.push_back(r);
         }
         ASSERT_TRUE(ortavia::test::WriteBytes(dir / "block.bun", EncodeTestBundle(b)));
         prompts.QueueFile(QString::fromStdString((dir / "block.bun").string()));
         EXPECT_FALSE(dlg->OnImport());
       },
       "Bundle import stopped: the project is unchanged",
       [this] {
         EXPECT_EQ(ListNames(), QStringList{"a"});
         EXPECT_EQ(project().passport->model, "RC30");
         EXPECT_FALSE(project().bundleLock);
         EXPECT_TRUE(enabled(B::ImageAdd));
       }},
      {"bundle file read", false,
       [this] {
         // Three pieces of the read, which Stop ends after the first: the bytes would not even
         // make a bundle, so only a read that looks at Stop says "stopped".
         std::vector<std::uint8_t> bytes((std::size_t{12} << 20) + 1, 0xAB);
         ASSERT_TRUE(ortavia::test::WriteBytes(dir / "big.bun", bytes));
         prompts.QueueFile(QString::fromStdString((dir / "big.bun").string()));
         EXPECT_FALSE(dlg->OnImport());
       },
       "Bundle import stopped: the project is unchanged",
       [this] {
         EXPECT_EQ(ListNames(), QStringList{"a"});
         EXPECT_EQ(project().passport->model, "RC30");
         EXPECT_FALSE(project().bundleLock);
       }},
      {"footprints", true,
       [this] {
         Orient("a", 1300.0);
         dlg->ComputeFootprints();
       },
       "Footprint computation stopped: the footprints drawn before are kept",
       [this] {
         ASSERT_EQ(project().footprints.size(), 1u);
         EXPECT_EQ(project().footprints.at("a"), footprintBefore);
       }},
  };
  for (const Case& c : cases) {
    dlg = std::make_unique<COrtaviaDlg>();
    dlg->SetPrompts(&prompts);
    prompts = ScriptedPrompts();
    LoadDem();
    ChoosePassport();
    AddImages({"a"}, false);
    Orient("a", 1250.0);
    dlg->OrientationsImported();
    ASSERT_EQ(project().footprints.size(), 1u) << c.load;
    footprintBefore = project().footprints.at("a");

    stopWasUsable = false;
    StopSoon(c.escape);
    c.run();
    EXPECT_TRUE(stopWasUsable) << c.load;
    EXPECT_EQ(newestLog(), c.logged) << c.load;
    c.check();
    EXPECT_TRUE(prompts.Texts(ScriptedPrompts::Kind::Warning).isEmpty()) << c.load;
    EXPECT_FALSE(enabled(B::Stop)) << c.load;
    EXPECT_FALSE(project().abortRequested.load()) << c.load;
    EXPECT_FALSE(dlg->IsBusy()) << c.load;
  }
}

}  // namespace
}  // namespace ortavia::ui::test
