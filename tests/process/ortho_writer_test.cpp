#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <tiffio.h>

#include "process/ortho_writer.h"
#include "support/test_env.h"
#include "support/test_geotiff.h"

namespace ortavia {
namespace {

namespace fs = std::filesystem;

TEST(OrthoWriter, CreationOptionsInOrder) {
  using Opts = std::vector<std::pair<std::string, std::string>>;
  const Opts base = {{"TILED", "YES"}, {"BLOCKXSIZE", "256"}, {"BLOCKYSIZE", "256"}, {"TFW", "YES"}};
  EXPECT_EQ(OrthoCreationOptions(1), base);
  Opts rgb = base;
  rgb.emplace_back("PHOTOMETRIC", "RGB");
  rgb.emplace_back("ALPHA", "NO");
  EXPECT_EQ(OrthoCreationOptions(3), rgb);
  EXPECT_EQ(OrthoCreationOptions(4), rgb);
}

TEST(OrthoWriter, OverviewLevelsFollowTheHalvingRule) {
  using L = std::vector<int>;
  EXPECT_EQ(OrthoOverviewLevels(1024, 1024), L{});
  EXPECT_EQ(OrthoOverviewLevels(1028, 1024), (L{2}));
  EXPECT_EQ(OrthoOverviewLevels(1025, 10), L{});
  EXPECT_EQ(OrthoOverviewLevels(10, 1026), (L{2}));
  EXPECT_EQ(OrthoOverviewLevels(2051, 4), (L{2}));
  EXPECT_EQ(OrthoOverviewLevels(2052, 4), (L{2, 4}));
  EXPECT_EQ(OrthoOverviewLevels(4103, 4), (L{2, 4}));
  EXPECT_EQ(OrthoOverviewLevels(4104, 4), (L{2, 4, 8}));
  EXPECT_EQ(OrthoOverviewLevels(8207, 4), (L{2, 4, 8}));
  EXPECT_EQ(OrthoOverviewLevels(8208, 4), (L{2, 4, 8, 16}));
  EXPECT_EQ(OrthoOverviewLevels(0, 0), L{});
}

TEST(OrthoWriter, WorldFileGivesTheCentreOfTheUpperLeftPixel) {
  // gsd 0.25, offset (1000, 400) on a mosaic whose origin is (1000, 5000): the upper-left pixel
  // is sampled at (1250, 4900), and that is what a GIS must read.
  EXPECT_EQ(WorldFileText(0.25, 1000.0, 5000.0, 1000, 400),
            "0.250000\n0.000000\n0.000000\n-0.250000\n1250.000000\n4900.000000\n");
}

TEST(OrthoWriter, PositionInInchesAtThreeHundredDpi) {
  EXPECT_FLOAT_EQ(OrthoPositionInches(1500), 5.0f);
  EXPECT_FLOAT_EQ(OrthoPositionInches(-20), 0.0f);
  EXPECT_FLOAT_EQ(OrthoPositionInches(1), 1.0f / 300.0f);
}

OrthoLayout Layout(const fs::path& path, int w, int h, int bands) {
  OrthoLayout s;
  s.path = path.string();
  s.width = w;
  s.height = h;
  s.bands = bands;
  s.type = GDT_Byte;
  s.gsd = 0.5;
  s.ox0 = 1500;
  s.oy0 = -7;
  s.mosaicMinX = 600000.0;
  s.mosaicMaxY = 5000000.0;
  s.mosaicWidth = 9000;
  s.mosaicHeight = 7000;
  return s;
}

TEST(OrthoWriter, WritesTiledGeoTiffWithWorldFileTagsAndOverviews) {
  GDALAllRegister();
  const fs::path dir = test::MakeTempDir("ortho");
  const fs::path path = dir / "img.tif";
  OrthoWriter w;
  ASSERT_EQ(w.Create(Layout(path, 1028, 1024, 3)), OrthoStatus::Ok);
  EXPECT_FALSE(fs::exists(path));  // only the temporary file exists while writing
  cv::Mat block(1024, 1028, CV_8UC3);
  for (int r = 0; r < block.rows; ++r)
    for (int c = 0; c < block.cols; ++c)
      block.at<cv::Vec3b>(r, c) = cv::Vec3b(c & 255, r & 255, (c + r) & 255);
  RunContext ctx;
  ASSERT_EQ(w.WriteBlock(0, 0, 1028, 1024, block, cv::Mat(), ctx), OrthoStatus::Ok);
  ASSERT_EQ(w.Finish(ctx), OrthoStatus::Ok);
  EXPECT_TRUE(fs::exists(path));
  EXPECT_FALSE(fs::exists(OrthoTempPath(path.string())));
  std::ifstream tfw(dir / "img.tfw");
  std::stringstream text;
  text << tfw.rdbuf();
  EXPECT_EQ(text.str(), WorldFileText(0.5, 600000.0, 5000000.0, 1500, -7));
  for (const auto& entry : fs::directory_iterator(dir))
    EXPECT_TRUE(entry.path().filename() == "img.tif" || entry.path().filename() == "img.tfw")
        << entry.path();

  GDALDatasetUniquePtr ds = test::OpenRaster(path);
  ASSERT_TRUE(ds);
  double gt[6];
  ASSERT_EQ(ds->GetGeoTransform(gt), CE_None);
  // GDAL reads the world file: the corner lies half a pixel west and north of the centre.
  EXPECT_DOUBLE_EQ(gt[0], 600000.0 + 1500 * 0.5 - 0.25);
  EXPECT_DOUBLE_EQ(gt[3], 5000000.0 + 7 * 0.5 + 0.25);
  EXPECT_DOUBLE_EQ(gt[1], 0.5);
  EXPECT_DOUBLE_EQ(gt[5], -0.5);
  EXPECT_EQ(ds->GetRasterCount(), 3);
  EXPECT_EQ(ds->GetRasterBand(1)->GetOverviewCount(), 1);
  int bx = 0, by = 0;
  ds->GetRasterBand(1)->GetBlockSize(&bx, &by);
  EXPECT_EQ(bx, 256);
  EXPECT_EQ(by, 256);
  EXPECT_STREQ(ds->GetMetadataItem("INTERLEAVE", "IMAGE_STRUCTURE"), "PIXEL");
  uint8_t v[3];
  for (int b = 0; b < 3; ++b)
    EXPECT_EQ(ds->GetRasterBand(b + 1)->RasterIO(GF_Read, 300, 700, 1, 1, &v[b], 1, 1, GDT_Byte, 0, 0, nullptr), CE_None);
  // Band 1 from channel 0, band 2 from channel 1, band 3 from channel 2.
  EXPECT_EQ(v[0], 300 & 255);
  EXPECT_EQ(v[1], 700 & 255);
  EXPECT_EQ(v[2], 1000 & 255);
  ds.reset();

  TIFF* tif = TIFFOpen(path.string().c_str(), "r");
  ASSERT_TRUE(tif);
  uint16_t unit = 0, photometric = 0;
  float xres = 0, yres = 0, xpos = -1, ypos = -1;
  uint32_t fullW = 0, fullH = 0;
  EXPECT_EQ(TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &unit), 1);
  EXPECT_EQ(TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xres), 1);
  EXPECT_EQ(TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yres), 1);
  EXPECT_EQ(TIFFGetField(tif, TIFFTAG_XPOSITION, &xpos), 1);
  EXPECT_EQ(TIFFGetField(tif, TIFFTAG_YPOSITION, &ypos), 1);
  EXPECT_EQ(TIFFGetField(tif, TIFFTAG_PIXAR_IMAGEFULLWIDTH, &fullW), 1);
  EXPECT_EQ(TIFFGetField(tif, TIFFTAG_PIXAR_IMAGEFULLLENGTH, &fullH), 1);
  EXPECT_EQ(TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric), 1);
  TIFFClose(tif);
  EXPECT_EQ(unit, RESUNIT_INCH);
  EXPECT_FLOAT_EQ(xres, 300.0f);
  EXPECT_FLOAT_EQ(yres, 300.0f);
  EXPECT_FLOAT_EQ(xpos, 5.0f);
  EXPECT_FLOAT_EQ(ypos, 0.0f);
  EXPECT_EQ(fullW, 9000u);
  EXPECT_EQ(fullH, 7000u);
  EXPECT_EQ(photometric, PHOTOMETRIC_RGB);
}

