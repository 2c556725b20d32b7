#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <opencv2/core.hpp>

#include "model/footprints.h"
#include "model/terrain_surface.h"
#include "products/mosaic.h"
#include "support/synthetic_scene.h"
#include "support/test_env.h"

namespace ortavia {
namespace {

namespace fs = std::filesystem;
using test::SceneCamera;
using test::SyntheticScene;

// A project whose images are only names and centres (no files), for the base and selection rules.
void CentresOnly(WarpProject& p, const std::vector<cv::Point3d>& centres) {
  for (std::size_t i = 0; i < centres.size(); ++i) {
    const std::string name = "i" + std::to_string(i);
    p.images.push_back({name, name + ".tif"});
    geo::COrientation o;
    o.N = Wml::Point3d(centres[i].x, centres[i].y, centres[i].z);
    p.orientations[name] = o;
  }
}

std::vector<int> Rows(int n) {
  std::vector<int> rows;
  for (int i = 0; i < n; ++i) rows.push_back(i);
  return rows;
}

TEST(WarpMosaicBase, RobustMeanOfTheBasesWithIntegerAccumulation) {
  // Bases 100.7, 100.6, 100.9 and one outlier 400: mean 175.55, deviation 129.59.
  WarpProject p;
  CentresOnly(p, {{0, 0, 500}, {100.7, 0, 500}, {100.7, 100.6, 500},
                                     {100.7, 201.5, 500}, {500.7, 201.5, 500}});
  double spread = 0.0;
  // trunc(0 + 100.7) = 100, trunc(100 + 100.6) = 200, trunc(200 + 100.9) = 300; 300 / 3.
  EXPECT_DOUBLE_EQ(ComputeBaseLength(p, Rows(5), &spread), 100.0);
  EXPECT_NEAR(spread, 129.586, 0.001);
}

TEST(WarpMosaicBase, NoQualifyingBaseGivesTheMeanAndOneImageGivesZero) {
  // Two equal bases: deviation 0, so none is strictly within it.
  WarpProject two;
  CentresOnly(two, {{0, 0, 1}, {3, 4, 1}, {6, 8, 1}});
  EXPECT_DOUBLE_EQ(ComputeBaseLength(two, Rows(3), nullptr), 5.0);
  WarpProject one;
  CentresOnly(one, {{10, 10, 1}});
  EXPECT_DOUBLE_EQ(ComputeBaseLength(one, Rows(1), nullptr), 0.0);
  // Images without a projection centre are left out of the walk.
  WarpProject gap;
  CentresOnly(gap, {{0, 0, 1}, {0, 0, 0}, {6, 8, 1}});
  EXPECT_DOUBLE_EQ(ComputeBaseLength(gap, Rows(3), nullptr), 10.0);
}

TEST(WarpMosaicSelection, NearCoincidentExposureIsLeftOut) {
  WarpProject p;
  CentresOnly(p, 
      {{0, 0, 900}, {300, 0, 900}, {301, 0, 900}, {600, 0, 900}, {900, 0, 900}, {0, 0, 0}});
  const double base = ComputeBaseLength(p, Rows(6), nullptr);
  EXPECT_DOUBLE_EQ(base, 299.0);  // (300 + 299 + 300) accumulated, divided by 3
  std::vector<int> selected;
  EXPECT_EQ(SelectMosaicImages(p, Rows(6), selected, base * 0.5), 4);
  EXPECT_EQ(selected, (std::vector<int>{1, 1, 0, 1, 1, 0}));
  // Radius 0: every image with a centre takes part.
  EXPECT_EQ(SelectMosaicImages(p, Rows(6), selected, 0.0), 5);
}

TEST(WarpMosaicGrid, SurfaceSampleAndCoverageCoarsening) {
  EXPECT_EQ(SurfaceSampleSize(1000, 1000, 3), cv::Size(500, 500));
  EXPECT_EQ(SurfaceSampleSize(80, 80, 3), cv::Size(80, 80));
  CoverageCells c = ComputeCoverageCells(40000.0, 20000.0, 0.1);  // 10000 x 5000 cells
  EXPECT_DOUBLE_EQ(c.mosaicScale, 40.0);
  EXPECT_DOUBLE_EQ(c.cellSize, 4.0);
  EXPECT_EQ(c.nx, 10000);
  c = ComputeCoverageCells(160000.0, 120000.0, 0.1);  // 40000 x 30000 cells
  EXPECT_NEAR(c.cellSize, 4.0 * std::sqrt(12.0), 1e-9);
  EXPECT_NEAR(c.mosaicScale, 40.0 * std::sqrt(12.0), 1e-9);
  EXPECT_LE(static_cast<double>(c.nx) * c.ny, 100000000.0 * 1.001);
}

TEST(WarpMosaicGrid, ColourCodeOfARow) {
  EXPECT_EQ(RowColorCode(300), cv::Vec3b(44, 1, 0));
  EXPECT_EQ(RowColorCode(70000), cv::Vec3b(112, 17, 1));
  EXPECT_EQ(RowFromColorCode(RowColorCode(70000)), 70000);
  EXPECT_EQ(RowFromColorCode(cv::Vec3b(255, 255, 255)), 16777215);
}

struct MosaicScene {
  SyntheticScene scene;
  WarpProject project;
  fs::path folder, out;
  std::vector<std::string> log;
  RunContext ctx;
  MosaicScene(std::vector<SceneCamera> cameras) {
    folder = test::MakeTempDir("mosaic");
    out = folder / "out";
    fs::create_directories(out);
    EXPECT_TRUE(scene.Fill(project, folder, cameras));
    ctx.log = [this](const std::string& s) { log.push_back(s); };
  }
  std::string Read(const fs::path& p) const {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
};

// The mosaic stage takes the footprint pass's surface when it was built from the same DEM grid,
// and gives what a surface of its own gives.
TEST(WarpMosaic, TakesTheFootprintSurfaceAndGivesTheSameProducts) {
  SyntheticScene scene;
  MosaicScene kept(scene.Strip()), built(scene.Strip());
  for (MosaicScene* m : {&kept, &built}) ComputeFootprints(m->project, m->ctx);
  ASSERT_TRUE(kept.project.terrain.surface);
  const TerrainSurface* footprintSurface = kept.project.terrain.surface.get();
  EXPECT_EQ(kept.project.terrain.dem, kept.project.dem.dataset.get());
  built.project.terrain = {};
  const MosaicResult a = BuildMosaicOverviews(kept.project, {0, 1, 2}, 0.1, kept.out.string(), kept.ctx);
  const MosaicResult b = BuildMosaicOverviews(built.project, {0, 1, 2}, 0.1, built.out.string(), built.ctx);
  ASSERT_TRUE(a.ok()) << a.message;
  ASSERT_TRUE(b.ok()) << b.message;
  EXPECT_FALSE(kept.project.terrain.surface) << "taken by the mosaic stage";
  EXPECT_NE(footprintSurface, nullptr);
  EXPECT_EQ(a.grid.mosaicMinX, b.grid.mosaicMinX);
  EXPECT_EQ(a.grid.mosaicMaxY, b.grid.mosaicMaxY);
  EXPECT_EQ(a.grid.mosaicWidth, b.grid.mosaicWidth);
  EXPECT_EQ(a.grid.mosaicHeight, b.grid.mosaicHeight);
  ASSERT_EQ(a.grid.voronoiMap.size(), b.grid.voronoiMap.size());
  EXPECT_EQ(cv::norm(a.grid.voronoiMap, b.grid.voronoiMap, cv::NORM_INF), 0.0);
  // A surface of another DEM is not taken.
  ComputeFootprints(kept.project, kept.ctx);
  kept.project.terrain.dem = nullptr;
  EXPECT_EQ(TakeKeptTerrain(kept.project, kept.project.dem.dataset.get(),
                            PlanTerrainGrid(scene.demCols, scene.demRows, 3)),
            nullptr);
}

TEST(WarpMosaic, ZeroGsdIsRefusedBeforeAnythingIsWritten) {
  SyntheticScene scene;
  MosaicScene m({scene.Strip()[0]});
  for (double gsd : {0.0, -0.5, std::nan("")}) {
    const MosaicResult r = BuildMosaicOverviews(m.project, {0}, gsd, m.out.string(), m.ctx);
    EXPECT_EQ(r.status, MosaicStatus::BadGsd);
    EXPECT_FALSE(r.message.empty());
  }
  EXPECT_TRUE(fs::is_empty(m.out));
  EXPECT_TRUE(m.log.empty());
}

TEST(WarpMosaic, ProductsAndVoronoiOwnershipOnARenderedStrip) {
  SyntheticScene scene;
  std::vector<SceneCamera> cams = scene.Strip();
  // A repeat exposure 0.5 away from the second one: left out of every product.
  SceneCamera repeat = cams[1];
  repeat.name = "img_repeat";
  repeat.x += 0.5;
  cams.push_back(repeat);
  // A camera looking up: none of its rays meets the terrain.
  SceneCamera sky = cams[2];
  sky.name = "img_sky";
  sky.x += 400;
  sky.omega = M_PI;
  cams.push_back(sky);
  MosaicScene m(cams);
  const double gsd = 0.05;
  const MosaicResult r = BuildMosaicOverviews(m.project, Rows(5), gsd, m.out.string(), m.ctx);
  ASSERT_TRUE(r.ok()) << r.message;
  EXPECT_EQ(m.log.front(), "start building overviews...");
  EXPECT_EQ(m.log.back(), "end building overviews...");
  EXPECT_DOUBLE_EQ(r.grid.cellSize, 2.0);
  EXPECT_DOUBLE_EQ(m.project.mosaicScale, 40.0);
  EXPECT_EQ(r.grid.mosaicWidth, r.grid.voronoiMap.cols * 40);
  EXPECT_DOUBLE_EQ(m.project.mosaicMaxX, m.project.mosaicMinX + r.grid.mosaicWidth * gsd);
  EXPECT_DOUBLE_EQ(m.project.mosaicMinY, m.project.mosaicMaxY - r.grid.mosaicHeight * gsd);

  EXPECT_EQ(m.Read(m.out / "coverage.txt"), "img_a 0 0 0\nimg_b 0 0 1\nimg_c 0 0 2\n");
  EXPECT_TRUE(fs::exists(m.out / "img_a.bounds"));
  EXPECT_FALSE(fs::exists(m.out / "img_repeat.bounds"));
  EXPECT_FALSE(fs::exists(m.out / "img_sky.bounds"));
  const std::string bounds = m.Read(m.out / "img_b.bounds");
  EXPECT_EQ(bounds.rfind("[Bounds]\nMinX=", 0), 0u) << bounds;
  EXPECT_NE(bounds.find("\nMaxY="), std::string::npos);

  for (const char* product : {"coverage.tif", "voronoi.tif"}) {
    GDALDatasetUniquePtr ds = test::OpenRaster(m.out / product);
    ASSERT_TRUE(ds) << product;
    double gt[6];
    ASSERT_EQ(ds->GetGeoTransform(gt), CE_None);
    EXPECT_DOUBLE_EQ(gt[0], m.project.mosaicMinX);
    EXPECT_DOUBLE_EQ(gt[3], m.project.mosaicMaxY);
    EXPECT_DOUBLE_EQ(gt[1], 2.0);
    EXPECT_EQ(ds->GetRasterXSize(), r.grid.voronoiMap.cols);
    EXPECT_EQ(ds->GetRasterCount(), 3);
  }
  // Band 3 of the Voronoi GeoTIFF carries channel 0 (the low byte of the row).
  GDALDatasetUniquePtr vds = test::OpenRaster(m.out / "voronoi.tif");
  cv::Mat band3(r.grid.voronoiMap.size(), CV_8U);
  ASSERT_EQ(vds->GetRasterBand(3)->RasterIO(GF_Read, 0, 0, band3.cols, band3.rows, band3.data,
                                            band3.cols, band3.rows, GDT_Byte, 0, 0, nullptr),
            CE_None);
  std::vector<cv::Mat> channels;
  cv::split(r.grid.voronoiMap, channels);
  EXPECT_EQ(cv::countNonZero(band3 != channels[0]), 0);

  // Every cell belongs to the nearest taking-part image when that image sees it, else to nobody;
  // within two cells of a footprint's border either answer is right.
  const int taking[3] = {0, 1, 2};
  int owned[3] = {0, 0, 0}, checked = 0;
  const double cell = r.grid.cellSize;
  for (int j = 0; j < r.grid.voronoiMap.rows; ++j) {
    for (int i = 0; i < r.grid.voronoiMap.cols; ++i) {
      const double x = m.project.mosaicMinX + (i + 0.5) * cell;
      const double y = m.project.mosaicMaxY - (j + 0.5) * cell;
      int nearest = -1;
      double best = 1e300;
      for (int k : taking) {
        const auto& n = m.project.orientations[m.project.images[k].name].N;
        const double d = std::hypot(n.x() - x, n.y() - y);
        if (d < best) {
          best = d;
          nearest = k;
        }
      }
      const geo::COrientation& o = m.project.orientations[m.project.images[nearest].name];
      const cv::Point2d p = o.Pt3dToPix({x, y, scene.Height(x, y)});
      const double margin = std::min({p.x + 0.5, scene.width - 0.5 - p.x, p.y + 0.5,
                                      scene.height - 0.5 - p.y});
      const double tolerance = 2 * cell / 0.1;  // two cells, in image pixels
      const int code = RowFromColorCode(r.grid.voronoiMap.at<cv::Vec3b>(j, i));
      ASSERT_TRUE(code == nearest || code == 16777215) << i << "," << j << " code " << code;
      if (margin > tolerance) {
        EXPECT_EQ(code, nearest) << i << "," << j;
        ++checked;
      } else if (margin < -tolerance) {
        EXPECT_EQ(code, 16777215) << i << "," << j;
        ++checked;
      }
      if (code < 3) ++owned[code];
    }
  }
  EXPECT_GT(checked, 200);
  for (int k : taking) EXPECT_GT(owned[k], 20) << k;
}

TEST(WarpMosaic, SingleImageRunsWithZeroBaseLength) {
  SyntheticScene scene;
  MosaicScene m({scene.Strip()[1]});
  const MosaicResult r = BuildMosaicOverviews(m.project, {0}, 0.1, m.out.string(), m.ctx);
  ASSERT_TRUE(r.ok()) << r.message;
  EXPECT_EQ(m.Read(m.out / "coverage.txt"), "img_b 0 0 0\n");
}

TEST(WarpMosaic, CoincidentCentresRefuseTheRun) {
  SyntheticScene scene;
  std::vector<SceneCamera> cams = {scene.Strip()[1], scene.Strip()[1]};
  cams[1].name = "img_twin";
  MosaicScene m(cams);
  const MosaicResult r = BuildMosaicOverviews(m.project, {0, 1}, 0.1, m.out.string(), m.ctx);
  EXPECT_EQ(r.status, MosaicStatus::ZeroBaseLength);
  EXPECT_FALSE(fs::exists(m.out / "voronoi.tif"));
}

}  // namespace
}  // namespace ortavia
