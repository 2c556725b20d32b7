#include "process/visibility.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "model/project.h"

namespace ortavia {
namespace {

// One box of height h on flat ground at 0, seen from a camera H above the ground whose nadir lies
// d short of the box's far roof edge. The ray over that edge reaches the ground at D = d H / (H - h),
// so a strip h d / (H - h) wide behind the box is hidden. Each DEM sample stands for its pixel
// (sample c covers [c p, (c + 1) p)); the box's walls stand on the edges of its outermost pixels.
// The true wall may stand up to half a posting p further out: taken so, the roof edge lies at
// d + p / 2 and the strip past the posted edge is at most h d / (H - h) + (p / 2) H / (H - h) wide,
// and the outer half of the roof's edge pixel may be ground hidden by the wall.
struct BoxCase {
  std::string what;
  double h, H, d;
  double posting;  // of the surface model; the ortho pixel is 0.25
  int hiddenPixels;  // h d / (H - h) / 0.25, by hand
};

// Ortho pixels (centres half a pixel apart from the edge, gsd apart) within `width` of an edge.
int PixelsWithin(double width, double gsd) {
  int n = 0;
  while ((n + 0.5) * gsd < width - 1e-9) ++n;
  return n;
}

class BoxScene {
 public:
  explicit BoxScene(const BoxCase& c) : c_(c) {
    const double p = c.posting;
    cols_ = static_cast<int>(std::ceil((kNadirX + 2.5 * c.d) / p));
    heights_ = cv::Mat(kRows, cols_, CV_32F, cv::Scalar(0.0f));
    // The roof's far edge: the far side of pixel farCol_, at nadir + d; the box is 20 pixels deep
    // and rows 10..30.
    farCol_ = static_cast<int>(std::lround((kNadirX + c.d) / p)) - 1;
    heights_(cv::Range(10, 31), cv::Range(farCol_ - 19, farCol_ + 1)).setTo(c.h);
    transform_ = *DemGeoTransform::From(GeoTransform{0.0, p, 0.0, 0.0, 0.0, -p});
  }

  double FarEdgeX() const { return (farCol_ + 1) * c_.posting; }
  double NearEdgeX() const { return (farCol_ - 19) * c_.posting; }
  int FarCol() const { return farCol_; }
  double RowY() const { return -(20 + 0.5) * c_.posting; }
  cv::Point3d Centre() const { return {kNadirX, RowY(), c_.H}; }
  const cv::Mat& Heights() const { return heights_; }
  const DemGeoTransform& Transform() const { return transform_; }

  static constexpr double kNadirX = 20.0;
  static constexpr int kRows = 41;

