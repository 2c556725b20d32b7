// Tile mode against the camera model written out here: on rugged ground, over a DEM hole and up to
// the image's edges. The images hold their own pixel coordinates, so every ortho pixel says where
// in the image the warp sampled it; that is compared with the projection of the pixel's ground
// point, its height interpolated from the DEM samples by the cubic through four of them.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <optional>

#include <opencv2/core.hpp>

#include "process/warp.h"
#include "products/mosaic.h"
#include "support/synthetic_scene.h"
#include "support/test_env.h"

namespace ortavia {
namespace {

namespace fs = std::filesystem;
using test::SceneCamera;
using test::SyntheticScene;

// Height at (x, y) from the DEM samples (which stand at their pixels' centres): the cubic through
// the samples at offsets -1, 0, 1, 2 along each axis. NaN next to the hole, where the engine falls
// back to a bilinear mean of the samples it has.
double DemHeight(const SyntheticScene& s, double x, double y) {
  const double col = (x - s.x0) / s.posting - 0.5, row = (s.y0 - y) / s.posting - 0.5;
  const int ic = static_cast<int>(std::floor(col)), ir = static_cast<int>(std::floor(row));
  const auto sample = [&](int c, int r) {
    const double x = s.x0 + (c + 0.5) * s.posting, y = s.y0 - (r + 0.5) * s.posting;
    if (s.InHole(x, y)) return std::numeric_limits<double>::quiet_NaN();
    return static_cast<double>(static_cast<float>(s.Height(x, y)));
  };
  const auto cubic = [](const double a[4], double f) {
    return -a[0] * f * (f - 1) * (f - 2) / 6 + a[1] * (f + 1) * (f - 1) * (f - 2) / 2 -
           a[2] * (f + 1) * f * (f - 2) / 2 + a[3] * (f + 1) * f * (f - 1) / 6;
  };
  double rows[4];
  for (int j = 0; j < 4; ++j) {
    double a[4];
    for (int i = 0; i < 4; ++i) a[i] = sample(ic - 1 + i, ir - 1 + j);
    rows[j] = cubic(a, col - ic);
  }
  return cubic(rows, row - ir);
}

// The camera model: R = Rx(omega) Ry(phi) Rz(kappa) turns camera vectors into ground vectors, the
// camera looks along -z, image y runs down, principal point at the image's centre.
cv::Point2d ToImage(const SyntheticScene& s, const SceneCamera& c, const cv::Point3d& p) {
  const double co = std::cos(c.omega), so = std::sin(c.omega), cp = std::cos(c.phi),
               sp = std::sin(c.phi), ck = std::cos(c.kappa), sk = std::sin(c.kappa);
  const cv::Matx33d rx(1, 0, 0, 0, co, -so, 0, so, co), ry(cp, 0, sp, 0, 1, 0, -sp, 0, cp),
      rz(ck, -sk, 0, sk, ck, 0, 0, 0, 1);
  const cv::Vec3d v = (rx * ry * rz).t() * cv::Vec3d(p.x - c.x, p.y - c.y, p.z - c.z);
  const double xmm = -s.focal * v[0] / v[2], ymm = -s.focal * v[1] / v[2];
  return {(s.width - 1) / 2.0 + xmm / s.pixelSize, (s.height - 1) / 2.0 - ymm / s.pixelSize};
}

struct Departure {
  double worstPatch = 0.0;  // largest mean departure of a 64 x 64 patch, pixels
  cv::Mat filled;           // 255 where the ortho has a value
  double gt[6] = {};
};

Departure Measure(const SyntheticScene& s, const SceneCamera& c, const fs::path& ortho) {
  Departure d;
  GDALDatasetUniquePtr ds = test::OpenRaster(ortho);
  double* gt = d.gt;
  if (!ds || ds->GetGeoTransform(gt) != CE_None) return d;
  const int w = ds->GetRasterXSize(), h = ds->GetRasterYSize();
  cv::Mat band[2] = {cv::Mat(h, w, CV_64F), cv::Mat(h, w, CV_64F)};
  for (int b = 0; b < 2; ++b)
    if (ds->GetRasterBand(b + 1)->RasterIO(GF_Read, 0, 0, w, h, band[b].data, w, h, GDT_Float64,
                                           0, 0, nullptr) != CE_None)
      return d;
  d.filled = band[0] != 0.0;
  for (int py = 0; py + 64 <= h; py += 64)
    for (int px = 0; px + 64 <= w; px += 64) {
      double sum = 0.0;
      int n = 0;
      for (int j = py; j < py + 64; ++j)
        for (int i = px; i < px + 64; ++i) {
          if (band[0].at<double>(j, i) == 0.0) continue;
          const double x = gt[0] + (i + 0.5) * gt[1], y = gt[3] + (j + 0.5) * gt[5];
          const double z = DemHeight(s, x, y);
          if (std::isnan(z)) continue;
          const cv::Point2d exact = ToImage(s, c, {x, y, z});
          sum += std::hypot(band[0].at<double>(j, i) - SyntheticScene::kCoordinateBase - exact.x,
                            band[1].at<double>(j, i) - SyntheticScene::kCoordinateBase - exact.y);
          ++n;
        }
      if (n >= 64 * 16) d.worstPatch = std::max(d.worstPatch, sum / n);
    }
  return d;
}

TEST(TileAccuracy, SquaresSplitToStayWithinTheBoundAndFillWhatPixelModeFills) {
  SyntheticScene scene;
  scene.rugged = 2.0;
  scene.coordinateImages = true;
  scene.holeX = scene.CentreX() - 6.0;
  scene.holeY = scene.CentreY() + 4.0;
  scene.holeRadius = 6.0;
  const fs::path folder = test::MakeTempDir("tiles");
  WarpProject project;
  const SceneCamera camera = scene.Strip()[1];
  ASSERT_TRUE(scene.Fill(project, folder, {camera}, 3, GDT_Float32));
  RunContext ctx;
  ctx.abort = &project.abortRequested;
  const double gsd = 0.1;
  const MosaicResult mosaic = BuildMosaicOverviews(project, {0}, gsd, folder.string(), ctx);
  ASSERT_TRUE(mosaic.ok()) << mosaic.message;

  constexpr double kNever = std::numeric_limits<double>::infinity();
  struct Case {
    const char* name;
    int tileStep;
    std::optional<double> maxError;  // empty: the request's default
    double worstAtMost, worstAbove;  // bounds of the worst 64-pixel patch
  };
  const Case cases[] = {
      {"pixel mode", 1, std::nullopt, 0.002, 0.0},
      {"bound 0: every pixel projected", 16, 0.0, 0.002, 0.0},
      {"default bound", 16, std::nullopt, 0.05, 0.0},
      // The ground is rugged enough that squares the bound does not split miss it.
      {"squares never split for their shape", 16, kNever, 10.0, 0.05},
  };
  cv::Mat pixelModeFilled;
  for (const Case& k : cases) {
    const fs::path out = folder / k.name;
    fs::create_directories(out);
    WarpRequest r;
    r.project = &project;
    r.rows = {0};
    r.composition = "123";
    r.tileStep = k.tileStep;
    if (k.maxError) r.maxError = *k.maxError;
    r.destinationFolder = out.string();
    r.voronoiMap = &mosaic.grid.voronoiMap;
    r.gsd = gsd;
    r.cellSize = mosaic.grid.cellSize;
    r.mosaicWidth = mosaic.grid.mosaicWidth;
    r.mosaicHeight = mosaic.grid.mosaicHeight;
    ASSERT_EQ(WarpImages(r, ctx).processedRows, std::vector<int>{0}) << k.name;
    const Departure d = Measure(scene, camera, out / (camera.name + ".tif"));
    ASSERT_FALSE(d.filled.empty()) << k.name;
    EXPECT_LE(d.worstPatch, k.worstAtMost) << k.name;
    EXPECT_GT(d.worstPatch, k.worstAbove) << k.name;
    if (pixelModeFilled.empty()) {
      pixelModeFilled = d.filled;
      // The ortho reaches past the image on every side, and the hole is inside it.
      ASSERT_GT(cv::countNonZero(pixelModeFilled), static_cast<int>(d.filled.total() / 4));
      ASSERT_EQ(cv::countNonZero(pixelModeFilled.row(0)), 0);
      ASSERT_EQ(cv::countNonZero(pixelModeFilled.col(pixelModeFilled.cols - 1)), 0);
    }
    ASSERT_EQ(d.filled.size(), pixelModeFilled.size()) << k.name;
    EXPECT_EQ(cv::countNonZero(pixelModeFilled & ~d.filled), 0) << k.name;
    // Nothing is made up over the hole.
    const int holeCol = static_cast<int>((scene.holeX - d.gt[0]) / d.gt[1]);
    const int holeRow = static_cast<int>((scene.holeY - d.gt[3]) / d.gt[5]);
    EXPECT_EQ(d.filled.at<uchar>(holeRow, holeCol), 0) << k.name;
  }
}

}  // namespace
}  // namespace ortavia
