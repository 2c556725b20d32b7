#include "process/warp.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

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
                               double bottom, DemWindow& out, bool widen) {
  if (!dem || dem->GetRasterCount() < 1) return DemWindowStatus::ReadFailed;
  const auto transform = DemGeoTransform::Of(dem);
  if (!transform) return DemWindowStatus::ReadFailed;
  // The box's corners in DEM pixels: rows may run north and columns west, or the grid be turned.
  double minC = HUGE_VAL, minR = HUGE_VAL, maxC = -HUGE_VAL, maxR = -HUGE_VAL;
  for (const cv::Point2d& g : {cv::Point2d(left, top), cv::Point2d(right, top),
                               cv::Point2d(right, bottom), cv::Point2d(left, bottom)}) {
    const cv::Point2d p = transform->GroundToPixel(g.x, g.y);
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || std::abs(p.x) > 1e9 || std::abs(p.y) > 1e9)
      return DemWindowStatus::TooSmall;
    minC = std::min(minC, p.x);
    maxC = std::max(maxC, p.x);
    minR = std::min(minR, p.y);
    maxR = std::max(maxR, p.y);
  }
  long long c0 = static_cast<long long>(std::trunc(minC));
  long long r0 = static_cast<long long>(std::trunc(minR));
  long long c1 = static_cast<long long>(std::trunc(maxC)) + 1;
  long long r1 = static_cast<long long>(std::trunc(maxR)) + 1;
  const long long w = widen ? c1 - c0 : 2, h = widen ? r1 - r0 : 2;
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
  out.gt = transform->Window(static_cast<double>(c0), static_cast<double>(r0)).Coefficients();
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

double SampleDemHeight(const DemGeoTransform& wgt, const cv::Mat& dem, double x, double y) {
  if (dem.empty() || dem.type() != CV_32F) return kNoHeightD;
  // A sample stands for its pixel's centre.
  const cv::Point2d s = wgt.GroundToSample(x, y);
  const double col = s.x, row = s.y;
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

void SampleDemHeightsAlongRow(const DemGeoTransform& wgt, const cv::Mat& dem, const double* xs,
                              int count, double y, double* out) {
  const auto oneByOne = [&](int k) { out[k] = SampleDemHeight(wgt, dem, xs[k], y); };
  if (count <= 0) return;
  const double row = wgt.GroundToSample(xs[0], y).y;
  const int ir = std::abs(row) < 1e9 ? static_cast<int>(row) : -1;
  if (dem.empty() || dem.type() != CV_32F || !wgt.NorthUp() || !(3 < ir && ir < dem.rows - 4)) {
    for (int k = 0; k < count; ++k) oneByOne(k);
    return;
  }
  const double fy = row - ir;
  // Each column's value at the row, from its four samples; NaN next to a hole. Filled on demand
  // over the columns the points reach (xs runs one way).
  constexpr double kUnset = -1e300;
  const int W = dem.cols;
  const auto columnOf = [&](double x) {
    const double col = wgt.GroundToSample(x, y).x;
    return std::abs(col) < 1e9 ? std::clamp(static_cast<int>(col), 0, W - 1) : 0;
  };
  const int c0 = std::max(0, std::min(columnOf(xs[0]), columnOf(xs[count - 1])) - 1);
  const int c1 = std::min(W - 1, std::max(columnOf(xs[0]), columnOf(xs[count - 1])) + 2);
  thread_local std::vector<double> column;  // rows are short and many: kept per thread
  column.assign(c1 - c0 + 1, kUnset);
  const float* r[4] = {dem.ptr<float>(ir - 1), dem.ptr<float>(ir), dem.ptr<float>(ir + 1),
                       dem.ptr<float>(ir + 2)};
  const auto at = [&](int c) {
    double& v = column[c - c0];
    if (v == kUnset) {
      const bool hole = r[0][c] == kNoHeight || r[1][c] == kNoHeight || r[2][c] == kNoHeight ||
                        r[3][c] == kNoHeight;
      v = hole ? std::numeric_limits<double>::quiet_NaN()
               : CubicAt(r[0][c], r[1][c], r[2][c], r[3][c], fy);
    }
    return v;
  };
  for (int k = 0; k < count; ++k) {
    const double col = wgt.GroundToSample(xs[k], y).x;
    const int ic = std::abs(col) < 1e9 ? static_cast<int>(col) : -1;
    if (!(3 < ic && ic < W - 4) || ic - 1 < c0 || ic + 2 > c1) {
      oneByOne(k);
      continue;
    }
    const double a0 = at(ic - 1), a1 = at(ic), a2 = at(ic + 1), a3 = at(ic + 2);
    if (std::isnan(a0) || std::isnan(a1) || std::isnan(a2) || std::isnan(a3)) {
      oneByOne(k);
      continue;
    }
    out[k] = CubicAt(a0, a1, a2, a3, col - ic);
  }
}

double SampleDemHeight(const GeoTransform& wgt, const cv::Mat& dem, double x, double y) {
  const auto transform = DemGeoTransform::From(wgt);
  return transform ? SampleDemHeight(*transform, dem, x, y) : kNoHeightD;
}

double SampleDemHeight(const GeoTransform& wgt, const WarpProject& project, double x, double y) {
  return SampleDemHeight(wgt, project.demWindow, x, y);
}

}  // namespace ortavia
