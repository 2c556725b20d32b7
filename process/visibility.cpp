#include "process/visibility.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include <opencv2/core/utility.hpp>
#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include "model/project.h"
#include "products/mosaic.h"

namespace ortavia {
namespace {

constexpr double kNoHeightD = kNoHeight;

// Where the line p + t d leaves the pixel or block [i side, (i + 1) side) along one axis.
inline double AxisExit(double p, double d, double inv, int i, double side) {
  if (d > 0.0) return ((i + 1) * side - p) * inv;
  if (d < 0.0) return (i * side - p) * inv;
  return HUGE_VAL;
}

// The bilinear height of CV_32F samples at (col, row), or kNoHeight outside them or next to a hole.
// Inlined: every line of sight starts with it.
inline __attribute__((always_inline)) double Bilinear(const cv::Mat& heights, double col,
                                                      double row) {
  if (!(col >= 0.0) || !(row >= 0.0) || col > heights.cols - 1 || row > heights.rows - 1)
    return kNoHeightD;
  const int i = std::min(static_cast<int>(col), heights.cols - 2);
  const int j = std::min(static_cast<int>(row), heights.rows - 2);
  const float* a = heights.ptr<float>(j);
  const float* b = heights.ptr<float>(j + 1);
  if (a[i] == kNoHeight || a[i + 1] == kNoHeight || b[i] == kNoHeight || b[i + 1] == kNoHeight)
    return kNoHeightD;
  const double fx = col - i, fy = row - j;
  return (a[i] * (1 - fx) + a[i + 1] * fx) * (1 - fy) + (b[i] * (1 - fx) + b[i + 1] * fx) * fy;
}

cv::Mat HalfMaxima(const cv::Mat& m) {
  cv::Mat out((m.rows + 1) / 2, (m.cols + 1) / 2, CV_32F);
  for (int j = 0; j < out.rows; ++j) {
    const float* a = m.ptr<float>(2 * j);
    const float* b = 2 * j + 1 < m.rows ? m.ptr<float>(2 * j + 1) : a;
    float* o = out.ptr<float>(j);
    int i = 0;
#if defined(__SSE__)
    // Four at a time: the two rows' maxima, then those of each pair of columns.
    for (; 2 * i + 8 <= m.cols; i += 4) {
      const __m128 lo = _mm_max_ps(_mm_loadu_ps(a + 2 * i), _mm_loadu_ps(b + 2 * i));
      const __m128 hi = _mm_max_ps(_mm_loadu_ps(a + 2 * i + 4), _mm_loadu_ps(b + 2 * i + 4));
      _mm_storeu_ps(o + i, _mm_max_ps(_mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0)),
                                      _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1))));
    }
#endif
    for (; i < out.cols; ++i) {
      const int i1 = std::min(2 * i + 1, m.cols - 1);
      o[i] = std::max(std::max(a[2 * i], a[i1]), std::max(b[2 * i], b[i1]));
    }
  }
  return out;
}

}  // namespace

SurfaceVisibility::SurfaceVisibility(const cv::Mat& heights, const DemGeoTransform& transform)
    : heights_(heights), transform_(transform) {
  // Never 0, and never that of another surface, even one built where an old one stood.
  static std::atomic<unsigned long long> surfaces{0};
  id_ = ++surfaces;
  const GeoTransform& g = transform.Coefficients();
  tolerance_ = 0.5 * std::sqrt(std::abs(g[1] * g[5] - g[2] * g[4]));
  if (heights.type() != CV_32F || heights.rows < 2 || heights.cols < 2) return;
  levels_.push_back(heights);
  while (levels_.back().rows > 1 || levels_.back().cols > 1)
    levels_.push_back(HalfMaxima(levels_.back()));
  top_ = levels_.back().at<float>(0, 0);
  // The lanes index samples with 32-bit offsets.
  if (static_cast<int>(levels_.size()) > SightSurface::kMaxLevels ||
      static_cast<double>(heights.step1()) * (heights.rows + 1) >= 2147483647.0)
    return;
  for (int k = 0; k < static_cast<int>(levels_.size()); ++k) {
    lanes_.level[k] = reinterpret_cast<std::int64_t>(levels_[k].data);
    lanes_.step[k] = static_cast<int>(levels_[k].step1());
  }
  lanes_.levels = static_cast<int>(levels_.size());
  lanes_.cols = heights.cols, lanes_.rows = heights.rows;
  std::copy(g.begin(), g.end(), lanes_.gt);
  lanes_.det = g[1] * g[5] - g[2] * g[4];
  lanes_.northUp = transform.NorthUp();
  lanes_.tolerance = tolerance_;
  lanes_.top = top_;
}

