#include "gui/cad_view.h"

#include <QContextMenuEvent>
#include <QImageReader>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>
#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <opencv2/imgcodecs.hpp>

namespace ortavia::ui {

namespace {

constexpr double kPickTolerance = 5.0;   // pixels
constexpr double kDragThreshold = 4.0;   // pixels before a press becomes a pan
constexpr int kSettleMs = 220;           // quiet time after wheel or pan before a full repaint
constexpr std::size_t kHistoryDepth = 64;
constexpr std::size_t kSmoothPolylineLimit = 2000;  // polylines in view drawn with smoothed edges
constexpr double kMinScale = 1e-9, kMaxScale = 1e9;

double SegmentDistance(QPointF p, QPointF a, QPointF b) {
  const QPointF ab = b - a;
  const double len2 = QPointF::dotProduct(ab, ab);
  double t = len2 > 0.0 ? QPointF::dotProduct(p - a, ab) / len2 : 0.0;
  t = std::clamp(t, 0.0, 1.0);
  const QPointF d = p - (a + t * ab);
  return std::hypot(d.x(), d.y());
}

bool IsSelectable(const CadDrawing& cad, const CadEntity& e) {
  if (e.erased || e.kind != CadEntityKind::Polyline || e.points.empty()) return false;
  const CadLayer* layer = cad.FindLayer(e.layer);
  return !(layer && layer->locked);
}

std::map<QString, PictureReader>& Readers() {
  static std::map<QString, PictureReader> readers;
  return readers;
}

QImage ReadPicture(const QString& path) {
  QImageReader reader(path);
  QImage image = reader.read();
  if (!image.isNull()) return image;
  // Formats without a Qt image plugin here (TIFF) go through OpenCV.
  const cv::Mat bgr = cv::imread(path.toStdString(), cv::IMREAD_COLOR);
  if (bgr.empty()) return {};
  return QImage(bgr.data, bgr.cols, bgr.rows, static_cast<qsizetype>(bgr.step), QImage::Format_BGR888).copy();
}

}  // namespace

void CadPluginImageRead(const QString& extension, PictureReader reader) {
  Readers()[extension.toLower()] = std::move(reader);
}

void RegisterPictureReaders() {
  for (const char* ext : {"jpg", "jpeg", "tif", "tiff", "gif"}) CadPluginImageRead(ext, ReadPicture);
}

QColor AciColor(int aci) {
  switch (aci) {
    case kAciRed: return QColor(255, 0, 0);
    case kAciYellow: return QColor(255, 255, 0);
    case kAciGreen: return QColor(0, 255, 0);
    case kAciCyan: return QColor(0, 255, 255);
    case kAciBlue: return QColor(0, 0, 255);
    case kAciMagenta: return QColor(255, 0, 255);
    default: return QColor(255, 255, 255);
  }
}

CadView::CadView(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(120, 90);
  setCursor(Qt::CrossCursor);
  QPalette pal = palette();
  pal.setColor(QPalette::Base, QColor(28, 30, 34));
  setPalette(pal);
  settle_.setSingleShot(true);
  settle_.setInterval(kSettleMs);
  connect(&settle_, &QTimer::timeout, this, [this] {
    if (dragButton_ != Qt::NoButton && panning_) return;  // still dragging: wait for the release
    interacting_ = false;
    update();
  });
}

void CadView::SetDrawing(const CadDrawing* drawing) {
  drawing_ = drawing;
  selection_.clear();
  pictures_.clear();
  Regen();
}

// --- view state --------------------------------------------------------------------------------

QPointF CadView::GroundToWidget(double x, double y) const {
  return {width() / 2.0 + (x - cx_) * scale_, height() / 2.0 - (y - cy_) * scale_};
}

QPointF CadView::WidgetToGround(QPointF w) const {
  return {cx_ + (w.x() - width() / 2.0) / scale_, cy_ - (w.y() - height() / 2.0) / scale_};
}

CadBox CadView::VisibleBox() const {
  const QPointF tl = WidgetToGround({0.0, 0.0});
  const QPointF br = WidgetToGround(QPointF(width(), height()));
  return {tl.x(), br.y(), br.x(), tl.y()};
}

void CadView::SetState(const ViewState& s) {
  if (!std::isfinite(s.cx) || !std::isfinite(s.cy) || !std::isfinite(s.scale)) return;
  cx_ = s.cx;
  cy_ = s.cy;
  scale_ = std::clamp(s.scale, kMinScale, kMaxScale);
  update();
}

void CadView::PushHistory() {
  if (!history_.empty() && history_.back() == State()) return;
  history_.push_back(State());
  if (history_.size() > kHistoryDepth) history_.erase(history_.begin());
}

void CadView::StartInteraction() {
  interacting_ = true;
  settle_.start();
}

bool CadView::Execute(int command) {
  switch (command) {
    case kCadZoomExtents: ZoomExtents(); return true;
    case kCadZoomPrevious: ZoomPrevious(); return true;
    case kCadZoomWindow: BeginZoomWindow(); return true;
    case kCadUnselectAll: UnselectAll(); return true;
    default: return false;
  }
}

void CadView::ZoomExtents() {
  std::optional<CadBox> box = drawing_ ? drawing_->Extents() : std::nullopt;
  if (!box) {
    update();
    return;
  }
  if (width() <= 1 || height() <= 1) {
    extentsPending_ = true;
    return;
  }
  ZoomToBox(*box);
}

void CadView::ZoomToBox(const CadBox& box) {
  const double bw = std::abs(box.right - box.left), bh = std::abs(box.top - box.bottom);
  ViewState s{(box.left + box.right) / 2.0, (box.bottom + box.top) / 2.0, scale_};
  // A small margin so that outlines on the edge stay visible.
  const double sx = bw > 0.0 ? width() / bw : 0.0, sy = bh > 0.0 ? height() / bh : 0.0;
  if (sx > 0.0 && sy > 0.0)
    s.scale = 0.95 * std::min(sx, sy);
  else if (sx > 0.0 || sy > 0.0)
    s.scale = 0.95 * std::max(sx, sy);
  PushHistory();
  SetState(s);
}

void CadView::ZoomPrevious() {
  while (!history_.empty()) {
    const ViewState s = history_.back();
    history_.pop_back();
    if (s == State()) continue;
    SetState(s);
    return;
  }
}

void CadView::BeginZoomWindow() {
  zoomWindowStage_ = 1;
  update();
}

void CadView::ZoomBy(double factor, QPointF anchor) {
  if (!(factor > 0.0) || !std::isfinite(factor)) return;
  const QPointF g = WidgetToGround(anchor);
  const double s = std::clamp(scale_ * factor, kMinScale, kMaxScale);
  // Keep g under the anchor: anchor.x = w/2 + (g.x - cx) * s.
  SetState({g.x() - (anchor.x() - width() / 2.0) / s, g.y() + (anchor.y() - height() / 2.0) / s, s});
}

void CadView::PanBy(QPointF delta) {
  SetState({cx_ - delta.x() / scale_, cy_ + delta.y() / scale_, scale_});
}

void CadView::Regen() {
  cacheState_.reset();
  pictureState_.reset();
  interacting_ = false;
  update();
}

// --- selection ---------------------------------------------------------------------------------

CadHandle CadView::PickAt(QPointF w) const {
  if (!drawing_) return 0;
  const auto& entities = drawing_->Entities();
  CadHandle nearest = 0;
  double nearestDist = kPickTolerance;
  for (auto it = entities.rbegin(); it != entities.rend(); ++it) {
    if (!IsSelectable(*drawing_, *it)) continue;
    const auto& pts = it->points;
    const std::size_t n = pts.size();
    const std::size_t segments = it->closed ? n : n - 1;
    for (std::size_t i = 0; i < std::max<std::size_t>(segments, 1); ++i) {
      const QPointF a = GroundToWidget(pts[i % n].x, pts[i % n].y);
      const QPointF b = GroundToWidget(pts[(i + 1) % n].x, pts[(i + 1) % n].y);
      const double d = SegmentDistance(w, a, b);
      if (d < nearestDist) {
        nearestDist = d;
        nearest = it->handle;
      }
    }
  }
  if (nearest) return nearest;
  for (auto it = entities.rbegin(); it != entities.rend(); ++it) {
    if (!IsSelectable(*drawing_, *it) || !it->closed || it->points.size() < 3) continue;
    QPolygonF poly;
    for (const auto& p : it->points) poly << GroundToWidget(p.x, p.y);
    if (poly.containsPoint(w, Qt::OddEvenFill)) return it->handle;
  }
  return 0;
}

void CadView::SetSelected(CadHandle handle, bool selected) {
  if (handle == 0) return;
  if (selected) {
    if (!drawing_ || !drawing_->Find(handle) || !selection_.insert(handle).second) return;
    update();
    emit EntitySelected(handle);
  } else {
    if (selection_.erase(handle) == 0) return;
    update();
    emit EntityDeselected(handle);
  }
}

void CadView::UnselectAll() {
  const std::set<CadHandle> old = selection_;
  for (CadHandle h : old) SetSelected(h, false);
}

void CadView::PruneErased() {
  if (!drawing_) {
    selection_.clear();
    pictures_.clear();
    return;
  }
  std::erase_if(selection_, [this](CadHandle h) { return drawing_->Find(h) == nullptr; });
  // Pictures of erased placements (an earlier DEM) are large: let them go.
  std::erase_if(pictures_, [this](const auto& kv) { return drawing_->Find(kv.first) == nullptr; });
}

void CadView::ClickSelect(QPointF pos, Qt::KeyboardModifiers mods) {
  const CadHandle hit = PickAt(pos);
  const bool additive = mods & (Qt::ControlModifier | Qt::ShiftModifier);
  if (additive) {
    if (hit) SetSelected(hit, !selection_.count(hit));
    return;
  }
  const std::set<CadHandle> old = selection_;
  for (CadHandle h : old)
    if (h != hit) SetSelected(h, false);
  if (hit) SetSelected(hit, true);
}

QMenu* CadView::CreateContextMenu(QWidget* parent) {
  auto* menu = new QMenu(parent);
  menu->addAction(tr("Zoom Extents"), this, [this] { Execute(kCadZoomExtents); });
  menu->addAction(tr("Zoom Window"), this, [this] { Execute(kCadZoomWindow); });
  QAction* previous = menu->addAction(tr("Zoom Previous"), this, [this] { Execute(kCadZoomPrevious); });
  previous->setEnabled(!history_.empty());
  if (!selection_.empty()) {
    menu->addSeparator();
    menu->addAction(tr("Unselect All"), this, [this] { Execute(kCadUnselectAll); });
  }
  return menu;
}

// --- painting ----------------------------------------------------------------------------------

bool CadView::CacheMatches() const {
  return cacheState_ && *cacheState_ == State() && cacheSize_ == size() && drawing_ &&
         cacheRevision_ == drawing_->Revision();
}

std::vector<CadHandle> CadView::PictureKey() const {
  std::vector<CadHandle> key;
  if (drawing_)
    for (const auto& e : drawing_->Entities())
      if (!e.erased && e.kind == CadEntityKind::Image) key.push_back(e.handle);
  return key;
}

void CadView::RenderPictures() {
  std::vector<CadHandle> key = PictureKey();
  if (pictureState_ && *pictureState_ == State() && pictureSize_ == size() && key == pictureKey_) return;
  const qreal dpr = devicePixelRatioF();
  pictureCache_ = QPixmap(size() * dpr);
  pictureCache_.setDevicePixelRatio(dpr);
  pictureCache_.fill(palette().color(QPalette::Base));
  QPainter p(&pictureCache_);
  if (drawing_)
    for (const auto& e : drawing_->Entities())
      if (!e.erased && e.kind == CadEntityKind::Image) DrawImageEntity(p, e, rect(), true);
  pictureState_ = State();
  pictureSize_ = size();
  pictureKey_ = std::move(key);
}

void CadView::RenderCache() {
  RenderPictures();
  cache_ = pictureCache_.copy();
  QPainter p(&cache_);
  DrawPolylines(p);
  cacheState_ = State();
  cacheSize_ = size();
  cacheRevision_ = drawing_ ? drawing_->Revision() : 0;
}

void CadView::DrawImageEntity(QPainter& p, const CadEntity& e, const QRect& visible, bool ownerPaints) {
  // The picture is painted upright in a frame of its own, turned and mirrored onto the widget by
  // `turn` (no translation, so that a north-up picture's frame is the widget's own).
  const double lw = std::hypot(e.frame.across[0], e.frame.across[1]) * scale_;
  const double lh = std::hypot(e.frame.down[0], e.frame.down[1]) * scale_;
  if (!(lw > 0.0) || !(lh > 0.0) || !std::isfinite(lw) || !std::isfinite(lh)) return;
  const QTransform turn(e.frame.across[0] * scale_ / lw, -e.frame.across[1] * scale_ / lw,
                        e.frame.down[0] * scale_ / lh, -e.frame.down[1] * scale_ / lh, 0.0, 0.0);
  bool invertible = false;
  const QTransform back = turn.inverted(&invertible);
  if (!invertible) return;
  const QRectF pictureRect(back.map(GroundToWidget(e.frame.origin.x, e.frame.origin.y)), QSizeF(lw, lh));
  if (!turn.mapRect(pictureRect).intersects(QRectF(visible))) return;
  const QRect localVisible = back.mapRect(QRectF(visible)).toAlignedRect();
  p.save();
  if (!turn.isIdentity()) p.setWorldTransform(turn, true);
  const bool painted = ownerPaints && drawImage_ && drawImage_(e.code, p, pictureRect, localVisible);
  if (!painted) DrawPictureFile(p, e, pictureRect);
  p.restore();
}

void CadView::DrawPictureFile(QPainter& p, const CadEntity& e, const QRectF& pictureRect) {
  auto it = pictures_.find(e.handle);
  if (it == pictures_.end()) {
    const QString file = QString::fromStdString(e.file);
    auto reader = Readers().find(QFileInfo(file).suffix().toLower());
    it = pictures_.emplace(e.handle, reader != Readers().end() ? reader->second(file) : QImage()).first;
  }
  if (it->second.isNull()) return;
  p.setRenderHint(QPainter::SmoothPixmapTransform, false);
  p.drawImage(pictureRect, it->second);
}

void CadView::DrawEntities(QPainter& p, const QRect& visible, bool ownerPaints) {
  if (!drawing_) return;
  // Images first so that outlines lie on top of the pictures.
  for (const auto& e : drawing_->Entities())
    if (!e.erased && e.kind == CadEntityKind::Image) DrawImageEntity(p, e, visible, ownerPaints);
  DrawPolylines(p);
}

void CadView::DrawPolylines(QPainter& p) {
  if (!drawing_) return;
  const QRectF view = QRectF(rect()).adjusted(-2, -2, 2, 2);
  // Polylines wholly outside the view cost nothing; with many in view, smoothing their edges is
  // what a redraw spends its time on and shows little at that density, so they are drawn plain.
  std::vector<std::pair<const CadEntity*, QPolygonF>> shown;
  for (const auto& e : drawing_->Entities()) {
    if (e.erased || e.kind != CadEntityKind::Polyline || e.points.empty()) continue;
    QPolygonF poly;
    poly.reserve(static_cast<qsizetype>(e.points.size()));
    for (const auto& pt : e.points) poly << GroundToWidget(pt.x, pt.y);
    if (poly.boundingRect().intersects(view) || poly.size() == 1) shown.emplace_back(&e, std::move(poly));
  }
  const bool smooth = shown.size() <= kSmoothPolylineLimit;
  p.setRenderHint(QPainter::Antialiasing, smooth);
  for (const auto& [e, poly] : shown) {
    const QColor colour = AciColor(drawing_->EffectiveColor(*e));
    p.setPen(smooth ? QPen(colour, 1.5) : QPen(colour, 0));
    if (e->filled && e->closed) {
      QColor fill = colour;
      fill.setAlpha(110);  // translucent, so that overlaps and the terrain stay readable
      p.setBrush(fill);
    } else {
      p.setBrush(Qt::NoBrush);
    }
    if (e->closed)
      p.drawPolygon(poly);
    else
      p.drawPolyline(poly);
  }
}

void CadView::DrawOverlay(QPainter& p) {
  if (!emptyText_.isEmpty() && (!drawing_ || !drawing_->Extents())) {
    p.setPen(QColor(150, 155, 165));
    p.drawText(rect(), Qt::AlignCenter, emptyText_);
  }
  p.setRenderHint(QPainter::Antialiasing, true);
  if (drawing_) {
    for (CadHandle h : selection_) {
      const CadEntity* e = drawing_->Find(h);
      if (!e || e->points.empty()) continue;
      QPolygonF poly;
      for (const auto& pt : e->points) poly << GroundToWidget(pt.x, pt.y);
      p.setBrush(Qt::NoBrush);
      p.setPen(QPen(QColor(255, 255, 255), 3.0, Qt::DashLine));
      if (e->closed)
        p.drawPolygon(poly);
      else
        p.drawPolyline(poly);
    }
  }
  if (drawing_ && drawing_->Extents()) DrawScaleBar(p);
  if (zoomWindowStage_ == 2 && pointerInside_) {
    p.setPen(QPen(QColor(0, 255, 0), 1.0, Qt::DashLine));
    p.setBrush(QColor(0, 255, 0, 30));
    p.drawRect(QRectF(zoomCorner_, pointer_).normalized());
  }
}

void CadView::DrawScaleBar(QPainter& p) {
  // The longest 1, 2 or 5 times a power of ten that fits in about 120 pixels.
  const double target = 120.0 / scale_;
  if (!(target > 0.0) || !std::isfinite(target)) return;
  const double decade = std::pow(10.0, std::floor(std::log10(target)));
  double length = decade;
  for (double m : {2.0, 5.0})
    if (m * decade <= target) length = m * decade;
  const double px = length * scale_;
  QString label = QString::number(length, 'g', 6);
  if (!unitName_.isEmpty()) label += QLatin1Char(' ') + unitName_;

  p.save();
  p.setRenderHint(QPainter::Antialiasing, false);
  const QFontMetrics fm = p.fontMetrics();
  const QRectF bar(14.0, height() - 18.0, px, 5.0);
  const QRectF back(bar.left() - 8, bar.top() - fm.height() - 8, std::max(px, double(fm.horizontalAdvance(label))) + 16,
                    bar.height() + fm.height() + 13);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 0, 0, 150));
  p.drawRoundedRect(back, 4, 4);
  p.setBrush(QColor(240, 240, 240));
  p.drawRect(bar);
  p.setBrush(QColor(60, 60, 60));
  p.drawRect(QRectF(bar.left() + px / 2, bar.top() + 1, px / 2 - 1, bar.height() - 2));
  p.setPen(QColor(240, 240, 240));
  p.drawText(QPointF(bar.left(), bar.top() - 5), label);
  p.restore();
}

