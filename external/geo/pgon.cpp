#include "external/geo/pgon.h"

#include <algorithm>
#include <cmath>

namespace geo {
namespace {

// On the segment a-b, allowing for the rounding of the cross product.
bool OnSegment(const cv::Point2d& a, const cv::Point2d& b, double x, double y) {
  if (x < std::min(a.x, b.x) || x > std::max(a.x, b.x) || y < std::min(a.y, b.y) ||
      y > std::max(a.y, b.y))
    return false;
  const double cross = (b.x - a.x) * (y - a.y) - (b.y - a.y) * (x - a.x);
  const double scale = std::abs(b.x - a.x) + std::abs(b.y - a.y);
  return std::abs(cross) <= 1e-12 * scale * (scale + std::abs(x) + std::abs(y));
}

}  // namespace

// (x, y) in the polygon's own coordinates (here: coverage-grid column and row).
bool CPgon::PtInPolygon(double x, double y) const {
  const std::size_t n = vertices_.size();
  if (n == 0) return false;
  if (n == 1) return vertices_[0].x == x && vertices_[0].y == y;
  bool inside = false;
  for (std::size_t i = 0, j = n - 1; i < n; j = i++) {
    const cv::Point2d& a = vertices_[i];
    const cv::Point2d& b = vertices_[j];
    if (OnSegment(a, b, x, y)) return true;
    // Even-odd rule: count the edges crossing the horizontal ray to the right of the point.
    if ((a.y > y) != (b.y > y) && x < (b.x - a.x) * (y - a.y) / (b.y - a.y) + a.x) inside = !inside;
  }
  return inside;
}

}  // namespace geo
