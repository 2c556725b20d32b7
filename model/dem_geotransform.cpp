#include "model/dem_geotransform.h"

#include <cmath>

namespace ortavia {

DemGeoTransform::DemGeoTransform(const GeoTransform& gt)
    : gt_(gt), det_(gt[1] * gt[5] - gt[2] * gt[4]) {}

std::optional<DemGeoTransform> DemGeoTransform::From(const GeoTransform& gt) {
  for (double v : gt)
    if (!std::isfinite(v)) return std::nullopt;
  const DemGeoTransform t(gt);
  if (t.det_ == 0.0 || !std::isfinite(t.det_)) return std::nullopt;
  return t;
}

std::optional<DemGeoTransform> DemGeoTransform::From(const double gt[6]) {
  return From(GeoTransform{gt[0], gt[1], gt[2], gt[3], gt[4], gt[5]});
}

std::optional<DemGeoTransform> DemGeoTransform::Of(GDALDataset* dataset) {
  double gt[6];
  if (!dataset || dataset->GetGeoTransform(gt) != CE_None) return std::nullopt;
  return From(gt);
}

cv::Point2d DemGeoTransform::PixelToGround(double px, double py) const {
  return {gt_[0] + px * gt_[1] + py * gt_[2], gt_[3] + px * gt_[4] + py * gt_[5]};
}

cv::Point2d DemGeoTransform::SampleToGround(double col, double row) const {
  return PixelToGround(col + 0.5, row + 0.5);
}

DemGeoTransform DemGeoTransform::Window(double c0, double r0) const {
  const cv::Point2d origin = PixelToGround(c0, r0);
  return DemGeoTransform({origin.x, gt_[1], gt_[2], origin.y, gt_[4], gt_[5]});
}

DemGeoTransform DemGeoTransform::Resampled(double sx, double sy) const {
  return DemGeoTransform(
      {gt_[0], gt_[1] / sx, gt_[2] / sy, gt_[3], gt_[4] / sx, gt_[5] / sy});
}

}  // namespace ortavia