double SurfaceVisibility::HeightAt(double col, double row) const {
  return levels_.empty() ? kNoHeightD : Bilinear(heights_, col, row);
}

bool SurfaceVisibility::Sees(double x, double y, const cv::Point3d& centre) const {
  const cv::Point2d sample = transform_.GroundToSample(x, y);
  const double z0 = levels_.empty() ? kNoHeightD : Bilinear(heights_, sample.x, sample.y);
  if (z0 == kNoHeightD) return true;
  if (!(centre.z > z0)) return false;
  // Pixel coordinates: cell (i, j) of level 0 covers [i, i + 1) x [j, j + 1). The line is
  // p + t d, from the point (t = 0) to the centre (t = 1), rising by `rise` over that.
  const double px = sample.x + 0.5, py = sample.y + 0.5;
  // A thread asks of one centre many times in a row: its place in the grid is kept.
  thread_local unsigned long long lastSurface = 0;
  thread_local cv::Point3d lastCentre;
  thread_local cv::Point2d lastSample;
  if (lastSurface != id_ || lastCentre != centre) {
    lastSurface = id_;
    lastCentre = centre;
    lastSample = transform_.GroundToSample(centre.x, centre.y);
  }
  const cv::Point2d d = lastSample - sample;
  const double span = std::max(std::abs(d.x), std::abs(d.y));
  if (!(span > 1e-9)) return true;
  const double ix = d.x != 0.0 ? 1.0 / d.x : 0.0, iy = d.y != 0.0 ? 1.0 / d.y : 0.0;
  const double rise = centre.z - z0;
  const double early = 0.5 / span;  // half a pixel along the line's main axis
  const double nudge = kSightNudge * (early + early);
  const double end = std::min(1.0, (top_ + tolerance_ - z0) / rise + early);
  const int topLevel = static_cast<int>(levels_.size()) - 1;
  const int cols = levels_.front().cols, rows = levels_.front().rows;
  // The point's own pixel never hides it: a roof does not hide itself.
  const int ci = static_cast<int>(px), cj = static_cast<int>(py);
  double t = std::min(AxisExit(px, d.x, ix, ci, 1.0), AxisExit(py, d.y, iy, cj, 1.0));
  double stop = end;
  if (!ahead_.empty() && centre == aimed_ && px >= 0 && py >= 0 && px < cols && py < rows) {
    // Past the highest sample between the point's block and the nadir point nothing hides it.
    const int bi = static_cast<int>(px) >> kAheadLevel, bj = static_cast<int>(py) >> kAheadLevel;
    stop = std::min(end, (ahead_.ptr<float>(bj)[bi] + tolerance_ - z0) / rise + early);
  }
  // Block (i, j) of level k holds the line just past t. Once out of the window the line never
  // comes back.
  int k = 0, i = 0, j = 0;
  const auto locate = [&](int level) {
    const double qx = px + (t + nudge) * d.x, qy = py + (t + nudge) * d.y;
    if (!(qx >= 0.0 && qy >= 0.0 && qx < cols && qy < rows)) return false;
    k = level, i = static_cast<int>(qx) >> k, j = static_cast<int>(qy) >> k;
    return true;
  };
  // Open ground clears the 8 x 8 block after the point's own pixel at once; elsewhere the march
  // descends into it.
  if (t < stop && !locate(std::min(3, topLevel))) return true;
  const int si = d.x > 0.0 ? 1 : -1, sj = d.y > 0.0 ? 1 : -1;
  while (t < stop) {
    // The line rises, so its lowest point over the block is where it enters, taken half a pixel
    // early.
    const double line = z0 + rise * std::max(0.0, t - early) + tolerance_;
    if (levels_[k].ptr<float>(j)[i] > line) {
      if (k == 0) return false;
      if (!locate(k - 1)) return true;
      continue;
    }
    // On to the block the line enters next, then up a level.
    const double side = static_cast<double>(1 << k);
    const double ex = AxisExit(px, d.x, ix, i, side), ey = AxisExit(py, d.y, iy, j, side);
    i += ex <= ey ? si : 0;
    j += ey <= ex ? sj : 0;
    t = std::max(std::min(ex, ey), t + nudge);
    if (i < 0 || j < 0 || (i << k) >= cols || (j << k) >= rows) return true;
    if (k < topLevel) ++k, i >>= 1, j >>= 1;
  }
  return true;
}

