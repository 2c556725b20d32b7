#include "model/dem.h"

#include <cmath>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "external/tools/folders.h"
#include "model/height_ramp.h"
#include "support/inputs_test_util.h"
#include "support/test_env.h"

namespace ortavia {
namespace {

namespace fs = std::filesystem;
using test::RasterLayout;
using test::WriteRaster;

TEST(HeightRamp, RunsFromDarkBlueToDarkRed) {
  const auto& ramp = HeightRamp();
  ASSERT_EQ(ramp.size(), kHeightRampSize);
  EXPECT_EQ(&ramp, &HeightRamp());  // built once
  EXPECT_EQ(ramp[0], (RampEntry{0, 1, 128, 0}));
  const RampEntry last = ramp.back();
  EXPECT_NEAR(last[0], 128, 1);
  EXPECT_NEAR(last[1], 1, 1);
  EXPECT_EQ(last[2], 0);
  const RampEntry mid = ramp[kHeightRampSize / 2];  // x = pi: red 128, green 255, blue 128
  EXPECT_EQ(mid[0], 128);
  EXPECT_EQ(mid[1], 255);
  EXPECT_EQ(mid[2], 128);
}

TEST(HeightRamp, LookupClampsAndScales) {
  EXPECT_EQ(HeightRampIndex(10.0, 10.0, 20.0), 0u);
  EXPECT_EQ(HeightRampIndex(-5.0, 10.0, 20.0), 0u);
  EXPECT_EQ(HeightRampIndex(20.0, 10.0, 20.0), kHeightRampSize - 1);
  EXPECT_EQ(HeightRampIndex(1e9, 10.0, 20.0), kHeightRampSize - 1);
  EXPECT_EQ(HeightRampIndex(15.0, 10.0, 20.0), kHeightRampSize / 2);
  EXPECT_EQ(HeightRampIndex(std::nan(""), 10.0, 20.0), 0u);
  EXPECT_EQ(HeightRampIndex(5.0, 5.0, 5.0), 0u);  // empty range
  const cv::Vec3b bgr = HeightRampBgr(10.0, 10.0, 20.0);
  EXPECT_EQ(bgr, cv::Vec3b(128, 1, 0));
}

std::array<double, 6> Gt(double x0, double y0, double px) { return {x0, px, 0, y0, 0, -px}; }

fs::path WriteDem(const fs::path& dir, const std::string& name, RasterLayout layout,
                  const std::function<double(int, int, int)>& v) {
  const fs::path p = dir / name;
  EXPECT_TRUE(WriteRaster(p, layout, v));
  return p;
}

TEST(Dem, AcceptsOneBandOfSixteenBitOrFloatWithGeotransform) {
  const fs::path dir = test::MakeTempDir("dem");
  for (GDALDataType t : {GDT_UInt16, GDT_Int16, GDT_Float32}) {
    const auto p = WriteDem(dir, std::string("ok") + GDALGetDataTypeName(t) + ".tif",
                            test::Layout(4, 3, t), [](int, int c, int) { return c; });
    EXPECT_NE(OpenDem(p.string()), nullptr) << GDALGetDataTypeName(t);
  }
}

TEST(Dem, RefusesBadFilesAndLeavesTheProjectWithoutDem) {
  const fs::path dir = test::MakeTempDir("baddem");
  const auto any = [](int, int c, int r) { return c + r; };
  std::vector<fs::path> bad = {
      WriteDem(dir, "three.tif", test::Layout(4, 4, GDT_UInt16, 3), any),
      WriteDem(dir, "byte.tif", test::Layout(4, 4, GDT_Byte), any),
      WriteDem(dir, "double.tif", test::Layout(4, 4, GDT_Float64), any),
      WriteDem(dir, "nogt.tif", test::WithGt(test::Layout(4, 4), std::nullopt),
               any),
      WriteDem(dir, "flatgt.tif", test::WithGt(test::Layout(4, 4), std::array<double, 6>{0, 0, 0, 0, 0, 0}),
               any),
      // Pixel sizes that are not 0, yet every sample on one line: determinant 0.
      WriteDem(dir, "foldedgt.tif",
               test::WithGt(test::Layout(4, 4), std::array<double, 6>{0, 1, 2, 0, 1, 2}), any),
      dir / "missing.tif", dir};
  // A truncated DEM: the header survives, the samples do not.
  const fs::path whole = WriteDem(dir, "whole.tif", test::Layout(300, 300), any);
  {
    std::ifstream in(whole, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    std::ofstream(dir / "truncated.tif", std::ios::binary).write(bytes.data(), bytes.size() / 3);
  }
  bad.push_back(dir / "truncated.tif");
  std::ofstream(dir / "text.tif") << "not a raster\n";
  bad.push_back(dir / "text.tif");
  std::ofstream(dir / "empty.tif");
  bad.push_back(dir / "empty.tif");

  const fs::path good = WriteDem(dir, "good.tif", test::Layout(8, 8), any);
  for (const auto& p : bad) {
    WarpProject project;
    ASSERT_EQ(LoadDem(project, good.string(), {}).status, LoadDemStatus::Loaded);
    project.passport = test::MakePassport(10, 10);
    project.images.push_back({"a", "/x/a.tif"});
    const LoadDemResult r = LoadDem(project, p.string(), {});
    EXPECT_EQ(r.status, LoadDemStatus::Invalid) << p;
    EXPECT_EQ(r.message, "Invalid DEM!");
    EXPECT_TRUE(r.log.empty());
    EXPECT_EQ(project.dem.dataset, nullptr) << p;
    EXPECT_EQ(project.dem.pictureEntity, 0u);
    EXPECT_TRUE(project.images.empty());  // the old DEM and its data were removed first
    EXPECT_FALSE(CanStart(project));
  }
}

TEST(Dem, LoadingPlacesThePictureAndReplacingResetsTheProject) {
  const fs::path dir = test::MakeTempDir("load");
  const auto p1 = WriteDem(dir, "First.tif", test::WithGt(test::Layout(20, 10), Gt(500, 900, 2)),
                           [](int, int c, int) { return 100.0 + c; });
  WarpProject project;
  std::vector<std::string> logged;
  RunContext ctx;
  ctx.log = [&](const std::string& s) { logged.push_back(s); };
  const LoadDemResult r = LoadDem(project, p1.string(), ctx);
  ASSERT_EQ(r.status, LoadDemStatus::Loaded);
  EXPECT_TRUE(r.pictureShown);
  EXPECT_EQ(logged, std::vector<std::string>{"DTM added: First"});
  const CadEntity* pic = project.cad.Find(project.dem.pictureEntity);
  ASSERT_NE(pic, nullptr);
  EXPECT_EQ(pic->layer, "DEM");
  EXPECT_EQ(pic->code, 100);
  EXPECT_EQ(pic->lowerLeft, cv::Point2d(500, 880));
  EXPECT_DOUBLE_EQ(pic->width, 40.0);
  EXPECT_DOUBLE_EQ(pic->height, 20.0);
  const fs::path folder = GT_GetSpecialFolder(kCsidlLocalAppData);
  EXPECT_EQ(fs::path(pic->file), folder / "DEM.jpg");
  EXPECT_TRUE(fs::exists(folder / "DEM.jgw"));

  // A project built on the first DEM.
  project.passport = test::MakePassport(10, 10);
  project.cameraName = "cam.bcc";
  project.images.push_back({"a", "/x/a.tif"});
  project.orientations.emplace("a", geo::COrientation());
  project.footprints["a"] = project.cad.AddPolyline("Ortho", {{0, 0}, {1, 0}, {1, 1}}, true);
  project.dem.minHeight = 3.0;

  const auto p2 = WriteDem(dir, "second.tif", test::Layout(5, 5, GDT_Int16),
                           [](int, int, int) { return 7; });
  ASSERT_EQ(LoadDem(project, p2.string(), {}).status, LoadDemStatus::Loaded);
  EXPECT_TRUE(project.images.empty());
  EXPECT_TRUE(project.orientations.empty());
  EXPECT_TRUE(project.footprints.empty());
  EXPECT_EQ(project.passport, nullptr);
  EXPECT_EQ(project.cameraName, "cam.bcc");  // kept until a new passport is chosen
  EXPECT_EQ(project.dem.minHeight, 3.0);     // kept until the next footprint pass
  // Only the new picture is left in the drawing.
  ASSERT_EQ(project.cad.Entities().size(), 1u);
  EXPECT_EQ(project.cad.Entities()[0].handle, project.dem.pictureEntity);
}

// The picture lies where the DEM's pixel corners lie on the ground, whichever way the DEM runs.
TEST(Dem, PictureCornersAreTheDemCornersForEveryGeotransform) {
  struct Case {
    const char* name;
    std::array<double, 6> gt;  // 20 columns x 10 rows
    // Ground points of the first pixel's upper-left corner, then the ends of the first row and
    // column and the far corner, worked out by hand.
    cv::Point2d upperLeft, upperRight, lowerRight, lowerLeft;
    cv::Point2d boxLowerLeft;
    double boxWidth, boxHeight;
  };
  const Case cases[] = {
      // Pixels of 5 turned by atan(3/4) (36.87 degrees) anticlockwise: a column step is (4, 3),
      // a row step (3, -4). Across: 20 x (4, 3) = (80, 60); down: 10 x (3, -4) = (30, -40).
      {"turned", {1000, 4, 3, 2000, 3, -4}, {1000, 2000}, {1080, 2060}, {1110, 2020}, {1030, 1960},
       {1000, 1960}, 110, 100},
      // Rows run north: the first row is the southern edge. Across (40, 0), down (0, 20).
      {"south-up", {500, 2, 0, 100, 0, 2}, {500, 100}, {540, 100}, {540, 120}, {500, 120},
       {500, 100}, 40, 20},
      // Columns run west: the first column is the eastern edge. Across (-40, 0), down (0, -20).
      {"west-running", {540, -2, 0, 120, 0, -2}, {540, 120}, {500, 120}, {500, 100}, {540, 100},
       {500, 100}, 40, 20},
  };
  const fs::path dir = test::MakeTempDir("frames");
  for (const Case& c : cases) {
    const auto path = WriteDem(dir, std::string(c.name) + ".tif", test::WithGt(test::Layout(20, 10), c.gt),
                               [](int, int col, int) { return 100.0 + col; });
    WarpProject project;
    ASSERT_EQ(LoadDem(project, path.string(), {}).status, LoadDemStatus::Loaded) << c.name;
    const CadEntity* pic = project.cad.Find(project.dem.pictureEntity);
    ASSERT_NE(pic, nullptr) << c.name;
    const auto corners = pic->frame.Corners();
    const cv::Point2d expected[] = {c.upperLeft, c.upperRight, c.lowerRight, c.lowerLeft};
    for (int i = 0; i < 4; ++i) {
      EXPECT_NEAR(corners[i].x, expected[i].x, 1e-9) << c.name << " corner " << i;
      EXPECT_NEAR(corners[i].y, expected[i].y, 1e-9) << c.name << " corner " << i;
    }
    // The box around it is what zooming to extents shows.
    EXPECT_NEAR(pic->lowerLeft.x, c.boxLowerLeft.x, 1e-9) << c.name;
    EXPECT_NEAR(pic->lowerLeft.y, c.boxLowerLeft.y, 1e-9) << c.name;
    EXPECT_NEAR(pic->width, c.boxWidth, 1e-9) << c.name;
    EXPECT_NEAR(pic->height, c.boxHeight, 1e-9) << c.name;
  }
}

TEST(Dem, PictureOfSixteenBitDemWithZeroNoData) {
  const fs::path dir = test::MakeTempDir("pic");
  // Heights 0 (no data), 50, 100, ..., and one sample below -200 (Int16).
  const auto p = WriteDem(dir, "nd.tif", test::WithNoData(
                              test::WithGt(test::Layout(4, 2, GDT_Int16), Gt(1000, 2000, 10)), 0.0),
                          [](int, int c, int r) {
                            const int i = r * 4 + c;
                            return i == 0 ? 0.0 : (i == 7 ? -500.0 : 50.0 * i);
                          });
  const GDALDatasetUniquePtr ds = OpenDem(p.string());
  ASSERT_NE(ds, nullptr);
  const DemPicture pic = MakeDemPicture(ds.get());
  ASSERT_EQ(pic.bgr.size(), cv::Size(4, 2));
  EXPECT_EQ(pic.scale, 1.0);
  EXPECT_EQ(pic.bgr.at<cv::Vec3b>(0, 0), cv::Vec3b(0, 0, 0));  // no data
  EXPECT_EQ(pic.bgr.at<cv::Vec3b>(1, 3), cv::Vec3b(0, 0, 0));  // below -200
  EXPECT_EQ(pic.bgr.at<cv::Vec3b>(0, 1), HeightRampBgr(0, 0, 1));  // lowest valid: entry 0
  EXPECT_EQ(pic.bgr.at<cv::Vec3b>(1, 2), HeightRampBgr(1, 0, 1));  // highest: last entry
  // World file: picture pixel size and the centre of the upper-left pixel.
  EXPECT_DOUBLE_EQ(pic.world[0], 10.0);
  EXPECT_DOUBLE_EQ(pic.world[3], -10.0);
  EXPECT_DOUBLE_EQ(pic.world[4], 1005.0);
  EXPECT_DOUBLE_EQ(pic.world[5], 1995.0);

  const fs::path out = test::MakeTempDir("picout");
  const std::string file = WriteDemPicture(pic, out.string());
  ASSERT_EQ(file, (out / "DEM.jpg").string());
  EXPECT_EQ(cv::imread(file).size(), cv::Size(4, 2));
  std::ifstream world(out / "DEM.jgw");
  std::stringstream text;
  text << world.rdbuf();
  EXPECT_EQ(text.str(), "10.000000\n0.000000\n0.000000\n-10.000000\n1005.000000\n1995.000000\n");
  // A folder that cannot exist (below a file) gives no picture.
  EXPECT_EQ(WriteDemPicture(pic, (out / "DEM.jpg" / "sub").string()), "");
}

TEST(Dem, PictureIsAtMost2048Square) {
  const fs::path dir = test::MakeTempDir("big");
  const auto flat = [](int, int c, int) { return c % 7; };
  const auto exact = WriteDem(dir, "exact.tif", test::Layout(2048, 2048, GDT_UInt16),
                              flat);
  const auto big = WriteDem(dir, "big.tif", test::WithGt(test::Layout(4096, 4096, GDT_UInt16), Gt(0, 0, 5)), flat);
  const auto g1 = OpenDem(exact.string());
  const auto g2 = OpenDem(big.string());
  ASSERT_TRUE(g1 && g2);
  EXPECT_EQ(MakeDemPicture(g1.get()).bgr.size(), cv::Size(2048, 2048));
  const DemPicture p2 = MakeDemPicture(g2.get());
  EXPECT_EQ(p2.bgr.size(), cv::Size(2048, 2048));
  EXPECT_DOUBLE_EQ(p2.scale, 0.5);
  EXPECT_DOUBLE_EQ(p2.world[0], 10.0);
  EXPECT_DOUBLE_EQ(p2.world[3], -10.0);
}

TEST(Dem, ZeroIsAHeightWhenTheBandHasNoNoDataValue) {
  const fs::path dir = test::MakeTempDir("zero");
  for (GDALDataType t : {GDT_UInt16, GDT_Int16, GDT_Float32}) {
    const auto p = WriteDem(dir, std::string("z") + GDALGetDataTypeName(t) + ".tif",
                            test::Layout(2, 1, t), [](int, int c, int) { return c; });
    const auto ds = OpenDem(p.string());
    ASSERT_NE(ds, nullptr);
    const cv::Mat h = ReadDemHeights(ds.get(), nullptr, {2, 1});
    EXPECT_EQ(h.at<float>(0, 0), 0.0f) << GDALGetDataTypeName(t);
    EXPECT_EQ(h.at<float>(0, 1), 1.0f);
  }
}

TEST(Dem, FloatNoDataAndNaNBecomeNoHeight) {
  const fs::path dir = test::MakeTempDir("f32");
  const auto p = WriteDem(dir, "f.tif", test::WithNoData(test::Layout(3, 1), -32767.0),
                          [](int, int c, int) { return c == 0 ? -32767.0 : (c == 1 ? NAN : 5.5); });
  const auto ds = OpenDem(p.string());
  ASSERT_NE(ds, nullptr);
  const cv::Mat h = ReadDemHeights(ds.get(), nullptr, {3, 1});
  ASSERT_EQ(h.type(), CV_32F);
  EXPECT_EQ(h.at<float>(0, 0), kNoHeight);
  EXPECT_EQ(h.at<float>(0, 1), kNoHeight);
  EXPECT_EQ(h.at<float>(0, 2), 5.5f);
}

class DemPaintTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path dir = test::MakeTempDir("paint");
    // 8 x 4 DEM, heights = column (0..7), one no-data sample at (2, 1).
    const auto p = WriteDem(dir, "p.tif", test::WithNoData(test::Layout(8, 4), -1.0),
                            [](int, int c, int r) { return c == 2 && r == 1 ? -1.0 : c; });
    ASSERT_EQ(LoadDem(project, p.string(), {}).status, LoadDemStatus::Loaded);
    project.dem.minHeight = 0.0;
    project.dem.maxHeight = 7.0;
  }
  cv::Vec3b Colour(int col) const { return HeightRampBgr(col, 0.0, 7.0); }
  WarpProject project;
};

TEST_F(DemPaintTest, OneScreenPixelPerDemPixel) {
  const DemPaint p = PaintDem(project, {10, 20, 8, 4}, {0, 0, 100, 100});
  ASSERT_EQ(p.bgr.size(), cv::Size(8, 4));
  EXPECT_EQ(p.topLeft, cv::Point(10, 20));
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 8; ++c)
      EXPECT_EQ(p.bgr.at<cv::Vec3b>(r, c), c == 2 && r == 1 ? cv::Vec3b(0, 0, 0) : Colour(c));
}

