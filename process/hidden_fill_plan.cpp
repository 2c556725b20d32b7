#include "process/hidden_fill_plan.h"

#include <algorithm>
#include <cmath>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include "process/visibility.h"
#include "process/warp.h"
#include "products/mosaic.h"

namespace ortavia {
namespace {

// How far the warp grows an image's Voronoi cells into its ortho, in cells.
constexpr int kOrthoGrowth = 16;
// A candidate's frame must hold the pixel this far inside: the warp samples 5 pixels in.
constexpr double kFrameMargin = 8.0;

struct Camera {
  int row = -1;
  const geo::COrientation* orientation = nullptr;
  cv::Point3d centre;
  cv::Rect own;    // bounding box of its cells
  cv::Rect reach;  // own grown as the warp grows it: where its ortho may have pixels
};

cv::Mat CellOwners(const cv::Mat& voronoi) {
  cv::Mat out(voronoi.size(), CV_32S);
  for (int r = 0; r < voronoi.rows; ++r) {
    const cv::Vec3b* v = voronoi.ptr<cv::Vec3b>(r);
    int* o = out.ptr<int>(r);
    for (int c = 0; c < voronoi.cols; ++c) {
      const int code = RowFromColorCode(v[c]);
      o[c] = code == 0xFFFFFF ? -1 : code;
    }
  }
  return out;
}

std::vector<Camera> Cameras(const HiddenFillRequest& req, const cv::Mat& owners) {
  const WarpProject& p = *req.project;
  std::vector<Camera> out;
  for (int r : req.rows) {
    if (r < 0 || r >= static_cast<int>(p.images.size())) continue;
    const auto it = p.orientations.find(p.images[r].name);
    if (it == p.orientations.end()) continue;
    const geo::COrientation& o = it->second;
    if (o.N.x() == 0.0 && o.N.y() == 0.0 && o.N.z() == 0.0) continue;
    cv::Mat mine = owners == r;
    const cv::Rect own = cv::boundingRect(mine);
    if (own.empty()) continue;
    Camera c;
    c.row = r;
    c.orientation = &o;
    c.centre = {o.N.x(), o.N.y(), o.N.z()};
    c.own = own;
    c.reach = cv::Rect(own.x - kOrthoGrowth, own.y - kOrthoGrowth, own.width + 2 * kOrthoGrowth,
                       own.height + 2 * kOrthoGrowth);
    out.push_back(c);
  }
  return out;
}

class OwnerPlan {
 public:
  OwnerPlan(const HiddenFillRequest& req, const cv::Mat& owners, const std::vector<Camera>& cams,
            const Camera& owner, const SurfaceVisibility& surface, const DemGeoTransform& transform)
      : req_(req), owners_(owners), cams_(cams), owner_(owner), surface_(surface),
        transform_(transform) {
    const auto& passport = req.project->passport;
    frameW_ = passport ? passport->width : 0;
    frameH_ = passport ? passport->height : 0;
  }

  // The runs of mosaic row y inside the owner's cells.
  std::vector<FillRun> Row(int y) const {
    std::vector<FillRun> runs;
    const WarpProject& p = *req_.project;
    const double scale = p.mosaicScale;
    const int cellRow = static_cast<int>(std::floor(y / scale));
    if (cellRow < 0 || cellRow >= owners_.rows) return runs;
    const int* o = owners_.ptr<int>(cellRow);
    const int x0 = std::max(0, static_cast<int>(std::floor(owner_.own.x * scale)));
    const int x1 = std::min(req_.mosaicWidth, static_cast<int>(std::ceil(owner_.own.br().x * scale)) + 1);
    const double gy = p.mosaicMaxY - y * req_.gsd;
    // The row's pixels in the owner's cells, tested together.
    thread_local std::vector<int> xs;
    thread_local std::vector<double> gxs, gys;
    thread_local std::vector<unsigned char> seen;
    xs.clear(), gxs.clear();
    for (int cell = static_cast<int>(std::floor(x0 / scale)); cell < owners_.cols; ++cell) {
      const int a = std::max(x0, MosaicCellStart(cell, scale));
      if (a >= x1) break;
      if (cell < 0 || o[cell] != owner_.row) continue;
      for (int x = a, b = std::min(x1, MosaicCellStart(cell + 1, scale)); x < b; ++x)
        xs.push_back(x), gxs.push_back(p.mosaicMinX + x * req_.gsd);
    }
    gys.assign(xs.size(), gy);
    seen.resize(xs.size());
    surface_.SeesEach(gxs.data(), gys.data(), static_cast<int>(xs.size()), owner_.centre,
                      seen.data());
    for (std::size_t n = 0; n < xs.size(); ++n) {
      if (seen[n]) continue;
      const int x = xs[n];
      const int filler = Filler(gxs[n], gy, static_cast<int>(std::floor(x / scale)), cellRow);
      if (!runs.empty() && runs.back().x1 == x && runs.back().row == filler) ++runs.back().x1;
      else runs.push_back({x, x + 1, filler});
    }
    return runs;
  }

