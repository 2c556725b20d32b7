#include "runner/sample_project.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

#include <gdal_priv.h>
#include <gtest/gtest.h>

#include "external/geo/camera_passport.h"
#include "external/geo/orientation.h"
#include "model/project.h"
#include "support/test_env.h"

namespace ortavia {
namespace {

SampleOptions Small(int bands = 3) {
  SampleOptions o;
  o.images = 3;
  o.width = 160;
  o.height = 120;
  o.bands = bands;
  o.demSize = 64;
  return o;
}

geo::COrientation OrientationOf(const SampleShot& s, const geo::CCameraPassport& passport) {
  geo::COrientation o(1.0);
  EXPECT_EQ(o.BuildINTWithoutDistortion(&passport, 0.0), 1);
  ExtOrientation eo{s.name, s.x, s.y, s.z, s.omega, s.phi, s.kappa};
  ApplyExtOrientation(eo, o);
  return o;
}

TEST(SampleProject, OptionsAreChecked) {
  EXPECT_TRUE(ValidateSampleOptions(Small()).empty());
  SampleOptions o = Small();
  o.bands = 2;
  EXPECT_FALSE(ValidateSampleOptions(o).empty());
  o = Small();
  o.images = 0;
  EXPECT_FALSE(ValidateSampleOptions(o).empty());
  o = Small();
  o.width = 10;
  EXPECT_FALSE(ValidateSampleOptions(o).empty());
  o = Small();
  o.width = o.height = 12000;  // 144 megapixels in one image
  EXPECT_FALSE(ValidateSampleOptions(o).empty());
  o = Small();
  o.images = 1000;
  o.width = o.height = 2000;  // 4000 megapixels in all
  EXPECT_FALSE(ValidateSampleOptions(o).empty());
  const auto dir = test::MakeTempDir("sample");
  EXPECT_FALSE(WriteSampleProject((dir / "p").string(), o, {}, nullptr).empty());
  EXPECT_FALSE(std::filesystem::exists(dir / "p" / "dem.tif"));
}

TEST(SampleProject, WritesEveryFileReadableByTheEngine) {
  const auto dir = test::MakeTempDir("sample");
  SampleFiles files;
  ASSERT_EQ(WriteSampleProject(dir.string(), Small(4), {}, &files), "");
  ASSERT_EQ(files.images.size(), 3u);

  auto passport = geo::CCameraPassport::New(files.passport);
  ASSERT_TRUE(passport);
  EXPECT_EQ(passport->width, 160);
  EXPECT_EQ(passport->height, 120);
  EXPECT_FALSE(passport->MustUndistort());

  for (const auto& path : files.images) {
    GDALDatasetUniquePtr ds(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    ASSERT_TRUE(ds) << path;
    EXPECT_EQ(ds->GetRasterXSize(), 160);
    EXPECT_EQ(ds->GetRasterYSize(), 120);
    EXPECT_EQ(ds->GetRasterCount(), 4);
    EXPECT_EQ(ds->GetRasterBand(1)->GetRasterDataType(), GDT_Byte);
  }

  std::ifstream eo(files.orientations);
  std::string line;
  int lines = 0;
  while (std::getline(eo, line)) {
    std::istringstream fields(line);
    std::string name;
    double v[6];
    fields >> name >> v[0] >> v[1] >> v[2] >> v[3] >> v[4] >> v[5];
    EXPECT_TRUE(fields) << line;
    ++lines;
  }
  EXPECT_EQ(lines, 3);

  GDALDatasetUniquePtr dem(GDALDataset::Open(files.dem.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
  ASSERT_TRUE(dem);
  EXPECT_EQ(dem->GetRasterCount(), 1);
  EXPECT_EQ(dem->GetRasterBand(1)->GetRasterDataType(), GDT_Float32);
  int hasNoData = 0;
  const double noData = dem->GetRasterBand(1)->GetNoDataValue(&hasNoData);
  ASSERT_TRUE(hasNoData);
  std::vector<float> heights(64 * 64);
  ASSERT_EQ(dem->GetRasterBand(1)->RasterIO(GF_Read, 0, 0, 64, 64, heights.data(), 64, 64,
                                            GDT_Float32, 0, 0),
            CE_None);
  const long holes = std::count(heights.begin(), heights.end(), static_cast<float>(noData));
  EXPECT_GT(holes, 0);
  EXPECT_LT(holes, 64 * 64 / 4);

  // Every DEM value is the terrain at the centre of its pixel.
  const SampleScene scene(Small(4));
  double gt[6];
  dem->GetGeoTransform(gt);
  for (int r : {5, 31, 60})
    for (int c : {3, 40, 62}) {
      const float h = heights[r * 64 + c];
      if (h == static_cast<float>(noData)) continue;
      EXPECT_NEAR(h, scene.Height(gt[0] + (c + 0.5) * gt[1], gt[3] + (r + 0.5) * gt[5]), 1e-3);
    }
}

// A DEM of W x H samples: that size, square north-up pixels, and every image's corners on it.
TEST(SampleProject, OblongDemCoversTheBlockWithSquarePixels) {
  const auto dir = test::MakeTempDir("sample");
  for (const auto& [cols, rows] : {std::pair{96, 72}, std::pair{40, 90}}) {
    SampleOptions options = Small();
    options.demSize = cols;
    options.demHeight = rows;
    SampleFiles files;
    const auto folder = dir / (std::to_string(cols) + "x" + std::to_string(rows));
    ASSERT_EQ(WriteSampleProject(folder.string(), options, {}, &files), "");
    GDALDatasetUniquePtr dem(GDALDataset::Open(files.dem.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    ASSERT_TRUE(dem);
    EXPECT_EQ(dem->GetRasterXSize(), cols);
    EXPECT_EQ(dem->GetRasterYSize(), rows);
    double gt[6];
    ASSERT_EQ(dem->GetGeoTransform(gt), CE_None);
    EXPECT_GT(gt[1], 0.0);
    EXPECT_DOUBLE_EQ(gt[5], -gt[1]);
    EXPECT_EQ(gt[2], 0.0);
    EXPECT_EQ(gt[4], 0.0);
    const SampleScene scene(options);
    for (const SampleShot& shot : scene.Shots())
      for (const cv::Point2d px : {cv::Point2d(0, 0), cv::Point2d(159, 0), cv::Point2d(0, 119),
                                   cv::Point2d(159, 119)}) {
        cv::Point3d ground;
        ASSERT_TRUE(scene.CastRay(shot, px.x, px.y, &ground));
        EXPECT_GT(ground.x, gt[0]);
        EXPECT_LT(ground.x, gt[0] + cols * gt[1]);
        EXPECT_LT(ground.y, gt[3]);
        EXPECT_GT(ground.y, gt[3] + rows * gt[5]);
      }
  }
  SampleOptions tooFlat = Small();
  tooFlat.demHeight = 15;
  EXPECT_FALSE(ValidateSampleOptions(tooFlat).empty());
}

// The renderer's rays and the orientation library's projection are the same camera model.
TEST(SampleProject, RaysAgreeWithTheCameraModel) {
  const auto dir = test::MakeTempDir("sample");
  SampleFiles files;
  const SampleOptions options = Small();
  ASSERT_EQ(WriteSampleProject(dir.string(), options, {}, &files), "");
  auto passport = geo::CCameraPassport::New(files.passport);
  ASSERT_TRUE(passport);
  const SampleScene scene(options);
  for (const SampleShot& shot : scene.Shots()) {
    const geo::COrientation o = OrientationOf(shot, *passport);
    for (const cv::Point2d px : {cv::Point2d(0, 0), cv::Point2d(159, 0), cv::Point2d(80.5, 60.25),
                                 cv::Point2d(0, 119), cv::Point2d(159, 119)}) {
      cv::Point3d ground;
      ASSERT_TRUE(scene.CastRay(shot, px.x, px.y, &ground));
      EXPECT_NEAR(ground.z, scene.Height(ground.x, ground.y), 1e-5);
      const cv::Point2d back = o.Pt3dToPix(ground);
      EXPECT_NEAR(back.x, px.x, 1e-6) << shot.name;
      EXPECT_NEAR(back.y, px.y, 1e-6) << shot.name;
    }
  }
}

// A written pixel is the ground colour where its ray meets the terrain.
TEST(SampleProject, PixelsShowTheGroundTheirRaysHit) {
  const auto dir = test::MakeTempDir("sample");
  SampleFiles files;
  const SampleOptions options = Small(3);
  ASSERT_EQ(WriteSampleProject(dir.string(), options, {}, &files), "");
  const SampleScene scene(options);
  const SampleShot& shot = scene.Shots()[1];
  GDALDatasetUniquePtr ds(
      GDALDataset::Open(files.images[1].c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
  ASSERT_TRUE(ds);
  for (const cv::Point px : {cv::Point(7, 9), cv::Point(100, 60), cv::Point(150, 110)}) {
    unsigned char rgb[3];
    ASSERT_EQ(ds->RasterIO(GF_Read, px.x, px.y, 1, 1, rgb, 1, 1, GDT_Byte, 3, nullptr, 3, 3, 1,
                           nullptr),
              CE_None);
    cv::Point3d g;
    ASSERT_TRUE(scene.CastRay(shot, px.x, px.y, &g));
    const cv::Vec4f c = scene.GroundColor(g.x, g.y);
    for (int b = 0; b < 3; ++b) EXPECT_NEAR(rgb[b], c[b], 0.51) << "band " << b + 1;
  }
}

// The two strips overlap forwards and sideways, and the second strip is flown back.
TEST(SampleProject, TwoStripsWithOverlap) {
  SampleOptions o = Small();
  o.images = 6;
  const SampleScene scene(o);
  const auto& s = scene.Shots();
  ASSERT_EQ(s.size(), 6u);
  const double footprint = o.width * scene.imageGsd;
  EXPECT_NEAR(s[1].x - s[0].x, 0.4 * footprint, 0.05 * footprint);
  EXPECT_GT(s[0].y - s[3].y, 0.5 * o.height * scene.imageGsd);
  EXPECT_LT(s[0].y - s[3].y, o.height * scene.imageGsd);
  EXPECT_NEAR(std::abs(s[3].kappa), 3.14159, 0.05);
  EXPECT_NEAR(s[0].kappa, 0.0, 0.05);
}

}  // namespace
}  // namespace ortavia