TEST_F(DemPaintTest, ZoomedInPaintsOnlyTheRedrawnPart) {
  // 4 screen pixels per DEM pixel; the picture starts left of the view.
  const DemPaint p = PaintDem(project, {-8, 0, 32, 16}, {0, 0, 10, 6});
  ASSERT_EQ(p.bgr.size(), cv::Size(10, 6));
  EXPECT_EQ(p.topLeft, cv::Point(0, 0));
  // Screen column 0 sees DEM column 2, columns 8..9 see DEM column 4.
  EXPECT_EQ(p.bgr.at<cv::Vec3b>(0, 0), Colour(2));
  EXPECT_EQ(p.bgr.at<cv::Vec3b>(5, 0), cv::Vec3b(0, 0, 0));  // DEM (2, 1): no data
  EXPECT_EQ(p.bgr.at<cv::Vec3b>(0, 3), Colour(2));
  EXPECT_EQ(p.bgr.at<cv::Vec3b>(0, 4), Colour(3));
  EXPECT_EQ(p.bgr.at<cv::Vec3b>(0, 9), Colour(4));
}

TEST_F(DemPaintTest, ExtremeZoomPaintsOnlyTheView) {
  const DemPaint p = PaintDem(project, {-1e12, -1e12, 8e13, 4e13}, {0, 0, 10, 6});
  ASSERT_EQ(p.bgr.size(), cv::Size(10, 6));
  EXPECT_EQ(p.bgr.at<cv::Vec3b>(5, 9), Colour(0));
}

