#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>

#include "external/geo/camera_passport.h"
#include "external/geo/orientation.h"
#include "external/geo/wml.h"

namespace {

// A passport filled by hand, independent of the file readers.
class FixedPassport : public geo::CCameraPassport {
 public:
  std::unique_ptr<geo::CCameraPassport> Clone() const override {
    return std::make_unique<FixedPassport>(*this);
  }
  bool MustUndistort() const override { return false; }
};

FixedPassport MakePassport(double focal = 100.0, double pixel = 0.006, int w = 8000, int h = 6000) {
  FixedPassport p;
  p.focalLength = focal;
  p.pixelSize = pixel;
  p.width = w;
  p.height = h;
  p.principalPointX = (w - 1) / 2.0 + 3.25;
  p.principalPointY = (h - 1) / 2.0 - 1.5;
  return p;
}

Eigen::Matrix3d Rx(double a) {
  Eigen::Matrix3d m;
  m << 1, 0, 0, 0, std::cos(a), -std::sin(a), 0, std::sin(a), std::cos(a);
  return m;
}
Eigen::Matrix3d Ry(double a) {
  Eigen::Matrix3d m;
  m << std::cos(a), 0, std::sin(a), 0, 1, 0, -std::sin(a), 0, std::cos(a);
  return m;
}
Eigen::Matrix3d Rz(double a) {
  Eigen::Matrix3d m;
  m << std::cos(a), -std::sin(a), 0, std::sin(a), std::cos(a), 0, 0, 0, 1;
  return m;
}

geo::COrientation Oriented(const geo::CCameraPassport& passport, double omega, double phi,
                           double kappa, Wml::Point3d centre) {
  geo::COrientation o(1.0);
  EXPECT_EQ(o.BuildINTWithoutDistortion(&passport, 0.0), 1);
  o.N = centre;
  o.SetRotMat(Wml::Matrix3d::FromEulerAnglesXYZ(omega, phi, kappa));
  return o;
}

TEST(Matrix3, FromEulerAnglesXYZIsRxRyRz) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> angle(-3.2, 3.2);
  for (int i = 0; i < 200; ++i) {
    const double o = angle(rng), p = angle(rng), k = angle(rng);
    const Eigen::Matrix3d expected = Rx(o) * Ry(p) * Rz(k);
    const Wml::Matrix3d got = Wml::Matrix3d::FromEulerAnglesXYZ(o, p, k);
    EXPECT_LT((got - expected).cwiseAbs().maxCoeff(), 1e-15) << o << " " << p << " " << k;
    EXPECT_LT((got * got.transpose() - Eigen::Matrix3d::Identity()).cwiseAbs().maxCoeff(), 1e-14);
  }
  // A single angle about X turns +y towards +z.
  const Wml::Matrix3d r = Wml::Matrix3d::FromEulerAnglesXYZ(M_PI / 2, 0, 0);
  EXPECT_NEAR((r * Wml::Vector3d(0, 1, 0) - Wml::Vector3d(0, 0, 1)).norm(), 0.0, 1e-15);
}

TEST(COrientation, RefusesUnusablePassports) {
  geo::COrientation o(1.0);
  EXPECT_EQ(o.BuildINTWithoutDistortion(nullptr, 0.0), 0);
  auto p = MakePassport();
  p.focalLength = 0.0;
  EXPECT_EQ(o.BuildINTWithoutDistortion(&p, 0.0), 0);
  p = MakePassport();
  p.pixelSize = -0.01;
  EXPECT_EQ(o.BuildINTWithoutDistortion(&p, 0.0), 0);
  p = MakePassport();
  p.principalPointX = std::nan("");
  EXPECT_EQ(o.BuildINTWithoutDistortion(&p, 0.0), 0);
  EXPECT_FALSE(o.HasInterior());
  EXPECT_TRUE(std::isnan(o.Pt3dToPix({0, 0, -10}).x));
}

