// Whole-stage checks on a rendered scene: mosaic products, then the warp in tile and pixel mode;
// the marks on the ground must land where the orthos' georeferencing says, within 1/4 pixel.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>

#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>

#include "process/ortho_writer.h"
#include "process/warp.h"
#include "products/mosaic.h"
#include "support/synthetic_scene.h"
#include "support/test_env.h"

namespace ortavia {
namespace {

namespace fs = std::filesystem;
using test::SyntheticScene;

struct SceneRun {
  SyntheticScene scene;
  WarpProject project;
  fs::path folder;
  fs::path out;
  MosaicResult mosaic;
  std::vector<std::string> log;
  RunContext ctx;

  double gsd = 0.1;

  explicit SceneRun(GDALDataType type = GDT_Byte, double holeRadius = 0.0, double gsd_ = 0.1,
                    SyntheticScene::DemLayout layout = SyntheticScene::DemLayout::NorthUp,
                    double imageOffset = 0.0)
      : gsd(gsd_) {
    folder = test::MakeTempDir("scene");
    out = folder / "orthos";
    fs::create_directories(out);
    scene.holeX = scene.CentreX() + 3.0;
    scene.holeY = scene.CentreY() - 2.0;
    scene.holeRadius = holeRadius;
    scene.demLayout = layout;
    scene.imageOffset = imageOffset;
    EXPECT_TRUE(scene.Fill(project, folder, scene.Strip(), 1, type));
    ctx.log = [this](const std::string& s) { log.push_back(s); };
    ctx.abort = &project.abortRequested;
    mosaic = BuildMosaicOverviews(project, Rows(), gsd, out.string(), ctx);
    EXPECT_TRUE(mosaic.ok()) << mosaic.message;
  }

  std::vector<int> Rows() const {
    std::vector<int> rows;
    for (int i = 0; i < static_cast<int>(project.images.size()); ++i) rows.push_back(i);
    return rows;
  }

  WarpRequest Request(int tileStep, const std::string& composition = "1") {
    WarpRequest r;
    r.project = &project;
    r.rows = Rows();
    r.composition = composition;
    r.tileStep = tileStep;
    r.destinationFolder = out.string();
    r.overwrite = false;
    r.voronoiMap = &mosaic.grid.voronoiMap;
    r.gsd = gsd;
    r.cellSize = mosaic.grid.cellSize;
    r.mosaicWidth = mosaic.grid.mosaicWidth;
    r.mosaicHeight = mosaic.grid.mosaicHeight;
    return r;
  }

