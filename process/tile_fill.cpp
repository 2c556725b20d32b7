#include "process/tile_fill.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <mutex>
#include <vector>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include "process/square_warp.h"

namespace ortavia {
namespace {

// The projection of one output pixel position into the source window.
struct Point {
  bool known = false;  // projected yet
  bool valid = false;
  double x = 0.0, y = 0.0;
};

// Projections at the quarter points of a square, corners included: g[row][column], spacing s / 4.
// The corners are always known; the others are projected when needed.
constexpr int kGrid = 5;
using Grid = Point[kGrid][kGrid];

// 8-bit squares take the lean warp of the same bytes; other depths OpenCV's.
void WarpPatch(const cv::Mat& patch, cv::Mat& dst, const cv::Mat& m) {
  if (WarpSquareLinear8u(patch, dst, m)) return;
  cv::warpPerspective(patch, dst, m, dst.size(), cv::INTER_LINEAR | cv::WARP_FILL_OUTLIERS,
                      cv::BORDER_CONSTANT, cv::Scalar::all(0));
}

class BlockTiles {
 public:
  BlockTiles(const ImageWarp& w, int bx, int by, double maxError, cv::Mat& block,
             cv::Mat& alphaBlock, cv::Mat& written)
      : w_(w), maxError_(maxError), block_(block), alphaBlock_(alphaBlock), written_(written) {
    gx0_ = bx * w.geo.bw;
    gy0_ = by * w.geo.bh;
    limX_ = std::min(w.geo.bw, w.geo.outW - gx0_);
    limY_ = std::min(w.geo.bh, w.geo.outH - gy0_);
  }

  int Strips(int s) const { return limY_ > 0 ? (limY_ + s - 1) / s : 0; }

  // Strips [first, last). Neighbouring strips share their row of corners. Returns the window
  // pixels the strips needed but found not held.
  SourceMiss FillStrips(int s, int first, int last) {
    if (limX_ <= 0) return {};
    const int squares = (limX_ + s - 1) / s;
    const int q = s / 4, n = 4 * squares + 1;
    std::vector<Point> rows[kGrid];
    for (auto& row : rows) row.resize(n);
    // Every quarter point is checked; without a bound only the corners are needed, unless a
    // square is split.
    const int every = std::isinf(maxError_) ? 4 : 1;
    ProjectRow(first * s, q, every, rows[0]);
    for (int strip = first; strip < last; ++strip) {
      const int sy = strip * s;
      for (int j = every; j < kGrid; j += every) ProjectRow(sy + j * q, q, every, rows[j]);
      for (int k = 0; k < squares; ++k) {
        Grid g;
        for (int j = 0; j < kGrid; ++j)
          for (int i = 0; i < kGrid; ++i) g[j][i] = rows[j][4 * k + i];
        Square(k * s, sy, s, g);
      }
      std::swap(rows[0], rows[kGrid - 1]);
    }
    return scratch_.miss;
  }

 private:
  // Every `every`-th point of a row of quarter points; the ones between are left unknown.
  void ProjectRow(int r, int step, int every, std::vector<Point>& out) {
    const int count = (static_cast<int>(out.size()) - 1) / every + 1;
    row_.resize(count);
    ProjectOutputRow(w_, gx0_, step * every, gy0_ + r, count, row_.data());
    for (std::size_t k = 0; k < out.size(); ++k) {
      const SourcePosition& p = row_[k / every];
      out[k] = k % every == 0 ? Point{true, p.valid, p.x, p.y} : Point{};
    }
  }

  // Projects the points of the grid not known yet (of every `every`-th row and column), a row
  // at a time.
  void Complete(int sx, int sy, int s, Grid& g, int every = 1) {
    for (int j = 0; j < kGrid; j += every) {
      int first = kGrid, last = -1;
      for (int i = 0; i < kGrid; i += every)
        if (!g[j][i].known) first = std::min(first, i), last = i;
      if (last < 0) continue;
      const int count = last - first + 1;
      row_.resize(count);
      ProjectOutputRow(w_, gx0_ + sx + first * s / 4, s / 4, gy0_ + sy + j * s / 4, count,
                       row_.data());
      for (int i = first; i <= last; i += every) {
        const SourcePosition& p = row_[i - first];
        if (!g[j][i].known) g[j][i] = {true, p.valid, p.x, p.y};
      }
    }
  }

