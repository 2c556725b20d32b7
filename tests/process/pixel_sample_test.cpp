#include "process/pixel_sample.h"

#include <cmath>
#include <random>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

namespace ortavia {
namespace {

// Halfway between four pixels: their mean, each weight a quarter (16384 of 65536), rounded half up.
TEST(PixelSample, HalfwayIsTheMeanOfFourPixels) {
  cv::Mat src(6, 6, CV_8UC1, cv::Scalar(0));
  src.at<uchar>(2, 2) = 10;
  src.at<uchar>(2, 3) = 21;
  src.at<uchar>(3, 2) = 200;
  src.at<uchar>(3, 3) = 0;
  double out = -1;
  ASSERT_TRUE(SampleLinear8u(src, 2.5f, 2.5f, &out));
  EXPECT_EQ(out, 58.0);  // (10 + 21 + 200 + 0) / 4 = 57.75
  EXPECT_FALSE(SampleLinear8u(src, 0.5f, 2.5f, &out)) << "window leaves the image";
  EXPECT_FALSE(SampleLinear8u(src, 2.5f, 4.5f, &out)) << "window leaves the image";
  EXPECT_FALSE(SampleLinear8u(cv::Mat(6, 6, CV_16UC1, cv::Scalar(1)), 2.5f, 2.5f, &out));
}

TEST(PixelSample, GivesGetRectSubPixsCentreForRandomPositions) {
  std::mt19937 rng(99);
  std::uniform_real_distribution<float> pos(1.0f, 62.0f);
  int compared = 0, differing = 0;
  for (const int type : {CV_8UC3, CV_8UC1}) {
    cv::Mat src(64, 64, type);
    cv::randu(src, 0, 256);
    cv::Mat patch;
    for (int i = 0; i < 20000; ++i) {
      float u = pos(rng), v = pos(rng);
      if (i % 7 == 0) u = std::floor(u);         // on a pixel
      if (i % 11 == 0) v = std::floor(v) + 0.5f;  // halfway
      double out[3] = {-1, -1, -1};
      if (!SampleLinear8u(src, u, v, out)) continue;
      cv::getRectSubPix(src, cv::Size(3, 3), cv::Point2f(u, v), patch);
      ++compared;
      for (int k = 0; k < src.channels(); ++k)
        if (out[k] != patch.ptr<uchar>(1)[src.channels() + k] && ++differing <= 3)
          ADD_FAILURE() << "at " << u << ", " << v << " channel " << k;
    }
  }
  EXPECT_GT(compared, 30000);
  EXPECT_EQ(differing, 0);
}

}  // namespace
}  // namespace ortavia
