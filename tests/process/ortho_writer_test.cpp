#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <opencv2/core.hpp>
#include <tiffio.h>

#include "model/dem_crs.h"
#include "process/ortho_writer.h"
#include "support/test_cog.h"
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

// The raster takes its final name before its world file: when it cannot (here a folder stands in
// the way), the older ortho keeps the world file that belongs to it.
TEST(OrthoWriter, RasterThatCannotTakeItsNameLeavesTheOlderWorldFile) {
  GDALAllRegister();
  const fs::path dir = test::MakeTempDir("rename");
  const fs::path path = dir / "r.tif";
  fs::create_directories(path / "inside");
  std::ofstream(dir / "r.tfw") << "older\n";
  OrthoLayout layout;
  layout.path = path.string();
  layout.width = layout.height = 64;
  layout.gsd = 0.5;
  OrthoWriter w;
  ASSERT_EQ(w.Create(layout), OrthoStatus::Ok);
  cv::Mat block(64, 64, CV_8UC1, cv::Scalar(1));
  RunContext ctx;
  ASSERT_EQ(w.WriteBlock(0, 0, 64, 64, block, cv::Mat(), ctx), OrthoStatus::Ok);
  EXPECT_EQ(w.Finish(ctx), OrthoStatus::WriteFailed);
  std::ifstream tfw(dir / "r.tfw");
  std::string line;
  std::getline(tfw, line);
  EXPECT_EQ(line, "older");
  EXPECT_TRUE(fs::is_directory(path));
  EXPECT_FALSE(fs::exists(OrthoTempPath(path.string())));
  EXPECT_FALSE(fs::exists(dir / "r.tfw.part"));
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


TEST(OrthoWriter, OptionsForCompressionAndTransparency) {
  using Opts = std::vector<std::pair<std::string, std::string>>;
  const Opts base = {{"TILED", "YES"}, {"BLOCKXSIZE", "256"}, {"BLOCKYSIZE", "256"}, {"TFW", "YES"}};
  auto with = [&](Opts more) {
    Opts o = base;
    o.insert(o.end(), more.begin(), more.end());
    return o;
  };
  struct Case {
    int bands;
    GDALDataType type;
    std::string compress;
    bool alpha;
    OrthoAlpha kind;
    Opts options;
  };
  const Case cases[] = {
      {3, GDT_Byte, "", false, OrthoAlpha::None, with({{"PHOTOMETRIC", "RGB"}, {"ALPHA", "NO"}})},
      {3, GDT_Byte, "NONE", false, OrthoAlpha::None, with({{"PHOTOMETRIC", "RGB"}, {"ALPHA", "NO"}})},
      {3, GDT_Byte, "DEFLATE", false, OrthoAlpha::None,
       with({{"PHOTOMETRIC", "RGB"}, {"ALPHA", "NO"}, {"COMPRESS", "DEFLATE"}})},
      {3, GDT_Byte, "LZW", true, OrthoAlpha::Band,
       with({{"PHOTOMETRIC", "RGB"}, {"ALPHA", "YES"}, {"COMPRESS", "LZW"}})},
      {1, GDT_Byte, "", true, OrthoAlpha::Band, with({{"ALPHA", "YES"}})},
      {1, GDT_UInt16, "ZSTD", true, OrthoAlpha::Band, with({{"ALPHA", "YES"}, {"COMPRESS", "ZSTD"}})},
      {1, GDT_Float32, "", true, OrthoAlpha::Mask, base},
      {3, GDT_Int16, "", true, OrthoAlpha::Mask, with({{"PHOTOMETRIC", "RGB"}, {"ALPHA", "NO"}})},
      {4, GDT_Byte, "", true, OrthoAlpha::Mask, with({{"PHOTOMETRIC", "RGB"}, {"ALPHA", "NO"}})},
      {3, GDT_Byte, "JPEG", true, OrthoAlpha::Mask,
       with({{"PHOTOMETRIC", "YCBCR"}, {"ALPHA", "NO"}, {"COMPRESS", "JPEG"}})},
      {4, GDT_Byte, "JPEG", false, OrthoAlpha::None,
       with({{"PHOTOMETRIC", "RGB"}, {"ALPHA", "NO"}, {"COMPRESS", "JPEG"}})},
  };
  for (const Case& c : cases) {
    OrthoOutput out;
    out.compress = c.compress;
    out.alpha = c.alpha;
    EXPECT_EQ(OrthoAlphaKind(c.bands, c.type, out), c.kind) << c.bands << " " << c.compress;
    EXPECT_EQ(OrthoCreationOptions(c.bands, c.type, out), c.options) << c.bands << " " << c.compress;
  }
  for (const char* name : {"", "NONE", "DEFLATE", "LZW", "ZSTD", "JPEG"}) EXPECT_TRUE(IsOrthoCompression(name));
  for (const char* name : {"deflate", "PACKBITS", "WEBP", " LZW"}) EXPECT_FALSE(IsOrthoCompression(name));
}

// Reads one band (or the mask of band 1 when band is 0) of a raster as bytes.
cv::Mat ReadBand(GDALDataset* ds, int band) {
  cv::Mat m(ds->GetRasterYSize(), ds->GetRasterXSize(), CV_8UC1);
  GDALRasterBand* b = band == 0 ? ds->GetRasterBand(1)->GetMaskBand() : ds->GetRasterBand(band);
  EXPECT_EQ(b->RasterIO(GF_Read, 0, 0, m.cols, m.rows, m.ptr(), m.cols, m.rows, GDT_Byte, 1,
                        static_cast<GSpacing>(m.step[0]), nullptr),
            CE_None);
  return m;
}

TEST(OrthoWriter, TransparentOutsideTheOwnCellAndWhereNothingWasWritten) {
  GDALAllRegister();
  // Cells of 4 pixels; the ortho of 16 x 12 pixels starts at pixel (4, 0) of the mosaic, that is at
  // cell column 1. Row 5 owns cells (1, 0), (2, 0), (2, 1), (1, 2), (2, 2), (3, 2); white and
  // row 6 own the rest. The warp wrote every pixel but the 2 x 2 square at block (9..10, 5..6).
  cv::Mat cells(3, 5, CV_8UC3, cv::Scalar::all(255));
  for (const auto& [c, r] : {std::pair{1, 0}, {2, 0}, {2, 1}, {1, 2}, {2, 2}, {3, 2}})
    cells.at<cv::Vec3b>(r, c) = cv::Vec3b(5, 0, 0);
  cells.at<cv::Vec3b>(1, 1) = cv::Vec3b(6, 0, 0);
  cv::Mat written(12, 16, CV_8UC1, cv::Scalar(255));
  written(cv::Rect(9, 5, 2, 2)).setTo(0);
  // The opacity a GIS must see, by hand: columns 0..3 are cell 1, 4..7 cell 2, 8..11 cell 3,
  // 12..15 cell 4; rows 0..3 cell 0, 4..7 cell 1, 8..11 cell 2.
  cv::Mat expected(12, 16, CV_8UC1, cv::Scalar(0));
  expected(cv::Rect(0, 0, 8, 4)).setTo(255);   // cells (1, 0), (2, 0)
  expected(cv::Rect(4, 4, 4, 4)).setTo(255);   // cell (2, 1)
  expected(cv::Rect(0, 8, 12, 4)).setTo(255);  // cells (1, 2), (2, 2), (3, 2)

  struct Case {
    int bands;
    GDALDataType type;
    std::string compress;
    bool cog;
    int fileBands;  // with an alpha band one more
  };
  const Case cases[] = {{3, GDT_Byte, "", false, 4},        {1, GDT_Byte, "DEFLATE", false, 2},
                        {1, GDT_UInt16, "", false, 2},      {4, GDT_Byte, "", false, 4},
                        {3, GDT_Byte, "JPEG", false, 3},    {1, GDT_Float32, "LZW", false, 1},
                        {3, GDT_Byte, "DEFLATE", true, 4},  {3, GDT_Byte, "JPEG", true, 3}};
  const fs::path dir = test::MakeTempDir("alpha");
  for (const Case& c : cases) {
    const fs::path path = dir / ("a" + std::to_string(&c - cases) + ".tif");
    OrthoLayout layout = Layout(path, 16, 12, c.bands);
    layout.type = c.type;
    layout.ox0 = 4;
    layout.oy0 = 0;
    layout.output.alpha = true;
    layout.output.compress = c.compress;
    layout.output.cog = c.cog;
    layout.voronoiMap = &cells;
    layout.row = 5;
    layout.mosaicScale = 4.0;
    const int depth = c.type == GDT_Byte ? CV_8U : c.type == GDT_UInt16 ? CV_16U : CV_32F;
    cv::Mat block(12, 16, CV_MAKETYPE(depth, c.bands == 1 ? 1 : 3), cv::Scalar::all(200));
    cv::Mat alpha(12, 16, CV_MAKETYPE(depth, 1), cv::Scalar::all(77));
    OrthoWriter w;
    RunContext ctx;
    ASSERT_EQ(w.Create(layout), OrthoStatus::Ok) << path;
    ASSERT_EQ(w.WriteBlock(0, 0, 16, 12, block, alpha, written, ctx), OrthoStatus::Ok) << path;
    ASSERT_EQ(w.Finish(ctx), OrthoStatus::Ok) << path;
    GDALDatasetUniquePtr ds = test::OpenRaster(path);
    ASSERT_TRUE(ds) << path;
    EXPECT_EQ(ds->GetRasterCount(), c.fileBands) << path;
    const cv::Mat mask = ReadBand(ds.get(), 0);
    EXPECT_EQ(cv::countNonZero(mask != expected), 0) << path;
    // Inside, the image is as written (JPEG within its loss), band 4 of "1234" included.
    const cv::Mat values = ReadBand(ds.get(), 1);
    const double tolerance = c.compress == "JPEG" ? 3.0 : 0.0;
    double lo = 0, hi = 0;
    cv::minMaxLoc(values, &lo, &hi, nullptr, nullptr, expected);
    EXPECT_NEAR(lo, 200, tolerance) << path;
    EXPECT_NEAR(hi, 200, tolerance) << path;
    if (c.bands == 4) {
      cv::minMaxLoc(ReadBand(ds.get(), 4), &lo, &hi);
      EXPECT_EQ(lo, 77);
      EXPECT_EQ(hi, 77);
    }
    if (c.fileBands > c.bands) {
      EXPECT_EQ(ds->GetRasterBand(c.fileBands)->GetColorInterpretation(), GCI_AlphaBand) << path;
      uint16_t full = 0;
      ASSERT_EQ(ds->GetRasterBand(c.fileBands)
                    ->RasterIO(GF_Read, 0, 0, 1, 1, &full, 1, 1, GDT_UInt16, 0, 0, nullptr),
                CE_None);
      EXPECT_EQ(full, c.type == GDT_UInt16 ? 65535 : 255) << path;
    } else {
      EXPECT_EQ(ds->GetRasterBand(1)->GetMaskFlags(), GMF_PER_DATASET) << path;
    }
  }
}

// The seven position tags read back through libtiff.
void ExpectPositionTags(const fs::path& path, float xpos, float ypos, uint32_t fullW, uint32_t fullH) {
  TIFF* tif = TIFFOpen(path.string().c_str(), "r");
  ASSERT_TRUE(tif) << path;
  uint16_t unit = 0;
  float xres = 0, yres = 0, x = -1, y = -1;
  uint32_t w = 0, h = 0;
  char* document = nullptr;
  EXPECT_EQ(TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &unit), 1);
  EXPECT_EQ(TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xres), 1);
  EXPECT_EQ(TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yres), 1);
  EXPECT_EQ(TIFFGetField(tif, TIFFTAG_XPOSITION, &x), 1);
  EXPECT_EQ(TIFFGetField(tif, TIFFTAG_YPOSITION, &y), 1);
  EXPECT_EQ(TIFFGetField(tif, TIFFTAG_PIXAR_IMAGEFULLWIDTH, &w), 1);
  EXPECT_EQ(TIFFGetField(tif, TIFFTAG_PIXAR_IMAGEFULLLENGTH, &h), 1);
  EXPECT_EQ(TIFFGetField(tif, TIFFTAG_DOCUMENTNAME, &document), 0);  // the room it kept is used
  TIFFClose(tif);
  EXPECT_EQ(unit, RESUNIT_INCH);
  EXPECT_FLOAT_EQ(xres, 300.0f);
  EXPECT_FLOAT_EQ(yres, 300.0f);
  EXPECT_FLOAT_EQ(x, xpos);
  EXPECT_FLOAT_EQ(y, ypos);
  EXPECT_EQ(w, fullW);
  EXPECT_EQ(h, fullH);
}

