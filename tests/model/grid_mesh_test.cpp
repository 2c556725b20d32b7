#include "model/grid_mesh.h"

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace ortavia {
namespace {

// 3 x 3 samples, x east by 1, rows running south by 2.
std::vector<cv::Point3d> ThreeByThree() {
  std::vector<cv::Point3d> p;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) p.emplace_back(10.0 + c, 20.0 - 2.0 * r, 0.0);
  return p;
}

TEST(GridMesh, OnlyACompleteGridInRowOrderIsMeshed) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    std::string change;
    std::function<void(std::vector<cv::Point3d>&)> apply;
    bool meshed;
  };
  const std::vector<Case> cases = {
      {"none", [](auto&) {}, true},
      {"a sample missing", [](auto& p) { p.pop_back(); }, false},
      {"one row", [](auto& p) { p.resize(3); }, false},
      {"a column out of line", [](auto& p) { p[4].x += 0.5; }, false},
      {"a row out of line", [](auto& p) { p[5].y += 0.5; }, false},
      {"x turning back", [](auto& p) { for (int r = 0; r < 3; ++r) p[3 * r + 2].x = 10.5; }, false},
      {"a repeated row", [](auto& p) { for (int c = 0; c < 3; ++c) p[6 + c].y = p[3 + c].y; }, false},
      {"a height not a number", [nan](auto& p) { p[4].z = nan; }, false},
      {"rows running north", [](auto& p) { for (auto& q : p) q.y = 40.0 - q.y; }, true},
  };
  for (const Case& k : cases) {
    auto p = ThreeByThree();
    k.apply(p);
    GridMesh mesh;
    EXPECT_EQ(MeshGrid(p, 15.0, mesh), k.meshed) << k.change;
  }
}

TEST(GridMesh, FacesAndNeighboursOfThreeByThree) {
  const auto p = ThreeByThree();
  GridMesh mesh;
  ASSERT_TRUE(MeshGrid(p, 15.0, mesh));
  ASSERT_EQ(mesh.faces.size(), 8u);
  for (const auto& f : mesh.faces) {  // counter-clockwise, half a cell each
    const cv::Point3d a = p[f[0]], b = p[f[1]], c = p[f[2]];
    EXPECT_DOUBLE_EQ((b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x), 2.0);
  }
  // Rows run south, so the diagonal (least x, most y) - (most x, least y) is (r, c) - (r+1, c+1).
  const auto& nb = mesh.neighbours;
  ASSERT_EQ(nb.offsets.size(), 10u);
  const std::vector<std::uint32_t> centre(nb.adj.begin() + nb.offsets[4], nb.adj.begin() + nb.offsets[5]);
  EXPECT_EQ(centre, (std::vector<std::uint32_t>{0, 1, 3, 5, 7, 8}));
  const std::vector<std::uint32_t> edge(nb.adj.begin() + nb.offsets[1], nb.adj.begin() + nb.offsets[2]);
  EXPECT_EQ(edge, (std::vector<std::uint32_t>{0, 2}));  // slides along the north edge
  for (std::uint32_t corner : {0u, 2u, 6u, 8u}) EXPECT_EQ(nb.offsets[corner + 1], nb.offsets[corner]);
  // A corner turns by 90 degrees: it slides too once the limit is above that.
  ASSERT_TRUE(MeshGrid(p, 95.0, mesh));
  EXPECT_EQ(mesh.neighbours.offsets[1] - mesh.neighbours.offsets[0], 2u);
}

}  // namespace
}  // namespace ortavia