void SurfaceVisibility::SeesEach(const double* x, const double* y, int count,
                                 const cv::Point3d& centre, unsigned char* seen, Lanes lanes) const {
  const bool wide = lanes == Lanes::Widest && SightLanesAvailable();
  const bool avx2 = !wide && SightLanesAvx2Available();
  if (lanes_.levels > 0 && (wide || avx2)) {
    SightSurface surface = lanes_;
    if (!ahead_.empty() && centre == aimed_) {
      surface.ahead = ahead_.ptr<float>();
      surface.aheadStep = static_cast<int>(ahead_.step1());
      surface.aheadLevel = kAheadLevel;
    }
    const cv::Point2d c = transform_.GroundToSample(centre.x, centre.y);
    if (wide) SeesLanes(surface, x, y, count, c.x, c.y, centre.z, seen);
    else SeesLanesAvx2(surface, x, y, count, c.x, c.y, centre.z, seen);
    return;
  }
  for (int n = 0; n < count; ++n) seen[n] = Sees(x[n], y[n], centre) ? 1 : 0;
}

void SurfaceVisibility::Aim(const cv::Point3d& centre) {
  aimed_ = centre;
  ahead_.release();
  if (static_cast<int>(levels_.size()) <= kAheadLevel) return;
  const cv::Mat& m = levels_[kAheadLevel];
  const cv::Point2d n = transform_.GroundToSample(centre.x, centre.y);
  const double side = 1 << kAheadLevel;
  // The nadir's block, or the nearest one when it lies outside the window (the lines leave the
  // window on its side).
  const auto block = [&](double v, int count) {
    const double b = std::floor((v + 0.5) / side);
    return static_cast<int>(std::clamp(std::isfinite(b) ? b : 0.0, 0.0, count - 1.0));
  };
  const int nx = block(n.x, m.cols), ny = block(n.y, m.rows);
  ahead_.create(m.size(), CV_32F);
  // Outward from the nadir's block, each block takes the highest of itself and of its neighbours
  // toward the nadir: the highest of the rectangle between them.
  for (const int sy : {1, -1})
    for (const int sx : {1, -1})
      for (int y = ny; y >= 0 && y < m.rows; y += sy)
        for (int x = nx; x >= 0 && x < m.cols; x += sx) {
          float v = m.ptr<float>(y)[x];
          if (x != nx) v = std::max(v, ahead_.ptr<float>(y)[x - sx]);
          if (y != ny) v = std::max(v, ahead_.ptr<float>(y - sy)[x]);
          ahead_.ptr<float>(y)[x] = v;
        }
}

cv::Rect SightWindow(const DemGeoTransform& transform, cv::Size size,
                     const std::vector<cv::Point2d>& from, const std::vector<cv::Point2d>& nadirs) {
  double minC = HUGE_VAL, minR = HUGE_VAL, maxC = -HUGE_VAL, maxR = -HUGE_VAL;
  for (const auto* points : {&from, &nadirs})
    for (const cv::Point2d& g : *points) {
      const cv::Point2d p = transform.GroundToSample(g.x, g.y);
      if (!(std::abs(p.x) < 1e9) || !(std::abs(p.y) < 1e9)) continue;
      minC = std::min(minC, p.x), maxC = std::max(maxC, p.x);
      minR = std::min(minR, p.y), maxR = std::max(maxR, p.y);
    }
  if (!(minC <= maxC && minR <= maxR)) return {};
  // Clamped first, so that far points do not overflow the pixel numbers.
  minC = std::clamp(minC, -8.0, size.width + 8.0), maxC = std::clamp(maxC, -8.0, size.width + 8.0);
  minR = std::clamp(minR, -8.0, size.height + 8.0), maxR = std::clamp(maxR, -8.0, size.height + 8.0);
  const int c0 = static_cast<int>(std::floor(minC)) - 2, r0 = static_cast<int>(std::floor(minR)) - 2;
  const int c1 = static_cast<int>(std::ceil(maxC)) + 3, r1 = static_cast<int>(std::ceil(maxR)) + 3;
  return cv::Rect(c0, r0, c1 - c0, r1 - r0) & cv::Rect(cv::Point(), size);
}

