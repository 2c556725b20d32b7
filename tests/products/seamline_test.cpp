#include "products/seamline.h"

#include <set>

#include <gtest/gtest.h>

namespace ortavia {
namespace {

// Two orthos over a 200 x 100 chunk, A (0) owning the columns left of 100 and B (1) the rest,
// both showing the same gently varying ground; `feature` marks pixels that only `featureIn` shows
// (255 there, against the ground's ~100); `holeB` marks pixels B lacks.
SeamChunk Chunk(const cv::Rect& feature, int featureIn, const cv::Rect& holeB, int band) {
  SeamChunk in;
  in.chunk = in.ownerRect = in.workRect = cv::Rect(0, 0, 200, 100);
  in.owner.create(100, 200, CV_32S);
  in.owner.colRange(0, 100).setTo(0);
  in.owner.colRange(100, 200).setTo(1);
  in.ids = {0, 1};
  for (int k = 0; k < 2; ++k) {
    cv::Mat v(100, 200, CV_32FC1);
    for (int r = 0; r < 100; ++r)
      for (int c = 0; c < 200; ++c) v.at<float>(r, c) = 100.0f + 0.05f * c + 0.03f * r;
    if (k == featureIn) v(feature).setTo(255.0f);
    cv::Mat ok(100, 200, CV_8U, cv::Scalar(255));
    if (k == 1) ok(holeB).setTo(0);
    in.values.push_back(v);
    in.valid.push_back(ok);
  }
  in.above.assign(200, -2);
  in.left.assign(100, -2);
  in.band = band;
  in.level = 100.0;
  return in;
}

// The same chunk turned on its side: the Voronoi line runs across it.
SeamChunk Transposed(const SeamChunk& in) {
  SeamChunk out = in;
  const auto flip = [](const cv::Rect& r) { return cv::Rect(r.y, r.x, r.height, r.width); };
  out.chunk = flip(in.chunk);
  out.ownerRect = flip(in.ownerRect);
  out.workRect = flip(in.workRect);
  out.owner = in.owner.t();
  for (size_t k = 0; k < in.values.size(); ++k) {
    out.values[k] = in.values[k].t();
    out.valid[k] = in.valid[k].t();
  }
  std::swap(out.above, out.left);
  return out;
}

TEST(Seamline, SeamGoesAroundAFeatureOnTheVoronoiLineWithinItsBand) {
  struct Case {
    const char* what;
    cv::Rect feature;  // a bright line across the Voronoi line (x = 100)
    int featureIn;
    cv::Rect hole;
    int band;
    bool featureWhole;  // all its pixels from one ortho
  };
  const cv::Rect none(0, 0, 0, 0);
  const Case cases[] = {
      {"line in A, seam free", {80, 48, 40, 3}, 0, none, 40, true},
      {"line in B, seam free", {75, 30, 50, 2}, 1, none, 40, true},
      {"line in A, Voronoi seam", {80, 48, 40, 3}, 0, none, 0, false},
      // Longer than the band allows to pass round: it is cut, but the band still holds.
      {"line in A, too long", {40, 48, 120, 3}, 0, none, 40, false},
      // B lacks a patch across the line: the seam keeps those pixels with A.
      {"B has a hole", {80, 48, 40, 3}, 0, {90, 0, 40, 30}, 40, true},
  };
  for (const Case& c : cases)
    for (bool across : {false, true}) {
    const SeamChunk in = Chunk(c.feature, c.featureIn, c.hole, c.band);
    const cv::Mat labels = across ? cv::Mat(SeamLabels(Transposed(in)).t()) : SeamLabels(in);
    std::set<int> onFeature;
    for (int r = c.feature.y; r < c.feature.br().y; ++r)
      for (int x = c.feature.x; x < c.feature.br().x; ++x) onFeature.insert(labels.at<int>(r, x));
    EXPECT_EQ(onFeature.size() == 1, c.featureWhole) << c.what << (across ? " (across)" : "");
    for (int r = 0; r < 100; ++r)
      for (int x = 0; x < 200; ++x) {
        const int l = labels.at<int>(r, x);
        // Never farther from the Voronoi line than the band (pixel x is 99.5 - x from it).
        if (x < 100 - c.band) {
          ASSERT_EQ(l, 0) << c.what << " " << x << "," << r;
        }
        if (x >= 100 + c.band) {
          ASSERT_EQ(l, 1) << c.what << " " << x << "," << r;
        }
        // Never where the ortho lacks the pixel.
        if (c.hole.contains({x, r})) {
          ASSERT_EQ(l, 0) << c.what << " " << x << "," << r;
        }
      }
    }
}

TEST(Seamline, SeamContinuesFromTheLabelsAboveAndLeft) {
  // Flat, equal orthos: the seam would stay on the Voronoi line, but the chunk above ended it
  // 20 pixels further right. The cut then costs least when it carries on from there.
  SeamChunk in = Chunk({0, 0, 0, 0}, 0, {0, 0, 0, 0}, 40);
  for (int x = 0; x < 200; ++x) in.above[x] = x < 120 ? 0 : 1;
  const cv::Mat labels = SeamLabels(in);
  EXPECT_EQ(labels.at<int>(0, 119), 0);
  EXPECT_EQ(labels.at<int>(0, 121), 1);
  // The chunk to the left gave B the start of row 10 already: row 10 is B's from the chunk's edge.
  SeamChunk held = Chunk({0, 0, 0, 0}, 0, {0, 0, 0, 0}, 40);
  held.chunk = cv::Rect(70, 0, 130, 100);
  held.workRect = cv::Rect(69, 0, 131, 100);
  held.ownerRect = cv::Rect(0, 0, 200, 100);
  for (cv::Mat& v : held.values) v = v.colRange(69, 200).clone();
  for (cv::Mat& v : held.valid) v = v.colRange(69, 200).clone();
  held.above.assign(130, -2);
  held.left.assign(100, 0);
  held.left[10] = 1;
  const cv::Mat heldLabels = SeamLabels(held);
  for (int x = 70; x < 200; ++x) ASSERT_EQ(heldLabels.at<int>(10, x - 70), 1) << x;
  EXPECT_EQ(heldLabels.at<int>(50, 0), 0);
}

}  // namespace
}  // namespace ortavia
