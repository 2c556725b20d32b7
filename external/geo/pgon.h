#pragma once
// A plain polygon in one plane (here: integer pixel coordinates of the coverage grid).
#include <opencv2/core/types.hpp>
#include <vector>

namespace geo {

class CPgon {
 public:
  CPgon() = default;
  explicit CPgon(std::vector<cv::Point2d> vertices) : vertices_(std::move(vertices)) {}

  void Add(const cv::Point2d& p) { vertices_.push_back(p); }
  const std::vector<cv::Point2d>& Vertices() const { return vertices_; }
  bool Empty() const { return vertices_.empty(); }

  // True when (x, y) lies inside the polygon or on its border (even-odd rule; concave shapes too).
  bool PtInPolygon(double x, double y) const;

 private:
  std::vector<cv::Point2d> vertices_;
};

}  // namespace geo