  bool Logged(const std::string& text) const {
    return std::find(log.begin(), log.end(), text) != log.end();
  }
};

struct MarkStats {
  int measured = 0;
  double worst = 0.0;
  double mean = 0.0;
};

// Centroid of every complete mark in the ortho against the position its georeferencing gives.
MarkStats MeasureMarks(const SyntheticScene& scene, const fs::path& ortho, int r = 7) {
  MarkStats stats;
  GDALDatasetUniquePtr ds = test::OpenRaster(ortho);
  if (!ds) return stats;
  double gt[6];
  if (ds->GetGeoTransform(gt) != CE_None) return stats;
  const int w = ds->GetRasterXSize(), h = ds->GetRasterYSize();
  cv::Mat img(h, w, CV_64F);
  if (ds->GetRasterBand(1)->RasterIO(GF_Read, 0, 0, w, h, img.data, w, h, GDT_Float64, 0, 0,
                                     nullptr) != CE_None)
    return stats;
  double sum = 0.0;
  for (double my = scene.y0 - scene.markSpacing / 2; my > scene.y0 - scene.demRows * scene.posting;
       my -= scene.markSpacing) {
    for (double mx = scene.x0 + scene.markSpacing / 2;
         mx < scene.x0 + scene.demCols * scene.posting; mx += scene.markSpacing) {
      // Pixel-centre coordinates of the mark in the ortho.
      const double col = (mx - gt[0]) / gt[1] - 0.5;
      const double row = (my - gt[3]) / gt[5] - 0.5;
      const int ic = static_cast<int>(std::lround(col)), ir = static_cast<int>(std::lround(row));
      if (ic - r < 0 || ir - r < 0 || ic + r >= w || ir + r >= h) continue;
      double sw = 0, sx = 0, sy = 0;
      bool complete = true;
      for (int y = ir - r; y <= ir + r && complete; ++y)
        for (int x = ic - r; x <= ic + r; ++x) {
          const double v = img.at<double>(y, x);
          if (v == 0) {
            complete = false;
            break;
          }
          const double wgt = std::max(0.0, v - scene.imageOffset - scene.background - 3.0);
          sw += wgt;
          sx += wgt * x;
          sy += wgt * y;
        }
      if (!complete || sw <= 0) continue;
      const double err = std::hypot(sx / sw - col, sy / sw - row);
      stats.worst = std::max(stats.worst, err);
      sum += err;
      ++stats.measured;
    }
  }
  if (stats.measured > 0) stats.mean = sum / stats.measured;
  return stats;
}

cv::Mat ReadBand1(const fs::path& ortho, double gt[6]) {
  GDALDatasetUniquePtr ds = test::OpenRaster(ortho);
  if (!ds || ds->GetGeoTransform(gt) != CE_None) return {};
  cv::Mat img(ds->GetRasterYSize(), ds->GetRasterXSize(), CV_32F);
  if (ds->GetRasterBand(1)->RasterIO(GF_Read, 0, 0, img.cols, img.rows, img.data, img.cols,
                                     img.rows, GDT_Float32, 0, 0, nullptr) != CE_None)
    return {};
  return img;
}

void ExpectMarksInPlace(SceneRun& run, int tileStep) {
  const WarpResult result = WarpImages(run.Request(tileStep), run.ctx);
  ASSERT_EQ(result.status, WarpRunStatus::Done) << result.refusal;
  ASSERT_EQ(result.processedRows, (std::vector<int>{0, 1, 2}));
  for (const auto& image : run.project.images) {
    const MarkStats s = MeasureMarks(run.scene, run.out / (image.name + ".tif"));
    EXPECT_GT(s.measured, 40) << image.name;
    EXPECT_LT(s.worst, 0.25) << image.name << " tile step " << tileStep;
  }
}

TEST(WarpScene, TileModeOrthosLandWithinAQuarterPixel) {
  SceneRun run;
  ExpectMarksInPlace(run, 16);
}

TEST(WarpScene, PixelModeOrthosLandWithinAQuarterPixel) {
  SceneRun run;
  ExpectMarksInPlace(run, 1);
}

// Every sample type lands in place in both modes and keeps its type. The 32-bit integer images
// straddle a sign boundary: UInt32 values around 2^31 (a signed reading would wrap them), Int32
// values below 0.
TEST(WarpScene, EverySampleTypeLandsInPlaceInBothModes) {
  const struct {
    GDALDataType type;
    double offset;
  } cases[] = {{GDT_UInt16, 0.0},          {GDT_Int16, 0.0},    {GDT_Int32, -1000000.0},
               {GDT_UInt32, 2147483548.0}, {GDT_Float32, 0.0},  {GDT_Float64, 0.0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(GDALGetDataTypeName(c.type));
    SceneRun run(c.type, 0.0, 0.1, SyntheticScene::DemLayout::NorthUp, c.offset);
    for (int tileStep : {1, 16}) {
      WarpRequest r = run.Request(tileStep);
      r.overwrite = true;
      const WarpResult result = WarpImages(r, run.ctx);
      ASSERT_EQ(result.processedRows, (std::vector<int>{0, 1, 2})) << "tile step " << tileStep;
      const MarkStats s = MeasureMarks(run.scene, run.out / "img_b.tif");
      EXPECT_GT(s.measured, 40) << "tile step " << tileStep;
      EXPECT_LT(s.worst, 0.25) << "tile step " << tileStep;
      GDALDatasetUniquePtr ds = test::OpenRaster(run.out / "img_b.tif");
      ASSERT_TRUE(ds);
      EXPECT_EQ(ds->GetRasterBand(1)->GetRasterDataType(), c.type);
      // Values keep their offset: the darkest is the background (30), the brightest a mark's peak
      // (190 above it). Empty pixels are 0, beyond the values of a negative offset.
      double minMax[2];
      ASSERT_EQ(ds->GetRasterBand(1)->ComputeRasterMinMax(FALSE, minMax), CE_None);
      if (c.offset < 0)
        EXPECT_NEAR(minMax[0] - c.offset, 30.0, 5.0) << "tile step " << tileStep;
      else
        EXPECT_NEAR(minMax[1] - c.offset, 220.0, 25.0) << "tile step " << tileStep;
    }
  }
}

// Rows running north, columns running west or a turned grid: the same terrain gives the orthos
// of the north-up DEM. Flipped grids hold the very same samples, so their orthos are the same
// pixels; the turned grid samples the terrain elsewhere and must only be as accurate.
TEST(WarpScene, FlippedAndTurnedDemsGiveTheNorthUpOrthos) {
  using Layout = SyntheticScene::DemLayout;
  std::map<int, std::map<std::string, cv::Mat>> northUp;  // by tile step, by image
  std::map<int, MarkStats> northStats;
  for (Layout layout : {Layout::NorthUp, Layout::SouthUp, Layout::WestRunning, Layout::Turned}) {
    SCOPED_TRACE(static_cast<int>(layout));
    SceneRun run(GDT_Byte, 0.0, 0.1, layout);
    for (int tileStep : {16, 1}) {
      WarpRequest r = run.Request(tileStep);
      r.overwrite = true;
      const WarpResult result = WarpImages(r, run.ctx);
      ASSERT_EQ(result.processedRows, (std::vector<int>{0, 1, 2})) << "tile step " << tileStep;
      for (const auto& image : run.project.images) {
        const fs::path ortho = run.out / (image.name + ".tif");
        const MarkStats s = MeasureMarks(run.scene, ortho);
        EXPECT_GT(s.measured, 40) << image.name;
        double gt[6];
        const cv::Mat pixels = ReadBand1(ortho, gt);
        if (layout == Layout::NorthUp) {
          northUp[tileStep][image.name] = pixels;
          northStats[tileStep].worst = std::max(northStats[tileStep].worst, s.worst);
          northStats[tileStep].mean = std::max(northStats[tileStep].mean, s.mean);
        } else if (layout == Layout::Turned) {
          EXPECT_LT(s.worst, std::max(0.25, northStats[tileStep].worst + 0.02)) << image.name;
          EXPECT_LT(s.mean, northStats[tileStep].mean + 0.02) << image.name;
        } else {
          const cv::Mat& expected = northUp[tileStep][image.name];
          ASSERT_EQ(pixels.size(), expected.size()) << image.name;
          cv::Mat diff;
          cv::absdiff(pixels, expected, diff);
          double worst = 0.0;
          cv::minMaxLoc(diff, nullptr, &worst);
          EXPECT_LE(worst, 1.0) << image.name << " tile step " << tileStep;
          EXPECT_LT(cv::countNonZero(diff), static_cast<int>(diff.total() / 1000)) << image.name;
        }
      }
    }
  }
}

// Squares (tile mode) and rows (pixel mode) are shared among threads: the bytes must not change.
TEST(WarpScene, BothModesGiveTheSameBytesOnOneThreadAndOnMany) {
  SceneRun run;
  const int threads = cv::getNumThreads();
  for (int tileStep : {16, 1}) {
    cv::setNumThreads(4);
    WarpRequest many = run.Request(tileStep);
    many.overwrite = true;
    ASSERT_EQ(WarpImages(many, run.ctx).status, WarpRunStatus::Done);
    double gt[6];
    const cv::Mat manyPixels = ReadBand1(run.out / "img_b.tif", gt);
    cv::setNumThreads(1);
    WarpRequest one = run.Request(tileStep);
    one.overwrite = true;
    ASSERT_EQ(WarpImages(one, run.ctx).status, WarpRunStatus::Done);
    cv::setNumThreads(threads);
    const cv::Mat onePixels = ReadBand1(run.out / "img_b.tif", gt);
    ASSERT_EQ(manyPixels.size(), onePixels.size());
    EXPECT_EQ(cv::countNonZero(manyPixels != onePixels), 0) << "tile step " << tileStep;
    EXPECT_GT(cv::countNonZero(onePixels), static_cast<int>(onePixels.total() / 4));
  }
}

std::string FileBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A source read by the rectangle each band of the ortho needs gives the bytes of the whole window
// read at once: in both modes, with an alpha band, and over many blocks.
TEST(WarpScene, StreamedSourceGivesTheBytesOfTheWholeWindow) {
  struct Case {
    int tileStep;
    double gsd;
    int bands;
    std::string composition;
  };
  for (const Case& c : {Case{16, 0.1, 1, "1"}, Case{1, 0.1, 1, "1"}, Case{16, 0.1, 4, "1234"},
                        Case{16, 0.03, 1, "1"}}) {
    SCOPED_TRACE(std::to_string(c.tileStep) + " " + std::to_string(c.gsd) + " " + c.composition);
    SyntheticScene scene;
    WarpProject project;
    const fs::path folder = test::MakeTempDir("streamed");
    ASSERT_TRUE(scene.Fill(project, folder, {scene.Strip()[1]}, c.bands));
    int pumps = 0;
    RunContext ctx;
    ctx.pump = [&] { ++pumps; };
    const MosaicResult m = BuildMosaicOverviews(project, {0}, c.gsd, folder.string(), ctx);
    ASSERT_TRUE(m.ok()) << m.message;
    std::map<std::string, int> pumpsOf;
    for (const std::string run : {"whole", "streamed"}) {
      WarpRequest r;
      r.project = &project;
      r.rows = {0};
      r.composition = c.composition;
      r.tileStep = c.tileStep;
      r.destinationFolder = (folder / run).string();
      fs::create_directories(folder / run);
      r.voronoiMap = &m.grid.voronoiMap;
      r.gsd = c.gsd;
      r.cellSize = m.grid.cellSize;
      r.mosaicWidth = m.grid.mosaicWidth;
      r.mosaicHeight = m.grid.mosaicHeight;
      if (run == "streamed") r.wholeSourceBytes = 0;
      pumps = 0;
      const WarpResult result = WarpImages(r, ctx);
      ASSERT_EQ(result.processedRows, (std::vector<int>{0})) << result.refusal;
      pumpsOf[run] = pumps;
    }
    // Every read pumps once per image band: the streamed run read more than once.
    EXPECT_GT(pumpsOf["streamed"], pumpsOf["whole"] + static_cast<int>(c.composition.size()));
    const std::string whole = FileBytes(folder / "whole" / "img_b.tif");
    EXPECT_GT(whole.size(), 10000u);
    EXPECT_TRUE(whole == FileBytes(folder / "streamed" / "img_b.tif"));
  }
}

TEST(WarpScene, OrthoOfManyBlocksPutsEveryBlockInPlace) {
  const double gsd = 0.012;  // about 5400 x 4000 pixels: 3 x 2 blocks of at most 2048
  SceneRun run(GDT_Byte, 0.0, gsd);
  WarpRequest r = run.Request(16);
  r.rows = {1};
  const WarpResult result = WarpImages(r, run.ctx);
  ASSERT_EQ(result.processedRows, (std::vector<int>{0}));
  GDALDatasetUniquePtr ds = test::OpenRaster(run.out / "img_b.tif");
  ASSERT_TRUE(ds);
  ASSERT_GE(static_cast<double>(ds->GetRasterXSize()) * ds->GetRasterYSize(), 17825792.0);
  ASSERT_GT(ds->GetRasterXSize(), 4096);
  ds.reset();
  // The source pixel is 0.1: marks must land within a quarter of it, whichever block they are in.
  const MarkStats s = MeasureMarks(run.scene, run.out / "img_b.tif", 90);
  EXPECT_GT(s.measured, 60);
  EXPECT_LT(s.worst * gsd, 0.025);
  // The image reaches past the ortho's right edge: the squares there are split, not left out.
  double gt[6];
  const cv::Mat img = ReadBand1(run.out / "img_b.tif", gt);
  ASSERT_FALSE(img.empty());
  EXPECT_GT(cv::countNonZero(img.col(img.cols - 1)), img.rows / 2);
}

TEST(WarpScene, OrthosShareOneGridAndCarryTheMosaicPlace) {
  SceneRun run;
  const WarpResult result = WarpImages(run.Request(16), run.ctx);
  ASSERT_EQ(result.status, WarpRunStatus::Done);
  for (const auto& image : run.project.images) {
    GDALDatasetUniquePtr ds = test::OpenRaster(run.out / (image.name + ".tif"));
    ASSERT_TRUE(ds);
    double gt[6];
    ASSERT_EQ(ds->GetGeoTransform(gt), CE_None);
    // Pixel corners sit on the mosaic grid: whole pixels from mosaicMinX - gsd / 2.
    const double ox = (gt[0] - (run.project.mosaicMinX - 0.05)) / 0.1;
    const double oy = ((run.project.mosaicMaxY + 0.05) - gt[3]) / 0.1;
    EXPECT_NEAR(ox, std::round(ox), 1e-4);  // the world file keeps six decimals
    EXPECT_NEAR(oy, std::round(oy), 1e-4);
    EXPECT_EQ(ds->GetRasterXSize() % 4, 0);
    EXPECT_FALSE(fs::exists(run.out / (image.name + ".tif.part")));
  }
  EXPECT_TRUE(run.Logged("start warping images..."));
  EXPECT_TRUE(run.Logged("processing image img_a 0/3 (0%)"));
  EXPECT_TRUE(run.Logged("processing image img_c 2/3 (66%)"));
  EXPECT_TRUE(run.Logged("end warping images..."));
  EXPECT_EQ(run.project.lastOrthoPath, (run.out / "img_c.tif").string());
  const CadEntity* e = run.project.cad.Find(run.project.footprints["img_b"]);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->color, kAciGreen);
  EXPECT_FALSE(e->filled);
}

TEST(WarpScene, PresentOrthoIsKeptOnlyAboveTenMillionBytes) {
  SceneRun run;
  const auto sized = [&](const std::string& name, std::uintmax_t bytes) {
    std::ofstream(run.out / (name + ".tif")).close();
    fs::resize_file(run.out / (name + ".tif"), bytes);
  };
  sized("img_a", 10000001);
  sized("img_b", 10000000);
  const WarpResult result = WarpImages(run.Request(16), run.ctx);
  ASSERT_EQ(result.status, WarpRunStatus::Done);
  EXPECT_EQ(result.skippedRows, (std::vector<int>{0}));
  EXPECT_EQ(result.processedRows, (std::vector<int>{1, 2}));
  EXPECT_EQ(fs::file_size(run.out / "img_a.tif"), 10000001u);
  EXPECT_TRUE(run.Logged("Projection of img_a image skipped because already present."));
  const CadEntity* e = run.project.cad.Find(run.project.footprints["img_a"]);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->color, kAciGreen);
  EXPECT_TRUE(e->filled);
  // With overwrite every ortho is written again.
  WarpRequest again = run.Request(16);
  again.overwrite = true;
  EXPECT_EQ(WarpImages(again, run.ctx).processedRows, (std::vector<int>{0, 1, 2}));
  EXPECT_LT(fs::file_size(run.out / "img_a.tif"), 10000000u);
}

// A skipped image failed only when an error kept it from its ortho: not when it was kept because
// present, has no footprint on the terrain, or was left out of the mosaic as too close to another.
TEST(WarpScene, OnlyErrorsMarkSkippedImagesAsFailed) {
  SyntheticScene scene;
  WarpProject project;
  const fs::path folder = test::MakeTempDir("failed");
  std::vector<test::SceneCamera> cameras = scene.Strip();
  test::SceneCamera twin = cameras[1];
  twin.name = "img_d";
  twin.x += 0.5;
  cameras.push_back(twin);
  ASSERT_TRUE(scene.Fill(project, folder, cameras));
  RunContext ctx;
  const MosaicResult m = BuildMosaicOverviews(project, {0, 1, 2, 3}, 0.1, folder.string(), ctx);
  ASSERT_TRUE(m.ok()) << m.message;
  const fs::path out = folder / "out";
  fs::create_directories(out);
  std::ofstream(out / "img_a.tif").close();
  fs::resize_file(out / "img_a.tif", 10000001);
  project.footprints.erase("img_b");
  fs::remove(project.images[2].path);
  WarpRequest r;
  r.project = &project;
  r.rows = {0, 1, 2, 3};
  r.composition = "1";
  r.destinationFolder = out.string();
  r.voronoiMap = &m.grid.voronoiMap;
  r.gsd = 0.1;
  r.cellSize = m.grid.cellSize;
  r.mosaicWidth = m.grid.mosaicWidth;
  r.mosaicHeight = m.grid.mosaicHeight;
  const WarpResult result = WarpImages(r, ctx);
  ASSERT_EQ(result.status, WarpRunStatus::Done);
  const struct {
    const char* name;
    bool failed;
    const char* reason;
  } expected[] = {{"img_a", false, "already present"},
                  {"img_b", false, "its footprint does not reach the terrain"},
                  {"img_c", true, "the image cannot be opened"},
                  {"img_d", false, "it owns no cell of the Voronoi map"}};
  ASSERT_EQ(result.images.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(result.images[i].name, expected[i].name);
    EXPECT_EQ(result.images[i].outcome, ImageOutcome::Skipped) << expected[i].name;
    EXPECT_EQ(result.images[i].failed, expected[i].failed) << expected[i].name;
    EXPECT_EQ(result.images[i].reason, expected[i].reason) << expected[i].name;
  }
}

TEST(WarpScene, VanishedImageIsSkippedAndTheRunGoesOn) {
  SceneRun run;
  fs::remove(run.project.images[1].path);
  const WarpResult result = WarpImages(run.Request(16), run.ctx);
  EXPECT_EQ(result.status, WarpRunStatus::Done);
  EXPECT_EQ(result.skippedRows, (std::vector<int>{1}));
  EXPECT_EQ(result.processedRows, (std::vector<int>{0, 2}));
  EXPECT_FALSE(fs::exists(run.out / "img_b.tif"));
}

TEST(WarpScene, OrthoWhoseWorldFileFailsIsSkippedAndAnOlderOneKept) {
  SceneRun run;
  std::ofstream(run.out / "img_b.tif") << "older ortho";
  fs::create_directories(run.out / "img_b.tfw.part");
  WarpRequest r = run.Request(16);
  r.overwrite = true;
  const WarpResult result = WarpImages(r, run.ctx);
  EXPECT_EQ(result.status, WarpRunStatus::Done);
  EXPECT_EQ(result.processedRows, (std::vector<int>{0, 2}));
  EXPECT_EQ(result.skippedRows, (std::vector<int>{1}));
  EXPECT_TRUE(run.Logged("img_b image can't be written: the world file cannot be written!"));
  EXPECT_EQ(fs::file_size(run.out / "img_b.tif"), 11u);
  EXPECT_FALSE(fs::exists(run.out / "img_b.tif.part"));
}

TEST(WarpScene, OrthoNeverReplacesItsOwnSourceImage) {
  SceneRun run;
  WarpRequest r = run.Request(16);
  r.destinationFolder = run.folder.string();  // the images' own folder
  r.overwrite = true;
  const auto before = fs::file_size(run.project.images[0].path);
  const WarpResult result = WarpImages(r, run.ctx);
  EXPECT_EQ(result.status, WarpRunStatus::Done);
  EXPECT_EQ(result.skippedRows, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(fs::file_size(run.project.images[0].path), before);
  EXPECT_TRUE(run.Logged("img_a image can't be written: the ortho would replace its source image!"));
}

TEST(WarpScene, UnwritableFolderCountsImagesSkippedNeverWritten) {
  SceneRun run;
  WarpRequest r = run.Request(16);
  r.destinationFolder = (run.folder / "missing" / "deeper").string();
  const WarpResult result = WarpImages(r, run.ctx);
  EXPECT_EQ(result.status, WarpRunStatus::Done);
  EXPECT_TRUE(result.processedRows.empty());
  EXPECT_EQ(result.skippedRows, (std::vector<int>{0, 1, 2}));
  EXPECT_TRUE(run.Logged("img_a image can't be written: the ortho file cannot be created!"));
  EXPECT_TRUE(run.project.lastOrthoPath.empty());
}

TEST(WarpScene, StopDuringAnImageLeavesOnlyItsPartialFile) {
  SceneRun run;
  run.ctx.log = [&](const std::string& s) {
    run.log.push_back(s);
    if (s.rfind("processing image img_b", 0) == 0) run.project.abortRequested = true;
  };
  const WarpResult result = WarpImages(run.Request(16), run.ctx);
  EXPECT_EQ(result.status, WarpRunStatus::Aborted);
  EXPECT_EQ(result.Result(), 0);
  EXPECT_EQ(result.processedRows, (std::vector<int>{0}));
  EXPECT_TRUE(run.Logged("process aborted by user"));
  EXPECT_FALSE(run.Logged("end warping images..."));
  EXPECT_TRUE(fs::exists(run.out / "img_a.tif"));
  EXPECT_FALSE(fs::exists(run.out / "img_b.tif"));
  EXPECT_FALSE(fs::exists(run.out / "img_c.tif"));
}

// Stop while img_b's blocks are filled (the fifth pump after it starts: abort checks of steps 7 and
// 11, the band read, step 12, then the first strip's) and while its ortho is written with img_c
// warped ahead (the sixth, the write's): either way img_b stays under its temporary name and
// nothing of img_c is written.
TEST(WarpScene, StopDuringAnImageKeepsItsPartialRasterUnderItsTemporaryName) {
  for (const int stopAtPump : {5, 6}) {
    SCOPED_TRACE(stopAtPump);
    SceneRun run;
    int pumpsSinceStart = -1;
    run.ctx.log = [&](const std::string& s) {
      run.log.push_back(s);
      if (s.rfind("processing image img_b", 0) == 0) pumpsSinceStart = 0;
    };
    run.ctx.pump = [&] {
      if (pumpsSinceStart >= 0 && ++pumpsSinceStart == stopAtPump) run.project.abortRequested = true;
    };
    const WarpResult result = WarpImages(run.Request(16), run.ctx);
    EXPECT_EQ(result.status, WarpRunStatus::Aborted);
    EXPECT_EQ(result.processedRows, (std::vector<int>{0}));
    EXPECT_TRUE(run.Logged("process aborted by user"));
    EXPECT_TRUE(fs::exists(run.out / "img_b.tif.part"));
    for (const std::string f : {"img_b.tif", "img_b.tfw", "img_b.tfw.part", "img_c.tif",
                                "img_c.tif.part", "img_c.tfw", "img_c.tfw.part"})
      EXPECT_FALSE(fs::exists(run.out / f)) << f;
    EXPECT_TRUE(fs::exists(run.out / "img_a.tif"));
    EXPECT_TRUE(fs::exists(run.out / "img_a.tfw"));
  }
}

// Tiny turned images: the box of their ground footprint projects around the whole image, so the
// pixel window is the whole 63 or 64 pixel image.
TEST(WarpScene, PixelWindowBelowSixtyFourPixelsIsSkippedSilently) {
  for (int side : {63, 64}) {
    SyntheticScene scene;
    scene.width = scene.height = side;
    WarpProject project;
    const fs::path folder = test::MakeTempDir("tiny");
    test::SceneCamera cam = scene.Strip()[1];
    cam.kappa = 0.3;
    ASSERT_TRUE(scene.Fill(project, folder, {cam}));
    std::vector<std::string> log;
    RunContext ctx;
    ctx.log = [&](const std::string& s) { log.push_back(s); };
    const double gsd = 0.0025;  // cells of 0.1, a pixel of these images
    const MosaicResult m = BuildMosaicOverviews(project, {0}, gsd, folder.string(), ctx);
    ASSERT_TRUE(m.ok()) << m.message;
    WarpRequest r;
    r.project = &project;
    r.rows = {0};
    r.composition = "1";
    r.destinationFolder = (folder / "out").string();
    fs::create_directories(folder / "out");
    r.voronoiMap = &m.grid.voronoiMap;
    r.gsd = gsd;
    r.cellSize = m.grid.cellSize;
    r.mosaicWidth = m.grid.mosaicWidth;
    r.mosaicHeight = m.grid.mosaicHeight;
    const std::size_t before = log.size();
    const WarpResult result = WarpImages(r, ctx);
    ASSERT_EQ(result.status, WarpRunStatus::Done);
    if (side == 63) {
      EXPECT_EQ(result.skippedRows, (std::vector<int>{0}));
      // Only the run's own lines: start, the image's counter, end.
      EXPECT_EQ(log.size() - before, 3u);
    } else {
      EXPECT_EQ(result.processedRows, (std::vector<int>{0}));
    }
  }
}

TEST(WarpScene, RefusalsWriteAndLogNothing) {
  SceneRun run;
  const auto refused = [&](WarpRequest r) {
    run.log.clear();
    const WarpResult result = WarpImages(r, run.ctx);
    return result.status == WarpRunStatus::Refused && run.log.empty();
  };
  EXPECT_TRUE(refused(run.Request(16, "412")));   // first image has one band
  EXPECT_TRUE(refused(run.Request(16, "1234")));
  EXPECT_TRUE(refused(run.Request(16, "12")));
  WarpRequest noRows = run.Request(16);
  noRows.rows.clear();
  EXPECT_TRUE(refused(noRows));
  WarpRequest zeroGsd = run.Request(16);
  zeroGsd.gsd = 0.0;
  EXPECT_TRUE(refused(zeroGsd));
  EXPECT_FALSE(fs::exists(run.out / "img_a.tif"));
}

TEST(WarpScene, FourBandCompositionWritesAlphaAsFourthBand) {
  SyntheticScene scene;
  WarpProject project;
  const fs::path folder = test::MakeTempDir("rgba");
  ASSERT_TRUE(scene.Fill(project, folder, {scene.Strip()[1]}, 4));
  RunContext ctx;
  const MosaicResult m = BuildMosaicOverviews(project, {0}, 0.1, folder.string(), ctx);
  ASSERT_TRUE(m.ok()) << m.message;
  WarpRequest r;
  r.project = &project;
  r.rows = {0};
  r.composition = "412";
  r.tileStep = 16;
  r.destinationFolder = (folder / "out").string();
  fs::create_directories(folder / "out");
  r.voronoiMap = &m.grid.voronoiMap;
  r.gsd = 0.1;
  r.cellSize = m.grid.cellSize;
  r.mosaicWidth = m.grid.mosaicWidth;
  r.mosaicHeight = m.grid.mosaicHeight;
  ASSERT_EQ(WarpImages(r, ctx).processedRows, (std::vector<int>{0}));
  GDALDatasetUniquePtr ds = test::OpenRaster(folder / "out" / "img_b.tif");
  ASSERT_TRUE(ds);
  ASSERT_EQ(ds->GetRasterCount(), 3);
  // "412": red from band 4 (value + 30), green from band 1, blue from band 2 (value + 10).
  const int cx = ds->GetRasterXSize() / 2, cy = ds->GetRasterYSize() / 2;
  int v[3];
  for (int b = 0; b < 3; ++b)
    ASSERT_EQ(ds->GetRasterBand(b + 1)->RasterIO(GF_Read, cx, cy, 1, 1, &v[b], 1, 1, GDT_Int32, 0, 0,
                                                 nullptr), CE_None);
  EXPECT_NEAR(v[0] - v[1], 30, 1);
  EXPECT_NEAR(v[2] - v[1], 10, 1);

  r.composition = "1234";
  r.overwrite = true;
  ASSERT_EQ(WarpImages(r, ctx).processedRows, (std::vector<int>{0}));
  ds = test::OpenRaster(folder / "out" / "img_b.tif");
  ASSERT_EQ(ds->GetRasterCount(), 4);
  int a = 0, g = 0;
  EXPECT_EQ(ds->GetRasterBand(4)->RasterIO(GF_Read, cx, cy, 1, 1, &a, 1, 1, GDT_Int32, 0, 0, nullptr), CE_None);
  EXPECT_EQ(ds->GetRasterBand(1)->RasterIO(GF_Read, cx, cy, 1, 1, &g, 1, 1, GDT_Int32, 0, 0, nullptr), CE_None);
  EXPECT_NEAR(a - g, 30, 1);
}

}  // namespace
}  // namespace ortavia
