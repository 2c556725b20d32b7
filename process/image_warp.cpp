#include "process/image_warp.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "process/pixel_sample.h"

namespace ortavia {
namespace {

constexpr double kNoHeightD = -9999.0;

// Bilinear value at (u, v), the centre of the 3 x 3 neighbourhood getRectSubPix would take;
// used for the depths getRectSubPix does not take (16-bit, and 64-bit float, which also carries
// 32-bit integer images). A distance-weighted mean of the 3 x 3 pixels around trunc(u), trunc(v)
// would pull the sample up to 0.7 pixel toward that pixel, so 16-bit unsigned images are
// interpolated like the others.
template <class T>
void SampleBilinear(const cv::Mat& src, float u, float v, double* out) {
  const int iu = static_cast<int>(std::floor(u)), iv = static_cast<int>(std::floor(v));
  const double fx = u - iu, fy = v - iv;
  const int ch = src.channels();
  const T* r0 = src.ptr<T>(iv);
  const T* r1 = src.ptr<T>(iv + 1);
  for (int k = 0; k < ch; ++k) {
    const double a = r0[iu * ch + k] * (1 - fx) + r0[(iu + 1) * ch + k] * fx;
    const double b = r1[iu * ch + k] * (1 - fx) + r1[(iu + 1) * ch + k] * fx;
    out[k] = a * (1 - fy) + b * fy;
  }
}

void SamplePixel(const cv::Mat& src, float u, float v, double* out, cv::Mat& subPix) {
  switch (src.depth()) {
    case CV_16U: SampleBilinear<uint16_t>(src, u, v, out); return;
    case CV_8U:
      if (SampleLinear8u(src, u, v, out)) return;
      [[fallthrough]];
    case CV_32F: {
      cv::getRectSubPix(src, cv::Size(3, 3), cv::Point2f(u, v), subPix);
      for (int k = 0; k < src.channels(); ++k) {
        out[k] = src.depth() == CV_8U ? subPix.ptr<uchar>(1)[src.channels() + k]
                                      : subPix.ptr<float>(1)[src.channels() + k];
      }
      return;
    }
    case CV_16S: SampleBilinear<int16_t>(src, u, v, out); return;
    default: SampleBilinear<double>(src, u, v, out); return;
  }
}

void StorePixel(cv::Mat& dst, int c, int r, const double* val) {
  const int ch = dst.channels();
  for (int k = 0; k < ch; ++k) {
    switch (dst.depth()) {
      case CV_8U: dst.ptr<uchar>(r)[c * ch + k] = cv::saturate_cast<uchar>(val[k]); break;
      case CV_16U: dst.ptr<uint16_t>(r)[c * ch + k] = cv::saturate_cast<uint16_t>(val[k]); break;
      case CV_16S: dst.ptr<int16_t>(r)[c * ch + k] = cv::saturate_cast<int16_t>(val[k]); break;
      case CV_32F: dst.ptr<float>(r)[c * ch + k] = static_cast<float>(val[k]); break;
      default: dst.ptr<double>(r)[c * ch + k] = val[k]; break;
    }
  }
}

}  // namespace

bool ProjectOutputPixel(const ImageWarp& w, int gx, int gy, double& x, double& y) {
  const cv::Point2d g = w.grid.At(gx, gy);
  const double z = SampleDemHeight(w.demTransform, w.dem->heights, g.x, g.y);
  if (z == kNoHeightD) return false;
  const cv::Point2d p = w.orientation->Pt3dToPix(cv::Point3d(g.x, g.y, z));
  if (!std::isfinite(p.x) || !std::isfinite(p.y)) return false;
  x = p.x - w.x0;
  y = p.y - w.y0;
  return std::abs(x) < 1e9 && std::abs(y) < 1e9;
}

void ProjectOutputRow(const ImageWarp& w, int gx0, int step, int gy, int count,
                      SourcePosition* out) {
  // Rows are short and many: the room is kept per thread.
  thread_local std::vector<double> xs, zs;
  xs.resize(count);
  zs.resize(count);
  const double y = w.grid.At(gx0, gy).y;
  for (int k = 0; k < count; ++k) xs[k] = w.grid.At(gx0 + k * step, gy).x;
  SampleDemHeightsAlongRow(w.demTransform, w.dem->heights, xs.data(), count, y, zs.data());
  for (int k = 0; k < count; ++k) {
    SourcePosition& o = out[k];
    o = {};
    if (zs[k] == kNoHeightD) continue;
    const cv::Point2d p = w.orientation->Pt3dToPix(cv::Point3d(xs[k], y, zs[k]));
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) continue;
    o.x = p.x - w.x0;
    o.y = p.y - w.y0;
    o.valid = std::abs(o.x) < 1e9 && std::abs(o.y) < 1e9;
  }
}