TEST(OrthoWriter, OneBandOrthoHasNoOverviewsBelowTheThresholdAndIsMinIsBlack) {
  GDALAllRegister();
  const fs::path dir = test::MakeTempDir("ortho1");
  const fs::path path = dir / "g.tif";
  OrthoWriter w;
  ASSERT_EQ(w.Create(Layout(path, 1024, 1024, 1)), OrthoStatus::Ok);
  cv::Mat block(1024, 1024, CV_8UC1, cv::Scalar(9));
  RunContext ctx;
  ASSERT_EQ(w.WriteBlock(0, 0, 1024, 1024, block, cv::Mat(), ctx), OrthoStatus::Ok);
  ASSERT_EQ(w.Finish(ctx), OrthoStatus::Ok);
  GDALDatasetUniquePtr ds = test::OpenRaster(path);
  ASSERT_TRUE(ds);
  EXPECT_EQ(ds->GetRasterBand(1)->GetOverviewCount(), 0);
  EXPECT_EQ(ds->GetRasterBand(1)->GetColorInterpretation(), GCI_GrayIndex);
}

TEST(OrthoWriter, LastBlockOfARowIsWrittenOnlyInsideTheOrtho) {
  GDALAllRegister();
  const fs::path dir = test::MakeTempDir("blocks");
  const fs::path path = dir / "b.tif";
  OrthoWriter w;
  OrthoLayout layout = Layout(path, 2100, 40, 4);
  layout.type = GDT_UInt16;
  ASSERT_EQ(w.Create(layout), OrthoStatus::Ok);
  RunContext ctx;
  for (int bx = 0; bx < 2; ++bx) {
    cv::Mat block(40, 2048, CV_16UC3, cv::Scalar(100 + bx, 200 + bx, 300 + bx));
    cv::Mat alpha(40, 2048, CV_16UC1, cv::Scalar(400 + bx));
    ASSERT_EQ(w.WriteBlock(bx, 0, 2048, 40, block, alpha, ctx), OrthoStatus::Ok);
  }
  ASSERT_EQ(w.Finish(ctx), OrthoStatus::Ok);
  GDALDatasetUniquePtr ds = test::OpenRaster(path);
  ASSERT_TRUE(ds);
  ASSERT_EQ(ds->GetRasterCount(), 4);
  EXPECT_EQ(ds->GetRasterXSize(), 2100);
  uint16_t v[4];
  for (int b = 0; b < 4; ++b)
    EXPECT_EQ(ds->GetRasterBand(b + 1)->RasterIO(GF_Read, 2099, 39, 1, 1, &v[b], 1, 1, GDT_UInt16, 0, 0, nullptr), CE_None);
  EXPECT_EQ(v[0], 101);
  EXPECT_EQ(v[1], 201);
  EXPECT_EQ(v[2], 301);
  EXPECT_EQ(v[3], 401);  // the alpha block feeds band 4
  EXPECT_EQ(ds->GetRasterBand(4)->RasterIO(GF_Read, 2047, 0, 1, 1, &v[0], 1, 1, GDT_UInt16, 0, 0, nullptr), CE_None);
  EXPECT_EQ(v[0], 400);
}