TEST(COrientation, CopiesInteriorFromPassport) {
  const auto p = MakePassport(120.5, 0.0045, 1000, 800);
  geo::COrientation o(1.0);
  ASSERT_EQ(o.BuildINTWithoutDistortion(&p, 0.0), 1);
  EXPECT_EQ(o.FocalLength(), 120.5);
  EXPECT_EQ(o.PixelSize(), 0.0045);
  EXPECT_EQ(o.PrincipalPoint(), cv::Point2d(p.principalPointX, p.principalPointY));
  // Copies are independent values.
  geo::COrientation copy = o;
  copy.N = Wml::Point3d(1, 2, 3);
  EXPECT_EQ(o.N, Wml::Point3d::Zero());
}

TEST(COrientation, RayAndProjectionAgreeForRandomOrientations) {
  std::mt19937 rng(42);
  std::uniform_real_distribution<double> angle(-0.4, 0.4), anyKappa(-3.14, 3.14);
  std::uniform_real_distribution<double> col(-0.5, 7999.5), row(-0.5, 5999.5), dist(10.0, 5000.0);
  const auto passport = MakePassport();
  for (int i = 0; i < 500; ++i) {
    const Wml::Point3d c(500000.0 + i, 4500000.0 - i, 1200.0 + i);
    const auto o = Oriented(passport, angle(rng), angle(rng), anyKappa(rng), c);
    const cv::Point2d px(col(rng), row(rng));
    const Wml::Vector3d dir = o.PixToVec3d(px);
    EXPECT_NEAR(dir.norm(), 1.0, 1e-12);
    const Wml::Point3d g = c + dist(rng) * dir;
    const cv::Point2d back = o.Pt3dToPix({g.x(), g.y(), g.z()});
    EXPECT_NEAR(back.x, px.x, 1e-6);
    EXPECT_NEAR(back.y, px.y, 1e-6);
  }
}

TEST(COrientation, FidToVec3dMatchesPixToVec3d) {
  const auto passport = MakePassport();
  const auto o = Oriented(passport, 0.1, -0.2, 0.3, {0, 0, 100});
  const cv::Point2d px(1234.5, 4321.25);
  const cv::Point2d mm((px.x - passport.principalPointX) * passport.pixelSize,
                       -(px.y - passport.principalPointY) * passport.pixelSize);
  EXPECT_LT((o.FidToVec3d(mm) - o.PixToVec3d(px)).norm(), 1e-15);
  // The principal point looks along the optical axis, R * (0, 0, -1).
  const Wml::Vector3d axis = o.RotMat() * Wml::Vector3d(0, 0, -1);
  EXPECT_LT((o.PixToVec3d(o.PrincipalPoint()) - axis).norm(), 1e-15);
}

TEST(COrientation, NadirLooksDownEastIsColumnsNorthIsFallingRows) {
  const auto passport = MakePassport();
  const auto o = Oriented(passport, 0, 0, 0, {1000, 2000, 500});
  const Wml::Vector3d down = o.PixToVec3d(o.PrincipalPoint());
  EXPECT_LT((down - Wml::Vector3d(0, 0, -1)).norm(), 1e-15);

  const cv::Point2d centre = o.Pt3dToPix({1000, 2000, 0});
  EXPECT_NEAR(centre.x, passport.principalPointX, 1e-9);
  EXPECT_NEAR(centre.y, passport.principalPointY, 1e-9);
  const cv::Point2d east = o.Pt3dToPix({1010, 2000, 0});
  const cv::Point2d north = o.Pt3dToPix({1000, 2010, 0});
  EXPECT_GT(east.x, centre.x);
  EXPECT_NEAR(east.y, centre.y, 1e-9);
  EXPECT_LT(north.y, centre.y);
  EXPECT_NEAR(north.x, centre.x, 1e-9);
  // Scale: 10 m at 500 m below with f = 100 mm and 6 um pixels is 10 * 100 / 500 / 0.006 px.
  EXPECT_NEAR(east.x - centre.x, 10.0 * 100.0 / 500.0 / 0.006, 1e-6);
}

TEST(COrientation, PointsBehindTheCameraHaveNoPixel) {
  const auto passport = MakePassport();
  const auto o = Oriented(passport, 0, 0, 0, {0, 0, 500});
  const cv::Point2d above = o.Pt3dToPix({10, 10, 600});
  EXPECT_TRUE(std::isnan(above.x) && std::isnan(above.y));
  const cv::Point2d level = o.Pt3dToPix({10, 10, 500});
  EXPECT_TRUE(std::isnan(level.x) && std::isnan(level.y));
}

}  // namespace
