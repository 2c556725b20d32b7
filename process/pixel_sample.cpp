#include "process/pixel_sample.h"

#include <opencv2/core.hpp>

namespace ortavia {

bool SampleLinear8u(const cv::Mat& src, float u, float v, double* out) {
  const int cn = src.channels();
  if (src.depth() != CV_8U || (cn != 1 && cn != 3)) return false;
  // The 3 x 3 window's corner and the fractions, as getRectSubPix takes them.
  const float cx = u - 1.0f, cy = v - 1.0f;
  const int ix = cvFloor(cx), iy = cvFloor(cy);
  if (!(0 <= ix && ix < src.cols - 3 && 0 <= iy && iy < src.rows - 3)) return false;
  const float a = cx - ix, b = cy - iy;
  const auto fixed = [](float w) { return cvRound(w * (1 << 16)); };
  const int a11 = fixed((1.f - a) * (1.f - b)), a12 = fixed(a * (1.f - b));
  const int a21 = fixed((1.f - a) * b), a22 = fixed(a * b);
  // The window's centre pixel: one row and one column in from its corner.
  const uchar* s = src.ptr(iy + 1) + (ix + 1) * cn;
  const uchar* t = s + src.step[0];
  for (int k = 0; k < cn; ++k) {
    const int sum = s[k] * a11 + s[k + cn] * a12 + t[k] * a21 + t[k + cn] * a22;
    out[k] = static_cast<uchar>((sum + (1 << 15)) >> 16);
  }
  return true;
}

}  // namespace ortavia