void CadView::paintEvent(QPaintEvent*) {
  PruneErased();
  QPainter p(this);
  if (!CacheMatches()) {
    if (interacting_ && cacheState_ && cacheSize_ == size()) {
      // Move the last full painting with the view until the operator pauses; what comes into
      // view meanwhile shows the stored pictures, which cost no raster read.
      const double k = scale_ / cacheState_->scale;
      QTransform moved;
      moved.translate(width() / 2.0 + scale_ * (cacheState_->cx - cx_),
                      height() / 2.0 - scale_ * (cacheState_->cy - cy_));
      moved.scale(k, k);
      moved.translate(-width() / 2.0, -height() / 2.0);
      const QRect covered = moved.mapRect(QRectF(rect())).adjusted(1, 1, -1, -1).toAlignedRect();
      p.fillRect(rect(), palette().color(QPalette::Base));
      p.save();
      p.setClipRegion(QRegion(rect()).subtracted(QRegion(covered)));
      DrawEntities(p, rect(), false);
      p.restore();
      p.save();
      p.setTransform(moved);
      p.setRenderHint(QPainter::SmoothPixmapTransform, false);
      p.drawPixmap(0, 0, cache_);
      p.restore();
      DrawOverlay(p);
      return;
    }
    RenderCache();
  }
  p.drawPixmap(0, 0, cache_);
  DrawOverlay(p);
}

