#include "model/terrain_surface.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <functional>
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "model/run_context.h"

namespace ortavia {
namespace {

// Grid points at pixel centres of a w x h grid of `step` ground units, origin (x0, y0) north-west,
// rows running south.
std::vector<cv::Point3d> Grid(int w, int h, double step, const std::function<double(double, double)>& z,
                              double x0 = 1000.0, double y0 = 5000.0) {
  std::vector<cv::Point3d> pts;
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) {
      const double x = x0 + (c + 0.5) * step, y = y0 - (r + 0.5) * step;
      pts.emplace_back(x, y, z(x, y));
    }
  return pts;
}

TEST(TerrainSurface, SmoothingKeepsAPlaneAndItsOutline) {
  const auto plane = [](double x, double y) { return 0.2 * x - 0.1 * y + 700.0; };
  const auto pts = Grid(40, 30, 10.0, plane);
  const TerrainSurface s = TerrainSurface::Build(pts);
  ASSERT_FALSE(s.Empty());
  EXPECT_EQ(s.VertexCount(), pts.size());
  EXPECT_EQ(s.TriangleCount(), 2u * 39u * 29u);
  for (const auto& v : s.Vertices()) EXPECT_NEAR(v.z, plane(v.x, v.y), 1e-6);
  const geo::GroundBounds b = s.Bounds();
  EXPECT_NEAR(b.minX, 1005.0, 1e-9);
  EXPECT_NEAR(b.maxX, 1395.0, 1e-9);
  EXPECT_NEAR(b.maxY, 4995.0, 1e-9);
  EXPECT_NEAR(b.minY, 4705.0, 1e-9);
  double z = 0.0;
  ASSERT_TRUE(s.HeightAt(1200.0, 4800.0, z));
  EXPECT_NEAR(z, plane(1200.0, 4800.0), 1e-6);
  EXPECT_FALSE(s.HeightAt(900.0, 4800.0, z));  // west of the surface
}

TEST(TerrainSurface, SmoothingFlattensASpikeAndZeroIterationsKeepIt) {
  auto pts = Grid(21, 21, 1.0, [](double, double) { return 0.0; });
  pts[10 * 21 + 10].z = 100.0;
  const cv::Point3d spike = pts[10 * 21 + 10];
  const TerrainSurface raw = TerrainSurface::Build(pts, 0);
  const TerrainSurface smooth = TerrainSurface::Build(pts, 512);
  double zRaw = 0.0, zSmooth = 0.0;
  ASSERT_TRUE(raw.HeightAt(spike.x, spike.y, zRaw));
  ASSERT_TRUE(smooth.HeightAt(spike.x, spike.y, zSmooth));
  EXPECT_NEAR(zRaw, 100.0, 1e-9);
  EXPECT_LT(zSmooth, 50.0);
  EXPECT_GT(zSmooth, 0.0);
  // The mean height is kept while the spike spreads out (only interior vertices took part).
  double before = 0.0, after = 0.0;
  for (const auto& p : pts) before += p.z;
  for (const auto& v : smooth.Vertices()) after += v.z;
  EXPECT_NEAR(after, before, 1.0);
}

TEST(TerrainSurface, FirstHitIsTheOneNearestToTheStart) {
  // A wall 100 high along x = 50 on flat ground: a ray from the west at height 50 going east and
  // slightly down crosses the ground behind the wall too, but hits the wall first.
  const auto pts = Grid(101, 11, 1.0, [](double x, double) {
    return std::abs(x - 1050.5) < 0.6 ? 100.0 : 0.0;
  });
  const TerrainSurface s = TerrainSurface::Build(pts, 0);
  cv::Point3d hit;
  ASSERT_TRUE(s.FirstHit({1010.0, 4995.0, 50.0}, {1200.0, 4995.0, -10.0}, 0.001, hit));
  EXPECT_LT(hit.x, 1051.0);
  EXPECT_GT(hit.x, 1049.0);
  // The reverse direction meets the wall's other face first.
  ASSERT_TRUE(s.FirstHit({1090.0, 4995.0, 50.0}, {900.0, 4995.0, -10.0}, 0.001, hit));
  EXPECT_GT(hit.x, 1050.0);
  EXPECT_LT(hit.x, 1052.0);
}

TEST(TerrainSurface, SegmentEndsAndTolerance) {
  const auto pts = Grid(10, 10, 1.0, [](double, double) { return 10.0; });
  const TerrainSurface s = TerrainSurface::Build(pts);
  cv::Point3d hit;
  const cv::Point3d top(1005.0, 4995.0, 20.0);
  EXPECT_FALSE(s.FirstHit(top, {1005.0, 4995.0, 10.01}, 0.001, hit));  // stops short
  EXPECT_TRUE(s.FirstHit(top, {1005.0, 4995.0, 10.0005}, 0.001, hit));  // within tolerance
  EXPECT_NEAR(hit.z, 10.0, 1e-9);
  EXPECT_TRUE(s.FirstHit(top, {1005.0, 4995.0, 0.0}, 0.001, hit));
  EXPECT_NEAR(hit.x, 1005.0, 1e-9);
  EXPECT_NEAR(hit.y, 4995.0, 1e-9);
  EXPECT_FALSE(s.FirstHit(top, {1005.0, 4995.0, 30.0}, 0.001, hit));   // points away
  EXPECT_FALSE(s.FirstHit({2000, 0, 20}, {2000, 0, -20}, 0.001, hit));  // beside the surface
  EXPECT_FALSE(s.FirstHit(top, top, 0.001, hit));                       // no direction
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(s.FirstHit(top, {nan, 4995.0, 0.0}, 0.001, hit));
}

TEST(TerrainSurface, TooFewOrCollinearPointsGiveAnEmptySurface) {
  cv::Point3d hit;
  EXPECT_TRUE(TerrainSurface::Build({}).Empty());
  EXPECT_TRUE(TerrainSurface::Build({{0, 0, 1}, {1, 0, 1}}).Empty());
  const TerrainSurface line = TerrainSurface::Build({{0, 0, 1}, {1, 1, 1}, {2, 2, 1}, {3, 3, 5}});
  EXPECT_TRUE(line.Empty());
  EXPECT_FALSE(line.FirstHit({1, 1, 10}, {1, 1, -10}, 0.001, hit));
  // Three points that repeat one place in x and y are one vertex.
  EXPECT_TRUE(TerrainSurface::Build({{0, 0, 1}, {0, 0, 2}, {0, 0, 3}}).Empty());
  const TerrainSurface empty;
  EXPECT_TRUE(empty.Empty());
  EXPECT_FALSE(empty.FirstHit({0, 0, 1}, {0, 0, -1}, 0.001, hit));
}

TEST(TerrainSurface, RepeatedAndNonFinitePointsAreLeftOut) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<cv::Point3d> pts = {{0, 0, 1}, {10, 0, 1}, {0, 10, 1}, {10, 10, 1},
                                  {10, 0, 99}, {nan, 3, 1}, {5, 5, nan}};
  const TerrainSurface s = TerrainSurface::Build(pts, 0);
  ASSERT_EQ(s.VertexCount(), 4u);
  for (const auto& v : s.Vertices()) EXPECT_EQ(v.z, 1.0);  // the earlier height wins
  EXPECT_EQ(s.TriangleCount(), 2u);
}

