#include "runner/sample_buildings.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace ortavia {

SampleBuildings::SampleBuildings(int count, unsigned seed, const cv::Rect2d& area,
                                 const std::function<double(double, double)>& terrain) {
  std::mt19937 rng(seed * 7919u + 17u);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  constexpr double kGap = 8.0;
  for (int tries = 0; static_cast<int>(all_.size()) < count && tries < 50 * count; ++tries) {
    const double w = 10.0 + 20.0 * unit(rng), h = 10.0 + 20.0 * unit(rng);
    SampleBuilding b;
    b.x0 = area.x + unit(rng) * std::max(area.width - w, 0.0);
    b.y0 = area.y + unit(rng) * std::max(area.height - h, 0.0);
    b.x1 = b.x0 + w;
    b.y1 = b.y0 + h;
    const auto apart = [&](const SampleBuilding& o) {
      return b.x1 + kGap < o.x0 || o.x1 + kGap < b.x0 || b.y1 + kGap < o.y0 || o.y1 + kGap < b.y0;
    };
    if (!std::all_of(all_.begin(), all_.end(), apart)) continue;
    double ground = terrain((b.x0 + b.x1) / 2, (b.y0 + b.y1) / 2);
    for (const double x : {b.x0, b.x1})
      for (const double y : {b.y0, b.y1}) ground = std::max(ground, terrain(x, y));
    b.roof = ground + 15.0 + 30.0 * unit(rng);
    all_.push_back(b);
    highest_ = std::max(highest_, b.roof);
  }
  Index();
}

void SampleBuildings::Index() {
  if (all_.empty()) return;
  double x1 = -1e300, y1 = -1e300;
  gx0_ = gy0_ = 1e300;
  for (const SampleBuilding& b : all_) {
    gx0_ = std::min(gx0_, b.x0);
    gy0_ = std::min(gy0_, b.y0);
    x1 = std::max(x1, b.x1);
    y1 = std::max(y1, b.y1);
  }
  cols_ = static_cast<int>((x1 - gx0_) / kCell) + 1;
  rows_ = static_cast<int>((y1 - gy0_) / kCell) + 1;
  cells_.assign(static_cast<size_t>(cols_) * rows_, {});
  for (int i = 0; i < static_cast<int>(all_.size()); ++i) {
    const SampleBuilding& b = all_[i];
    for (int cy = static_cast<int>((b.y0 - gy0_) / kCell); cy <= static_cast<int>((b.y1 - gy0_) / kCell); ++cy)
      for (int cx = static_cast<int>((b.x0 - gx0_) / kCell); cx <= static_cast<int>((b.x1 - gx0_) / kCell); ++cx)
        cells_[static_cast<size_t>(cy) * cols_ + cx].push_back(i);
  }
}

std::vector<int> SampleBuildings::Cell(int cx, int cy) const {
  if (cx < 0 || cy < 0 || cx >= cols_ || cy >= rows_) return {};
  return cells_[static_cast<size_t>(cy) * cols_ + cx];
}

const SampleBuilding* SampleBuildings::At(double x, double y) const {
  if (cells_.empty() || !(x >= gx0_) || !(y >= gy0_)) return nullptr;
  for (const int i : Cell(static_cast<int>((x - gx0_) / kCell), static_cast<int>((y - gy0_) / kCell))) {
    const SampleBuilding& b = all_[i];
    if (x >= b.x0 && x <= b.x1 && y >= b.y0 && y <= b.y1) return &b;
  }
  return nullptr;
}

bool SampleBuildings::Hit(const cv::Point3d& o, const cv::Point3d& d, double tMax, double* t) const {
  if (cells_.empty() || d.z >= 0.0) return false;
  // Only where the ray runs below the highest roof can it meet a building.
  const double tTop = std::max(0.0, (highest_ - o.z) / d.z);
  if (tTop >= tMax) return false;
  const double ax = o.x + tTop * d.x, ay = o.y + tTop * d.y;
  const double bx = o.x + tMax * d.x, by = o.y + tMax * d.y;
  const int cx0 = static_cast<int>(std::floor((std::min(ax, bx) - gx0_) / kCell));
  const int cx1 = static_cast<int>(std::floor((std::max(ax, bx) - gx0_) / kCell));
  const int cy0 = static_cast<int>(std::floor((std::min(ay, by) - gy0_) / kCell));
  const int cy1 = static_cast<int>(std::floor((std::max(ay, by) - gy0_) / kCell));
  bool found = false;
  double best = tMax;
  for (int cy = std::max(cy0, 0); cy <= std::min(cy1, rows_ - 1); ++cy)
    for (int cx = std::max(cx0, 0); cx <= std::min(cx1, cols_ - 1); ++cx)
      for (const int i : cells_[static_cast<size_t>(cy) * cols_ + cx]) {
        const SampleBuilding& b = all_[i];
        // Slabs of x, y and z (the walls reach down below any terrain).
        double t0 = 0.0, t1 = best;
        const double lo[3] = {b.x0, b.y0, -1e9}, hi[3] = {b.x1, b.y1, b.roof};
        const double org[3] = {o.x, o.y, o.z}, dir[3] = {d.x, d.y, d.z};
        bool miss = false;
        for (int k = 0; k < 3 && !miss; ++k) {
          if (dir[k] == 0.0) {
            miss = org[k] < lo[k] || org[k] > hi[k];
            continue;
          }
          double ta = (lo[k] - org[k]) / dir[k], tb = (hi[k] - org[k]) / dir[k];
          if (ta > tb) std::swap(ta, tb);
          t0 = std::max(t0, ta);
          t1 = std::min(t1, tb);
          miss = t0 > t1;
        }
        if (miss || t0 <= 0.0 || t0 >= best) continue;
        best = t0;
        found = true;
      }
  if (found) *t = best;
  return found;
}

}  // namespace ortavia
