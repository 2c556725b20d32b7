#include "products/mosaic_overviews.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

namespace ortavia {
namespace {

TEST(MosaicOverviews, HalvesByAlphaWeightedMeans) {
  // One band; each case a 2 x 2 (or narrower) block and the pixel it halves to, by hand.
  struct Case {
    const char* what;
    int depth, cols;
    std::vector<double> values, alpha;  // row-major, rows of cols
    double value, alphaOut;
  };
  const std::vector<Case> cases = {
      {"opaque: the mean, rounded", CV_8U, 2, {10, 11, 12, 14}, {255, 255, 255, 255}, 12, 255},
      {"half transparent: the opaque ones only", CV_8U, 2, {10, 200, 20, 200}, {255, 0, 255, 0}, 15, 128},
      {"weighted by alpha", CV_8U, 2, {0, 90, 0, 0}, {255, 85, 0, 0}, 23, 85},
      {"all transparent", CV_8U, 2, {7, 7, 7, 7}, {0, 0, 0, 0}, 0, 0},
      {"one column at the edge", CV_8U, 1, {100, 101}, {255, 255}, 101, 255},
      {"16-bit, half up", CV_16U, 2, {1000, 1001, 5, 5}, {65535, 65535, 0, 0}, 1001, 32768},
      {"signed below zero, half up", CV_16S, 2, {-3, -4, -4, -4}, {32767, 32767, 32767, 32767}, -4, 32767},
      {"floats exactly", CV_32F, 2, {1, 2, 3, 5}, {255, 255, 255, 255}, 2.75, 255},
  };
  for (const Case& c : cases) {
    cv::Mat v(static_cast<int>(c.values.size()) / c.cols, c.cols, CV_64FC2);
    for (size_t i = 0; i < c.values.size(); ++i)
      v.at<cv::Vec2d>(static_cast<int>(i)) = cv::Vec2d(c.values[i], c.alpha[i]);
    v.convertTo(v, c.depth);
    cv::Mat half;
    HalveWithAlpha(v, half);
    ASSERT_EQ(half.size(), cv::Size(1, 1)) << c.what;
    half.convertTo(half, CV_64F);
    EXPECT_EQ(half.at<cv::Vec2d>(0, 0)[0], c.value) << c.what;
    EXPECT_EQ(half.at<cv::Vec2d>(0, 0)[1], c.alphaOut) << c.what;
  }
}

TEST(MosaicOverviews, BandsKeepTheirPlaceAndOddSizesRoundUp) {
  cv::Mat v(3, 5, CV_8UC4);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 5; ++c) v.at<cv::Vec4b>(r, c) = cv::Vec4b(10 * c, 100, 4 * r, 255);
  cv::Mat hv;
  HalveWithAlpha(v, hv);
  ASSERT_EQ(hv.size(), cv::Size(3, 2));
  EXPECT_EQ(hv.at<cv::Vec4b>(0, 0), cv::Vec4b(5, 100, 2, 255));    // (0 + 10) / 2 rounds up
  EXPECT_EQ(hv.at<cv::Vec4b>(0, 2), cv::Vec4b(40, 100, 2, 255));   // the fifth column alone
  EXPECT_EQ(hv.at<cv::Vec4b>(1, 1), cv::Vec4b(25, 100, 8, 255));   // the third row alone
}

}  // namespace
}  // namespace ortavia
