#include "process/tile_fill.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include "process/square_warp.h"

namespace ortavia {
namespace {

// The projection of one output pixel position into the source window.
struct Point {
  bool valid = false;
  double x = 0.0, y = 0.0;
};

// Projections at the quarter points of a square, corners included: g[row][column], spacing s / 4.
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

  // Strips [first, last). Neighbouring strips share their row of corners.
  void FillStrips(int s, int first, int last) {
    if (limX_ <= 0) return;
    const int squares = (limX_ + s - 1) / s;
    const int q = s / 4, n = 4 * squares + 1;
    std::vector<Point> rows[kGrid];
    ProjectRow(first * s, q, n, rows[0]);
    for (int strip = first; strip < last; ++strip) {
      const int sy = strip * s;
      for (int j = 1; j < kGrid; ++j) ProjectRow(sy + j * q, q, n, rows[j]);
      for (int k = 0; k < squares; ++k) {
        Grid g;
        for (int j = 0; j < kGrid; ++j)
          for (int i = 0; i < kGrid; ++i) g[j][i] = rows[j][4 * k + i];
        Square(k * s, sy, s, g);
      }
      std::swap(rows[0], rows[kGrid - 1]);
    }
  }

 private:
  Point Project(int c, int r) const {
    Point p;
    p.valid = ProjectOutputPixel(w_, gx0_ + c, gy0_ + r, p.x, p.y);
    return p;
  }

  void ProjectRow(int r, int step, int count, std::vector<Point>& out) const {
    out.resize(count);
    for (int k = 0; k < count; ++k) out[k] = Project(k * step, r);
  }

  // The square of side s at block pixel (sx, sy), with its grid g.
  void Square(int sx, int sy, int s, const Grid& g) {
    if (sx >= limX_ || sy >= limY_) return;
    if (s == 4) return Pixels(sx, sy, g);
    const bool whole = sx + s <= limX_ && sy + s <= limY_;
    if (whole && Warp(sx, sy, s, g)) return;
    if (OutsideSource(g)) return;
    // The grids of the four halves: every other point of a grid twice as fine.
    const int h = s / 8;
    Point fine[2 * kGrid - 1][2 * kGrid - 1];
    for (int j = 0; j < 2 * kGrid - 1; ++j)
      for (int i = 0; i < 2 * kGrid - 1; ++i)
        fine[j][i] = i % 2 == 0 && j % 2 == 0 ? g[j / 2][i / 2] : Project(sx + i * h, sy + j * h);
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

  // True when every point lies so far beyond one edge of the part of the source window pixel
  // mode samples (5 pixels in) that nothing between the points reaches it: by more than half the
  // largest step between neighbouring points, plus a pixel.
  bool OutsideSource(const Grid& g) const {
    double step = 0.0;
    for (int j = 0; j < kGrid; ++j)
      for (int i = 0; i < kGrid; ++i) {
        const Point& p = g[j][i];
        if (!p.valid) return false;
        if (i + 1 < kGrid) step = std::max(step, std::hypot(g[j][i + 1].x - p.x, g[j][i + 1].y - p.y));
        if (j + 1 < kGrid) step = std::max(step, std::hypot(g[j + 1][i].x - p.x, g[j + 1][i].y - p.y));
      }
    const double m = step / 2 + 1.0;
    const double lo = 5.0 - m, hiX = w_.src.cols - 5 + m, hiY = w_.src.rows - 5 + m;
    bool left = true, right = true, above = true, below = true;
    for (const auto& row : g)
      for (const Point& p : row) {
        left = left && p.x < lo;
        right = right && p.x > hiX;
        above = above && p.y < lo;
        below = below && p.y > hiY;
      }
    return left || right || above || below;
  }

  // Warps the square with the transform of its corners when it departs from the projection by
  // no more than the bound at the centre and the edge midpoints; false, touching nothing, else.
  bool Warp(int sx, int sy, int s, const Grid& g) {
    int umin = INT_MAX, vmin = INT_MAX, umax = -INT_MAX, vmax = -INT_MAX;
    for (const auto& row : g)
      for (const Point& p : row)
        if (!p.valid) return false;
    const Point* corner[4] = {&g[0][0], &g[0][kGrid - 1], &g[kGrid - 1][kGrid - 1], &g[kGrid - 1][0]};
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
    if (umin < 0 || vmin < 0 || umax >= w_.src.cols || vmax >= w_.src.rows) return false;
    cv::Point2f from[4], to[4];
    const float fs = static_cast<float>(s);
    const cv::Point2f square[4] = {{0.f, 0.f}, {fs, 0.f}, {fs, fs}, {0.f, fs}};
    for (int k = 0; k < 4; ++k) {
      from[k] = {cu[k] - umin, cv[k] - vmin};
      to[k] = square[k];
    }
    const cv::Mat m = cv::getPerspectiveTransform(from, to);
    if (!WithinBound(m, s, g, umin, vmin)) return false;
    const cv::Rect srcRect(umin, vmin, umax - umin + 1, vmax - vmin + 1);
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
  // every quarter point (the corners agree by construction). Midpoints alone miss the cubic part
  // of bicubic heights, which vanishes there.
  bool WithinBound(const cv::Mat& m, int s, const Grid& g, int umin, int vmin) const {
    if (std::isinf(maxError_)) return true;
    cv::Matx33d inv;
    if (!cv::invert(cv::Matx33d(m), inv)) return false;
    const double q = s / 4.0;
    for (int j = 0; j < kGrid; ++j)
      for (int i = 0; i < kGrid; ++i) {
        const cv::Vec3d d = inv * cv::Vec3d(i * q, j * q, 1.0);
        if (d[2] == 0.0) return false;
        const Point& p = g[j][i];
        const double err = std::hypot(d[0] / d[2] + umin - p.x, d[1] / d[2] + vmin - p.y);
        if (!(err <= maxError_)) return false;
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
};

}  // namespace

bool FillBlockTiles(const ImageWarp& w, int bx, int by, int s, double maxError, cv::Mat& block,
                    cv::Mat& alphaBlock, cv::Mat& written, const RunContext& ctx) {
  const int strips = BlockTiles(w, bx, by, maxError, block, alphaBlock, written).Strips(s);
  for (int n0 = 0; n0 == 0 || n0 < strips; n0 += 100) {
    if (ctx.AbortCheck()) return false;
    const int n1 = std::min(strips, n0 + 100);
    if (n1 <= n0) break;
    cv::parallel_for_(
        cv::Range(n0, n1),
        [&](const cv::Range& range) {
          BlockTiles(w, bx, by, maxError, block, alphaBlock, written)
              .FillStrips(s, range.start, range.end);
        },
        std::min(n1 - n0, 4 * cv::getNumThreads()));
  }
  return true;
}

}  // namespace ortavia
