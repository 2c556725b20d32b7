#pragma once
// A picture control: shows an in-memory picture fitted to the window, zooms into a rectangle chosen
// with two clicks (a right click goes back to the whole picture) and shows a fading "Zoom %dx".
//
// Coordinates: widget pixels (origin top-left); canvas pixels = the window-sized picture that is
// painted; picture pixels = canvas position minus (offsetX, offsetY), as the zoom corners are kept.
#include <QBasicTimer>
#include <QFrame>
#include <array>
#include <optional>
#include <opencv2/core/mat.hpp>

namespace ortavia::ui {

class CPreviewWnd : public QFrame {
  Q_OBJECT
 public:
  explicit CPreviewWnd(QWidget* parent = nullptr);

  // Shows a picture of any depth with 1, 3 or 4 channels (4 = red and blue swapped, fourth
  // dropped; other depths saturated to 8 bits); an empty picture empties the window.
  void SetImage(const cv::Mat& picture);
  // Lays a picture (empty = the source) into the canvas and paints it.
  void FitToWindow(const cv::Mat& picture = cv::Mat());
  // Repaints the canvas.
  void Draw();

  void SetZoomEnabled(bool enabled) { zoomEnabled_ = enabled ? 1 : 0; }
  void SetBackgroundColour(unsigned packedRgb) { backgroundColour_ = packedRgb; }

  const cv::Mat& Source() const { return source_; }
  const cv::Mat& ZoomSource() const { return zoomSource_; }
  const cv::Mat& Display() const { return display_; }
  double Scale() const { return scale_; }
  int OffsetX() const { return offsetX_; }
  int OffsetY() const { return offsetY_; }
  int CanvasWidth() const { return canvasWidth_; }
  int CanvasHeight() const { return canvasHeight_; }
  std::array<int, 4> CropRect() const { return cropRect_; }
  int ZoomFactor() const { return zoomFactor_; }
  int FadeLevel() const { return fadeLevel_; }
  bool HasFirstCorner() const { return firstCorner_.has_value(); }
  // Widget position of a canvas position, through the painted rectangle.
  QPointF CanvasToWidget(QPointF canvas) const;
  QPointF WidgetToCanvas(QPointF widget) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void timerEvent(QTimerEvent* event) override;

 private:
  QRectF PaintedRect() const;
  QPoint PicturePoint(QPointF widget) const;
  void Zoom();
  void Reset();

  cv::Mat source_;
  cv::Mat zoomSource_;
  cv::Mat display_;
  double scale_ = 1.0;
  int offsetX_ = 0, offsetY_ = 0;
  int canvasWidth_ = 0, canvasHeight_ = 0;
  std::array<int, 4> cropRect_{0, 0, 0, 0};
  int zoomEnabled_ = 1;
  std::optional<QPoint> firstCorner_, secondCorner_;
  QPoint mousePos_, lastMousePos_;
  int fadeLevel_ = 0;
  int zoomFactor_ = 1;
  unsigned backgroundColour_ = 0;
  QBasicTimer fadeTimer_;
};

}  // namespace ortavia::ui
