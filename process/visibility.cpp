#include "process/visibility.h"

#include <algorithm>
#include <cfloat>
#include <atomic>
#include <cmath>
#include <cstring>

#include <opencv2/core/utility.hpp>

#include "model/project.h"

namespace ortavia {
namespace {

constexpr double kNoHeightD = kNoHeight;
constexpr float kNothing = -FLT_MAX;  // a patch that hides nothing
// Moves a position just past the cell boundary it lies on, in sample units.
constexpr double kNudge = 1e-7;

// Level 0: the highest corner of each patch whose four corners all have a height.
cv::Mat PatchMaxima(const cv::Mat& h) {
  cv::Mat out(std::max(h.rows - 1, 0), std::max(h.cols - 1, 0), CV_32F);
  for (int j = 0; j < out.rows; ++j) {
    const float* a = h.ptr<float>(j);
    const float* b = h.ptr<float>(j + 1);
    float* o = out.ptr<float>(j);
    for (int i = 0; i < out.cols; ++i) {
      const float c[4] = {a[i], a[i + 1], b[i], b[i + 1]};
      const bool hole = c[0] == kNoHeight || c[1] == kNoHeight || c[2] == kNoHeight ||
                        c[3] == kNoHeight;
      o[i] = hole ? kNothing : std::max(std::max(c[0], c[1]), std::max(c[2], c[3]));
    }
  }
  return out;
}

cv::Mat HalfMaxima(const cv::Mat& m) {
  cv::Mat out((m.rows + 1) / 2, (m.cols + 1) / 2, CV_32F);
  for (int j = 0; j < out.rows; ++j) {
    const float* a = m.ptr<float>(2 * j);
    const float* b = 2 * j + 1 < m.rows ? m.ptr<float>(2 * j + 1) : a;
    float* o = out.ptr<float>(j);
    for (int i = 0; i < out.cols; ++i) {
      const int i1 = std::min(2 * i + 1, m.cols - 1);
      o[i] = std::max(std::max(a[2 * i], a[i1]), std::max(b[2 * i], b[i1]));
    }
  }
  return out;
}

}  // namespace

SurfaceVisibility::SurfaceVisibility(const cv::Mat& heights, const DemGeoTransform& transform)
    : heights_(heights), transform_(transform) {
  const GeoTransform& g = transform.Coefficients();
  tolerance_ = 0.1 * std::sqrt(std::abs(g[1] * g[5] - g[2] * g[4]));
  if (heights.type() != CV_32F || heights.rows < 2 || heights.cols < 2) return;
  levels_.push_back(PatchMaxima(heights));
  while (levels_.back().rows > 1 || levels_.back().cols > 1)
    levels_.push_back(HalfMaxima(levels_.back()));
  top_ = levels_.back().at<float>(0, 0);
}

double SurfaceVisibility::HeightAt(double col, double row) const {
  if (levels_.empty() || !(col >= 0.0) || !(row >= 0.0) || col > heights_.cols - 1 ||
      row > heights_.rows - 1)
    return kNoHeightD;
  const int i = std::min(static_cast<int>(col), heights_.cols - 2);
  const int j = std::min(static_cast<int>(row), heights_.rows - 2);
  const float* a = heights_.ptr<float>(j);
  const float* b = heights_.ptr<float>(j + 1);
  if (a[i] == kNoHeight || a[i + 1] == kNoHeight || b[i] == kNoHeight || b[i + 1] == kNoHeight)
    return kNoHeightD;
  const double fx = col - i, fy = row - j;
  return (a[i] * (1 - fx) + a[i + 1] * fx) * (1 - fy) + (b[i] * (1 - fx) + b[i + 1] * fx) * fy;
}

// Whether the surface of patch (i, j) rises above the line by more than the tolerance between
// s1 and s2: along the line the bilinear surface is a quadratic in s.
bool SurfaceVisibility::PatchHides(int i, int j, const cv::Point2d& p0, const cv::Point2d& u,
                                   double z0, double slope, double s1, double s2) const {
  const float* a = heights_.ptr<float>(j);
  const float* b = heights_.ptr<float>(j + 1);
  const double e = a[i], fa = a[i + 1] - a[i], fb = b[i] - a[i];
  const double fab = a[i] - a[i + 1] - b[i] + b[i + 1];
  const double a1 = p0.x + u.x * s1 - i, b1 = p0.y + u.y * s1 - j;
  const double g0 = e + fa * a1 + fb * b1 + fab * a1 * b1 - (z0 + slope * s1) - tolerance_;
  const double lin = fa * u.x + fb * u.y + fab * (a1 * u.y + b1 * u.x) - slope;
  const double quad = fab * u.x * u.y;
  const double t = s2 - s1;
  if (g0 > 0.0 || g0 + lin * t + quad * t * t > 0.0) return true;
  if (quad >= 0.0) return false;
  const double tm = -lin / (2.0 * quad);
  return tm > 0.0 && tm < t && g0 + lin * tm + quad * tm * tm > 0.0;
}

bool SurfaceVisibility::Sees(double x, double y, const cv::Point3d& centre) const {
  const cv::Point2d p0 = transform_.GroundToSample(x, y);
  const double z0 = HeightAt(p0.x, p0.y);
  if (z0 == kNoHeightD) return true;
  if (!(centre.z > z0)) return false;
  const cv::Point2d d = transform_.GroundToSample(centre.x, centre.y) - p0;
  const double length = std::hypot(d.x, d.y);
  if (!(length > 1e-9)) return true;
  const cv::Point2d u = d / length;
  const double slope = (centre.z - z0) / length;
  const double end = std::min(length, (top_ + tolerance_ - z0) / slope);
  const int topLevel = static_cast<int>(levels_.size()) - 1;
  int k = 0;
  double s = 0.0;
  while (s < end) {
    const cv::Mat& level = levels_[k];
    const double side = static_cast<double>(1 << k);
    const double px = p0.x + (s + kNudge) * u.x, py = p0.y + (s + kNudge) * u.y;
    if (!(px >= 0.0) || !(py >= 0.0)) return true;
    const int i = static_cast<int>(px / side), j = static_cast<int>(py / side);
    if (i >= level.cols || j >= level.rows) return true;
    const double tx = u.x > 0.0 ? ((i + 1) * side - p0.x) / u.x
                      : u.x < 0.0 ? (i * side - p0.x) / u.x : HUGE_VAL;
    const double ty = u.y > 0.0 ? ((j + 1) * side - p0.y) / u.y
                      : u.y < 0.0 ? (j * side - p0.y) / u.y : HUGE_VAL;
    const double exit = std::max(std::min(tx, ty), s + kNudge);
    // The line rises, so its lowest point in the cell is where it enters.
    if (level.at<float>(j, i) <= z0 + slope * s + tolerance_) {
      s = exit;
      k = std::min(k + 1, topLevel);
      continue;
    }
    if (k > 0) {
      --k;
      continue;
    }
    if (PatchHides(i, j, p0, u, z0, slope, s, std::min(exit, end))) return false;
    s = exit;
    k = std::min(1, topLevel);
  }
  return true;
}

cv::Mat VisibleMask(const SurfaceVisibility& surface, const cv::Point3d& centre, double originX,
                    double originY, double gsd, int x0, int y0, int cols, int rows) {
  cv::Mat mask(rows, cols, CV_8UC1);
  cv::parallel_for_(cv::Range(0, rows), [&](const cv::Range& range) {
    for (int r = range.start; r < range.end; ++r) {
      uchar* out = mask.ptr<uchar>(r);
      const double y = originY - (y0 + r) * gsd;
      for (int c = 0; c < cols; ++c)
        out[c] = surface.Sees(originX + (x0 + c) * gsd, y, centre) ? 255 : 0;
    }
  });
  return mask;
}

long long HideUnseenPixels(const SurfaceVisibility& surface, const cv::Point3d& centre,
                           const GroundGrid& grid, int gx0, int gy0, cv::Mat& block,
                           cv::Mat& alphaBlock, cv::Mat& written) {
  std::atomic<long long> hidden{0};
  cv::parallel_for_(cv::Range(0, written.rows), [&](const cv::Range& range) {
    long long n = 0;
    for (int r = range.start; r < range.end; ++r) {
      uchar* wrote = written.ptr<uchar>(r);
      for (int c = 0; c < written.cols; ++c) {
        if (!wrote[c]) continue;
        const cv::Point2d g = grid.At(gx0 + c, gy0 + r);
        if (surface.Sees(g.x, g.y, centre)) continue;
        wrote[c] = 0;
        std::memset(block.ptr(r) + c * block.elemSize(), 0, block.elemSize());
        if (!alphaBlock.empty())
          std::memset(alphaBlock.ptr(r) + c * alphaBlock.elemSize(), 0, alphaBlock.elemSize());
        ++n;
      }
    }
    hidden += n;
  });
  return hidden;
}

}  // namespace ortavia
