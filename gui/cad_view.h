#pragma once
// The CAD view: a widget that shows a CadDrawing in ground units (X east, Y north) with zoom
// extents / window / previous, wheel zoom about the pointer, drag panning, entity selection and the
// ground position under the pointer. Image placements are painted by the owner through a callback
// (code 100 DEM, 200 ortho); when it declines, the view draws the placement's picture file.
#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "model/cad_drawing.h"

class QMenu;

namespace ortavia::ui {

// Paints one image placement. pictureRect is where the whole picture lands and visibleRect the part
// of the view being drawn, both in pixels of the picture's upright frame (origin top-left, y down):
// the widget's own for a north-up picture; for a turned or mirrored one the painter carries the
// turn onto the widget. True = painted.
using CadDrawImageFn = std::function<bool(int code, QPainter& painter, const QRectF& pictureRect,
                                          const QRect& visibleRect)>;

// Commands of the view, as the context menus issue them.
inline constexpr int kCadZoomExtents = 102;
inline constexpr int kCadZoomPrevious = 105;
inline constexpr int kCadZoomWindow = 106;
inline constexpr int kCadUnselectAll = 911;

// The screen colour of an AutoCAD colour index on the view's dark background.
QColor AciColor(int aci);

// Reads the picture file of an image placement; a null image when it cannot.
using PictureReader = std::function<QImage(const QString& path)>;
// Picture files are read only for registered extensions (lower case, without the dot).
void CadPluginImageRead(const QString& extension, PictureReader reader);
// Registers "jpg", "jpeg", "tif", "tiff" and "gif".
void RegisterPictureReaders();

class CadView : public QWidget {
  Q_OBJECT
 public:
  explicit CadView(QWidget* parent = nullptr);

  // The drawing is not owned and must outlive the view (or be replaced by null first).
  void SetDrawing(const CadDrawing* drawing);
  void SetDrawImage(CadDrawImageFn fn) { drawImage_ = std::move(fn); }
  // Name of the ground unit for the scale bar ("m", "ft", ...); empty = plain numbers.
  void SetUnitName(const QString& unit) { unitName_ = unit; update(); }
  // Hint shown while the drawing has nothing to show.
  void SetEmptyText(const QString& text) { emptyText_ = text; update(); }

  // Runs a view command (kCadZoomExtents, ...); false for an unknown one.
  bool Execute(int command);
  void ZoomExtents();
  void ZoomToBox(const CadBox& box);
  void ZoomPrevious();
  // The next two clicks (or one drag) choose the rectangle to show.
  void BeginZoomWindow();
  bool ZoomWindowActive() const { return zoomWindowStage_ > 0; }
  // Zooms by factor (> 1 = closer) keeping the ground point under widget position anchor fixed.
  void ZoomBy(double factor, QPointF anchor);
  // Moves the drawing by a widget-pixel offset.
  void PanBy(QPointF delta);
  // Repaints everything, including the owner-painted pictures, at once.
  void Regen();

  // Ground (X east, Y north) <-> widget pixels (origin top-left, y down).
  QPointF GroundToWidget(double x, double y) const;
  QPointF WidgetToGround(QPointF widget) const;
  double PixelsPerUnit() const { return scale_; }
  CadBox VisibleBox() const;

  // Topmost selectable polyline at a widget position (edges within a few pixels first, then the
  // inside of closed ones); 0 when none. Entities on locked layers are never picked.
  CadHandle PickAt(QPointF widget) const;
  const std::set<CadHandle>& Selection() const { return selection_; }
  // Changes the selection and emits the matching signal when it changed.
  void SetSelected(CadHandle handle, bool selected);
  void UnselectAll();

  // Builds the context menu (exposed for tests).
  QMenu* CreateContextMenu(QWidget* parent);

 signals:
  void EntitySelected(ortavia::CadHandle handle);
  void EntityDeselected(ortavia::CadHandle handle);
  // Ground position under the pointer.
  void GroundPositionChanged(double x, double y);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  struct ViewState {
    double cx = 0.0, cy = 0.0;  // ground point at the widget centre
    double scale = 1.0;         // widget pixels per ground unit
    bool operator==(const ViewState&) const = default;
  };

  ViewState State() const { return {cx_, cy_, scale_}; }
  void SetState(const ViewState& s);
  void PushHistory();
  void StartInteraction();
  void RenderCache();
  // Draws the image placements into pictureCache_ unless it shows them already.
  void RenderPictures();
  std::vector<CadHandle> PictureKey() const;
  // ownerPaints = false draws image placements from their picture files only.
  void DrawEntities(QPainter& p, const QRect& visible, bool ownerPaints = true);
  void DrawPolylines(QPainter& p);
  void DrawImageEntity(QPainter& p, const CadEntity& e, const QRect& visible, bool ownerPaints);
  void DrawPictureFile(QPainter& p, const CadEntity& e, const QRectF& pictureRect);
  void DrawOverlay(QPainter& p);
  void DrawScaleBar(QPainter& p);
  bool CacheMatches() const;
  void ClickSelect(QPointF pos, Qt::KeyboardModifiers mods);
  void PruneErased();

  const CadDrawing* drawing_ = nullptr;
  CadDrawImageFn drawImage_;
  QString emptyText_;
  QString unitName_;
  double cx_ = 0.0, cy_ = 0.0, scale_ = 1.0;
  std::vector<ViewState> history_;
  std::set<CadHandle> selection_;

  QPixmap cache_;
  // The image placements alone, painted by the owner (the DEM reads its raster): kept while the
  // view, its size and the placements stay, so that recoloured footprints redraw without them.
  QPixmap pictureCache_;
  std::optional<ViewState> pictureState_;
  QSize pictureSize_;
  std::vector<CadHandle> pictureKey_;
  std::optional<ViewState> cacheState_;
  QSize cacheSize_;
  std::uint64_t cacheRevision_ = 0;
  bool interacting_ = false;  // while true the cached picture is moved instead of repainted
  QTimer settle_;

  std::map<CadHandle, QImage> pictures_;  // picture files of image placements, by entity

  bool extentsPending_ = false;  // zoom extents asked before the view had a size
  int zoomWindowStage_ = 0;  // 0 off, 1 waiting for the first corner, 2 for the second
  QPointF zoomCorner_;
  QPointF pointer_;
  bool pointerInside_ = false;
  Qt::MouseButton dragButton_ = Qt::NoButton;
  QPointF pressPos_;
  QPointF lastDragPos_;
  bool panning_ = false;
};

}  // namespace ortavia::ui