cv::Mat VisibleMask(const SurfaceVisibility& surface, const cv::Point3d& centre, double originX,
                    double originY, double gsd, int x0, int y0, int cols, int rows) {
  cv::Mat mask(rows, cols, CV_8UC1);
  cv::parallel_for_(cv::Range(0, rows), [&](const cv::Range& range) {
    std::vector<double> xs(cols), ys(cols);
    for (int r = range.start; r < range.end; ++r) {
      for (int c = 0; c < cols; ++c)
        xs[c] = originX + (x0 + c) * gsd, ys[c] = originY - (y0 + r) * gsd;
      uchar* out = mask.ptr<uchar>(r);
      surface.SeesEach(xs.data(), ys.data(), cols, centre, out);
      for (int c = 0; c < cols; ++c) out[c] = out[c] ? 255 : 0;
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
  const cv::Vec3b own = RowColorCode(plan.row);
  // The Voronoi cell of each column and row of the block, -1 outside the map.
  const auto cellOf = [&](int mosaicPixel, int limit) {
    const int cell = static_cast<int>(std::floor(mosaicPixel / plan.mosaicScale));
    return cell >= 0 && cell < limit ? cell : -1;
  };
  std::vector<int> cellCol(written.cols, -1);
  if (planned)
    for (int c = 0; c < written.cols; ++c)
      cellCol[c] = cellOf(grid.ox0 + gx0 + c, plan.voronoiMap->cols);
  std::atomic<long long> hidden{0};
  cv::parallel_for_(cv::Range(0, written.rows), [&](const cv::Range& range) {
    long long n = 0;
    std::vector<int> tested;
    std::vector<double> xs, ys;
    std::vector<unsigned char> seen;
    tested.reserve(written.cols), xs.reserve(written.cols), ys.reserve(written.cols);
    for (int r = range.start; r < range.end; ++r) {
      uchar* wrote = written.ptr<uchar>(r);
      const auto hide = [&](int c) {
        wrote[c] = 0;
        std::memset(block.ptr(r) + c * block.elemSize(), 0, block.elemSize());
        if (!alphaBlock.empty())
          std::memset(alphaBlock.ptr(r) + c * alphaBlock.elemSize(), 0, alphaBlock.elemSize());
        ++n;
      };
      const int my = grid.oy0 + gy0 + r;
      const int cellRow = planned ? cellOf(my, plan.voronoiMap->rows) : -1;
      const cv::Vec3b* codes = cellRow >= 0 ? plan.voronoiMap->ptr<cv::Vec3b>(cellRow) : nullptr;
      static const std::vector<FillRun> kNoRuns;
      const std::vector<FillRun>& runs = planned ? plan.fill->Row(my) : kNoRuns;
      const int mx0 = grid.ox0 + gx0;
      std::size_t next = 0;  // the first run not wholly left of the pixels still to come
      tested.clear(), xs.clear(), ys.clear();
      // Column by column of Voronoi cells (cellCol rises with c).
      for (int c0 = 0, c1 = 0; c0 < written.cols; c0 = c1) {
        const int cell = cellCol[c0];
        while (c1 < written.cols && cellCol[c1] == cell) ++c1;
        if (codes && cell >= 0 && codes[cell] == own) {
          // The plan found its own camera sees its cells but where it gives a pixel away.
          for (; next < runs.size() && runs[next].x0 < mx0 + c1; ++next) {
            if (runs[next].row != plan.row) {
              const int a = std::max(runs[next].x0 - mx0, c0);
              const int b = std::min(runs[next].x1 - mx0, c1);
              for (int c = a; c < b; ++c)
                if (wrote[c]) hide(c);
            }
            if (runs[next].x1 > mx0 + c1) break;  // it goes on into the next cell
          }
          continue;
        }
        if (planned && plan.shareOnly) continue;
        // Every written pixel is tested but those of the runs the plan gives this image.
        for (int c = c0; c < c1;) {
          while (next < runs.size() && runs[next].x1 <= mx0 + c) ++next;
          std::size_t k = next;
          while (k < runs.size() && runs[k].x0 < mx0 + c1 && runs[k].row != plan.row) ++k;
          const bool fills = k < runs.size() && runs[k].x0 < mx0 + c1;
          for (const int e = fills ? std::max(c, runs[k].x0 - mx0) : c1; c < e; ++c) {
            if (!wrote[c]) continue;
            const cv::Point2d g = grid.At(gx0 + c, gy0 + r);
            tested.push_back(c), xs.push_back(g.x), ys.push_back(g.y);
          }
          if (fills) c = std::min(c1, runs[k].x1 - mx0);
        }
      }
      seen.resize(tested.size());
      surface.SeesEach(xs.data(), ys.data(), static_cast<int>(tested.size()), centre, seen.data());
      for (std::size_t k = 0; k < tested.size(); ++k)
        if (!seen[k]) hide(tested[k]);
    }
    hidden += n;
  });
  return hidden;
}

}  // namespace ortavia