TEST(OrthoWriter, CreateFailureLeavesNothing) {
  GDALAllRegister();
  const fs::path dir = test::MakeTempDir("nofolder");
  OrthoWriter w;
  CPLPushErrorHandler(CPLQuietErrorHandler);
  EXPECT_EQ(w.Create(Layout(dir / "absent" / "x.tif", 64, 64, 1)), OrthoStatus::CreateFailed);
  CPLPopErrorHandler();
  EXPECT_FALSE(fs::exists(dir / "absent"));
}

TEST(OrthoWriter, WorldFileFailureLeavesNoOrthoUnderTheFinalName) {
  GDALAllRegister();
  const fs::path dir = test::MakeTempDir("noworld");
  const fs::path path = dir / "w.tif";
  fs::create_directories(dir / "w.tfw.part");  // the world file cannot be opened for writing
  OrthoWriter w;
  ASSERT_EQ(w.Create(Layout(path, 64, 64, 1)), OrthoStatus::Ok);
  cv::Mat block(64, 64, CV_8UC1, cv::Scalar(1));
  RunContext ctx;
  ASSERT_EQ(w.WriteBlock(0, 0, 64, 64, block, cv::Mat(), ctx), OrthoStatus::Ok);
  EXPECT_EQ(w.Finish(ctx), OrthoStatus::WorldFileFailed);
  EXPECT_FALSE(fs::exists(path));
  EXPECT_FALSE(fs::exists(dir / "w.tfw"));
  EXPECT_FALSE(fs::exists(OrthoTempPath(path.string())));
}

TEST(OrthoWriter, StopKeepsThePartialFileUnderItsTemporaryNameOnly) {
  GDALAllRegister();
  const fs::path dir = test::MakeTempDir("abort");
  const fs::path path = dir / "p.tif";
  std::atomic<bool> stop{false};
  RunContext ctx;
  ctx.abort = &stop;
  {
    OrthoWriter w;
    ASSERT_EQ(w.Create(Layout(path, 64, 64, 1)), OrthoStatus::Ok);
    cv::Mat block(64, 64, CV_8UC1, cv::Scalar(1));
    stop = true;
    EXPECT_EQ(w.WriteBlock(0, 0, 64, 64, block, cv::Mat(), ctx), OrthoStatus::Aborted);
    w.Abandon(true);
  }
  EXPECT_FALSE(fs::exists(path));
  EXPECT_FALSE(fs::exists(dir / "p.tfw"));
  EXPECT_TRUE(fs::exists(OrthoTempPath(path.string())));
}

TEST(OrthoWriter, UnfinishedWriterRemovesItsTemporaryFile) {
  GDALAllRegister();
  const fs::path dir = test::MakeTempDir("dropped");
  const fs::path path = dir / "d.tif";
  {
    OrthoWriter w;
    ASSERT_EQ(w.Create(Layout(path, 64, 64, 1)), OrthoStatus::Ok);
  }
  EXPECT_TRUE(fs::is_empty(dir));
}

}  // namespace
}  // namespace ortavia