 private:
  BoxCase c_;
  int cols_ = 0, farCol_ = 0;
  cv::Mat heights_;
  DemGeoTransform transform_;
};

constexpr double kGsd = 0.25;

const BoxCase kBoxes[] = {
    // h d / (H - h): 15 * 60 / 300 = 3 m, 45 * 100 / 300 = 15 m, 30 * 40 / 200 = 6 m.
    {"15 m box, posting = pixel", 15.0, 315.0, 60.0, 0.25, 12},
    {"15 m box, posting = pixel / 2", 15.0, 315.0, 60.0, 0.125, 12},
    {"15 m box, posting = 2 pixels", 15.0, 315.0, 60.0, 0.5, 12},
    {"45 m box, posting = pixel", 45.0, 345.0, 100.0, 0.25, 60},
    {"45 m box, posting = pixel / 2", 45.0, 345.0, 100.0, 0.125, 60},
    {"45 m box, posting = 2 pixels", 45.0, 345.0, 100.0, 0.5, 60},
    {"30 m box, posting = pixel", 30.0, 230.0, 40.0, 0.25, 24},
    {"30 m box, posting = pixel / 2", 30.0, 230.0, 40.0, 0.125, 24},
    {"30 m box, posting = 2 pixels", 30.0, 230.0, 40.0, 0.5, 24},
};

// Ortho pixels along the row through the nadir point, their centres half a pixel off the roof's
// far edge: from 10 m before the nadir to twice the hidden strip past the box. Past the edge at
// least the exact strip is hidden and at most the strip behind a wall half a posting further out;
// before it, the roof pixels in the outer half of the edge pixel.
TEST(SurfaceVisibility, HiddenStripBehindABoxIsHdOverHMinusH) {
  for (const auto& [c, aimed] : [] {
         std::vector<std::pair<BoxCase, bool>> all;  // each box, its centre aimed at or not
         for (const BoxCase& c : kBoxes)
           for (const bool aimed : {false, true}) all.push_back({c, aimed});
         return all;
       }()) {
    SCOPED_TRACE(c.what + (aimed ? ", aimed" : ""));
    const BoxScene scene(c);
    SurfaceVisibility surface(scene.Heights(), scene.Transform());
    if (aimed) surface.Aim(scene.Centre());
    const double first = scene.FarEdgeX() + kGsd / 2 - 400 * kGsd;
    const int count = 400 + 2 * c.hiddenPixels + 8;
    const cv::Mat seen = VisibleMask(surface, scene.Centre(), first, scene.RowY(), kGsd, 0, 0,
                                     count, 1);
    int hidden = 0, firstHidden = -1, lastHidden = -1;
    for (int i = 0; i < count; ++i) {
      if (seen.at<uchar>(0, i)) continue;
      ++hidden;
      if (firstHidden < 0) firstHidden = i;
      lastHidden = i;
    }
    const int onRoof = PixelsWithin(c.posting / 2, kGsd);
    const int most = PixelsWithin(c.h * c.d / (c.H - c.h) + c.posting / 2 * c.H / (c.H - c.h), kGsd);
    // One strip: the rest of the roof and the near side are seen.
    EXPECT_EQ(firstHidden, 400 - onRoof);
    EXPECT_EQ(lastHidden - firstHidden + 1, hidden);
    EXPECT_GE(hidden - onRoof, c.hiddenPixels);
    EXPECT_LE(hidden - onRoof, most);
  }
}

// The camera straight above the roof's middle (5 m wide) sees the roof but the outer half of its
// edge pixels, and hides a strip along both walls: 45 * 2.5 / 300 = 0.375 m, and with the wall half
// a posting out, 44.875 * 2.625 / 300.125 - 2.5 + 0.125 = 0.5175 m (the tolerance of 0.125 m in
// height counted). Moved past the far edge it sees the far side and hides the near side's strip
// instead: 15 m, at most 44.875 * 100.125 / 300.125 - 100 + 0.125 = 15.097 m.
TEST(SurfaceVisibility, SidesSwapWithTheCamera) {
  const BoxCase c{"45 m", 45.0, 345.0, 100.0, 0.25, 60};
  const BoxScene scene(c);
  const SurfaceVisibility surface(scene.Heights(), scene.Transform());
  const double y = scene.RowY();
  const double roofMiddle = (scene.NearEdgeX() + scene.FarEdgeX()) / 2;
  const cv::Point3d above{roofMiddle, y, 345.0};
  for (double x = scene.NearEdgeX() + 0.13; x < scene.FarEdgeX() - 0.13; x += 0.05)
    EXPECT_TRUE(surface.Sees(x, y, above)) << x;
  for (const double side : {-1.0, 1.0}) {
    const double edge = side < 0 ? scene.NearEdgeX() : scene.FarEdgeX();
    EXPECT_FALSE(surface.Sees(edge - side * 0.05, y, above));
    EXPECT_FALSE(surface.Sees(edge + side * 0.1, y, above));
    EXPECT_FALSE(surface.Sees(edge + side * 0.36, y, above));
    EXPECT_FALSE(surface.Sees(edge + side * 0.50, y, above));
    EXPECT_TRUE(surface.Sees(edge + side * 0.53, y, above));
    EXPECT_TRUE(surface.Sees(edge + side * 10.0, y, above));
  }
  const cv::Point3d beyond{scene.NearEdgeX() + 100.0, y, 345.0};
  EXPECT_FALSE(surface.Sees(scene.NearEdgeX() - 14.9, y, beyond));
  EXPECT_FALSE(surface.Sees(scene.NearEdgeX() - 15.05, y, beyond));
  EXPECT_TRUE(surface.Sees(scene.NearEdgeX() - 15.15, y, beyond));
  EXPECT_TRUE(surface.Sees(scene.FarEdgeX() + 1.0, y, beyond));
}

// A hole hides nothing, and a point over it counts as seen; a centre below the point sees nothing.
TEST(SurfaceVisibility, HolesAndCentresBelow) {
  const BoxCase c{"15 m", 15.0, 315.0, 60.0, 0.25, 12};
  BoxScene scene(c);
  cv::Mat heights = scene.Heights().clone();
  heights.setTo(kNoHeight, heights == 15.0f);
  const SurfaceVisibility surface(heights, scene.Transform());
  const double behind = scene.FarEdgeX() + 1.5;
  EXPECT_TRUE(surface.Sees(behind, scene.RowY(), scene.Centre()));
  EXPECT_TRUE(surface.Sees(scene.FarEdgeX() - 1.0, scene.RowY(), scene.Centre()));
  EXPECT_EQ(surface.HeightAt(scene.FarCol(), 20), kNoHeight);
  EXPECT_FALSE(surface.Sees(behind + 40, scene.RowY(), {behind, scene.RowY(), -1.0}));
}

// The rule marched cell by cell over the samples themselves, from the point to the centre: no
// maxima, no early stop. The pixel the point lies in never hides it; every other pixel the line
// crosses hides it when its sample stands above the line where the line enters it (half a pixel
// early) by more than the tolerance.
bool SeesCellByCell(const SurfaceVisibility& surface, const cv::Mat& heights,
                    const DemGeoTransform& transform, double x, double y,
                    const cv::Point3d& centre) {
  const cv::Point2d s = transform.GroundToSample(x, y);
  const double z0 = surface.HeightAt(s.x, s.y);
  if (z0 == kNoHeight) return true;
  if (!(centre.z > z0)) return false;
  const cv::Point2d d = transform.GroundToSample(centre.x, centre.y) - s;
  const double span = std::max(std::abs(d.x), std::abs(d.y));
  const double early = 0.5 / span, rise = centre.z - z0;
  int i = static_cast<int>(std::floor(s.x + 0.5)), j = static_cast<int>(std::floor(s.y + 0.5));
  const auto exitAt = [](double p, double dp, int cell) {
    return dp > 0 ? (cell + 1 - p) / dp : dp < 0 ? (cell - p) / dp : HUGE_VAL;
  };
  for (;;) {
    const double tx = exitAt(s.x + 0.5, d.x, i), ty = exitAt(s.y + 0.5, d.y, j);
    const double t = std::min(tx, ty);
    if (t >= 1.0) return true;
    if (tx <= ty) i += d.x > 0 ? 1 : -1;
    if (ty <= tx) j += d.y > 0 ? 1 : -1;
    if (i < 0 || j < 0 || i >= heights.cols || j >= heights.rows) return true;
    if (heights.at<float>(j, i) > z0 + rise * std::max(0.0, t - early) + surface.Tolerance())
      return false;
  }
}

// Gentle hills with boxes 15 to 50 high standing on them, and a hole.
cv::Mat HillsWithBoxes(cv::RNG& rng, cv::Size size, int boxes, const cv::Rect& hole) {
  cv::Mat heights(size, CV_32F);
  for (int r = 0; r < heights.rows; ++r)
    for (int c = 0; c < heights.cols; ++c)
      heights.at<float>(r, c) =
          static_cast<float>(10 + 6 * std::sin(c * 0.11) + 4 * std::cos(r * 0.07));
  for (int b = 0; b < boxes; ++b) {
    const cv::Rect box(rng.uniform(0, size.width - 6), rng.uniform(0, size.height - 6),
                       rng.uniform(1, 10), rng.uniform(1, 10));
    heights(box & cv::Rect({}, size)).setTo(rng.uniform(15.0, 50.0));
  }
  heights(hole).setTo(kNoHeight);
  return heights;
}

// The march over the pyramid of maxima, one by one and a row at a time, gets the answers of the
// rule marched cell by cell: hills, boxes and a hole on a grid of odd size, north-up and rotated,
// centres high, low and off the grid.
TEST(SurfaceVisibility, PyramidMarchGivesTheAnswersOfTheCellByCellRule) {
  cv::RNG rng(11);
  const cv::Mat heights = HillsWithBoxes(rng, {101, 77}, 30, {40, 30, 5, 4});
  const GeoTransform northUp{500.0, 0.5, 0.0, 800.0, 0.0, -0.5};
  const GeoTransform rotated{500.0, 0.4, 0.3, 800.0, 0.3, -0.4};
  int hidden = 0, points = 0;
  for (const GeoTransform& gt : {northUp, rotated}) {
    const DemGeoTransform transform = *DemGeoTransform::From(gt);
    for (const cv::Point3d& centre : {cv::Point3d{525.0, 780.0, 250.0},
                                      cv::Point3d{560.0, 760.0, 60.0},
                                      cv::Point3d{420.0, 900.0, 400.0}}) {
      SurfaceVisibility surface(heights, transform);
      surface.Aim(centre);
      std::vector<double> xs(301), ys(301);
      for (std::size_t n = 0; n < xs.size(); ++n)
        xs[n] = rng.uniform(495.0, 560.0), ys[n] = rng.uniform(750.0, 805.0);
      using Lanes = SurfaceVisibility::Lanes;
      const int count = static_cast<int>(xs.size());
      std::vector<unsigned char> widest(xs.size()), avx2(xs.size());
      surface.SeesEach(xs.data(), ys.data(), count, centre, widest.data(), Lanes::Widest);
      surface.SeesEach(xs.data(), ys.data(), count, centre, avx2.data(), Lanes::Avx2);
      for (std::size_t n = 0; n < xs.size(); ++n) {
        const bool expected = SeesCellByCell(surface, heights, transform, xs[n], ys[n], centre);
        ASSERT_EQ(surface.Sees(xs[n], ys[n], centre), expected) << xs[n] << " " << ys[n];
        ASSERT_EQ(widest[n] != 0, expected) << xs[n] << " " << ys[n];
        ASSERT_EQ(avx2[n] != 0, expected) << "AVX2 lanes, " << xs[n] << " " << ys[n];
        hidden += !expected, ++points;
      }
    }
  }
  // The scene hides a fair share, not none and not all.
  EXPECT_GT(hidden, points / 50);
  EXPECT_LT(hidden, points / 2);
}

// Lines tested together (eight at a time where the processor has the lanes) get the answers of
// lines tested one by one: over hills, boxes and holes, north-up and rotated, with centres inside,
// outside and below the window, points beyond every edge, and counts that fill no set of eight.
TEST(SurfaceVisibility, LinesTestedTogetherGetTheAnswersOfOneByOne) {
  cv::RNG rng(7);
  const cv::Mat heights = HillsWithBoxes(rng, {130, 90}, 25, {60, 40, 6, 5});
  const GeoTransform northUp{1000.0, 0.5, 0.0, 2000.0, 0.0, -0.5};
  const GeoTransform rotated{1000.0, 0.45, 0.2, 2000.0, 0.2, -0.45};
  const cv::Point3d centres[] = {{1030.0, 1980.0, 300.0}, {1090.0, 1950.0, 45.0},
                                 {900.0, 2100.0, 500.0}, {1030.0, 1980.0, 10.0}};
  for (const GeoTransform& gt : {northUp, rotated})
    for (const cv::Point3d& centre : centres)
      for (const bool aimed : {false, true}) {
        SurfaceVisibility surface(heights, *DemGeoTransform::From(gt));
        if (aimed) surface.Aim(centre);
        for (const int count : {1, 7, 8, 33, 203}) {
          std::vector<double> x(count), y(count);
          for (int n = 0; n < count; ++n)
            x[n] = rng.uniform(990.0, 1080.0), y[n] = rng.uniform(1940.0, 2010.0);
          using Lanes = SurfaceVisibility::Lanes;
          for (const Lanes lanes : {Lanes::Widest, Lanes::Avx2}) {
            std::vector<unsigned char> seen(count, 9);
            surface.SeesEach(x.data(), y.data(), count, centre, seen.data(), lanes);
            int hidden = 0;
            for (int n = 0; n < count; ++n) {
              ASSERT_EQ(seen[n], surface.Sees(x[n], y[n], centre) ? 1 : 0)
                  << "point " << x[n] << " " << y[n] << ", centre " << centre.x << " "
                  << centre.y << " " << centre.z << ", aimed " << aimed << ", rotated "
                  << (gt[2] != 0.0) << ", AVX2 lanes " << (lanes == Lanes::Avx2);
              hidden += !seen[n];
            }
            if (count == 203 && centre.z > 100.0) {
              EXPECT_GT(hidden, 0);
            }
          }
        }
      }
}

}  // namespace
}  // namespace ortavia
