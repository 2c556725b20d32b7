#pragma once
// Bilinear perspective warp of one small square of 8-bit pixels: the same bytes as
// cv::warpPerspective(src, dst, forward, dst.size(), INTER_LINEAR, BORDER_CONSTANT, 0), without
// its per-call set-up (two nested parallel loops, matrix conversions, the remap dispatch), which
// costs several times the work of the 256 pixels of a 16 x 16 square.
//
// The arithmetic is OpenCV's: the inverse of `forward` by cv::invert, each destination pixel's
// source position in double precision rounded to 1/32 pixel, and the four taps weighted in
// fixed point with 15 fractional bits; taps outside `src` count as 0.
#include <opencv2/core/mat.hpp>

namespace ortavia {

// src: CV_8UC1 or CV_8UC3 (a view is fine: nothing outside it is read); dst: allocated, the same
// type, at most 16 rows of at most 64 pixels; forward: 3 x 3 CV_64F, source to destination.
// Returns false, touching nothing, for anything else.
bool WarpSquareLinear8u(const cv::Mat& src, cv::Mat& dst, const cv::Mat& forward);

}  // namespace ortavia
