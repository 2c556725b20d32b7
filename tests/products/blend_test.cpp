#include "products/blend.h"

#include <random>

#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

namespace ortavia {
namespace {

TEST(Blend, FeatherRampsLinearlyAcrossAStraightSeam) {
  // Labels 0 left of column 20, 1 from it on; radius 4: the weight of 1 at column x is the share
  // of columns x-4 .. x+4 that are 20 or more, (x - 15) / 9 between 0 and 1.
  struct Case {
    int radius, x;
    double w1;
  };
  const Case cases[] = {{4, 10, 0.0}, {4, 15, 0.0},     {4, 16, 1.0 / 9}, {4, 19, 4.0 / 9},
                        {4, 20, 5.0 / 9}, {4, 23, 8.0 / 9}, {4, 24, 1.0}, {0, 19, 0.0},
                        {0, 20, 1.0}, {2, 19, 2.0 / 5}};
  for (const Case& c : cases) {
    cv::Mat labels(16, 40, CV_32S, cv::Scalar(0));
    labels.colRange(20, 40).setTo(1);
    const cv::Rect inner(c.radius, c.radius, 40 - 2 * c.radius, 16 - 2 * c.radius);
    const cv::Mat all(inner.size(), CV_8U, cv::Scalar(255));
    const auto w = FeatherWeights(labels, inner, {0, 1}, {all, all}, c.radius);
    const int col = c.x - c.radius;
    EXPECT_NEAR(w[1].at<float>(3, col), c.w1, 1e-6) << c.radius << " " << c.x;
    EXPECT_NEAR(w[0].at<float>(3, col), 1.0 - c.w1, 1e-6) << c.radius << " " << c.x;
  }
}

TEST(Blend, WeightsSumToOneAndSkipMissingPixels) {
  // Three orthos, labels in random blobs, each ortho missing random pixels (but never its own
  // labelled ones): every weight is 0 where its ortho has no pixel, and they add up to 1.
  std::mt19937 rng(5);
  cv::Mat small(6, 8, CV_32S);
  for (int r = 0; r < small.rows; ++r)
    for (int c = 0; c < small.cols; ++c) small.at<int>(r, c) = static_cast<int>(rng() % 3);
  cv::Mat labels;
  cv::resize(small, labels, cv::Size(80, 60), 0, 0, cv::INTER_NEAREST);
  const int radius = 6;
  const cv::Rect inner(radius, radius, 80 - 2 * radius, 60 - 2 * radius);
  std::vector<cv::Mat> valid;
  for (int k = 0; k < 3; ++k) {
    cv::Mat v(inner.size(), CV_8U);
    for (int r = 0; r < v.rows; ++r)
      for (int c = 0; c < v.cols; ++c)
        v.at<uchar>(r, c) = labels.at<int>(r + radius, c + radius) == k || rng() % 4 ? 255 : 0;
    valid.push_back(v);
  }
  const auto w = FeatherWeights(labels, inner, {0, 1, 2}, valid, radius);
  int blended = 0;
  for (int r = 0; r < inner.height; ++r)
    for (int c = 0; c < inner.width; ++c) {
      double sum = 0.0;
      int nonZero = 0;
      for (int k = 0; k < 3; ++k) {
        const float wk = w[k].at<float>(r, c);
        if (!valid[k].at<uchar>(r, c)) {
          EXPECT_EQ(wk, 0.0f);
        }
        EXPECT_GE(wk, 0.0f);
        sum += wk;
        nonZero += wk > 0.0f;
      }
      ASSERT_NEAR(sum, 1.0, 1e-5) << r << " " << c;
      blended += nonZero > 1;
    }
  EXPECT_GT(blended, 100);  // the seams are really feathered

  // The composite of three constant orthos is a weighted mean of their values.
  std::vector<cv::Mat> values;
  for (float v : {10.0f, 20.0f, 40.0f}) values.emplace_back(inner.size(), CV_32FC1, cv::Scalar(v));
  cv::Mat out, covered;
  Composite(w, values, out, covered);
  EXPECT_EQ(cv::countNonZero(covered), inner.area());
  const cv::Point p(30, 20);
  EXPECT_NEAR(out.at<float>(p), 10 * w[0].at<float>(p) + 20 * w[1].at<float>(p) + 40 * w[2].at<float>(p),
              1e-4);
}

}  // namespace
}  // namespace ortavia
