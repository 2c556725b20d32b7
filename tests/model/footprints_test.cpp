#include "model/footprints.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "model/dem.h"
#include "support/inputs_test_util.h"
#include "support/test_env.h"

namespace ortavia {
namespace {

namespace fs = std::filesystem;

TEST(TerrainGrid, BudgetExamples) {
  // 1000 x 1000 with 10 images: N = 500000, r = 0.5, 500 x 500 samples twice the DEM's size.
  TerrainGrid g = PlanTerrainGrid(1000, 1000, 10);
  EXPECT_EQ(g.budget, 500000u);
  EXPECT_DOUBLE_EQ(g.ratio, 0.5);
  EXPECT_EQ(g.cols, 500);
  EXPECT_EQ(g.rows, 500);
  EXPECT_DOUBLE_EQ(1.0 / g.scaleX, 2.0);
  EXPECT_DOUBLE_EQ(1.0 / g.scaleY, 2.0);
  // 500 x 500: every DEM pixel is a sample.
  g = PlanTerrainGrid(500, 500, 10);
  EXPECT_EQ(g.budget, 250000u);
  EXPECT_DOUBLE_EQ(g.ratio, 1.0);
  EXPECT_EQ(g.cols, 500);
  EXPECT_EQ(g.rows, 500);
  // 2000 x 2000 with 1000 images: N = 1000000, r = 0.25 on each axis, so r^2 of the pixels.
  g = PlanTerrainGrid(2000, 2000, 1000);
  EXPECT_EQ(g.budget, 1000000u);
  EXPECT_EQ(g.cols, 500);
  EXPECT_EQ(g.rows, 500);
  // No images still samples at least 500000 (or the whole DEM).
  EXPECT_EQ(PlanTerrainGrid(2000, 2000, 0).budget, 500000u);
  // Rounded to the nearest integer on each axis.
  g = PlanTerrainGrid(1001, 999, 0);
  EXPECT_EQ(g.cols, std::lround(g.ratio * 1001));
  EXPECT_EQ(g.rows, std::lround(g.ratio * 999));
  // A huge DEM never gets an empty grid.
  g = PlanTerrainGrid(1000000, 1000000, 1);
  EXPECT_GE(g.cols, 1);
  EXPECT_GE(g.rows, 1);
}

TEST(TerrainGrid, SamplesStandAtTheirPixelCentres) {
  const auto gt = DemGeoTransform::From(GeoTransform{1000.0, 10.0, 0.0, 5000.0, 0.0, -10.0});
  ASSERT_TRUE(gt);
  const TerrainGrid g = PlanTerrainGrid(1000, 1000, 10);  // grid pixels of 20 m
  EXPECT_EQ(GridSampleGround(*gt, g, 0, 0), cv::Point2d(1010.0, 4990.0));
  EXPECT_EQ(GridSampleGround(*gt, g, 3, 2), cv::Point2d(1070.0, 4950.0));
}

// The same ground stored with rows running north or columns running west gives the very same
// terrain points in the same order (the surface's triangulation depends on it); a hole stays out.
TEST(TerrainGrid, FlippedDemsGiveTheSamePointsInGroundOrder) {
  const fs::path dir = test::MakeTempDir("flip");
  const auto height = [](double x, double y) {
    return x == 1015.0 && y == 4985.0 ? -9999.0 : x * 0.01 + y * 0.001;
  };
  const struct {
    const char* file;
    std::array<double, 6> gt;
  } layouts[] = {{"north.tif", {1000, 10, 0, 5000, 0, -10}},
                 {"south.tif", {1000, 10, 0, 4940, 0, 10}},
                 {"west.tif", {1040, -10, 0, 5000, 0, -10}}};
  std::vector<std::vector<cv::Point3d>> points;
  for (const auto& l : layouts) {
    const fs::path p = dir / l.file;
    ASSERT_TRUE(test::WriteRaster(p, test::WithNoData(test::WithGt(test::Layout(4, 6), l.gt), -9999),
                                  [&](int, int c, int r) {
                                    return height(l.gt[0] + (c + 0.5) * l.gt[1],
                                                  l.gt[3] + (r + 0.5) * l.gt[5]);
                                  }));
    GDALDatasetUniquePtr dem = OpenDem(p.string());
    ASSERT_TRUE(dem);
    const TerrainSamples s = SampleTerrain(dem.get(), 3);
    ASSERT_TRUE(s.read);
    points.push_back(s.points);
  }
  // 4 x 6 samples, one of them the hole at (1015, 4985); the first from the north-west corner.
  ASSERT_EQ(points[0].size(), 23u);
  const auto stored = [](double z) { return static_cast<double>(static_cast<float>(z)); };
  EXPECT_EQ(points[0][0], cv::Point3d(1005, 4995, stored(1005 * 0.01 + 4995 * 0.001)));
  EXPECT_EQ(points[0][1], cv::Point3d(1015, 4995, stored(1015 * 0.01 + 4995 * 0.001)));
  EXPECT_EQ(points[0][5], cv::Point3d(1025, 4985, stored(1025 * 0.01 + 4985 * 0.001)));
  EXPECT_EQ(points[1], points[0]);
  EXPECT_EQ(points[2], points[0]);
}

TEST(FootprintBorder, TwelvePointsClockwiseOnTheOuterBorder) {
  const auto b = FootprintBorderPoints(900, 600);
  EXPECT_EQ(b[0], cv::Point2d(-0.5, -0.5));
  EXPECT_EQ(b[1], cv::Point2d(299.5, -0.5));
  EXPECT_EQ(b[3], cv::Point2d(899.5, -0.5));
  EXPECT_EQ(b[4], cv::Point2d(899.5, 199.5));
  EXPECT_EQ(b[6], cv::Point2d(899.5, 599.5));
  EXPECT_EQ(b[8], cv::Point2d(299.5, 599.5));
  EXPECT_EQ(b[9], cv::Point2d(-0.5, 599.5));
  EXPECT_EQ(b[11], cv::Point2d(-0.5, 199.5));
}

class FootprintsTest : public ::testing::Test {
 protected:
  // A DEM of 200 x 200 pixels of `px` ground units, north-west corner (0, 200 * px).
  void LoadTerrain(const std::function<double(double x, double y)>& z, double px = 10.0,
                   std::optional<double> noData = std::nullopt) {
    const fs::path file = test::MakeTempDir("fp") / "dem.tif";
    test::RasterLayout layout = test::WithGt(test::Layout(200, 200), std::array<double, 6>{
                                                                   0, px, 0, 200 * px, 0, -px});
    if (noData) layout = test::WithNoData(layout, *noData);
    ASSERT_TRUE(test::WriteRaster(file, layout, [&](int, int c, int r) {
      return z((c + 0.5) * px, 200 * px - (r + 0.5) * px);
    }));
    ASSERT_EQ(LoadDem(project, file.string(), {}).status, LoadDemStatus::Loaded);
  }
  void AddImage(const std::string& name, const ExtOrientation& eo) {
    project.images.push_back({name, "/images/" + name + ".tif"});
    geo::COrientation o(1.0);
    ASSERT_EQ(o.BuildINTWithoutDistortion(project.passport.get(), 0.0), 1);
    ApplyExtOrientation(eo, o);
    project.orientations[name] = o;
  }
  // Where the ray through an image border point meets the plane z = a * x + b.
  cv::Point2d HitOnPlane(const std::string& name, const cv::Point2d& pixel, double a, double b) {
    const geo::COrientation& o = project.orientations.at(name);
    const Wml::Vector3d d = o.PixToVec3d(pixel);
    const double t = (a * o.N.x() + b - o.N.z()) / (d.z() - a * d.x());
    return {o.N.x() + t * d.x(), o.N.y() + t * d.y()};
  }
  const CadEntity* Polygon(const std::string& name) {
    const auto it = project.footprints.find(name);
    return it == project.footprints.end() ? nullptr : project.cad.Find(it->second);
  }
  WarpProject project;
};

TEST_F(FootprintsTest, NadirImageOverFlatTerrainCoversTheGroundRectangle) {
  LoadTerrain([](double, double) { return 100.0; });
  project.passport = test::MakePassport(1000, 800, 100.0, 0.01);
  AddImage("nadir", {"nadir", 1000.0, 1000.0, 1100.0, 0, 0, 0});
  AddImage("outside", {"outside", 9000.0, 9000.0, 1100.0, 0, 0, 0});  // rays miss the DEM
  AddImage("unset", {});                                                // no orientation yet
  project.fillFootprints = true;

  std::vector<std::pair<int, int>> ranges;
  int lastPos = -1;
  RunContext ctx;
  ctx.progressRange = [&](int lo, int hi) { ranges.emplace_back(lo, hi); };
  ctx.progressPos = [&](int p) { lastPos = p; };
  const FootprintResult r = ComputeFootprints(project, ctx);
  EXPECT_TRUE(r.ran);
  EXPECT_TRUE(r.surfaceBuilt);
  EXPECT_EQ(r.terrainPoints, 40000u);
  EXPECT_EQ(r.polygons, 1);
  EXPECT_EQ(r.withoutPolygon, 1);
  EXPECT_EQ(r.missed.size(), 1u);
  EXPECT_EQ(ranges, (std::vector<std::pair<int, int>>{{0, 8}, {0, 3}}));
  EXPECT_EQ(lastPos, 0);
  EXPECT_DOUBLE_EQ(project.dem.minHeight, 100.0);
  EXPECT_DOUBLE_EQ(project.dem.maxHeight, 100.0);

  ASSERT_EQ(project.footprints.size(), 1u);
  const CadEntity* poly = Polygon("nadir");
  ASSERT_NE(poly, nullptr);
  EXPECT_EQ(poly->layer, "Ortho");
  EXPECT_TRUE(poly->closed);
  EXPECT_TRUE(poly->filled);
  ASSERT_EQ(poly->points.size(), 12u);
  // The ground rectangle: 10 mm x 8 mm at 1:10000 is 100 m x 80 m around the nadir point,
  // north at the top of the image. 1 % of its size is 1 m.
  const std::array<cv::Point2d, 12> expected = {{{950, 1040}, {983.333, 1040}, {1016.667, 1040},
                                                 {1050, 1040}, {1050, 1013.333}, {1050, 986.667},
                                                 {1050, 960}, {1016.667, 960}, {983.333, 960},
                                                 {950, 960}, {950, 986.667}, {950, 1013.333}}};
  for (int i = 0; i < 12; ++i) {
    EXPECT_NEAR(poly->points[i].x, expected[i].x, 1.0) << i;
    EXPECT_NEAR(poly->points[i].y, expected[i].y, 1.0) << i;
  }
  EXPECT_EQ(Polygon("outside"), nullptr);
  EXPECT_EQ(Polygon("unset"), nullptr);
}

TEST_F(FootprintsTest, SlopedTerrainStandsAtPixelCentres) {
  // A 20 % slope rising to the east on 25 m postings: taking samples at pixel corners would lift
  // the terrain by 2.5 m and move the oblique border hits by most of a metre.
  const double a = 0.2, b = 0.0;
  LoadTerrain([&](double x, double) { return a * x + b; }, 25.0);
  project.passport = test::MakePassport(1000, 800, 20.0, 0.01);  // wide angle
  AddImage("slope", {"slope", 2500.0, 2500.0, 1500.0, 0.05, -0.1, 0.3});
  const FootprintResult r = ComputeFootprints(project, {});
  ASSERT_EQ(r.polygons, 1);
  EXPECT_NEAR(project.dem.minHeight, a * 12.5, 1e-3);
  EXPECT_NEAR(project.dem.maxHeight, a * (5000 - 12.5), 1e-3);
  const CadEntity* poly = Polygon("slope");
  ASSERT_NE(poly, nullptr);
  const auto border = FootprintBorderPoints(1000, 800);
  for (int i = 0; i < 12; ++i) {
    const cv::Point2d want = HitOnPlane("slope", border[i], a, b);
    EXPECT_NEAR(poly->points[i].x, want.x, 0.05) << i;
    EXPECT_NEAR(poly->points[i].y, want.y, 0.05) << i;
  }
}

TEST_F(FootprintsTest, AllNoDataDemGivesNoSurfaceAndNoPolygons) {
  LoadTerrain([](double, double) { return -1.0; }, 10.0, -1.0);
  project.passport = test::MakePassport(1000, 800);
  AddImage("a", {"a", 1000.0, 1000.0, 1100.0, 0, 0, 0});
  const FootprintResult r = ComputeFootprints(project, {});
  EXPECT_TRUE(r.ran);
  EXPECT_EQ(r.terrainPoints, 0u);
  EXPECT_FALSE(r.surfaceBuilt);
  EXPECT_EQ(r.polygons, 0);
  EXPECT_TRUE(project.footprints.empty());
  EXPECT_EQ(project.dem.minHeight, std::numeric_limits<double>::max());
  EXPECT_EQ(project.dem.maxHeight, std::numeric_limits<double>::lowest());
  // The DEM painting still works with that empty range (everything takes the first entry).
  EXPECT_FALSE(PaintDem(project, {0, 0, 200, 200}, {0, 0, 200, 200}).bgr.empty());
}

TEST_F(FootprintsTest, WithoutPassportOnlyTheHeightRangeIsMeasured) {
  LoadTerrain([](double x, double) { return x / 10.0; });
  const FootprintResult r = ComputeFootprints(project, {});
  EXPECT_TRUE(r.ran);
  EXPECT_FALSE(r.surfaceBuilt);
  EXPECT_NEAR(project.dem.minHeight, 0.5, 1e-6);
  EXPECT_NEAR(project.dem.maxHeight, 199.5, 1e-6);
}

TEST_F(FootprintsTest, EveryPassReplacesThePolygons) {
  LoadTerrain([](double, double) { return 0.0; });
  project.passport = test::MakePassport(1000, 800);
  AddImage("a", {"a", 1000.0, 1000.0, 1000.0, 0, 0, 0});
  ComputeFootprints(project, {});
  const CadHandle first = project.footprints.at("a");
  EXPECT_FALSE(project.cad.Find(first)->filled);
  project.fillFootprints = true;
  ComputeFootprints(project, {});
  EXPECT_EQ(project.cad.Find(first), nullptr);
  ASSERT_NE(Polygon("a"), nullptr);
  EXPECT_TRUE(Polygon("a")->filled);
  std::size_t polylines = 0;
  for (const auto& e : project.cad.Entities()) polylines += e.kind == CadEntityKind::Polyline;
  EXPECT_EQ(polylines, 1u);  // the old one was purged

  // Without a DEM the pass only erases.
  project.dem.dataset.reset();
  EXPECT_FALSE(ComputeFootprints(project, {}).ran);
  EXPECT_TRUE(project.footprints.empty());
}

TEST_F(FootprintsTest, StopEndsThePassAndKeepsWhatWasThereBefore) {
  LoadTerrain([](double, double) { return 0.0; });
  project.passport = test::MakePassport(1000, 800);
  AddImage("a", {"a", 1000.0, 1000.0, 1000.0, 0, 0, 0});
  ASSERT_EQ(ComputeFootprints(project, {}).polygons, 1);
  const CadHandle before = project.footprints.at("a");
  const auto surface = project.terrain.surface;

  ApplyExtOrientation({"a", 1100.0, 1000.0, 1000.0, 0, 0, 0}, project.orientations.at("a"));
  std::atomic<bool> stop{true};
  std::vector<std::string> log;
  RunContext ctx;
  ctx.abort = &stop;
  ctx.log = [&](const std::string& line) { log.push_back(line); };
  const FootprintResult r = ComputeFootprints(project, ctx);
  EXPECT_TRUE(r.stopped);
  EXPECT_EQ(r.polygons, 0);
  ASSERT_EQ(project.footprints.size(), 1u);
  EXPECT_EQ(project.footprints.at("a"), before);
  EXPECT_NE(project.cad.Find(before), nullptr);
  EXPECT_EQ(project.terrain.surface, surface);
  EXPECT_EQ(log, std::vector<std::string>{"Footprint computation stopped: the footprints drawn before are kept"});
}

TEST(MissedFootprintLines, NameEachImageUpToALimitThenCountAndGiveTheCause) {
  struct Case {
    std::size_t images;
    std::size_t lines;  // named ones, a count line past 20, the cause
    std::string last;   // the line before the cause
  };
  const Case cases[] = {
      {0, 0, ""},
      {1, 2, "No footprint for img_0: its rays miss the terrain"},
      {20, 21, "No footprint for img_19: its rays miss the terrain"},
      {22, 22, "No footprint for 2 more images: their rays miss the terrain"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < c.images; ++i) names.push_back("img_" + std::to_string(i));
    const std::vector<std::string> lines = MissedFootprintLines(names);
    ASSERT_EQ(lines.size(), c.lines) << c.images;
    if (lines.empty()) continue;
    EXPECT_EQ(lines[lines.size() - 2], c.last) << c.images;
    EXPECT_NE(lines.back().find("degrees"), std::string::npos) << c.images;
  }
}

}  // namespace
}  // namespace ortavia