  // The square of side s at block pixel (sx, sy), with its grid g.
  void Square(int sx, int sy, int s, Grid& g) {
    if (sx >= limX_ || sy >= limY_) return;
    const bool whole = sx + s <= limX_ && sy + s <= limY_;
    if (s > 4 && whole && Warp(sx, sy, s, g)) return;
    if (OutsideSource(g, g[2][2].known ? 2 : 4)) return;
    Complete(sx, sy, s, g);
    if (s == 4) return Pixels(sx, sy, g);
    // The grids of the four halves: their corners, edge midpoints and centres are this grid.
    Point fine[2 * kGrid - 1][2 * kGrid - 1];
    for (int j = 0; j < 2 * kGrid - 1; j += 2)
      for (int i = 0; i < 2 * kGrid - 1; i += 2) fine[j][i] = g[j / 2][i / 2];
    for (int cj = 0; cj < 2; ++cj)
      for (int ci = 0; ci < 2; ++ci) {
        Grid c;
        for (int j = 0; j < kGrid; ++j)
          for (int i = 0; i < kGrid; ++i) c[j][i] = fine[4 * cj + j][4 * ci + i];
        Square(sx + ci * s / 2, sy + cj * s / 2, s / 2, c);
      }
  }

  // A 4 x 4 square: its grid holds every pixel, projected exactly.
  void Pixels(int sx, int sy, const Grid& g) {
    for (int j = 0; j < 4; ++j)
      for (int i = 0; i < 4; ++i) {
        const Point& p = g[j][i];
        if (!p.valid || sx + i >= limX_ || sy + j >= limY_) continue;
        SampleOutputPixel(w_, p.x, p.y, sx + i, sy + j, block_, alphaBlock_, written_, scratch_);
      }
  }

  // True when the known points (every `every`-th row and column of the grid) all lie so far
  // beyond one edge of the part of the source window pixel mode samples (5 pixels in) that nothing
  // between them reaches it: by more than half the largest step between neighbouring points, plus
  // a pixel. Squares wholly off the image are thus left without projecting their every pixel.
  bool OutsideSource(const Grid& g, int every) const {
    double step = 0.0;
    for (int j = 0; j < kGrid; j += every)
      for (int i = 0; i < kGrid; i += every) {
        const Point& p = g[j][i];
        if (!p.known || !p.valid) return false;
        const auto far = [&](const Point& q) {
          return std::max(std::abs(q.x - p.x), std::abs(q.y - p.y));
        };
        if (i + every < kGrid) step = std::max(step, far(g[j][i + every]));
        if (j + every < kGrid) step = std::max(step, far(g[j + every][i]));
      }
    const double m = step / 2 + 1.0;
    const double lo = 5.0 - m, hiX = w_.srcW - 5 + m, hiY = w_.srcH - 5 + m;
    bool left = true, right = true, above = true, below = true;
    for (int j = 0; j < kGrid; j += every)
      for (int i = 0; i < kGrid; i += every) {
        const Point& p = g[j][i];
        left = left && p.x < lo;
        right = right && p.x > hiX;
        above = above && p.y < lo;
        below = below && p.y > hiY;
      }
    return left || right || above || below;
  }