TEST(OrthoWriter, CloudOptimizedOrthoKeepsTagsCrsAndPixels) {
  GDALAllRegister();
  const fs::path dir = test::MakeTempDir("cog");
  struct Case {
    int width, height;
    std::string compress;
    int overviews;  // the COG driver halves while the larger side exceeds a 256-pixel tile
  };
  const Case cases[] = {{1100, 700, "DEFLATE", 3}, {300, 200, "", 1}, {1028, 1024, "ZSTD", 3},
                        {1028, 1024, "JPEG", 3}, {2100, 40, "LZW", 4}};
  for (const Case& c : cases) {
    const fs::path path = dir / ("c" + std::to_string(&c - cases) + ".tif");
    OrthoLayout layout = Layout(path, c.width, c.height, 3);
    layout.output.cog = true;
    layout.output.compress = c.compress;
    ASSERT_EQ(ParseCrsDefinition("EPSG:32633", &layout.output.crsWkt), "");
    cv::Mat block(c.height, c.width, CV_8UC3);
    for (int r = 0; r < block.rows; ++r)
      for (int col = 0; col < block.cols; ++col)
        block.at<cv::Vec3b>(r, col) = cv::Vec3b((col / 8) & 255, (r / 8) & 255, 90);
    OrthoWriter w;
    RunContext ctx;
    ASSERT_EQ(w.Create(layout), OrthoStatus::Ok);
    ASSERT_EQ(w.WriteBlock(0, 0, c.width, c.height, block, cv::Mat(), ctx), OrthoStatus::Ok);
    ASSERT_EQ(w.Finish(ctx), OrthoStatus::Ok) << path;
    for (const auto& entry : fs::directory_iterator(dir))
      EXPECT_EQ(entry.path().string().find(".part"), std::string::npos) << entry.path();

    const test::CogCheck check = test::ValidateCog(path);
    EXPECT_TRUE(check.valid) << path << ": " << check.output;
    ExpectPositionTags(path, 5.0f, 0.0f, 9000u, 7000u);
    GDALDatasetUniquePtr ds = test::OpenRaster(path);
    ASSERT_TRUE(ds);
    EXPECT_EQ(ds->GetRasterBand(1)->GetOverviewCount(), c.overviews) << path;
    ASSERT_TRUE(ds->GetSpatialRef());
    EXPECT_STREQ(ds->GetSpatialRef()->GetAuthorityCode(nullptr), "32633");
    double gt[6];
    ASSERT_EQ(ds->GetGeoTransform(gt), CE_None);
    EXPECT_DOUBLE_EQ(gt[0], 600000.0 + 1500 * 0.5 - 0.25);
    EXPECT_DOUBLE_EQ(gt[3], 5000000.0 + 7 * 0.5 + 0.25);
    const char* compression = ds->GetMetadataItem("COMPRESSION", "IMAGE_STRUCTURE");
    EXPECT_STREQ(compression ? compression : "NONE",
                 c.compress.empty() ? "NONE" : c.compress == "JPEG" ? "YCbCr JPEG" : c.compress.c_str());
    const cv::Mat red = ReadBand(ds.get(), 1), green = ReadBand(ds.get(), 2);
    const double tolerance = c.compress == "JPEG" ? 4.0 : 0.0;
    for (const auto& [x, y] : {std::pair{0, 0}, {c.width - 1, c.height - 1}, {517, 33}}) {
      if (x >= c.width || y >= c.height) continue;
      EXPECT_NEAR(red.at<uchar>(y, x), (x / 8) & 255, tolerance) << path << " " << x << "," << y;
      EXPECT_NEAR(green.at<uchar>(y, x), (y / 8) & 255, tolerance) << path << " " << x << "," << y;
    }
  }
}


