#pragma once
// The bilinear value of an 8-bit image at a source position: the centre pixel that
// cv::getRectSubPix(src, Size(3, 3), Point2f(u, v), patch) gives, without the 3 x 3 patch it
// allocates for every call (pixel mode samples every output pixel that way).
//
// The arithmetic is OpenCV's: the window's corner at floor(u - 1), the fractions in single
// precision, the four weights rounded to 16 fractional bits, the sum rounded half up.
#include <opencv2/core/mat.hpp>

namespace ortavia {

// src: CV_8UC1 or CV_8UC3. Writes one value per channel into out and returns true when the 3 x 3
// window around (u, v) lies inside src; returns false, writing nothing, otherwise.
bool SampleLinear8u(const cv::Mat& src, float u, float v, double* out);

}  // namespace ortavia
