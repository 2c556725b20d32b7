#include "process/image_warp.h"

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
  const int W = w.src.cols, H = w.src.rows;
  const int tu = static_cast<int>(x), tv = static_cast<int>(y);
  if (tu < 5 || tu > W - 6 || tv < 5 || tv > H - 6) return;
  const float u = static_cast<float>(x), v = static_cast<float>(y);
  double val[4];
  SamplePixel(w.src, u, v, val, scratch.subPix);
  StorePixel(block, c, r, val);
  if (!written.empty()) written.at<uchar>(r, c) = 255;
  if (!w.alpha.empty()) {
    SamplePixel(w.alpha, u, v, val, scratch.alphaSubPix);
    StorePixel(alphaBlock, c, r, val);
  }
}

}  // namespace ortavia
