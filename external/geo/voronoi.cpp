#include "external/geo/voronoi.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <opencv2/core.hpp>

namespace geo {
namespace {

// The coverage grid is kept at or under 1e8 cells; anything far beyond is a caller's error.
constexpr double kMaxCells = 4.0e8;
// Cells are decided tile by tile against the few seeds that can own any cell of the tile.
constexpr int kTile = 16;
constexpr double kSlack = 1e-9;

const cv::Vec3b kWhite(255, 255, 255);

cv::Vec3b CodeOf(const cv::Point3d& seed) {
  const int k = static_cast<int>(seed.z);
  return {static_cast<std::uint8_t>(k & 255), static_cast<std::uint8_t>((k >> 8) & 255),
          static_cast<std::uint8_t>((k >> 16) & 255)};
}

// Seeds bucketed on a coarse square grid over their bounding box.
class SeedGrid {
 public:
  explicit SeedGrid(const std::vector<cv::Point3d>& seeds) : seeds_(seeds) {
    double x1 = -std::numeric_limits<double>::infinity(), y1 = x1;
    x0_ = y0_ = std::numeric_limits<double>::infinity();
    for (const auto& s : seeds) {
      x0_ = std::min(x0_, s.x), y0_ = std::min(y0_, s.y);
      x1 = std::max(x1, s.x), y1 = std::max(y1, s.y);
    }
    const double w = x1 - x0_, h = y1 - y0_;
    // About one seed per bucket, at most 1024 buckets a side.
    size_ = std::sqrt(w * h / static_cast<double>(seeds.size()));
    size_ = std::max({size_, w / 1024.0, h / 1024.0});
    if (!(size_ > 0.0) || !std::isfinite(size_)) size_ = std::max({w, h, 1.0});
    nx_ = std::clamp(static_cast<int>(w / size_) + 1, 1, 1024);
    ny_ = std::clamp(static_cast<int>(h / size_) + 1, 1, 1024);
    buckets_.resize(static_cast<std::size_t>(nx_) * ny_);
    for (int k = 0; k < static_cast<int>(seeds.size()); ++k)
      buckets_[Index(BucketX(seeds[k].x), BucketY(seeds[k].y))].push_back(k);
  }

  // Some seed near p (not necessarily the nearest): an upper bound for the nearest distance.
  double DistanceToSomeSeed(double px, double py) const {
    const int bx = BucketX(px), by = BucketY(py);
    for (int r = 0;; ++r) {
      double best = std::numeric_limits<double>::infinity();
      ForRing(bx, by, r, [&](int k) { best = std::min(best, Distance(px, py, k)); });
      if (std::isfinite(best)) return best;
    }
  }

  // Indices (ascending) of the seeds within radius of p, with a little slack.
  void Within(double px, double py, double radius, std::vector<int>* out) const {
    out->clear();
    const double r = radius * (1.0 + kSlack) + kSlack * (std::abs(px) + std::abs(py) + size_);
    const int bx0 = BucketX(px - r), bx1 = BucketX(px + r);
    const int by0 = BucketY(py - r), by1 = BucketY(py + r);
    for (int by = by0; by <= by1; ++by)
      for (int bx = bx0; bx <= bx1; ++bx)
        for (int k : buckets_[Index(bx, by)])
          if (Distance(px, py, k) <= r) out->push_back(k);
    std::sort(out->begin(), out->end());
  }

 private:
  double Distance(double px, double py, int k) const {
    return std::hypot(px - seeds_[k].x, py - seeds_[k].y);
  }
  int BucketX(double x) const { return Clamp((x - x0_) / size_, nx_); }
  int BucketY(double y) const { return Clamp((y - y0_) / size_, ny_); }
  static int Clamp(double v, int n) {
    if (!(v > 0.0)) return 0;
    return v >= n - 1 ? n - 1 : static_cast<int>(v);
  }
  std::size_t Index(int bx, int by) const { return static_cast<std::size_t>(by) * nx_ + bx; }

  template <class F>
  void ForRing(int bx, int by, int r, F&& visit) const {
    for (int y = by - r; y <= by + r; ++y) {
      if (y < 0 || y >= ny_) continue;
      const bool edgeRow = y == by - r || y == by + r;
      for (int x = bx - r; x <= bx + r; x += (edgeRow || r == 0) ? 1 : 2 * r) {
        if (x < 0 || x >= nx_) continue;
        for (int k : buckets_[Index(x, y)]) visit(k);
      }
    }
  }

  const std::vector<cv::Point3d>& seeds_;
  double x0_, y0_, size_;
  int nx_, ny_;
  std::vector<std::vector<int>> buckets_;
};

}  // namespace

cv::Mat BuildVoronoiMap(const GroundBounds& bounds, double cellSize,
                        const std::vector<cv::Point3d>& seeds) {
  if (!(cellSize > 0.0) || !std::isfinite(cellSize)) return {};
  const double cols = std::nearbyint((bounds.maxX - bounds.minX) / cellSize);
  const double rows = std::nearbyint((bounds.maxY - bounds.minY) / cellSize);
  if (!(cols >= 1.0) || !(rows >= 1.0) || cols * rows > kMaxCells) return {};
  const int width = static_cast<int>(cols), height = static_cast<int>(rows);
  cv::Mat map(height, width, CV_8UC3, cv::Scalar(255, 255, 255));

  std::vector<cv::Point3d> usable;
  std::vector<int> original;  // index in seeds of each usable seed, ascending
  // A seed needs a position and a code that fits an int.
  auto usableSeed = [](const cv::Point3d& s) {
    return std::isfinite(s.x) && std::isfinite(s.y) && s.z > -2147483649.0 && s.z < 2147483648.0;
  };
  for (int k = 0; k < static_cast<int>(seeds.size()); ++k)
    if (usableSeed(seeds[k])) {
      usable.push_back(seeds[k]);
      original.push_back(k);
    }
  if (usable.empty()) return map;

  const SeedGrid grid(usable);
  // Any cell of a tile lies within halfDiagonal of the tile centre, so its nearest seed lies
  // within (distance of some seed to the centre) + 2 * halfDiagonal of that centre.
  const double halfDiagonal = kTile * cellSize * std::sqrt(0.5);
  std::vector<int> candidates;
  for (int tj = 0; tj < height; tj += kTile) {
    for (int ti = 0; ti < width; ti += kTile) {
      const int iEnd = std::min(ti + kTile, width), jEnd = std::min(tj + kTile, height);
      const double tcx = bounds.minX + (ti + 0.5 * kTile) * cellSize;
      const double tcy = bounds.maxY - (tj + 0.5 * kTile) * cellSize;
      grid.Within(tcx, tcy, grid.DistanceToSomeSeed(tcx, tcy) + 2.0 * halfDiagonal, &candidates);
      for (int j = tj; j < jEnd; ++j) {
        const double cy = bounds.maxY - (j + 0.5) * cellSize;
        auto* row = map.ptr<cv::Vec3b>(j);
        for (int i = ti; i < iEnd; ++i) {
          const double cx = bounds.minX + (i + 0.5) * cellSize;
          int best = -1;
          double bestD = std::numeric_limits<double>::infinity();
          for (int k : candidates) {  // ascending, so the first of equals wins
            const double dx = cx - usable[k].x, dy = cy - usable[k].y;
            const double d = dx * dx + dy * dy;
            if (d < bestD) bestD = d, best = k;
          }
          row[i] = best >= 0 ? CodeOf(seeds[original[best]]) : kWhite;
        }
      }
    }
  }
  return map;
}

}  // namespace geo