TEST(OrthoWriter, StopDuringTheCogCopyLeavesOnlyThePartialRaster) {
  GDALAllRegister();
  const fs::path dir = test::MakeTempDir("cogstop");
  const fs::path path = dir / "s.tif";
  OrthoLayout layout = Layout(path, 1100, 700, 3);
  layout.output.cog = true;
  std::atomic<bool> stop{false};
  int checks = 0;
  RunContext ctx;
  ctx.abort = &stop;
  OrthoWriter w;
  ASSERT_EQ(w.Create(layout), OrthoStatus::Ok);
  cv::Mat block(700, 1100, CV_8UC3, cv::Scalar::all(60));
  ASSERT_EQ(w.WriteBlock(0, 0, 1100, 700, block, cv::Mat(), ctx), OrthoStatus::Ok);
  // The first check follows the close of the raster; the next ones come from the COG copy.
  ctx.pump = [&] { stop = ++checks >= 2; };
  EXPECT_EQ(w.Finish(ctx), OrthoStatus::Aborted);
  EXPECT_GE(checks, 2);
  EXPECT_FALSE(fs::exists(path));
  EXPECT_FALSE(fs::exists(dir / "s.tfw"));
  EXPECT_TRUE(fs::exists(OrthoTempPath(path.string())));
  for (const auto& entry : fs::directory_iterator(dir))
    EXPECT_EQ(entry.path(), fs::path(OrthoTempPath(path.string()))) << entry.path();
}

}  // namespace
}  // namespace ortavia
