#include <gtest/gtest.h>

#include <filesystem>

#include <opencv2/core.hpp>

#include "external/geo/camera_passport.h"
#include "process/warp.h"
#include "support/test_env.h"
#include "support/test_geotiff.h"
#include "support/test_passport.h"

namespace ortavia {
namespace {

namespace fs = std::filesystem;

ProjectionBounds Cells(int minCol, int maxCol, int minRow, int maxRow) {
  ProjectionBounds b;
  b.cellMinCol = minCol;
  b.cellMaxCol = maxCol;
  b.cellMinRow = minRow;
  b.cellMaxRow = maxRow;
  return b;
}

TEST(WarpGeometry, SizeGrowsToTheNextMultipleOfFour) {
  const OrthoGeometry g = ComputeOrthoGeometry(Cells(5, 7, 2, 3), 40.0);
  EXPECT_EQ(g.outW, 124);  // 3 cells * 40 = 120, plus 4
  EXPECT_EQ(g.outH, 84);   // 2 cells * 40 = 80, plus 4
  EXPECT_EQ(g.ox0, 200);
  EXPECT_EQ(g.oy0, 80);
  EXPECT_EQ(g.nBx, 1);
  EXPECT_EQ(g.nBy, 1);
  EXPECT_EQ(ComputeOrthoGeometry(Cells(0, 100, 0, 0), 1.0).outW, 104);  // 101 -> 104
}

TEST(WarpGeometry, OffsetRoundsHalfToEven) {
  EXPECT_EQ(ComputeOrthoGeometry(Cells(1, 1, 3, 3), 2.5).ox0, 2);   // 2.5 -> 2
  EXPECT_EQ(ComputeOrthoGeometry(Cells(1, 1, 3, 3), 2.5).oy0, 8);   // 7.5 -> 8
}

TEST(WarpGeometry, BlocksOnlyFromSeventeenMegapixels) {
  // 4092 cells at scale 1 give 4096; 4096 and 4100 square stay one block.
  OrthoGeometry g = ComputeOrthoGeometry(Cells(0, 4091, 0, 4091), 1.0);
  EXPECT_EQ(g.outW, 4096);
  EXPECT_EQ(g.nBx * g.nBy, 1);
  g = ComputeOrthoGeometry(Cells(0, 4096, 0, 4096), 1.0);
  EXPECT_EQ(g.outW, 4100);
  EXPECT_EQ(g.nBx * g.nBy, 1);
  g = ComputeOrthoGeometry(Cells(0, 4396, 0, 4396), 1.0);
  EXPECT_EQ(g.outW, 4400);
  EXPECT_EQ(g.bw, 2048);
  EXPECT_EQ(g.bh, 2048);
  EXPECT_EQ(g.nBx, 3);
  EXPECT_EQ(g.nBy, 3);
  // A long thin ortho keeps its short side as block height.
  g = ComputeOrthoGeometry(Cells(0, 29996, 0, 996), 1.0);
  EXPECT_EQ(g.bh, 1000);
  EXPECT_EQ(g.nBy, 1);
  EXPECT_EQ(g.nBx, 15);
}

TEST(WarpGeometry, CompositionsAndDepths) {
  EXPECT_EQ(CompositionBands("1"), 1);
  EXPECT_EQ(CompositionBands("123"), 3);
  EXPECT_EQ(CompositionBands("321"), 3);
  EXPECT_EQ(CompositionBands("412"), 3);
  EXPECT_EQ(CompositionBands("1234"), 4);
  EXPECT_EQ(CompositionBands("213"), 0);
  EXPECT_EQ(WarpWorkingDepth(GDT_Byte), CV_8U);
  EXPECT_EQ(WarpWorkingDepth(GDT_UInt16), CV_16U);
  EXPECT_EQ(WarpWorkingDepth(GDT_Int16), CV_16S);
  // 32-bit integers, signed or not, through doubles (OpenCV's warps take no 32-bit integers).
  EXPECT_EQ(WarpWorkingDepth(GDT_UInt32), CV_64F);
  EXPECT_EQ(WarpWorkingDepth(GDT_Int32), CV_64F);
  EXPECT_EQ(WarpWorkingDepth(GDT_Float32), CV_32F);
  EXPECT_EQ(WarpWorkingDepth(GDT_Float64), CV_64F);
  EXPECT_EQ(WarpWorkingDepth(GDT_CInt16), -1);
}

// A sloped DEM window: sample (c, r) holds the plane's height at its pixel's centre.
struct SlopedWindow {
  GeoTransform gt{1000.0, 10.0, 0.0, 5000.0, 0.0, -10.0};
  cv::Mat dem = cv::Mat(20, 24, CV_32F);
  double Plane(double x, double y) const { return 50.0 + 0.2 * (x - 1000.0) - 0.1 * (5000.0 - y); }
  SlopedWindow() {
    for (int r = 0; r < dem.rows; ++r)
      for (int c = 0; c < dem.cols; ++c)
        dem.at<float>(r, c) =
            static_cast<float>(Plane(gt[0] + (c + 0.5) * gt[1], gt[3] + (r + 0.5) * gt[5]));
  }
};

TEST(WarpHeight, SampleStandsForThePixelCentreOnASlope) {
  SlopedWindow w;
  // At a sample's centre the sample itself; between samples the plane (the cubic keeps lines).
  EXPECT_NEAR(SampleDemHeight(w.gt, w.dem, 1000.0 + 10.5 * 10, 5000.0 - 8.5 * 10),
              w.dem.at<float>(8, 10), 1e-3);
  for (double x : {1061.0, 1093.7, 1137.2, 1150.0})
    for (double y : {4941.0, 4887.3, 4903.9})
      EXPECT_NEAR(SampleDemHeight(w.gt, w.dem, x, y), w.Plane(x, y), 1e-3) << x << " " << y;
}

TEST(WarpHeight, EdgeZoneTakesTheTruncatedSample) {
  SlopedWindow w;
  // Within four samples of the edge: the sample at the truncated position, no interpolation.
  EXPECT_FLOAT_EQ(SampleDemHeight(w.gt, w.dem, 1000.0 + 1.9 * 10, 5000.0 - 1.2 * 10),
                  w.dem.at<float>(0, 1));
  EXPECT_EQ(SampleDemHeight(w.gt, w.dem, 990.0, 4990.0), -9999.0);
  EXPECT_EQ(SampleDemHeight(w.gt, w.dem, 1000.0 + 24.6 * 10, 4990.0), -9999.0);
  EXPECT_EQ(SampleDemHeight(w.gt, cv::Mat(), 1100.0, 4900.0), -9999.0);
}

TEST(WarpHeight, HoleInTheStencilFallsBackToBilinearWithoutIt) {
  SlopedWindow w;
  w.dem.at<float>(7, 9) = -9999.0f;  // in the 4 x 4 stencil, outside the 2 x 2 cell
  const double x = 1000.0 + 10.75 * 10, y = 5000.0 - 9.25 * 10;  // col 10.25, row 8.75
  EXPECT_NEAR(SampleDemHeight(w.gt, w.dem, x, y), w.Plane(x, y), 1e-3);
  w.dem.at<float>(9, 11) = -9999.0f;  // one of the four bilinear samples
  const double fx = 0.25, fy = 0.75;
  const double expected = ((1 - fx) * (1 - fy) * w.dem.at<float>(8, 10) +
                           fx * (1 - fy) * w.dem.at<float>(8, 11) +
                           (1 - fx) * fy * w.dem.at<float>(9, 10)) /
                          (1 - fx * fy);
  EXPECT_NEAR(SampleDemHeight(w.gt, w.dem, x, y), expected, 1e-3);
  for (int r = 8; r <= 9; ++r)
    for (int c = 10; c <= 11; ++c) w.dem.at<float>(r, c) = -9999.0f;
  EXPECT_EQ(SampleDemHeight(w.gt, w.dem, x, y), -9999.0);
}

TEST(WarpDemWindow, WidenedClampedAndPaddedToAMultipleOfFour) {
  GDALAllRegister();
  const fs::path dir = test::MakeTempDir("demwin");
  test::TestRaster r;
  r.width = 50;
  r.height = 40;
  r.type = GDT_Int16;
  r.noData = -32768;
  r.geoTransform = {0.0, 2.0, 0.0, 80.0, 0.0, -2.0};
  ASSERT_TRUE(test::WriteGeoTiff(dir / "d.tif", r, [](int, int c, int row) {
    return (c == 47 && row == 20) ? -32768.0 : c * 100 + row;
  }));
  GDALDatasetUniquePtr ds = test::OpenRaster(dir / "d.tif");
  DemWindow w;
  // Box columns 40..45 (c1 = 46), rows 10..14 (r1 = 15): widened by 6 and 5, clamped to 49.
  ASSERT_EQ(BuildDemWindow(ds.get(), 80.5, 91.0, 59.0, 51.0, w), DemWindowStatus::Ok);
  EXPECT_EQ(w.gt[0], 2.0 * 34);
  EXPECT_EQ(w.gt[3], 80.0 - 2.0 * 5);
  // Columns 34..49 = 16 wide (already a multiple of 4); rows 5..20 = 16 high.
  EXPECT_EQ(w.heights.cols, 16);
  EXPECT_EQ(w.heights.rows, 16);
  EXPECT_FLOAT_EQ(w.heights.at<float>(0, 0), 34 * 100 + 5);
  EXPECT_FLOAT_EQ(w.heights.at<float>(15, 13), -9999.0f);  // no-data (47, 20)
  // Columns 32..49 are 18 wide: padded to 20 with no height past the DEM.
  ASSERT_EQ(BuildDemWindow(ds.get(), 78.5, 91.0, 59.0, 51.0, w), DemWindowStatus::Ok);
  EXPECT_EQ(w.heights.cols, 20);
  EXPECT_FLOAT_EQ(w.heights.at<float>(0, 17), 49 * 100 + 5);
  EXPECT_FLOAT_EQ(w.heights.at<float>(0, 18), -9999.0f);
  EXPECT_FLOAT_EQ(w.heights.at<float>(0, 19), -9999.0f);
  // Far outside the DEM: too small.
  EXPECT_EQ(BuildDemWindow(ds.get(), 500.0, 510.0, -300.0, -310.0, w), DemWindowStatus::TooSmall);
}

}  // namespace
}  // namespace ortavia

