#include "products/multiband.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

namespace ortavia {
namespace {

// Two flat orthos meeting at a vertical seam between columns 127 and 128: A (100) left, B (140)
// right, over a 64 x 256 window; both have every pixel.
struct TwoFlat {
  cv::Mat base = cv::Mat(64, 256, CV_32FC1, cv::Scalar(100.0f));
  std::vector<cv::Mat> differences, masks;
  TwoFlat() {
    base.colRange(128, 256).setTo(140.0f);
    cv::Mat a(64, 256, CV_32FC1, cv::Scalar(0.0f)), b(64, 256, CV_32FC1, cv::Scalar(0.0f));
    a.colRange(128, 256).setTo(-40.0f);  // A - base
    b.colRange(0, 128).setTo(40.0f);     // B - base
    differences = {a, b};
    cv::Mat ma(64, 256, CV_8U, cv::Scalar(0)), mb;
    ma.colRange(0, 128).setTo(255);
    mb = 255 - ma;
    masks = {ma, mb};
  }
};

TEST(Multiband, FlatStepBlendsSmoothlyAndLeavesFarPixels) {
  const TwoFlat t;
  const cv::Mat out = MultibandBlend(t.base, t.differences, t.masks);
  for (int r : {0, 31, 63}) {
    const float* p = out.ptr<float>(r);
    // Far from the seam each ortho as it is; beside it halfway; in between a steady ramp that
    // never leaves the two values.
    EXPECT_NEAR(p[0], 100.0f, 0.5f);
    EXPECT_NEAR(p[255], 140.0f, 0.5f);
    EXPECT_NEAR(p[127] + p[128], 240.0f, 4.0f);
    EXPECT_GT(p[120], 105.0f);  // wider than a hard step
    EXPECT_LT(p[135], 135.0f);
    for (int c = 1; c < 256; ++c) {
      ASSERT_GE(p[c], p[c - 1] - 0.01f) << c;
      ASSERT_GE(p[c], 99.99f);
      ASSERT_LE(p[c], 140.01f);
    }
  }
}

TEST(Multiband, AgreeingOrthosLeaveTheBaseUnchanged) {
  TwoFlat t;
  for (cv::Mat& d : t.differences) d.setTo(0.0f);
  const cv::Mat out = MultibandBlend(t.base, t.differences, t.masks);
  EXPECT_EQ(cv::norm(out, t.base, cv::NORM_INF), 0.0);
}

}  // namespace
}  // namespace ortavia