void CadView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  interacting_ = false;
  if (extentsPending_ && width() > 1 && height() > 1) {
    extentsPending_ = false;
    ZoomExtents();
  }
}

// --- input -------------------------------------------------------------------------------------

void CadView::mousePressEvent(QMouseEvent* event) {
  const QPointF pos = event->position();
  if (event->button() == Qt::LeftButton && zoomWindowStage_ == 1) {
    zoomCorner_ = pos;
    zoomWindowStage_ = 2;
    dragButton_ = Qt::LeftButton;
    pressPos_ = pos;
    return;
  }
  if (event->button() == Qt::LeftButton && zoomWindowStage_ == 2) {
    dragButton_ = Qt::LeftButton;
    pressPos_ = pos;
    return;
  }
  if (event->button() == Qt::LeftButton || event->button() == Qt::MiddleButton) {
    dragButton_ = event->button();
    pressPos_ = lastDragPos_ = pos;
    panning_ = event->button() == Qt::MiddleButton;
    if (panning_) {
      PushHistory();
      setCursor(Qt::ClosedHandCursor);
    }
  }
}

void CadView::mouseMoveEvent(QMouseEvent* event) {
  const QPointF pos = event->position();
  pointer_ = pos;
  pointerInside_ = true;
  if (!hasFocus()) setFocus(Qt::MouseFocusReason);
  const QPointF g = WidgetToGround(pos);
  emit GroundPositionChanged(g.x(), g.y());
  if (zoomWindowStage_ == 2) {
    update();
    return;
  }
  if (dragButton_ == Qt::NoButton) return;
  if (!panning_ && QLineF(pos, pressPos_).length() > kDragThreshold) {
    panning_ = true;
    PushHistory();
    setCursor(Qt::ClosedHandCursor);
  }
  if (panning_) {
    StartInteraction();
    PanBy(pos - lastDragPos_);
    lastDragPos_ = pos;
  }
}

