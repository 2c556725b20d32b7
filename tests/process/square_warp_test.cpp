#include "process/square_warp.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <random>
#include <string>

#include <gtest/gtest.h>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

namespace ortavia {
namespace {

cv::Mat OpenCvWarp(const cv::Mat& src, const cv::Mat& m, cv::Size size) {
  cv::Mat dst(size, src.type());
  cv::warpPerspective(src, dst, m, size, cv::INTER_LINEAR | cv::WARP_FILL_OUTLIERS,
                      cv::BORDER_CONSTANT, cv::Scalar::all(0));
  return dst;
}

// Half a pixel to the right: every pixel is the mean of two neighbours, rounded half up; the last
// column's right tap lies outside and counts as 0.
TEST(SquareWarp, HalfPixelShiftAveragesNeighbours) {
  const cv::Mat src = (cv::Mat_<uchar>(2, 3) << 10, 21, 255, 0, 7, 100);
  const cv::Mat shift = (cv::Mat_<double>(3, 3) << 1, 0, -0.5, 0, 1, 0, 0, 0, 1);
  cv::Mat dst(2, 3, CV_8UC1, cv::Scalar(99));
  ASSERT_TRUE(WarpSquareLinear8u(src, dst, shift));
  const cv::Mat expected = (cv::Mat_<uchar>(2, 3) << 16, 138, 128, 4, 54, 50);
  EXPECT_EQ(cv::countNonZero(dst != expected), 0) << dst;
}

TEST(SquareWarp, RefusesWhatItDoesNotCompute) {
  const cv::Mat m = cv::Mat::eye(3, 3, CV_64F);
  struct Case {
    std::string what;
    cv::Mat src, dst, m;
  } cases[] = {
      {"16-bit", cv::Mat(8, 8, CV_16UC1, cv::Scalar(1)), cv::Mat(4, 4, CV_16UC1), m},
      {"four channels", cv::Mat(8, 8, CV_8UC4, cv::Scalar(1)), cv::Mat(4, 4, CV_8UC4), m},
      {"other destination type", cv::Mat(8, 8, CV_8UC1, cv::Scalar(1)), cv::Mat(4, 4, CV_8UC3), m},
      {"17 rows", cv::Mat(8, 8, CV_8UC1, cv::Scalar(1)), cv::Mat(17, 4, CV_8UC1), m},
      {"65 columns", cv::Mat(8, 8, CV_8UC1, cv::Scalar(1)), cv::Mat(4, 65, CV_8UC1), m},
      {"float matrix", cv::Mat(8, 8, CV_8UC1, cv::Scalar(1)), cv::Mat(4, 4, CV_8UC1),
       cv::Mat::eye(3, 3, CV_32F)},
  };
  for (auto& c : cases) {
    c.dst.setTo(cv::Scalar::all(7));
    EXPECT_FALSE(WarpSquareLinear8u(c.src, c.dst, c.m)) << c.what;
    EXPECT_EQ(cv::countNonZero(c.dst.reshape(1) != 7), 0) << c.what << ": touched";
  }
}

// Sources that are exactly the taps' box (own allocations, no view): the last pixel of the last
// row is a tap, and nothing past it is read (the sanitizer build would see it).
TEST(SquareWarp, SourcesOfJustTheTapsGiveOpenCvsBytes) {
  for (const cv::Size size : {cv::Size(2, 2), cv::Size(3, 5), cv::Size(8, 8), cv::Size(17, 2)}) {
    for (const int type : {CV_8UC3, CV_8UC1}) {
      cv::Mat src(size, type);
      cv::randu(src, 0, 256);
      const float w = static_cast<float>(size.width - 1), h = static_cast<float>(size.height - 1);
      const cv::Point2f from[4] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
      const cv::Point2f to[4] = {{0, 0}, {16, 0}, {16, 16}, {0, 16}};
      const cv::Mat m = cv::getPerspectiveTransform(from, to);
      cv::Mat dst(16, 16, type);
      ASSERT_TRUE(WarpSquareLinear8u(src, dst, m));
      EXPECT_EQ(cv::countNonZero(dst.reshape(1) != OpenCvWarp(src, m, dst.size()).reshape(1)), 0)
          << size << " " << type;
    }
  }
}

// The squares of the tile mode: a patch (a view of a larger image) holding the four projected
// corners, warped onto s x s pixels. Scales from a quarter to eight, turned, in perspective,
// folded and degenerate quadrilaterals, corners on and beyond the patch's edges.
TEST(SquareWarp, GivesOpenCvsBytesForRandomSquares) {
  std::mt19937 rng(12345);
  std::uniform_real_distribution<float> unit(0.f, 1.f);
  cv::Mat image(400, 400, CV_8UC3), grey(400, 400, CV_8UC1);
  cv::randu(image, 0, 256);
  cv::randu(grey, 0, 256);
  const cv::Size sizes[] = {{16, 16}, {16, 16}, {1, 1}, {7, 5}, {64, 16}, {16, 3}};
  int compared = 0, differing = 0;
  for (int i = 0; i < 20000; ++i) {
    const cv::Size size = sizes[i % 6];
    // At most 64 source pixels a side.
    const float scale = std::max(0.25f + 8.f * unit(rng) * unit(rng), std::max(size.width, size.height) / 64.f);
    const float angle = 6.2832f * unit(rng);
    const float ox = 100.f + 150.f * unit(rng), oy = 100.f + 150.f * unit(rng);
    cv::Point2f from[4];
    const cv::Point2f unitSquare[4] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (int k = 0; k < 4; ++k) {
      const float u = unitSquare[k].x * size.width / scale, v = unitSquare[k].y * size.height / scale;
      const float jitter = i % 5 == 0 ? 3.f : 0.3f;
      from[k] = {ox + u * std::cos(angle) - v * std::sin(angle) + jitter * (unit(rng) - 0.5f),
                 oy + u * std::sin(angle) + v * std::cos(angle) + jitter * (unit(rng) - 0.5f)};
    }
    if (i % 97 == 0) from[2] = from[1];      // degenerate
    if (i % 89 == 0) std::swap(from[1], from[3]);  // folded
    // The patch as the warp takes it: the corners' whole-pixel box, one pixel wider.
    int umin = INT_MAX, vmin = INT_MAX, umax = INT_MIN, vmax = INT_MIN;
    for (const auto& p : from) {
      umin = std::min(umin, static_cast<int>(p.x));
      vmin = std::min(vmin, static_cast<int>(p.y));
      umax = std::max(umax, static_cast<int>(p.x) + 1);
      vmax = std::max(vmax, static_cast<int>(p.y) + 1);
    }
    const cv::Rect patch(umin, vmin, umax - umin + 1, vmax - vmin + 1);
    cv::Point2f local[4];
    for (int k = 0; k < 4; ++k) local[k] = {from[k].x - umin, from[k].y - vmin};
    const float w = static_cast<float>(size.width), h = static_cast<float>(size.height);
    const cv::Point2f to[4] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
    const cv::Mat m = cv::getPerspectiveTransform(local, to);
    for (const cv::Mat* source : {&image, &grey}) {
      const cv::Mat src = (*source)(patch);
      const cv::Mat expected = OpenCvWarp(src, m, size);
      cv::Mat dst(size, src.type(), cv::Scalar::all(1));
      ASSERT_TRUE(WarpSquareLinear8u(src, dst, m));
      ++compared;
      if (cv::countNonZero(dst.reshape(1) != expected.reshape(1)) != 0 && ++differing <= 3)
        ADD_FAILURE() << "square " << i << ", " << src.channels() << " channels, scale " << scale;
    }
  }
  EXPECT_EQ(differing, 0) << "of " << compared;
}

}  // namespace
}  // namespace ortavia
