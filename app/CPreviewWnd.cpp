#include "app/CPreviewWnd.h"

#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QTimerEvent>
#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

namespace ortavia::ui {

namespace {

constexpr int kFadeStart = 250;
constexpr int kFadeStep = 5;
constexpr int kFadePeriodMs = 20;
const QRect kLabelRect(20, 20, 80, 20);

// Any picture as 8-bit BGR: depth first (saturating), then channels.
cv::Mat ToDisplayable(const cv::Mat& picture) {
  cv::Mat eight;
  if (picture.depth() != CV_8U)
    picture.convertTo(eight, CV_MAKETYPE(CV_8U, picture.channels()), 1.0, 0.0);
  else
    eight = picture;
  cv::Mat out;
  switch (eight.channels()) {
    case 4: cv::cvtColor(eight, out, cv::COLOR_RGBA2BGR); break;
    case 1: cv::cvtColor(eight, out, cv::COLOR_GRAY2BGR); break;
    case 3: out = eight; break;
    default: {
      // Two or more than four channels cannot be painted as colour: show the first as grey.
      cv::Mat first;
      cv::extractChannel(eight, first, 0);
      cv::cvtColor(first, out, cv::COLOR_GRAY2BGR);
    }
  }
  return out;
}

}  // namespace

CPreviewWnd::CPreviewWnd(QWidget* parent) : QFrame(parent) {
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(16, 16);
  source_ = cv::Mat(100, 100, CV_8UC3, cv::Scalar::all(0));
  zoomSource_ = source_.clone();
  cropRect_ = {0, 0, 99, 99};
}

void CPreviewWnd::SetImage(const cv::Mat& picture) {
  display_.release();
  source_.release();
  zoomSource_.release();
  firstCorner_.reset();
  secondCorner_.reset();
  if (picture.empty()) {
    update();
    return;
  }
  cv::Mat converted = ToDisplayable(picture);
  FitToWindow(converted);
  source_ = converted.clone();
  zoomSource_ = source_.clone();
  cropRect_ = {0, 0, source_.cols - 1, source_.rows - 1};
}

void CPreviewWnd::FitToWindow(const cv::Mat& picture) {
  const cv::Mat pic = picture.empty() ? source_
                     : picture.type() == CV_8UC3 ? picture
                                                 : ToDisplayable(picture);
  canvasWidth_ = std::max(1, width() - 5);
  canvasHeight_ = std::max(1, height() - 5);
  const int bg = static_cast<int>(backgroundColour_);
  // The packed colour is red in the low byte, as the canvas clear expects; the canvas is BGR.
  cv::Mat canvas(canvasHeight_, canvasWidth_, CV_8UC3,
                 cv::Scalar((bg >> 16) & 255, (bg >> 8) & 255, bg & 255));
  if (!pic.empty()) {
    const double a = static_cast<double>(pic.cols) / pic.rows;
    const double b = static_cast<double>(canvasWidth_) / canvasHeight_;
    int fw, fh;
    if (a < b) {
      fh = canvasHeight_;
      fw = static_cast<int>(std::lround(canvasHeight_ * a));
      scale_ = static_cast<double>(canvasHeight_) / pic.rows;
    } else {
      fw = canvasWidth_;
      fh = static_cast<int>(std::lround(canvasWidth_ / a));
      scale_ = static_cast<double>(canvasWidth_) / pic.cols;
    }
    fw = std::clamp(fw, 1, canvasWidth_);
    fh = std::clamp(fh, 1, canvasHeight_);
    cv::Mat fitted;
    cv::resize(pic, fitted, cv::Size(fw, fh), 0, 0, cv::INTER_LINEAR);
    offsetX_ = (canvasWidth_ - fw) / 2;
    offsetY_ = (canvasHeight_ - fh) / 2;
    fitted.copyTo(canvas(cv::Rect(offsetX_, offsetY_, fw, fh)));
  }
  display_ = canvas.clone();
  Draw();
}

void CPreviewWnd::Draw() { update(); }

QRectF CPreviewWnd::PaintedRect() const {
  if (display_.empty()) return {};
  // Inside the client rectangle shrunk by one pixel on each side.
  const double r = width() - 2.0, q = height() - 2.0;
  const double w = display_.cols, h = display_.rows;
  if (w > h) return {1.0, 1.0, r, std::round(h * r / w)};
  const double f = std::round((canvasHeight_ - 1) * w / h);
  return {std::round((r - f) * 0.5), 1.0, f, q};
}

QPointF CPreviewWnd::CanvasToWidget(QPointF c) const {
  const QRectF rect = PaintedRect();
  if (rect.isEmpty()) return c;
  return {rect.left() + c.x() * rect.width() / display_.cols,
          rect.top() + c.y() * rect.height() / display_.rows};
}

QPointF CPreviewWnd::WidgetToCanvas(QPointF w) const {
  const QRectF rect = PaintedRect();
  if (rect.isEmpty()) return w;
  return {(w.x() - rect.left()) * display_.cols / rect.width(),
          (w.y() - rect.top()) * display_.rows / rect.height()};
}

QPoint CPreviewWnd::PicturePoint(QPointF widget) const {
  const QPointF c = WidgetToCanvas(widget);
  return {static_cast<int>(std::lround(c.x())) - offsetX_, static_cast<int>(std::lround(c.y())) - offsetY_};
}

void CPreviewWnd::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), QColor(backgroundColour_ & 255, (backgroundColour_ >> 8) & 255,
                            (backgroundColour_ >> 16) & 255));
  if (display_.empty()) return;
  const QImage image(display_.data, display_.cols, display_.rows, static_cast<qsizetype>(display_.step),
                     QImage::Format_BGR888);
  p.setRenderHint(QPainter::SmoothPixmapTransform, false);
  p.drawImage(PaintedRect(), image);
  if (firstCorner_ && !secondCorner_) {
    const QPointF a = CanvasToWidget(QPointF(firstCorner_->x() + offsetX_, firstCorner_->y() + offsetY_));
    const QPointF b = CanvasToWidget(QPointF(mousePos_));
    p.setPen(QPen(QColor(0, 255, 0), 2, Qt::DashLine));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(a, b).normalized());
  }
  if (fadeLevel_ > 0) {
    const int l = fadeLevel_ & 255;
    p.setPen(QColor(l, l, l));
    p.drawText(kLabelRect, Qt::AlignLeft | Qt::AlignTop, QStringLiteral("Zoom %1x").arg(zoomFactor_));
  }
}