TEST_F(DemPaintTest, ZoomedOutReadsAtScreenResolution) {
  const DemPaint p = PaintDem(project, {0, 0, 4, 2}, {0, 0, 50, 50});
  ASSERT_EQ(p.bgr.size(), cv::Size(4, 2));
  EXPECT_EQ(p.bgr.at<cv::Vec3b>(0, 0), Colour(1));
  EXPECT_EQ(p.bgr.at<cv::Vec3b>(0, 3), Colour(7));
}

TEST_F(DemPaintTest, NothingToPaint) {
  EXPECT_TRUE(PaintDem(project, {100, 100, 8, 4}, {0, 0, 50, 50}).bgr.empty());  // off view
  EXPECT_TRUE(PaintDem(project, {0, 0, 0, 4}, {0, 0, 50, 50}).bgr.empty());
  EXPECT_TRUE(PaintDem(project, {0, 0, NAN, 4}, {0, 0, 50, 50}).bgr.empty());
  project.cad.Erase(project.dem.pictureEntity);
  EXPECT_TRUE(PaintDem(project, {0, 0, 8, 4}, {0, 0, 50, 50}).bgr.empty());
  WarpProject none;
  EXPECT_TRUE(PaintDem(none, {0, 0, 8, 4}, {0, 0, 50, 50}).bgr.empty());
}

}  // namespace
}  // namespace ortavia