void CadView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != dragButton_) return;
  const QPointF pos = event->position();
  dragButton_ = Qt::NoButton;
  if (zoomWindowStage_ == 2) {
    // A drag chooses the rectangle at once; a click sets the first corner and waits for the second.
    if (QLineF(pos, zoomCorner_).length() > kDragThreshold) {
      zoomWindowStage_ = 0;
      const QPointF a = WidgetToGround(zoomCorner_), b = WidgetToGround(pos);
      ZoomToBox({std::min(a.x(), b.x()), std::min(a.y(), b.y()), std::max(a.x(), b.x()),
                 std::max(a.y(), b.y())});
    }
    return;
  }
  if (panning_) {
    panning_ = false;
    setCursor(Qt::CrossCursor);
    StartInteraction();
    return;
  }
  if (event->button() == Qt::LeftButton) ClickSelect(pos, event->modifiers());
}

void CadView::wheelEvent(QWheelEvent* event) {
  const double notches = event->angleDelta().y() / 120.0;
  if (notches == 0.0) {
    event->ignore();
    return;
  }
  if (!interacting_) PushHistory();
  StartInteraction();
  ZoomBy(std::pow(1.25, notches), event->position());
  event->accept();
}

void CadView::contextMenuEvent(QContextMenuEvent* event) {
  if (zoomWindowStage_ > 0) {
    zoomWindowStage_ = 0;
    update();
    return;
  }
  QMenu* menu = CreateContextMenu(this);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(event->globalPos());
}