  // Warps the square with the transform of its corners when that stays within the bound of the
  // projection (WithinBound) and reads nothing beyond the source; false, touching nothing, else.
  bool Warp(int sx, int sy, int s, Grid& g) {
    int umin = INT_MAX, vmin = INT_MAX, umax = -INT_MAX, vmax = -INT_MAX;
    for (int j = 0; j < kGrid; j += kGrid - 1)
      for (int i = 0; i < kGrid; i += kGrid - 1)
        if (!g[j][i].valid) return false;
    constexpr int e = kGrid - 1;
    const Point* corner[4] = {&g[0][0], &g[0][e], &g[e][e], &g[e][0]};
    float cu[4], cv[4];
    for (int k = 0; k < 4; ++k) {
      cu[k] = static_cast<float>(corner[k]->x);
      cv[k] = static_cast<float>(corner[k]->y);
      // Floor, not truncation: a corner up to a pixel left of or above the image would pass,
      // and the warp would blend the border's zeros into the square.
      const int tu = static_cast<int>(std::floor(cu[k])), tv = static_cast<int>(std::floor(cv[k]));
      umin = std::min(umin, tu);
      vmin = std::min(vmin, tv);
      umax = std::max(umax, tu + 1);
      vmax = std::max(vmax, tv + 1);
    }
    if (umin < 0 || vmin < 0 || umax >= w_.srcW || vmax >= w_.srcH) return false;
    cv::Point2f from[4], to[4];
    const float fs = static_cast<float>(s);
    const cv::Point2f square[4] = {{0.f, 0.f}, {fs, 0.f}, {fs, fs}, {0.f, fs}};
    for (int k = 0; k < 4; ++k) {
      from[k] = {cu[k] - umin, cv[k] - vmin};
      to[k] = square[k];
    }
    const cv::Mat m = cv::getPerspectiveTransform(from, to);
    if (!WithinBound(m, sx, sy, s, g, umin, vmin)) return false;
    // The square is settled as warped; pixels not held leave it to the band's second fill.
    if (!Held(w_, umin, vmin, umax, vmax, scratch_.miss)) return true;
    const cv::Rect srcRect = cv::Rect(umin, vmin, umax - umin + 1, vmax - vmin + 1) - w_.held.tl();
    const cv::Rect dstRect(sx, sy, s, s);
    cv::Mat dst = block_(dstRect);
    WarpPatch(w_.src(srcRect), dst, m);
    if (!written_.empty()) written_(dstRect).setTo(255);
    if (!w_.alpha.empty()) {
      cv::Mat adst = alphaBlock_(dstRect);
      WarpPatch(w_.alpha(srcRect), adst, m);
    }
    return true;
  }

  // The warp samples destination point d at inverse(m) * d: compare with the exact projection at
  // every quarter point (midpoints alone miss the cubic part of bicubic heights, which vanishes
  // there; the corners agree by construction).
  bool WithinBound(const cv::Mat& m, int sx, int sy, int s, Grid& g, int umin, int vmin) {
    if (std::isinf(maxError_)) return true;
    Complete(sx, sy, s, g);
    cv::Matx33d inv;
    if (!cv::invert(cv::Matx33d(m), inv)) return false;
    const double q = s / 4.0, bound2 = maxError_ * maxError_;
    for (int j = 0; j < kGrid; ++j)
      for (int i = 0; i < kGrid; ++i) {
        const Point& p = g[j][i];
        const cv::Vec3d d = inv * cv::Vec3d(i * q, j * q, 1.0);
        if (!p.valid || d[2] == 0.0) return false;
        const double du = d[0] / d[2] + umin - p.x, dv = d[1] / d[2] + vmin - p.y;
        if (!(du * du + dv * dv <= bound2)) return false;
      }
    return true;
  }

  const ImageWarp& w_;
  double maxError_;
  cv::Mat& block_;
  cv::Mat& alphaBlock_;
  cv::Mat& written_;
  int gx0_ = 0, gy0_ = 0, limX_ = 0, limY_ = 0;
  SampleScratch scratch_;
  std::vector<SourcePosition> row_;
};

}  // namespace

FillOutcome FillBlockTiles(ImageWarp& w, int bx, int by, int s, double maxError, cv::Mat& block,
                           cv::Mat& alphaBlock, cv::Mat& written, const RunContext& ctx) {
  const int strips = BlockTiles(w, bx, by, maxError, block, alphaBlock, written).Strips(s);
  // A streamed source is held a band of about 256 output rows at a time.
  const int band = w.hold ? std::max(1, 256 / s) : 100;
  const int gx0 = bx * w.geo.bw, gy0 = by * w.geo.bh;
  const int limX = std::min(w.geo.bw, w.geo.outW - gx0);
  const auto estimate = [&](int first, int last) {
    // The corners of the band's squares reach one square past the ortho's right edge.
    return EstimateSourceRect(w, gx0, gy0 + first * s, gx0 + (limX + s - 1) / s * s,
                              gy0 + last * s);
  };
  const auto fill = [&](int first, int last) {
    SourceMiss miss;
    std::mutex mutex;
    cv::parallel_for_(
        cv::Range(first, last),
        [&](const cv::Range& range) {
          const SourceMiss m = BlockTiles(w, bx, by, maxError, block, alphaBlock, written)
                                   .FillStrips(s, range.start, range.end);
          const std::lock_guard<std::mutex> lock(mutex);
          miss.Add(m);
        },
        std::min(last - first, 4 * cv::getNumThreads()));
    return miss;
  };
  return FillInBands(w, strips, band, estimate, fill, ctx);
}

}  // namespace ortavia
