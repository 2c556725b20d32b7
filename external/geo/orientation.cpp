#include "external/geo/orientation.h"

#include <cmath>
#include <limits>

#include "external/geo/camera_passport.h"

namespace geo {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool Finite(double v) { return std::isfinite(v); }

}  // namespace

COrientation::COrientation(double version) : version_(version) {}

int COrientation::BuildINTWithoutDistortion(const CCameraPassport* passport, double /*reserved*/) {
  if (passport == nullptr) return 0;
  const CCameraPassport& p = *passport;
  if (!Finite(p.focalLength) || p.focalLength <= 0.0) return 0;
  if (!Finite(p.pixelSize) || p.pixelSize <= 0.0) return 0;
  if (!Finite(p.principalPointX) || !Finite(p.principalPointY)) return 0;
  focal_ = p.focalLength;
  pixelSize_ = p.pixelSize;
  cx_ = p.principalPointX;
  cy_ = p.principalPointY;
  return 1;
}

// Ground point -> pixel (column, row), centre of the top-left pixel at (0, 0).
cv::Point2d COrientation::Pt3dToPix(const cv::Point3d& ground) const {
  if (!HasInterior()) return {kNaN, kNaN};
  const Wml::Vector3d d(ground.x - N.x(), ground.y - N.y(), ground.z - N.z());
  const Wml::Vector3d v = rot_.transpose() * d;
  // Only points in front of the camera (camera looks along -z) have an image.
  if (!(v.z() < 0.0)) return {kNaN, kNaN};
  const double xMm = -focal_ * v.x() / v.z();
  const double yMm = -focal_ * v.y() / v.z();
  return {cx_ + xMm / pixelSize_, cy_ - yMm / pixelSize_};
}

// Pixel (column, row) -> unit ground-frame ray direction.
Wml::Vector3d COrientation::PixToVec3d(const cv::Point2d& pixel) const {
  return FidToVec3d({(pixel.x - cx_) * pixelSize_, -(pixel.y - cy_) * pixelSize_});
}

// Image-plane point (mm, x right, y up) -> unit ground-frame ray direction.
Wml::Vector3d COrientation::FidToVec3d(const cv::Point2d& fiducialMm) const {
  if (!HasInterior()) return Wml::Vector3d::Constant(kNaN);
  const Wml::Vector3d camera(fiducialMm.x, fiducialMm.y, -focal_);
  return (rot_ * camera).normalized();
}

}  // namespace geo
