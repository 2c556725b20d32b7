#include "products/gain_balance.h"

#include <algorithm>

#include <gtest/gtest.h>

namespace ortavia {
namespace {

OverlapSums Overlap(double n, std::vector<double> meanA, std::vector<double> meanB) {
  OverlapSums s;
  s.n = n;
  for (size_t b = 0; b < meanA.size(); ++b) {
    s.a[b] = meanA[b] * n;
    s.b[b] = meanB[b] * n;
  }
  return s;
}

TEST(GainBalance, SolvedGainsMatchHandSolutions) {
  struct Case {
    const char* what;
    int nodes, bands;
    std::map<std::pair<int, int>, OverlapSums> overlaps;
    double prior;
    std::vector<double> expected;  // node-major
  };
  const std::vector<Case> cases = {
      // A chain of three: 0 reads 100 where 1 reads 50, 1 reads 80 where 2 reads 160. With a
      // vanishing prior the overlaps fix g = k (1, 2, 1); the shared samples sum to
      // 100000 + 130000 + 160000 before and k (100000 + 260000 + 160000) after: k = 0.75.
      {"three-image chain", 3, 1,
       {{{0, 1}, Overlap(1000, {100}, {50})}, {{1, 2}, Overlap(1000, {80}, {160})}},
       1e-9, {0.75, 1.5, 0.75}},
      // Two images with a prior of 1/2: means 2 and 1 (their mean 1.5, c = n / 2.25) give the
      // normal equations [41 -16; -16 17] g = [9 9] (times 1/18), so g = (297, 513) / 441; the
      // sums 10 * (2 + 1) = 30 before and 10 * (2 * 297 + 513) / 441 after give k = 1323 / 1107.
      {"two images, strong prior", 2, 1, {{{0, 1}, Overlap(10, {2}, {1})}}, 0.5,
       {891.0 / 1107.0, 1539.0 / 1107.0}},
      // Bands are solved apart: the second band's ratio is the other way round.
      {"two bands", 2, 2, {{{0, 1}, Overlap(500, {120, 60}, {60, 120})}}, 1e-9,
       {0.75, 1.5, 1.5, 0.75}},
      // Orthos that agree keep their exposure; one that shares nothing keeps 1.
      {"agreeing, and alone", 3, 1, {{{0, 1}, Overlap(300, {90}, {90})}}, 1e-3, {1.0, 1.0, 1.0}},
  };
  for (const Case& c : cases) {
    GainProblem p;
    p.nodes = c.nodes;
    p.bands = c.bands;
    p.overlaps = c.overlaps;
    p.prior = c.prior;
    const std::vector<double> g = SolveGains(p);
    ASSERT_EQ(g.size(), c.expected.size()) << c.what;
    for (size_t i = 0; i < g.size(); ++i) EXPECT_NEAR(g[i], c.expected[i], 1e-6) << c.what << " " << i;
  }
}

TEST(GainBalance, GainFieldIsBilinearBetweenBlockCentres) {
  // Two blocks of 64 pixels with factors 1 and 2, global gain 1.5 (one band): block centres at
  // 32 and 96 (pixel x's centre is x + 0.5), so factor = 1 + (x - 31.5) / 64 in between, constant
  // beyond.
  GainField f;
  f.blockPx = 64;
  f.nx = 2;
  f.ny = 1;
  f.gain[0] = 1.5;
  f.factor = {1.0f, 2.0f};
  const cv::Mat g = GainImage(f, cv::Rect(0, 0, 128, 2), 1);
  const struct {
    int x;
    double factor;
  } table[] = {{0, 1.0}, {10, 1.0}, {47, 1.2421875}, {63, 1.4921875}, {79, 1.7421875}, {120, 2.0}, {127, 2.0}};
  for (const auto& t : table)
    for (int y = 0; y < 2; ++y) EXPECT_NEAR(g.at<float>(y, t.x), 1.5 * t.factor, 1e-4) << t.x;
}

TEST(GainBalance, GainsApplyPerBandWhateverTheRectangle) {
  // As above, three bands with global gains 1, 2 and 0.5, on values of 3: the pixels of a window
  // starting off the sampling grid get the gains of the analytic field, the same as those of the
  // whole row.
  GainField f;
  f.blockPx = 64;
  f.nx = 2;
  f.ny = 1;
  f.gain[0] = 1.0, f.gain[1] = 2.0, f.gain[2] = 0.5;
  f.factor = {1.0f, 1.0f, 1.0f, 2.0f, 2.0f, 2.0f};
  const cv::Rect window(37, 1, 50, 3), whole(0, 0, 128, 4);
  cv::Mat part(window.size(), CV_32FC3, cv::Scalar::all(3.0)), all(whole.size(), CV_32FC3, cv::Scalar::all(3.0));
  ApplyGain(f, window, part);
  ApplyGain(f, whole, all);
  for (int x : {37, 47, 63, 79, 86}) {
    const double factor = std::clamp(1.0 + (x - 31.5) / 64.0, 1.0, 2.0);
    for (int b = 0; b < 3; ++b) {
      const float v = part.at<cv::Vec3f>(2, x - window.x)[b];
      EXPECT_NEAR(v, 3.0 * f.gain[b] * factor, 1e-4) << x << " " << b;
      EXPECT_EQ(v, all.at<cv::Vec3f>(3, x)[b]) << x << " " << b;
    }
  }
}

}  // namespace
}  // namespace ortavia
