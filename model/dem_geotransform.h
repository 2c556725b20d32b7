#pragma once
// The affine map between a DEM's sample coordinates and the ground, for any signs and rotation.
//
// Sample coordinates (col, row) are fractional, with sample (c, r) at the whole numbers: a sample
// stands for the centre of its pixel, so it lies at
//   X = gt0 + (c + 0.5) * gt1 + (r + 0.5) * gt2,  Y = gt3 + (c + 0.5) * gt4 + (r + 0.5) * gt5.
// Pixel coordinates (px, py) are the corner-based ones of GDAL (pixel (0, 0) covers [0, 1)^2); they
// are sample coordinates plus 0.5.
#include <array>
#include <optional>

#include <gdal_priv.h>
#include <opencv2/core/types.hpp>

namespace ortavia {

using GeoTransform = std::array<double, 6>;

class DemGeoTransform {
 public:
  DemGeoTransform() = default;  // the identity: pixel size 1, no rotation, rows running up
  // Empty when a coefficient is not finite or the determinant gt1 * gt5 - gt2 * gt4 is 0 (the
  // transform places every sample on one line or point).
  static std::optional<DemGeoTransform> From(const GeoTransform& gt);
  static std::optional<DemGeoTransform> From(const double gt[6]);
  // The dataset's own geotransform; empty without one.
  static std::optional<DemGeoTransform> Of(GDALDataset* dataset);

  const GeoTransform& Coefficients() const { return gt_; }
  bool NorthUp() const { return gt_[2] == 0.0 && gt_[4] == 0.0; }

  cv::Point2d SampleToGround(double col, double row) const;
  // Inline: the march of true orthos asks this for every line of sight.
  cv::Point2d GroundToSample(double x, double y) const {
    const cv::Point2d p = GroundToPixel(x, y);
    return {p.x - 0.5, p.y - 0.5};
  }
  cv::Point2d PixelToGround(double px, double py) const;
  cv::Point2d GroundToPixel(double x, double y) const {
    const double dx = x - gt_[0], dy = y - gt_[3];
    // Axis-aligned rasters divide directly, so their results do not depend on the other axis.
    if (NorthUp()) return {dx / gt_[1], dy / gt_[5]};
    return {(gt_[5] * dx - gt_[2] * dy) / det_, (gt_[1] * dy - gt_[4] * dx) / det_};
  }

  // The transform of a window whose pixel (0, 0) is pixel (c0, r0) of this raster.
  DemGeoTransform Window(double c0, double r0) const;
  // The transform of the same ground covered by a grid of sx times as many columns and sy times as
  // many rows (a reduced grid has sx, sy < 1).
  DemGeoTransform Resampled(double sx, double sy) const;

 private:
  explicit DemGeoTransform(const GeoTransform& gt);
  GeoTransform gt_{0.0, 1.0, 0.0, 0.0, 0.0, 1.0};
  double det_ = 1.0;
};

}  // namespace ortavia
