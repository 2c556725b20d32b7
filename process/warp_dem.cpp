#include "process/warp.h"

#include <algorithm>
#include <cmath>

namespace ortavia {
namespace {

constexpr double kNoHeightD = -9999.0;

double CubicAt(double a0, double a1, double a2, double a3, double f) {
  const double d0 = a0 - a1, d2 = a2 - a1, d3 = a3 - a1;
  return a1 + f * (d2 - d0 / 3.0 - d3 / 6.0) + f * f * (d2 / 2.0 + d0 / 2.0) +
         f * f * f * (d3 / 6.0 - d2 / 2.0 - d0 / 6.0);
}

}  // namespace

DemWindowStatus BuildDemWindow(GDALDataset* dem, double left, double right, double top,
                               double bottom, DemWindow& out) {
  if (!dem || dem->GetRasterCount() < 1) return DemWindowStatus::ReadFailed;
  double gt[6];
  if (dem->GetGeoTransform(gt) != CE_None || gt[1] == 0.0 || gt[5] == 0.0)
    return DemWindowStatus::ReadFailed;
  const double edges[4] = {(left - gt[0]) / gt[1], (top - gt[3]) / gt[5],
                           (right - gt[0]) / gt[1], (bottom - gt[3]) / gt[5]};
  for (double e : edges)
    if (!std::isfinite(e) || std::abs(e) > 1e9) return DemWindowStatus::TooSmall;
  long long c0 = static_cast<long long>(std::trunc(edges[0]));
  long long r0 = static_cast<long long>(std::trunc(edges[1]));
  long long c1 = static_cast<long long>(std::trunc(edges[2])) + 1;
  long long r1 = static_cast<long long>(std::trunc(edges[3])) + 1;
  const long long w = c1 - c0, h = r1 - r0;
  c0 -= w;
  c1 += w;
  r0 -= h;
  r1 += h;
  c0 = std::max(c0, 0LL);
  r0 = std::max(r0, 0LL);
  c1 = std::min<long long>(c1, dem->GetRasterXSize() - 1);
  r1 = std::min<long long>(r1, dem->GetRasterYSize() - 1);
  long long W = c1 - c0 + 1;
  const long long H = r1 - r0 + 1;
  if (W < 2 || H < 2) return DemWindowStatus::TooSmall;
  const long long readW = W;
  if (W % 4 != 0) W += 4 - W % 4;
  out.gt = {gt[0] + c0 * gt[1], gt[1], gt[2], gt[3] + r0 * gt[5], gt[4], gt[5]};
  out.heights.create(static_cast<int>(H), static_cast<int>(W), CV_32F);
  // Columns added to reach a multiple of 4 lie past the DEM: no height there.
  out.heights.setTo(cv::Scalar::all(kNoHeightD));
  GDALRasterBand* band = dem->GetRasterBand(1);
  CPLErr err = band->RasterIO(GF_Read, static_cast<int>(c0), static_cast<int>(r0),
                              static_cast<int>(readW), static_cast<int>(H), out.heights.ptr(),
                              static_cast<int>(readW), static_cast<int>(H), GDT_Float32, 0,
                              static_cast<GSpacing>(out.heights.step[0]), nullptr);
  if (err != CE_None) {
    out.heights.release();
    return DemWindowStatus::ReadFailed;
  }
  int hasNoData = 0;
  const double noData = band->GetNoDataValue(&hasNoData);
  const float noDataF = static_cast<float>(noData);
  for (int r = 0; r < out.heights.rows; ++r) {
    float* row = out.heights.ptr<float>(r);
    for (int c = 0; c < readW; ++c) {
      if (!std::isfinite(row[c]) || (hasNoData && row[c] == noDataF)) row[c] = kNoHeight;
    }
  }
  return DemWindowStatus::Ok;
}

double SampleDemHeight(const GeoTransform& wgt, const cv::Mat& dem, double x, double y) {
  if (dem.empty() || dem.type() != CV_32F || wgt[1] == 0.0 || wgt[5] == 0.0) return kNoHeightD;
  // A sample stands for its pixel's centre.
  const double col = (x - wgt[0]) / wgt[1] - 0.5;
  const double row = (y - wgt[3]) / wgt[5] - 0.5;
  if (!(std::abs(col) < 1e9) || !(std::abs(row) < 1e9)) return kNoHeightD;
  const int ic = static_cast<int>(col), ir = static_cast<int>(row);
  const int W = dem.cols, H = dem.rows;
  if (ic < 0 || ir < 0 || ic > W - 1 || ir > H - 1) return kNoHeightD;
  if (!(3 < ic && ic < W - 4 && 3 < ir && ir < H - 4)) return dem.at<float>(ir, ic);
  const double fx = col - ic, fy = row - ir;
  bool hole = false;
  double a[4][4];
  for (int j = 0; j < 4; ++j) {
    const float* p = dem.ptr<float>(ir - 1 + j) + ic - 1;
    for (int k = 0; k < 4; ++k) {
      a[j][k] = p[k];
      hole = hole || p[k] == kNoHeight;
    }
  }
  if (!hole) {
    double v[4];
    for (int j = 0; j < 4; ++j) v[j] = CubicAt(a[j][0], a[j][1], a[j][2], a[j][3], fx);
    return CubicAt(v[0], v[1], v[2], v[3], fy);
  }
  const double wts[4] = {(1 - fx) * (1 - fy), fx * (1 - fy), (1 - fx) * fy, fx * fy};
  const double z[4] = {a[1][1], a[1][2], a[2][1], a[2][2]};
  double sw = 0.0, sz = 0.0;
  for (int k = 0; k < 4; ++k) {
    if (z[k] == kNoHeightD) continue;
    sw += wts[k];
    sz += wts[k] * z[k];
  }
  return sw > 0.0 ? sz / sw : kNoHeightD;
}

double SampleDemHeight(const GeoTransform& wgt, const WarpProject& project, double x, double y) {
  return SampleDemHeight(wgt, project.demWindow, x, y);
}

}  // namespace ortavia
