#include "model/grid_mesh.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <cstddef>
#include <limits>

namespace ortavia {
namespace {

struct GridShape {
  std::size_t rows = 0, cols = 0;
  bool mainDiagonal = false;  // cells split from (r, c) to (r + 1, c + 1)
};

int Sign(double d) { return d > 0 ? 1 : (d < 0 ? -1 : 0); }

bool ShapeOf(const std::vector<cv::Point3d>& p, GridShape& g) {
  const std::size_t n = p.size();
  if (n < 4 || n >= std::numeric_limits<std::uint32_t>::max()) return false;
  std::size_t cols = 1;
  while (cols < n && p[cols].y == p[0].y) ++cols;
  if (cols < 2 || n % cols != 0 || n / cols < 2) return false;
  const int sx = Sign(p[1].x - p[0].x), sy = Sign(p[cols].y - p[0].y);
  if (sx == 0 || sy == 0) return false;
  for (std::size_t c = 1; c < cols; ++c)
    if (Sign(p[c].x - p[c - 1].x) != sx) return false;
  for (std::size_t r = 1; r < n / cols; ++r)
    if (Sign(p[r * cols].y - p[(r - 1) * cols].y) != sy) return false;
  for (std::size_t i = 0; i < n; ++i) {
    const cv::Point3d& q = p[i];
    if (q.x != p[i % cols].x || q.y != p[i - i % cols].y || !std::isfinite(q.x) ||
        !std::isfinite(q.y) || !std::isfinite(q.z))
      return false;
  }
  g.rows = n / cols;
  g.cols = cols;
  // The four corners of a cell are co-circular. The perturbed Delaunay test keeps the diagonal
  // between the corners of least x with most y and most x with least y.
  g.mainDiagonal = sx * sy < 0;
  return true;
}

std::array<std::uint32_t, 3> Ccw(const std::vector<cv::Point3d>& p, std::uint32_t a,
                                 std::uint32_t b, std::uint32_t c) {
  const double cross = (p[b].x - p[a].x) * (p[c].y - p[a].y) - (p[b].y - p[a].y) * (p[c].x - p[a].x);
  return cross > 0 ? std::array<std::uint32_t, 3>{a, b, c} : std::array<std::uint32_t, 3>{a, c, b};
}

void AddFaces(const std::vector<cv::Point3d>& p, const GridShape& g, GridMesh& mesh) {
  mesh.faces.reserve(2 * (g.rows - 1) * (g.cols - 1));
  for (std::size_t r = 0; r + 1 < g.rows; ++r)
    for (std::size_t c = 0; c + 1 < g.cols; ++c) {
      const auto v00 = static_cast<std::uint32_t>(r * g.cols + c);
      const auto v01 = v00 + 1;
      const auto v10 = static_cast<std::uint32_t>(v00 + g.cols);
      const auto v11 = v10 + 1;
      if (g.mainDiagonal) {
        mesh.faces.push_back(Ccw(p, v00, v01, v11));
        mesh.faces.push_back(Ccw(p, v00, v11, v10));
      } else {
        mesh.faces.push_back(Ccw(p, v00, v01, v10));
        mesh.faces.push_back(Ccw(p, v01, v11, v10));
      }
    }
}

void AddNeighbours(const std::vector<cv::Point3d>& p, const GridShape& g, double cosLimit,
                   GridMesh& mesh) {
  MeshAdjacency& nb = mesh.neighbours;
  const std::size_t n = p.size(), w = g.cols, lastRow = g.rows - 1, lastCol = g.cols - 1;
  nb.offsets.assign(n + 1, 0);
  nb.adj.reserve(6 * n);
  const std::ptrdiff_t sw = static_cast<std::ptrdiff_t>(w);
  const std::ptrdiff_t inner[2][6] = {{-sw, -sw + 1, -1, 1, sw - 1, sw},
                                      {-sw - 1, -sw, -1, 1, sw, sw + 1}};
  const auto& steps = inner[g.mainDiagonal ? 1 : 0];
  std::copy(std::begin(steps), std::end(steps), mesh.innerSteps.begin());
  for (std::size_t v = 0; v < n; ++v) {
    const std::size_t r = v / w, c = v % w;
    const bool top = r == 0, bottom = r == lastRow, left = c == 0, right = c == lastCol;
    if (!top && !bottom && !left && !right) {
      for (std::ptrdiff_t s : steps) nb.adj.push_back(static_cast<std::uint32_t>(v + s));
    } else {
      // The two boundary neighbours: along the row on a top or bottom edge, along the column on a
      // side; a corner has one of each.
      const std::size_t inward = top ? v + w : v - w;
      const std::size_t a = (top || bottom) ? (left ? inward : v - 1) : v - w;
      const std::size_t b = (top || bottom) ? (right ? inward : v + 1) : v + w;
      if (BoundaryRunsStraight(p[a], p[v], p[b], cosLimit)) {
        nb.adj.push_back(static_cast<std::uint32_t>(a));
        nb.adj.push_back(static_cast<std::uint32_t>(b));
      }
    }
    nb.offsets[v + 1] = static_cast<std::uint32_t>(nb.adj.size());
  }
}

}  // namespace

bool BoundaryRunsStraight(const cv::Point3d& a, const cv::Point3d& p, const cv::Point3d& c,
                          double cosLimit) {
  const double ux = p.x - a.x, uy = p.y - a.y, wx = c.x - p.x, wy = c.y - p.y;
  const double lu = std::hypot(ux, uy), lw = std::hypot(wx, wy);
  return lu > 0 && lw > 0 && (ux * wx + uy * wy) / (lu * lw) >= cosLimit;
}

bool MeshGrid(const std::vector<cv::Point3d>& points, double boundaryEdgeAngleDeg, GridMesh& mesh) {
  GridShape g;
  if (!ShapeOf(points, g)) return false;
  mesh = {};
  AddFaces(points, g, mesh);
  AddNeighbours(points, g, std::cos(boundaryEdgeAngleDeg * CV_PI / 180.0), mesh);
  mesh.rows = g.rows;
  mesh.cols = g.cols;
  return true;
}

}  // namespace ortavia