namespace ortavia {
namespace {

// A nadir camera 3000 above flat ground at 0: 0.3 ground units per pixel, principal point at the
// centre of a 1000 x 1000 image. Voronoi cells of 10 x 10 on a 20 x 20 map over 0..200.
struct BoundsSetup {
  WarpProject project;
  geo::COrientation orientation;
  cv::Mat voronoi = cv::Mat(20, 20, CV_8UC3, cv::Scalar::all(255));
  DemWindow dem;
  cv::Mat mask;
  BoundsSetup() {
    auto passport = test::MakeTestPassport(1000, 1000, 100.0, 0.01);
    orientation.BuildINTWithoutDistortion(passport.get(), 0.0);
    orientation.N = Wml::Point3d(100.0, 100.0, 3000.0);
    project.passport = std::move(passport);
    project.mosaicMinX = 0.0;
    project.mosaicMaxY = 200.0;
    voronoi(cv::Rect(8, 8, 4, 4)).setTo(cv::Scalar(2, 0, 0));  // row 2 owns the middle
    dem.gt = {-50.0, 10.0, 0.0, 250.0, 0.0, -10.0};
    dem.heights = cv::Mat(30, 32, CV_32F, cv::Scalar(0.0f));
  }
  std::optional<ProjectionBounds> Run(int row = 2) {
    return ComputeProjectionBounds(project, row, orientation, voronoi, dem, 10.0, mask);
  }
};

TEST(WarpBounds, VoronoiCellGrownBySixteenCellsProjectsIntoTheImage) {
  BoundsSetup s;
  const auto b = s.Run();
  ASSERT_TRUE(b);
  // Cells 8..11 grown by 16 reach past the map on every side: the whole map.
  EXPECT_EQ(b->cellMinCol, 0);
  EXPECT_EQ(b->cellMaxCol, 19);
  EXPECT_EQ(b->cellMinRow, 0);
  EXPECT_EQ(b->cellMaxRow, 19);
  // Corner (0, 200) is 100 west and north of the nadir: 333.3 pixels; (190, 10) 90 east, south.
  EXPECT_EQ(b->pixMinX, 166);
  EXPECT_EQ(b->pixMinY, 166);
  EXPECT_EQ(b->pixMaxX, 799);
  EXPECT_EQ(b->pixMaxY, 799);
  EXPECT_EQ(cv::countNonZero(s.mask), 400);
}

TEST(WarpBounds, CellsOverDemHolesDropOutOfTheExtent) {
  BoundsSetup s;
  // Sample column c stands at X = 10 c - 42; columns 0..10 (centres up to 58) have no height.
  s.dem.gt[0] = -47.0;
  s.dem.heights.colRange(0, 11).setTo(cv::Scalar(-9999.0f));
  const auto b = s.Run();
  ASSERT_TRUE(b);
  // Cell 6 stands at X = 60, nearest to the hole sample at 58 (its pixel's corner at 63 would
  // have said column 11); cell 7 at X = 70 is nearest to 68, a height.
  EXPECT_EQ(b->cellMinCol, 7);
  EXPECT_EQ(b->cellMaxCol, 19);
  EXPECT_EQ(s.mask.at<uchar>(10, 6), 0);
  EXPECT_EQ(s.mask.at<uchar>(10, 7), 255);
}

TEST(WarpBounds, FailsWithoutCellCentreOrHeights) {
  BoundsSetup s;
  EXPECT_FALSE(s.Run(7));  // no cell carries row 7
  s.dem.heights.setTo(cv::Scalar(-9999.0f));
  EXPECT_FALSE(s.Run());
  BoundsSetup t;
  t.orientation.N = Wml::Point3d(0, 0, 0);
  EXPECT_FALSE(t.Run());
  EXPECT_FALSE(ComputeProjectionBounds(t.project, 2, BoundsSetup().orientation, cv::Mat(), t.dem,
                                       10.0, t.mask));
}

}  // namespace
}  // namespace ortavia