 private:
  int Filler(double gx, double gy, int cellCol, int cellRow) const {
    const cv::Point2d s = transform_.GroundToSample(gx, gy);
    const double z = surface_.HeightAt(s.x, s.y);
    if (z == static_cast<double>(kNoHeight)) return -1;
    const cv::Point3d ground(gx, gy, z);
    std::vector<std::pair<double, const Camera*>> order;
    for (const Camera& c : cams_) {
      if (c.row == owner_.row || !c.reach.contains({cellCol, cellRow})) continue;
      const cv::Point2d px = c.orientation->Pt3dToPix(ground);
      if (!(px.x >= kFrameMargin && px.y >= kFrameMargin && px.x <= frameW_ - 1 - kFrameMargin &&
            px.y <= frameH_ - 1 - kFrameMargin))
        continue;
      order.push_back({ViewAngle(ground, owner_.centre, c.centre), &c});
    }
    std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) {
      return a.first != b.first ? a.first < b.first : a.second->row < b.second->row;
    });
    for (const auto& [angle, c] : order)
      if (surface_.Sees(gx, gy, c->centre)) return c->row;
    return -1;
  }

  const HiddenFillRequest& req_;
  const cv::Mat& owners_;
  const std::vector<Camera>& cams_;
  const Camera& owner_;
  const SurfaceVisibility& surface_;
  const DemGeoTransform& transform_;
  int frameW_ = 0, frameH_ = 0;
};

struct SightBox {
  double left = HUGE_VAL, right = -HUGE_VAL, top = -HUGE_VAL, bottom = HUGE_VAL;
  void Add(double x, double y) {
    left = std::min(left, x), right = std::max(right, x);
    bottom = std::min(bottom, y), top = std::max(top, y);
  }
};

// The ground the plan of one owner's cells looks over: its cells, and the nadir points of its own
// centre and of every image that may fill for it (a line from the ground to a centre runs between
// the two).
SightBox SightBoxOf(const HiddenFillRequest& req, const std::vector<Camera>& cams,
                    const Camera& owner) {
  const WarpProject& p = *req.project;
  const double cell = p.mosaicScale * req.gsd;
  SightBox box;
  box.Add(p.mosaicMinX + owner.own.x * cell, p.mosaicMaxY - owner.own.y * cell);
  box.Add(p.mosaicMinX + owner.own.br().x * cell, p.mosaicMaxY - owner.own.br().y * cell);
  for (const Camera& c : cams)
    if (c.row == owner.row || !(c.reach & owner.own).empty()) box.Add(c.centre.x, c.centre.y);
  return box;
}

}  // namespace

double ViewAngle(const cv::Point3d& p, const cv::Point3d& a, const cv::Point3d& b) {
  const cv::Point3d u = a - p, v = b - p;
  const double nu = std::sqrt(u.dot(u)), nv = std::sqrt(v.dot(v));
  if (!(nu > 0.0) || !(nv > 0.0)) return 0.0;
  return std::acos(std::clamp(u.dot(v) / (nu * nv), -1.0, 1.0));
}

std::optional<HiddenFill> PlanHiddenFill(const HiddenFillRequest& req, const RunContext& ctx) {
  HiddenFill fill(req.mosaicHeight);
  const WarpProject* p = req.project;
  if (!p || !req.voronoiMap || req.voronoiMap->type() != CV_8UC3 || !(req.gsd > 0.0) ||
      !(p->mosaicScale > 0.0))
    return fill;
  const cv::Mat owners = CellOwners(*req.voronoiMap);
  const std::vector<Camera> cams = Cameras(req, owners);
  std::vector<std::vector<FillRun>> rows(std::max(req.mosaicHeight, 0));
  for (const Camera& owner : cams) {
    if (ctx.AbortCheck()) return std::nullopt;
    const auto fp = p->footprints.find(p->images[owner.row].name);
    if (fp == p->footprints.end() || !p->cad.EntityBox(fp->second)) continue;
    const SightBox box = SightBoxOf(req, cams, owner);
    DemWindow dem;
    if (BuildDemWindow(p->dem.dataset.get(), box.left, box.right, box.top, box.bottom, dem,
                       false) != DemWindowStatus::Ok)
      continue;
    const auto transform = DemGeoTransform::From(dem.gt);
    if (!transform) continue;
    SurfaceVisibility surface(dem.heights, *transform);
    surface.Aim(owner.centre);
    const OwnerPlan plan(req, owners, cams, owner, surface, *transform);
    const int y0 = std::max(0, static_cast<int>(std::floor(owner.own.y * p->mosaicScale)));
    const int y1 = std::min(req.mosaicHeight,
                            static_cast<int>(std::ceil(owner.own.br().y * p->mosaicScale)) + 1);
    // Rows are independent: each is planned by one thread, and its runs join in column order.
    cv::parallel_for_(cv::Range(y0, std::max(y0, y1)), [&](const cv::Range& range) {
      for (int y = range.start; y < range.end; ++y) {
        std::vector<FillRun> runs = plan.Row(y);
        rows[y].insert(rows[y].end(), runs.begin(), runs.end());
      }
    });
  }
  for (int y = 0; y < static_cast<int>(rows.size()); ++y) {
    std::sort(rows[y].begin(), rows[y].end(),
              [](const FillRun& a, const FillRun& b) { return a.x0 < b.x0; });
    fill.SetRow(y, std::move(rows[y]));
  }
  return fill;
}

}  // namespace ortavia