void CadView::keyPressEvent(QKeyEvent* event) {
  const QPointF centre(width() / 2.0, height() / 2.0);
  const double step = std::max(width(), height()) / 8.0;  // pixels per arrow key
  switch (event->key()) {
    case Qt::Key_Escape:
      if (zoomWindowStage_ == 0) break;
      zoomWindowStage_ = 0;
      update();
      return;
    case Qt::Key_Home: ZoomExtents(); return;
    case Qt::Key_Plus:
    case Qt::Key_Equal: PushHistory(); StartInteraction(); ZoomBy(1.25, centre); return;
    case Qt::Key_Minus: PushHistory(); StartInteraction(); ZoomBy(1.0 / 1.25, centre); return;
    case Qt::Key_Left: StartInteraction(); PanBy({step, 0.0}); return;
    case Qt::Key_Right: StartInteraction(); PanBy({-step, 0.0}); return;
    case Qt::Key_Up: StartInteraction(); PanBy({0.0, step}); return;
    case Qt::Key_Down: StartInteraction(); PanBy({0.0, -step}); return;
    default: break;
  }
  QWidget::keyPressEvent(event);
}

void CadView::leaveEvent(QEvent* event) {
  pointerInside_ = false;
  if (zoomWindowStage_ == 2) update();
  QWidget::leaveEvent(event);
}

}  // namespace ortavia::ui