TEST(TerrainSurface, SmoothingDoesNotDependOnThreadsOrChunks) {
  // An irregular cloud with a hole, so that neighbours lie far apart in index order.
  std::vector<cv::Point3d> pts;
  std::uint32_t seed = 12345;
  const auto next = [&] { return (seed = seed * 1664525u + 1013904223u) / 4294967296.0; };
  while (pts.size() < 120000) {
    const double x = 1000.0 * next(), y = 800.0 * next();
    if (std::hypot(x - 500.0, y - 400.0) < 150.0) continue;
    pts.emplace_back(x, y, 50.0 * std::sin(x / 37.0) + 0.1 * y + 20.0 * next());
  }
  // In bands of 10 units, as a DEM grid runs in rows: many chunks, neighbours a band apart.
  std::sort(pts.begin(), pts.end(), [](const cv::Point3d& p, const cv::Point3d& q) {
    const int bp = static_cast<int>(p.y / 10.0), bq = static_cast<int>(q.y / 10.0);
    return bp != bq ? bp < bq : p.x < q.x;
  });
  // A grid too, whose inner vertices are smoothed two at a time where the processor allows: chunks
  // of odd sizes pair them differently.
  const auto grid = Grid(301, 199, 2.0, [](double x, double y) {
    return 30.0 * std::sin(x / 7.0) + ((static_cast<int>(x) * 13 + static_cast<int>(y) * 7) % 5);
  });
  TerrainSurfaceOptions plain;  // one thread, one chunk: iteration after iteration
  plain.threads = 1;
  plain.chunkVertices = pts.size() * 40;
  plain.smoothingIterations = 37;  // also a sweep shorter than the others
  TerrainSurfaceOptions split = plain;
  split.threads = 2;
  split.chunkVertices = 1000;
  TerrainSurfaceOptions gridSplit = split;
  gridSplit.chunkVertices = 999;
  const auto g1 = TerrainSurface::Build(grid, plain).Vertices();
  const auto g2 = TerrainSurface::Build(grid, gridSplit).Vertices();
  ASSERT_EQ(g1.size(), grid.size());
  EXPECT_EQ(g1, g2);
  EXPECT_NE(g1, grid);
  const TerrainSurface one = TerrainSurface::Build(pts, plain);
  const TerrainSurface two = TerrainSurface::Build(pts, split);
  const auto a = one.Vertices();
  const auto b = two.Vertices();
  // The intersection trees (built in halves side by side for the large one) agree as well.
  int hits = 0;
  for (int i = 0; i < 50; ++i) {
    const cv::Point3d from(1000.0 * next(), 800.0 * next(), 500.0);
    const cv::Point3d to = from + cv::Point3d(200.0 * next() - 100.0, 200.0 * next() - 100.0, -900.0);
    cv::Point3d h1, h2;
    const bool hit1 = one.FirstHit(from, to, 0.001, h1);
    ASSERT_EQ(hit1, two.FirstHit(from, to, 0.001, h2)) << i;
    if (hit1) {
      EXPECT_EQ(h1, h2) << i;
      ++hits;
    }
  }
  EXPECT_GT(hits, 25);
  ASSERT_EQ(a.size(), b.size());
  std::size_t differing = 0;
  for (std::size_t i = 0; i < a.size(); ++i) differing += a[i] != b[i];
  EXPECT_EQ(differing, 0u);
  std::size_t moved = 0;
  for (std::size_t i = 0; i < a.size(); ++i) moved += a[i] != pts[i];
  EXPECT_GT(moved, a.size() / 2);
}