void CPreviewWnd::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  if (!zoomSource_.empty()) FitToWindow(zoomSource_);
}

void CPreviewWnd::mousePressEvent(QMouseEvent* event) {
  if (!zoomEnabled_) {
    QFrame::mousePressEvent(event);
    return;
  }
  if (event->button() == Qt::LeftButton) {
    if (display_.empty()) return;
    const QPoint pt = PicturePoint(event->position());
    if (!firstCorner_) {
      firstCorner_ = pt;
      secondCorner_.reset();
    } else if (!secondCorner_ && !zoomSource_.empty()) {
      secondCorner_ = pt;
      Zoom();
    }
    update();
  } else if (event->button() == Qt::RightButton) {
    if (firstCorner_ && !secondCorner_) {
      firstCorner_.reset();
      Draw();
      return;
    }
    firstCorner_.reset();
    secondCorner_.reset();
    if (!source_.empty()) Reset();
  }
}

void CPreviewWnd::mouseMoveEvent(QMouseEvent* event) {
  if (!zoomEnabled_) return;
  lastMousePos_ = mousePos_;
  const QPointF c = WidgetToCanvas(event->position());
  mousePos_ = QPoint(std::clamp(static_cast<int>(c.x()), 0, std::max(0, canvasWidth_ - 1)),
                     std::clamp(static_cast<int>(c.y()), 0, std::max(0, canvasHeight_ - 1)));
  if (firstCorner_) update();
}

void CPreviewWnd::wheelEvent(QWheelEvent* event) {
  if (zoomEnabled_)
    event->accept();
  else
    QFrame::wheelEvent(event);
}

void CPreviewWnd::Zoom() {
  const double x0d = std::min(firstCorner_->x(), secondCorner_->x()) / scale_;
  const double y0d = std::min(firstCorner_->y(), secondCorner_->y()) / scale_;
  const double x1d = std::max(firstCorner_->x(), secondCorner_->x()) / scale_;
  const double y1d = std::max(firstCorner_->y(), secondCorner_->y()) / scale_;
  const int x0 = std::max(0, static_cast<int>(x0d));
  const int y0 = std::max(0, static_cast<int>(y0d));
  const int x1 = std::min(zoomSource_.cols - 1, static_cast<int>(x1d));
  const int y1 = std::min(zoomSource_.rows - 1, static_cast<int>(y1d));
  firstCorner_.reset();
  secondCorner_.reset();
  if (x0 >= x1 || y0 >= y1) {
    Reset();
    return;
  }
  zoomFactor_ = static_cast<int>(std::ceil(static_cast<double>(std::max(zoomSource_.cols, zoomSource_.rows)) /
                                           std::max(x1 - x0, y1 - y0)));
  zoomSource_ = zoomSource_(cv::Rect(x0, y0, x1 - x0, y1 - y0)).clone();
  cropRect_ = {x0, y0, x1, y1};
  FitToWindow(zoomSource_);
  fadeLevel_ = kFadeStart;
  fadeTimer_.start(kFadePeriodMs, this);
}

void CPreviewWnd::Reset() {
  if (source_.empty()) return;
  zoomSource_ = source_.clone();
  cropRect_ = {0, 0, source_.cols - 1, source_.rows - 1};
  FitToWindow(source_);
}

void CPreviewWnd::timerEvent(QTimerEvent* event) {
  if (event->timerId() != fadeTimer_.timerId()) {
    QFrame::timerEvent(event);
    return;
  }
  if (fadeLevel_ <= 0) {
    fadeTimer_.stop();
    return;
  }
  fadeLevel_ -= kFadeStep;
  update(kLabelRect.adjusted(0, 0, 40, 4));
}

}  // namespace ortavia::ui