void SampleOutputPixel(const ImageWarp& w, double x, double y, int c, int r, cv::Mat& block,
                       cv::Mat& alphaBlock, cv::Mat& written, SampleScratch& scratch) {
  const int W = w.srcW, H = w.srcH;
  const int tu = static_cast<int>(x), tv = static_cast<int>(y);
  if (tu < 5 || tu > W - 6 || tv < 5 || tv > H - 6) return;
  if (!Held(w, tu - 2, tv - 2, tu + 3, tv + 3, scratch.miss)) return;
  // In single precision first, as when the whole window is held: the shift by whole pixels is
  // then exact.
  const float u = static_cast<float>(x) - static_cast<float>(w.held.x);
  const float v = static_cast<float>(y) - static_cast<float>(w.held.y);
  double val[4];
  SamplePixel(w.src, u, v, val, scratch.subPix);
  StorePixel(block, c, r, val);
  if (!written.empty()) written.at<uchar>(r, c) = 255;
  if (!w.alpha.empty()) {
    SamplePixel(w.alpha, u, v, val, scratch.alphaSubPix);
    StorePixel(alphaBlock, c, r, val);
  }
}

cv::Rect EstimateSourceRect(const ImageWarp& w, int gxA, int gyA, int gxB, int gyB) {
  constexpr int kStep = 32;
  const int cols = (gxB - gxA + kStep - 1) / kStep + 1;
  std::vector<SourcePosition> prev(cols), row(cols);
  SourceMiss box;
  double step = 0.0;
  for (int gy = gyA;; gy = std::min(gy + kStep, gyB)) {
    ProjectOutputRow(w, gxA, kStep, gy, cols, row.data());
    for (int k = 0; k < cols; ++k) {
      const SourcePosition& p = row[k];
      if (!p.valid) continue;
      const auto far = [&](const SourcePosition& q) {
        if (q.valid) step = std::max({step, std::abs(q.x - p.x), std::abs(q.y - p.y)});
      };
      if (k > 0) far(row[k - 1]);
      if (gy > gyA) far(prev[k]);
      const int x = static_cast<int>(std::floor(std::clamp(p.x, -1e6, 1e6)));
      const int y = static_cast<int>(std::floor(std::clamp(p.y, -1e6, 1e6)));
      box.Add(x, y, x + 1, y + 1);
    }
    std::swap(prev, row);
    if (gy >= gyB) break;
  }
  if (box.Empty()) return {};
  // Relief between the grid's points moves what they project to by about their spacing at most.
  const int m = static_cast<int>(std::min(step, 1e6)) + 8;
  const cv::Rect wide(box.minX - m, box.minY - m, box.maxX - box.minX + 1 + 2 * m,
                      box.maxY - box.minY + 1 + 2 * m);
  return wide & cv::Rect(0, 0, w.srcW, w.srcH);
}

FillOutcome FillInBands(ImageWarp& w, int count, int band,
                        const std::function<cv::Rect(int first, int last)>& estimate,
                        const std::function<SourceMiss(int first, int last)>& fill,
                        const RunContext& ctx) {
  const cv::Rect window(0, 0, w.srcW, w.srcH);
  for (int first = 0; first == 0 || first < count; first += band) {
    if (ctx.AbortCheck()) return FillOutcome::Stopped;
    const int last = std::min(count, first + band);
    if (last <= first) break;
    cv::Rect need = w.hold ? estimate(first, last) : cv::Rect();
    for (;;) {
      if (!need.empty() && (need & w.held) != need && !w.hold(need)) return FillOutcome::ReadFailed;
      const SourceMiss miss = fill(first, last);
      if (miss.Empty()) break;
      // Every sampler keeps inside the window; growing only, this ends.
      const cv::Rect more = need.empty() ? miss.Rect() : need | miss.Rect();
      if (!w.hold || (more & window) == need) return FillOutcome::ReadFailed;
      need = more & window;
    }
  }
  return FillOutcome::Done;
}

}  // namespace ortavia
