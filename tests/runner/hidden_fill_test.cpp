// True orthos over a sample block with box buildings: ground an image cannot see is never painted
// in its ortho, and the mosaic shows it from an image that sees it. What "sees" means is checked
// against the scene itself (rays against the boxes), not against the code's own surface model.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <vector>
#include <sstream>

#include <gdal_priv.h>
#include <opencv2/core.hpp>

#include "process/hidden_fill_plan.h"
#include "process/run_process.h"
#include "runner/batch_runner.h"
#include "runner/sample_project.h"
#include "support/test_env.h"
#include "support/test_geotiff.h"
#include "tests/runner/small_sample.h"

namespace ortavia {
namespace {
namespace fs = std::filesystem;

struct Ortho {
  cv::Mat px;  // red, green, blue, alpha
  int ox0 = 0, oy0 = 0;
  const uchar* At(int x, int y) const {
    const int i = x - ox0, j = y - oy0;
    if (i < 0 || j < 0 || i >= px.cols || j >= px.rows) return nullptr;
    return px.ptr<uchar>(j) + 4 * i;
  }
};

// Whether the scene's camera sees the surface point of ground (x, y): no box stands in the way.
bool SceneSees(const SampleScene& scene, const SampleShot& shot, double x, double y) {
  const cv::Point3d p(x, y, scene.SurfaceHeight(x, y));
  const cv::Point3d o(shot.x, shot.y, shot.z);
  double t = 0.0;
  return !scene.Buildings().Hit(o, p - o, 1.0 - 1e-6, &t);
}

// A project filled from the sample's files as the batch runner fills it.
void FillFrom(const SampleFiles& files, WarpProject& project) {
  BatchProjectOptions po;
  po.dem = files.dem;
  po.passport = files.passport;
  po.eo = files.orientations;
  po.images = files.images;
  EXPECT_EQ(FillBatchProject(project, po, {}), kBatchDone);
}

TEST(HiddenFill, ViewAngleBetweenLinesOfSight) {
  const cv::Point3d p(0, 0, 0);
  EXPECT_NEAR(ViewAngle(p, {0, 0, 100}, {100, 0, 100}), CV_PI / 4, 1e-12);
  EXPECT_NEAR(ViewAngle(p, {10, 0, 10}, {-10, 0, 10}), CV_PI / 2, 1e-12);
  EXPECT_NEAR(ViewAngle({5, 5, 5}, {5, 5, 105}, {5, 5, 55}), 0.0, 1e-12);
}

TEST(HiddenFill, PixelsTheOwnerCannotSeeComeFromTheImageThatSees) {
  const fs::path dir = test::MakeTempDir("hidden");
  SampleOptions so;
  so.images = 3;
  so.width = 320;
  so.height = 240;
  so.demSize = 360;
  so.buildings = 14;
  SampleFiles files;
  ASSERT_EQ(WriteSampleProject((dir / "project").string(), so, {}, &files), "");
  const SampleScene scene(so);
  ASSERT_GT(scene.Buildings().All().size(), 5u);
  WarpProject project;
  FillFrom(files, project);
  ASSERT_FALSE(project.images.empty());

  RunOptions options;
  options.gsd = 0.5;
  options.destinationFolder = (dir / "out").string();
  options.occlusion = true;
  options.alpha = true;
  options.mosaicPath = (dir / "out" / "mosaic.tif").string();
  options.mosaic.balance = MosaicBalance::None;
  options.mosaic.blend = MosaicBlend::None;
  options.mosaic.seamBandPx = 0;
  const RunResult r = RunProcess(project, options, {});
  ASSERT_EQ(r.status, RunStatus::Done) << r.message;
  ASSERT_TRUE(r.mosaicWritten) << r.mosaicError;
  ASSERT_GE(r.hiddenFromAll, 0);
  std::ifstream report(r.reportPath);
  std::stringstream text;
  text << report.rdbuf();
  EXPECT_NE(text.str().find("hidden from every image: " + std::to_string(r.hiddenFromAll) + " pixels"),
            std::string::npos)
      << text.str();

  const fs::path out = options.destinationFolder;
  GDALDatasetUniquePtr vds(GDALDataset::Open((out / "voronoi.tif").c_str(), GDAL_OF_RASTER));
  GDALDatasetUniquePtr mds(GDALDataset::Open(options.mosaicPath.c_str(), GDAL_OF_RASTER));
  GDALDatasetUniquePtr vrt(GDALDataset::Open((out / "mosaic.vrt").c_str(), GDAL_OF_RASTER));
  ASSERT_TRUE(vds && mds && vrt);
  double vgt[6];
  ASSERT_EQ(vds->GetGeoTransform(vgt), CE_None);
  const cv::Mat codes = test::ReadBandsAsBytes(vds.get());
  const cv::Mat mosaic = test::ReadBandsAsBytes(mds.get());
  const cv::Mat virtualMosaic = test::ReadBandsAsBytes(vrt.get());
  ASSERT_EQ(virtualMosaic.size(), mosaic.size());
  ASSERT_EQ(virtualMosaic.channels(), 4);
  const double scale = vgt[1] / options.gsd;
  GDALDatasetUniquePtr dem(GDALDataset::Open(files.dem.c_str(), GDAL_OF_RASTER));
  double dgt[6];
  ASSERT_TRUE(dem && dem->GetGeoTransform(dgt) == CE_None);
  const double posting = std::abs(dgt[1]);
  std::map<int, Ortho> orthos;
  for (size_t k = 0; k < project.images.size(); ++k) {
    GDALDatasetUniquePtr ds(GDALDataset::Open(
        (out / (project.images[k].name + ".tif")).c_str(), GDAL_OF_RASTER));
    ASSERT_TRUE(ds);
    ASSERT_EQ(ds->GetRasterCount(), 4);
    double gt[6];
    ASSERT_EQ(ds->GetGeoTransform(gt), CE_None);
    Ortho o;
    o.px = test::ReadBandsAsBytes(ds.get());
    o.ox0 = static_cast<int>(std::lround((gt[0] + options.gsd / 2 - vgt[0]) / options.gsd));
    o.oy0 = static_cast<int>(std::lround((vgt[3] - gt[3] + options.gsd / 2) / options.gsd));
    orthos[static_cast<int>(k)] = o;
  }

  // Every mosaic pixel: at most one ortho opaque; where it is not the cell's owner, the owner
  // left the pixel empty, the scene hides it from the owner and shows it to the filler, and the
  // mosaic and mosaic.vrt hold the filler's very pixel.
  long long filled = 0, hiddenFromOwner = 0, seenByFiller = 0, twice = 0, mosaicDiffers = 0,
            ownerPainted = 0, vrtDiffers = 0;
  std::vector<std::pair<cv::Point, int>> seenByOwner;  // filled pixels the owner does see
  for (int y = 0; y < mosaic.rows; ++y)
    for (int x = 0; x < mosaic.cols; ++x) {
      const int cx = static_cast<int>(std::floor(x / scale)), cy = static_cast<int>(std::floor(y / scale));
      if (cx >= codes.cols || cy >= codes.rows) continue;
      const uchar* c = codes.ptr<uchar>(cy) + 3 * cx;
      const int owner = c[2] + 256 * c[1] + 65536 * c[0];
      int opaque = 0, shown = -1;
      for (const auto& [k, o] : orthos) {
        const uchar* p = o.At(x, y);
        if (p && p[3] == 255) ++opaque, shown = k;
      }
      twice += opaque > 1;
      if (opaque != 1 || shown == owner || !orthos.count(owner)) continue;
      ++filled;
      const double gx = vgt[0] + x * options.gsd, gy = vgt[3] - y * options.gsd;
      const bool hidden = !SceneSees(scene, scene.Shots()[owner], gx, gy);
      hiddenFromOwner += hidden;
      if (!hidden) seenByOwner.push_back({{x, y}, owner});
      seenByFiller += SceneSees(scene, scene.Shots()[shown], gx, gy);
      const uchar* own = orthos[owner].At(x, y);
      ownerPainted += own && (own[0] || own[1] || own[2]);
      const uchar* f = orthos[shown].At(x, y);
      const uchar* m = mosaic.ptr<uchar>(y) + 4 * x;
      mosaicDiffers += m[3] == 0 || m[0] != f[0] || m[1] != f[1] || m[2] != f[2];
      const uchar* v = virtualMosaic.ptr<uchar>(y) + 4 * x;
      vrtDiffers += v[3] != 255 || v[0] != f[0] || v[1] != f[1] || v[2] != f[2];
    }
  EXPECT_EQ(twice, 0);
  EXPECT_GT(filled, 200);
  EXPECT_EQ(ownerPainted, 0);
  EXPECT_EQ(mosaicDiffers, 0);
  EXPECT_EQ(vrtDiffers, 0);
  // The surface model is posted at about 0.93 m: its walls stand within half a posting of the
  // boxes', and the owner gives up the ground it may not see, up to a posting past what it cannot.
  // Where a hidden strip is thinner than an ortho pixel, no pixel centre falls in it: the ground
  // given up there is checked against the scene two postings around.
  EXPECT_GE(hiddenFromOwner, filled * 85 / 100) << filled;
  EXPECT_GE(seenByFiller, filled * 9 / 10) << filled;
  const auto nearHidden = [&](cv::Point p, int owner) {
    const double radius = 2 * posting;
    const int r = static_cast<int>(std::ceil(radius / options.gsd));
    for (int dy = -r; dy <= r; ++dy)
      for (int dx = -r; dx <= r; ++dx) {
        if (std::hypot(dx, dy) * options.gsd > radius) continue;
        const double gx = vgt[0] + (p.x + dx) * options.gsd, gy = vgt[3] - (p.y + dy) * options.gsd;
        if (!SceneSees(scene, scene.Shots()[owner], gx, gy)) return true;
      }
    return false;
  };
  long long far = 0;
  for (const auto& [p, owner] : seenByOwner) far += !nearHidden(p, owner);
  EXPECT_LE(far, filled / 100) << seenByOwner.size();
}

// Without a mosaic nothing reads an ortho's transparent pixels: outside what an image is shown
// for, hidden ground is left as warped. Every opaque pixel, and the transparency itself, are those
// of the run with a mosaic, which tests everything.
TEST(HiddenFill, WithoutAMosaicGroundAnImageIsNotShownForIsLeftAsWarped) {
  const fs::path dir = test::MakeTempDir("share");
  const SampleFiles files = test::WriteSmallSample(dir, 240, 180, 48, 12);
  const auto run = [&](const std::string& out, bool mosaic) {
    WarpProject project;
    FillFrom(files, project);
    RunOptions options;
    options.gsd = 0.5;
    options.destinationFolder = (dir / out).string();
    options.occlusion = true;
    options.alpha = true;
    if (mosaic) options.mosaicPath = (dir / out / "mosaic.tif").string();
    const RunResult r = RunProcess(project, options, {});
    EXPECT_EQ(r.status, RunStatus::Done) << r.message;
    return project.images;
  };
  const auto images = run("with", true);
  run("without", false);
  long long opaque = 0, opaqueDiffers = 0, alphaDiffers = 0, leftAsWarped = 0;
  for (const ImageItem& image : images) {
    const auto read = [&](const char* out) {
      GDALDatasetUniquePtr ds(
          GDALDataset::Open((dir / out / (image.name + ".tif")).c_str(), GDAL_OF_RASTER));
      return ds ? test::ReadBandsAsBytes(ds.get()) : cv::Mat();
    };
    const cv::Mat a = read("with"), b = read("without");
    ASSERT_EQ(a.size(), b.size()) << image.name;
    ASSERT_EQ(a.type(), CV_8UC4);
    for (int y = 0; y < a.rows; ++y)
      for (int x = 0; x < a.cols; ++x) {
        const cv::Vec4b p = a.at<cv::Vec4b>(y, x), q = b.at<cv::Vec4b>(y, x);
        alphaDiffers += p[3] != q[3];
        if (p[3]) {
          ++opaque;
          opaqueDiffers += p != q;
        } else {
          // Tested and hidden with a mosaic, untested without.
          leftAsWarped += p == cv::Vec4b(0, 0, 0, 0) && (q[0] || q[1] || q[2]);
        }
      }
  }
  EXPECT_GT(opaque, 10000);
  EXPECT_EQ(alphaDiffers, 0);
  EXPECT_EQ(opaqueDiffers, 0);
  EXPECT_GT(leftAsWarped, 0);
}

}  // namespace
}  // namespace ortavia
