#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <opencv2/core.hpp>
#include <random>

#include "external/geo/pgon.h"
#include "external/geo/voronoi.h"

namespace {

// The plain definition: every cell against every seed, first of equals wins.
cv::Mat BruteForceVoronoi(const geo::GroundBounds& b, double cell,
                          const std::vector<cv::Point3d>& seeds) {
  const int w = static_cast<int>(std::nearbyint((b.maxX - b.minX) / cell));
  const int h = static_cast<int>(std::nearbyint((b.maxY - b.minY) / cell));
  cv::Mat map(h, w, CV_8UC3, cv::Scalar::all(255));
  for (int j = 0; j < h; ++j)
    for (int i = 0; i < w; ++i) {
      const double cx = b.minX + (i + 0.5) * cell;
      const double cy = b.maxY - (j + 0.5) * cell;
      double best = std::numeric_limits<double>::infinity();
      int k = -1;
      for (int s = 0; s < static_cast<int>(seeds.size()); ++s) {
        const double dx = cx - seeds[s].x, dy = cy - seeds[s].y;
        const double d = dx * dx + dy * dy;
        if (d < best) best = d, k = s;
      }
      if (k >= 0) {
        const int code = static_cast<int>(seeds[k].z);
        map.at<cv::Vec3b>(j, i) = cv::Vec3b(code & 255, (code >> 8) & 255, (code >> 16) & 255);
      }
    }
  return map;
}

int Differences(const cv::Mat& a, const cv::Mat& b) {
  if (a.size() != b.size() || a.type() != b.type()) return -1;
  cv::Mat diff;
  cv::compare(a.reshape(1), b.reshape(1), diff, cv::CMP_NE);
  return cv::countNonZero(diff);
}

TEST(BuildVoronoiMap, AgreesWithBruteForceOnRandomSeeds) {
  std::mt19937 rng(2024);
  for (int round = 0; round < 12; ++round) {
    const geo::GroundBounds b{500000.0, 500000.0 + 731.0, 4200000.0, 4200000.0 + 517.0, 0, 100};
    const double cell = round % 3 == 0 ? 1.0 : 2.37;
    std::uniform_real_distribution<double> x(b.minX - 100, b.maxX + 100), y(b.minY - 100, b.maxY + 100);
    const int n = round < 6 ? 1 + round * 7 : 100 + round * 30;
    std::vector<cv::Point3d> seeds;
    for (int k = 0; k < n; ++k) seeds.emplace_back(x(rng), y(rng), static_cast<double>(k * 37));
    const cv::Mat got = geo::BuildVoronoiMap(b, cell, seeds);
    ASSERT_EQ(got.type(), CV_8UC3);
    EXPECT_EQ(Differences(got, BruteForceVoronoi(b, cell, seeds)), 0) << "round " << round;
  }
}

TEST(BuildVoronoiMap, TiesGoToTheFirstSeed) {
  // Seeds on a lattice of whole ground units, cells of 1 centred on halves: many cells are
  // exactly equidistant from two or four seeds; duplicates with other codes must never win.
  const geo::GroundBounds b{0, 64, 0, 48, 0, 0};
  std::vector<cv::Point3d> seeds;
  for (int y = 0; y <= 48; y += 3)
    for (int x = 0; x <= 64; x += 5) seeds.emplace_back(x, y, seeds.size());
  const std::size_t firsts = seeds.size();
  for (std::size_t k = 0; k < firsts; k += 2) seeds.emplace_back(seeds[k].x, seeds[k].y, 70000 + k);
  const cv::Mat got = geo::BuildVoronoiMap(b, 1.0, seeds);
  EXPECT_EQ(Differences(got, BruteForceVoronoi(b, 1.0, seeds)), 0);
  // The cell centred on (2.5, 47.5) is as near to the seed at (0, 48), number 208, as to the
  // one at (5, 48), number 209, and to the duplicate of 208: the first wins.
  EXPECT_EQ(got.at<cv::Vec3b>(0, 2), cv::Vec3b(208, 0, 0));
}

TEST(BuildVoronoiMap, SizeCodesAndEmptyCases) {
  const std::vector<cv::Point3d> one{{5, 5, 300}};
  // 10.5 and 11.5 cells round to the even neighbours 10 and 12.
  const cv::Mat m = geo::BuildVoronoiMap({0, 10.5, 0, 11.5, 0, 0}, 1.0, one);
  EXPECT_EQ(m.cols, 10);
  EXPECT_EQ(m.rows, 12);
  EXPECT_EQ(m.at<cv::Vec3b>(3, 4), cv::Vec3b(44, 1, 0));  // 300 = 1 * 256 + 44
  const cv::Mat big = geo::BuildVoronoiMap({0, 4, 0, 4, 0, 0}, 1.0, {{1, 1, 0x123456}});
  EXPECT_EQ(big.at<cv::Vec3b>(0, 0), cv::Vec3b(0x56, 0x34, 0x12));

  const cv::Mat none = geo::BuildVoronoiMap({0, 4, 0, 3, 0, 0}, 1.0, {});
  ASSERT_EQ(none.size(), cv::Size(4, 3));
  EXPECT_EQ(cv::countNonZero(none.reshape(1) != 255), 0);
  const cv::Mat nanSeed = geo::BuildVoronoiMap(
      {0, 4, 0, 3, 0, 0}, 1.0, {{NAN, 1, 3}, {1, 1, INFINITY}, {1, 1, 1e12}, {1, 1, 2}});
  EXPECT_EQ(nanSeed.at<cv::Vec3b>(0, 3), cv::Vec3b(2, 0, 0));

  EXPECT_TRUE(geo::BuildVoronoiMap({0, 4, 0, 4, 0, 0}, 0.0, one).empty());
  EXPECT_TRUE(geo::BuildVoronoiMap({0, 4, 0, 4, 0, 0}, -1.0, one).empty());
  EXPECT_TRUE(geo::BuildVoronoiMap({0, 4, 0, 4, 0, 0}, NAN, one).empty());
  EXPECT_TRUE(geo::BuildVoronoiMap({0, 0.2, 0, 4, 0, 0}, 1.0, one).empty());
  EXPECT_TRUE(geo::BuildVoronoiMap({4, 0, 0, 4, 0, 0}, 1.0, one).empty());
  EXPECT_TRUE(geo::BuildVoronoiMap({0, 1e9, 0, 1e9, 0, 0}, 1.0, one).empty());
}

TEST(CPgon, ConvexPolygonInsideBorderOutside) {
  const geo::CPgon square({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
  EXPECT_TRUE(square.PtInPolygon(5, 5));
  EXPECT_TRUE(square.PtInPolygon(0, 0));    // vertex
  EXPECT_TRUE(square.PtInPolygon(10, 4));   // right edge
  EXPECT_TRUE(square.PtInPolygon(3, 10));   // top edge
  EXPECT_TRUE(square.PtInPolygon(0, 7.5));  // left edge
  EXPECT_FALSE(square.PtInPolygon(10.001, 5));
  EXPECT_FALSE(square.PtInPolygon(-1, 5));
  EXPECT_FALSE(square.PtInPolygon(5, 11));
  EXPECT_FALSE(square.PtInPolygon(11, 11));
  const geo::CPgon triangle({{0, 0}, {8, 0}, {4, 6}});
  EXPECT_TRUE(triangle.PtInPolygon(4, 3));
  EXPECT_TRUE(triangle.PtInPolygon(2, 3));  // on the slanted edge
  EXPECT_FALSE(triangle.PtInPolygon(1, 3));
  EXPECT_FALSE(triangle.PtInPolygon(4, 6.5));
}

TEST(CPgon, ConcavePolygonAndItsNotch) {
  // A "U": the notch between the arms is outside.
  const geo::CPgon u({{0, 0}, {9, 0}, {9, 9}, {6, 9}, {6, 3}, {3, 3}, {3, 9}, {0, 9}});
  EXPECT_TRUE(u.PtInPolygon(1, 8));
  EXPECT_TRUE(u.PtInPolygon(8, 8));
  EXPECT_TRUE(u.PtInPolygon(4.5, 1));
  EXPECT_FALSE(u.PtInPolygon(4.5, 6));
  EXPECT_TRUE(u.PtInPolygon(4.5, 3));  // bottom of the notch is border
  EXPECT_TRUE(u.PtInPolygon(3, 6));    // inner wall
  EXPECT_FALSE(u.PtInPolygon(4.5, 9)); // across the notch's opening
  // Rays through vertices do not double count: level with the arm tops and notch floor.
  EXPECT_FALSE(u.PtInPolygon(-1, 9));
  EXPECT_FALSE(u.PtInPolygon(-1, 3));
  EXPECT_TRUE(u.PtInPolygon(1, 3));
  EXPECT_FALSE(u.PtInPolygon(10, 3));
  // Clockwise order gives the same answers.
  std::vector<cv::Point2d> reversed(u.Vertices().rbegin(), u.Vertices().rend());
  const geo::CPgon r(reversed);
  for (double y = -0.5; y <= 9.5; y += 0.5)
    for (double x = -0.5; x <= 9.5; x += 0.5) EXPECT_EQ(r.PtInPolygon(x, y), u.PtInPolygon(x, y));
}

TEST(CPgon, DegeneratePolygons) {
  EXPECT_FALSE(geo::CPgon().PtInPolygon(0, 0));
  geo::CPgon point;
  point.Add({2, 3});
  EXPECT_TRUE(point.PtInPolygon(2, 3));
  EXPECT_FALSE(point.PtInPolygon(2, 4));
  const geo::CPgon segment({{0, 0}, {4, 4}});
  EXPECT_TRUE(segment.PtInPolygon(2, 2));
  EXPECT_FALSE(segment.PtInPolygon(2, 3));
}

}  // namespace