// The same points in a scrambled order: no longer a grid in row order, so triangulated as any
// cloud. Returns the order taken: scrambled[i] is points[order[i]].
std::vector<cv::Point3d> Scrambled(const std::vector<cv::Point3d>& points, std::vector<std::size_t>& order) {
  order.resize(points.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = (i * 7919) % order.size();
  std::vector<cv::Point3d> out;
  for (std::size_t i : order) out.push_back(points[i]);
  return out;
}

TEST(TerrainSurface, GridCellsTakeThePerturbedDelaunayDiagonal) {
  // A saddle z = (x - x0) * (y - y0) has a different height on either diagonal of a cell. Of a
  // cell's four co-circular corners, the diagonal joins the two that are neither the smallest nor
  // the largest in x, then y: (least x, most y) to (most x, least y), whichever way the rows run.
  struct Case { int xStep, yStep; };
  for (const Case k : {Case{1, -1}, Case{1, 1}, Case{-1, -1}, Case{-1, 1}}) {
    std::vector<cv::Point3d> pts;
    const int n = 7;
    for (int r = 0; r < n; ++r)
      for (int c = 0; c < n; ++c) {
        const double u = k.xStep > 0 ? c : n - 1 - c, v = k.yStep > 0 ? r : n - 1 - r;
        pts.emplace_back(300.0 + 2.0 * u, 900.0 + 3.0 * v, u * v);
      }
    std::vector<std::size_t> order;
    const TerrainSurface grid = TerrainSurface::Build(pts, 0);
    const TerrainSurface cloud = TerrainSurface::Build(Scrambled(pts, order), 0);
    // Points of cell (2..3, 4..5) in units of the grid step, on both sides of either diagonal.
    for (const cv::Point2d f : {cv::Point2d(0.2, 0.3), cv::Point2d(0.8, 0.6), cv::Point2d(0.7, 0.1),
                                cv::Point2d(0.1, 0.8)}) {
      const double u = 2.0 + f.x, v = 4.0 + f.y;
      // Plane through (2,4,8) (3,4,12) (2,5,10) below the diagonal u + v = 7, through
      // (3,5,15) (2,5,10) (3,4,12) above it.
      const double expected = f.x + f.y < 1.0 ? 8.0 + 4.0 * f.x + 2.0 * f.y
                                              : 15.0 - 5.0 * (1.0 - f.x) - 3.0 * (1.0 - f.y);
      double zGrid = 0.0, zCloud = 0.0;
      ASSERT_TRUE(grid.HeightAt(300.0 + 2.0 * u, 900.0 + 3.0 * v, zGrid));
      ASSERT_TRUE(cloud.HeightAt(300.0 + 2.0 * u, 900.0 + 3.0 * v, zCloud));
      EXPECT_NEAR(zGrid, expected, 1e-9) << k.xStep << " " << k.yStep << " " << f.x << " " << f.y;
      EXPECT_NEAR(zCloud, expected, 1e-9) << k.xStep << " " << k.yStep << " " << f.x << " " << f.y;
    }
    EXPECT_EQ(grid.TriangleCount(), cloud.TriangleCount());
  }
}

TEST(TerrainSurface, GridAndCloudSmoothAlike) {
  // The same neighbours smoothed: only the order of each vertex's sum differs.
  const auto pts = Grid(60, 45, 5.0, [](double x, double y) {
    return 400.0 + 30.0 * std::sin(x / 40.0) * std::cos(y / 55.0) + ((int(x) * 31 + int(y)) % 7);
  });
  std::vector<std::size_t> order;
  const auto a = TerrainSurface::Build(pts).Vertices();
  const auto b = TerrainSurface::Build(Scrambled(pts, order)).Vertices();
  ASSERT_EQ(a.size(), pts.size());
  ASSERT_EQ(b.size(), pts.size());
  double worst = 0.0, moved = 0.0;
  for (std::size_t i = 0; i < b.size(); ++i) {
    const cv::Point3d d = b[i] - a[order[i]];
    worst = std::max({worst, std::abs(d.x), std::abs(d.y), std::abs(d.z)});
    moved = std::max(moved, std::abs(a[order[i]].z - pts[order[i]].z));
  }
  EXPECT_LT(worst, 1e-9);
  EXPECT_GT(moved, 1.0);
}

TEST(TerrainSurface, StopEndsTheBuildWithAnEmptySurface) {
  const auto pts = Grid(30, 30, 1.0, [](double x, double) { return x; });
  std::atomic<bool> stop{true};
  int pumps = 0;
  RunContext ctx;
  ctx.abort = &stop;
  ctx.pump = [&] { ++pumps; };
  EXPECT_TRUE(TerrainSurface::Build(pts, {}, &ctx).Empty());
  EXPECT_GE(pumps, 1);
  stop = false;
  pumps = 0;
  EXPECT_FALSE(TerrainSurface::Build(pts, {}, &ctx).Empty());
  // Once a smoothing sweep, and at least once after the mesh and after the search trees.
  EXPECT_GE(pumps, 512 / 16 + 2);
}

// With a window to keep alive the mesh and the trees are built on a thread of their own: the
// surface is the same, vertex for vertex and hit for hit, for a grid and for a scattered cloud.
TEST(TerrainSurface, BuiltWhilePumpingIsTheSameSurface) {
  std::uint32_t seed = 777;
  const auto next = [&] { return (seed = seed * 1664525u + 1013904223u) / 4294967296.0; };
  std::vector<cv::Point3d> cloud;
  while (cloud.size() < 60000) {
    const double x = 1000.0 * next(), y = 800.0 * next();
    cloud.emplace_back(x, y, 40.0 * std::sin(x / 53.0) + 0.2 * y);
  }
  const auto grid = Grid(200, 150, 5.0, [](double x, double y) { return 0.01 * x * y / 100.0 + std::cos(y / 40.0); });
  for (const std::vector<cv::Point3d>* pts : std::array<const std::vector<cv::Point3d>*, 2>{&cloud, &grid}) {
    TerrainSurfaceOptions options;
    options.smoothingIterations = 20;
    int pumps = 0;
    RunContext ctx;
    ctx.pump = [&] { ++pumps; };
    const TerrainSurface here = TerrainSurface::Build(*pts, options);
    const TerrainSurface pumped = TerrainSurface::Build(*pts, options, &ctx);
    EXPECT_GE(pumps, 2 + 1);
    ASSERT_EQ(here.TriangleCount(), pumped.TriangleCount());
    EXPECT_EQ(here.Vertices(), pumped.Vertices());
    const geo::GroundBounds b = here.Bounds();
    int hits = 0;
    for (int i = 0; i < 40; ++i) {
      const cv::Point3d from(b.minX + (b.maxX - b.minX) * next(), b.minY + (b.maxY - b.minY) * next(), 5000.0);
      const cv::Point3d to = from + cv::Point3d(60.0 * next() - 30.0, 60.0 * next() - 30.0, -10000.0);
      cv::Point3d h1, h2;
      const bool hit = here.FirstHit(from, to, 0.001, h1);
      ASSERT_EQ(hit, pumped.FirstHit(from, to, 0.001, h2)) << i;
      if (hit) EXPECT_EQ(h1, h2) << i;
      hits += hit;
    }
    EXPECT_GT(hits, 30);
  }
}

}  // namespace
}  // namespace ortavia
