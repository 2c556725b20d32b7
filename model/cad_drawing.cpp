#include "model/cad_drawing.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ortavia {

void CadDrawing::AddLayer(const std::string& name, int color, bool locked) {
  for (auto& l : layers_) {
    if (l.name == name) {
      l.color = color;
      l.locked = locked;
      ++revision_;
      return;
    }
  }
  layers_.push_back({name, color, locked});
  ++revision_;
}

const CadLayer* CadDrawing::FindLayer(const std::string& name) const {
  for (const auto& l : layers_)
    if (l.name == name) return &l;
  return nullptr;
}

CadHandle CadDrawing::AddPolyline(const std::string& layer, std::vector<cv::Point2d> points,
                                  bool closed, int color, bool filled) {
  CadEntity e;
  e.handle = nextHandle_++;
  e.kind = CadEntityKind::Polyline;
  e.layer = layer;
  e.color = color;
  e.filled = filled;
  e.points = std::move(points);
  e.closed = closed;
  entities_.push_back(std::move(e));
  ++revision_;
  return entities_.back().handle;
}

CadImageFrame CadImageFrame::NorthUp(cv::Point2d lowerLeft, double width, double height) {
  return {{lowerLeft.x, lowerLeft.y + height}, {width, 0.0}, {0.0, -height}};
}

std::array<cv::Point2d, 4> CadImageFrame::Corners() const {
  const cv::Point2d a(across[0], across[1]), d(down[0], down[1]);
  return {origin, origin + a, origin + a + d, origin + d};
}

CadHandle CadDrawing::AddImage(const std::string& layer, const std::string& file,
                               cv::Point2d lowerLeft, double width, double height, int code) {
  return AddImage(layer, file, CadImageFrame::NorthUp(lowerLeft, width, height), code);
}

CadHandle CadDrawing::AddImage(const std::string& layer, const std::string& file,
                               const CadImageFrame& frame, int code) {
  CadEntity e;
  e.handle = nextHandle_++;
  e.kind = CadEntityKind::Image;
  e.layer = layer;
  e.file = file;
  e.frame = frame;
  double minX = HUGE_VAL, minY = HUGE_VAL, maxX = -HUGE_VAL, maxY = -HUGE_VAL;
  for (const cv::Point2d& c : frame.Corners()) {
    minX = std::min(minX, c.x);
    maxX = std::max(maxX, c.x);
    minY = std::min(minY, c.y);
    maxY = std::max(maxY, c.y);
  }
  e.lowerLeft = {minX, minY};
  e.width = maxX - minX;
  e.height = maxY - minY;
  e.code = code;
  entities_.push_back(std::move(e));
  ++revision_;
  return entities_.back().handle;
}

CadEntity* CadDrawing::Find(CadHandle handle) {
  return const_cast<CadEntity*>(std::as_const(*this).Find(handle));
}

const CadEntity* CadDrawing::Find(CadHandle handle) const {
  // Handles grow with insertion order, so the entities stay sorted by handle.
  auto it = std::lower_bound(entities_.begin(), entities_.end(), handle,
                             [](const CadEntity& e, CadHandle h) { return e.handle < h; });
  if (it == entities_.end() || it->handle != handle || it->erased) return nullptr;
  return &*it;
}

bool CadDrawing::SetColor(CadHandle handle, int color) {
  CadEntity* e = Find(handle);
  if (!e) return false;
  e->color = color;
  ++revision_;
  return true;
}

bool CadDrawing::SetFilled(CadHandle handle, bool filled) {
  CadEntity* e = Find(handle);
  if (!e) return false;
  e->filled = filled;
  ++revision_;
  return true;
}

bool CadDrawing::Erase(CadHandle handle) {
  CadEntity* e = Find(handle);
  if (!e) return false;
  e->erased = true;
  ++revision_;
  return true;
}

void CadDrawing::Purge() {
  std::erase_if(entities_, [](const CadEntity& e) { return e.erased; });
  ++revision_;
}

void CadDrawing::Clear() {
  entities_.clear();
  ++revision_;
}

int CadDrawing::EffectiveColor(const CadEntity& e) const {
  if (e.color != kAciByLayer) return e.color;
  const CadLayer* l = FindLayer(e.layer);
  return l ? l->color : kAciWhite;
}

namespace {
CadBox BoxOf(const CadEntity& e) {
  if (e.kind == CadEntityKind::Image)
    return {e.lowerLeft.x, e.lowerLeft.y, e.lowerLeft.x + e.width, e.lowerLeft.y + e.height};
  CadBox b{std::numeric_limits<double>::max(), std::numeric_limits<double>::max(),
           std::numeric_limits<double>::lowest(), std::numeric_limits<double>::lowest()};
  for (const auto& p : e.points) {
    b.left = std::min(b.left, p.x);
    b.right = std::max(b.right, p.x);
    b.bottom = std::min(b.bottom, p.y);
    b.top = std::max(b.top, p.y);
  }
  return b;
}
bool HasGeometry(const CadEntity& e) {
  return e.kind == CadEntityKind::Image || !e.points.empty();
}
}  // namespace

std::optional<CadBox> CadDrawing::EntityBox(CadHandle handle) const {
  const CadEntity* e = Find(handle);
  if (!e || !HasGeometry(*e)) return std::nullopt;
  return BoxOf(*e);
}

std::optional<CadBox> CadDrawing::Extents() const {
  std::optional<CadBox> all;
  for (const auto& e : entities_) {
    if (e.erased || !HasGeometry(e)) continue;
    const CadBox b = BoxOf(e);
    if (!all) {
      all = b;
      continue;
    }
    all->left = std::min(all->left, b.left);
    all->bottom = std::min(all->bottom, b.bottom);
    all->right = std::max(all->right, b.right);
    all->top = std::max(all->top, b.top);
  }
  return all;
}

double CadEntityGetLeft(const CadDrawing& cad, CadHandle h) {
  auto b = cad.EntityBox(h);
  return b ? b->left : 0.0;
}
double CadEntityGetRight(const CadDrawing& cad, CadHandle h) {
  auto b = cad.EntityBox(h);
  return b ? b->right : 0.0;
}
double CadEntityGetTop(const CadDrawing& cad, CadHandle h) {
  auto b = cad.EntityBox(h);
  return b ? b->top : 0.0;
}
double CadEntityGetBottom(const CadDrawing& cad, CadHandle h) {
  auto b = cad.EntityBox(h);
  return b ? b->bottom : 0.0;
}

}  // namespace ortavia
