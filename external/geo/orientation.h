#pragma once
// One image's orientation: interior (from the passport, without distortion) and exterior
// (projection centre N and rotation).
//
// Pixel convention: x = column, y = row, the centre of the top-left pixel at (0, 0) (OpenCV's);
// the raster covers [-0.5, W - 0.5] x [-0.5, H - 0.5]. Image-plane ("fiducial") coordinates in mm:
// x_mm = (x - cx) * p, y_mm = -(y - cy) * p. Camera frame: x right, y up, looking along -z.
#include <opencv2/core/types.hpp>

#include "external/geo/wml.h"

namespace geo {

class CCameraPassport;

class COrientation {
 public:
  explicit COrientation(double version = 1.0);

  // Interior orientation from the passport, no distortion; 0 = failure (null or unusable passport).
  int BuildINTWithoutDistortion(const CCameraPassport* passport, double reserved);

  void SetRotMat(const Wml::Matrix3d& rotation) { rot_ = rotation; }
  const Wml::Matrix3d& RotMat() const { return rot_; }

  // Pixel (column, row) that sees the ground point; NaN for a point not in front of the camera.
  cv::Point2d Pt3dToPix(const cv::Point3d& ground) const;
  // Unit ground-frame direction of the ray through a pixel (column, row).
  Wml::Vector3d PixToVec3d(const cv::Point2d& pixel) const;
  // Unit ground-frame direction of the ray through an image-plane point (mm).
  Wml::Vector3d FidToVec3d(const cv::Point2d& fiducialMm) const;

  bool HasInterior() const { return focal_ > 0.0 && pixelSize_ > 0.0; }
  double FocalLength() const { return focal_; }
  double PixelSize() const { return pixelSize_; }
  cv::Point2d PrincipalPoint() const { return {cx_, cy_}; }

  // Projection centre (X, Y, Z) in ground units; (0, 0, 0) until an exterior orientation is set.
  Wml::Point3d N = Wml::Point3d::Zero();

 private:
  double version_ = 1.0;
  double focal_ = 0.0;      // mm
  double pixelSize_ = 0.0;  // mm
  double cx_ = 0.0, cy_ = 0.0;
  Wml::Matrix3d rot_;
};

}  // namespace geo
