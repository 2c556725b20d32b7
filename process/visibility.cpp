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

// Level 0: each sample's height over its pixel's square; nothing over a hole.
cv::Mat CellHeights(const cv::Mat& h) {
  cv::Mat out(h.size(), CV_32F);
  for (int r = 0; r < h.rows; ++r) {
    const float* in = h.ptr<float>(r);
    float* o = out.ptr<float>(r);
    for (int c = 0; c < h.cols; ++c) o[c] = in[c] == kNoHeight ? kNothing : in[c];
  }
  return out;
}

// Where the line p + t d leaves the pixel or block [i side, (i + 1) side) along one axis.
inline double AxisExit(double p, double d, double inv, int i, double side) {
  if (d > 0.0) return ((i + 1) * side - p) * inv;
  if (d < 0.0) return (i * side - p) * inv;
  return HUGE_VAL;
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
  tolerance_ = 0.5 * std::sqrt(std::abs(g[1] * g[5] - g[2] * g[4]));
  if (heights.type() != CV_32F || heights.rows < 2 || heights.cols < 2) return;
  levels_.push_back(CellHeights(heights));
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

bool SurfaceVisibility::Sees(double x, double y, const cv::Point3d& centre) const {
  const cv::Point2d sample = transform_.GroundToSample(x, y);
  const double z0 = HeightAt(sample.x, sample.y);
  if (z0 == kNoHeightD) return true;
  if (!(centre.z > z0)) return false;
  // Pixel coordinates: cell (i, j) of level 0 covers [i, i + 1) x [j, j + 1). The line is
  // p + t d, from the point (t = 0) to the centre (t = 1), rising by `rise` over that.
  const double px = sample.x + 0.5, py = sample.y + 0.5;
  const cv::Point2d d = transform_.GroundToSample(centre.x, centre.y) - sample;
  const double span = std::max(std::abs(d.x), std::abs(d.y));
  if (!(span > 1e-9)) return true;
  const double ix = d.x != 0.0 ? 1.0 / d.x : 0.0, iy = d.y != 0.0 ? 1.0 / d.y : 0.0;
  const double rise = centre.z - z0;
  const double early = 0.5 / span;  // half a pixel along the line's main axis
  const double nudge = kNudge / span;
  const double end = std::min(1.0, (top_ + tolerance_ - z0) / rise + early);
  const int topLevel = static_cast<int>(levels_.size()) - 1;
  const double cols = levels_.front().cols, rows = levels_.front().rows;
  // The point's own pixel never hides it: a roof does not hide itself.
  const int ci = static_cast<int>(px), cj = static_cast<int>(py);
  double t = std::min(AxisExit(px, d.x, ix, ci, 1.0), AxisExit(py, d.y, iy, cj, 1.0));
  int k = 0;
  while (t < end) {
    const cv::Mat& level = levels_[k];
    const double qx = px + (t + nudge) * d.x, qy = py + (t + nudge) * d.y;
    // Once out of the window the line never comes back.
    if (!(qx >= 0.0 && qy >= 0.0 && qx < cols && qy < rows)) return true;
    const int i = static_cast<int>(qx) >> k, j = static_cast<int>(qy) >> k;
    const double side = static_cast<double>(1 << k);
    const double exit =
        std::max(std::min(AxisExit(px, d.x, ix, i, side), AxisExit(py, d.y, iy, j, side)), t + nudge);
    // The line rises, so its lowest point over the block is where it enters, taken half a pixel
    // early.
    if (level.ptr<float>(j)[i] <= z0 + rise * std::max(0.0, t - early) + tolerance_) {
      t = exit;
      k = std::min(k + 1, topLevel);
      continue;
    }
    if (k == 0) return false;
    --k;
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
                           cv::Mat& alphaBlock, cv::Mat& written,
                           const PlannedVisibility& plan) {
  const bool planned = plan.fill && plan.voronoiMap && plan.voronoiMap->type() == CV_8UC3 &&
                       plan.mosaicScale > 0.0;
  const cv::Vec3b own(static_cast<uchar>(plan.row & 255), static_cast<uchar>((plan.row >> 8) & 255),
                      static_cast<uchar>((plan.row >> 16) & 255));
  const auto ownCell = [&](int mx, int my) {
    const int cx = static_cast<int>(std::floor(mx / plan.mosaicScale));
    const int cy = static_cast<int>(std::floor(my / plan.mosaicScale));
    return cx >= 0 && cy >= 0 && cx < plan.voronoiMap->cols && cy < plan.voronoiMap->rows &&
           plan.voronoiMap->at<cv::Vec3b>(cy, cx) == own;
  };
  std::atomic<long long> hidden{0};
  cv::parallel_for_(cv::Range(0, written.rows), [&](const cv::Range& range) {
    long long n = 0;
    for (int r = range.start; r < range.end; ++r) {
      uchar* wrote = written.ptr<uchar>(r);
      for (int c = 0; c < written.cols; ++c) {
        if (!wrote[c]) continue;
        const int mx = grid.ox0 + gx0 + c, my = grid.oy0 + gy0 + r;
        if (planned && ownCell(mx, my)) {
          if (!plan.fill->At(mx, my)) continue;
        } else {
          const cv::Point2d g = grid.At(gx0 + c, gy0 + r);
          if (surface.Sees(g.x, g.y, centre)) continue;
        }
        if (planned && plan.fill->At(mx, my) == plan.row) continue;
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
