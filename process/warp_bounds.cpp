#include "process/warp.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include <opencv2/imgproc.hpp>

#include "products/mosaic.h"

namespace ortavia {
namespace {

constexpr double kNoHeightD = -9999.0;

}  // namespace

int CompositionBands(const std::string& composition) {
  if (composition == "1") return 1;
  if (composition == "1234") return 4;
  if (composition == "123" || composition == "321" || composition == "412") return 3;
  return 0;
}

int WarpWorkingDepth(GDALDataType type) {
  switch (type) {
    case GDT_Byte: return CV_8U;
    case GDT_UInt16: return CV_16U;
    case GDT_Int16: return CV_16S;
    // Doubles hold every 32-bit integer, signed or not, and OpenCV's warps take them.
    case GDT_UInt32:
    case GDT_Int32: return CV_64F;
    case GDT_Float32: return CV_32F;
    case GDT_Float64: return CV_64F;
    default: return -1;
  }
}

std::optional<ProjectionBounds> ComputeProjectionBounds(const WarpProject& project, int row,
                                                        const geo::COrientation& orientation,
                                                        const cv::Mat& voronoiMap,
                                                        const DemWindow& demWindow,
                                                        double cellSize, cv::Mat& cellMask) {
  if (!HasExteriorOrientation(orientation) || voronoiMap.empty() || voronoiMap.type() != CV_8UC3 ||
      !project.passport || demWindow.heights.empty())
    return std::nullopt;
  if (cellMask.size() != voronoiMap.size() || cellMask.type() != CV_8UC1)
    cellMask.create(voronoiMap.size(), CV_8UC1);
  const cv::Vec3b code = RowColorCode(row);
  cv::inRange(voronoiMap, code, code, cellMask);
  cv::dilate(cellMask, cellMask, cv::Mat(), cv::Point(-1, -1), 16);

  const auto wgt = DemGeoTransform::From(demWindow.gt);
  if (!wgt) return std::nullopt;
  const cv::Mat& dem = demWindow.heights;
  int minCol = INT_MAX, minRow = INT_MAX, maxCol = -INT_MAX, maxRow = -INT_MAX;
  for (int k = 0; k < cellMask.rows; ++k) {
    uchar* m = cellMask.ptr<uchar>(k);
    const double y = project.mosaicMaxY - k * cellSize;
    for (int j = 0; j < cellMask.cols; ++j) {
      if (!m[j]) continue;
      const double x = project.mosaicMinX + j * cellSize;
      // The nearest DEM sample, by sample centre.
      const cv::Point2d s = wgt->GroundToSample(x, y);
      const double dc = std::nearbyint(s.x), dr = std::nearbyint(s.y);
      if (dc < 0 || dr < 0 || dc >= dem.cols || dr >= dem.rows) continue;
      if (dem.at<float>(static_cast<int>(dr), static_cast<int>(dc)) == kNoHeight) {
        m[j] = 0;
        continue;
      }
      minCol = std::min(minCol, j);
      maxCol = std::max(maxCol, j);
      minRow = std::min(minRow, k);
      maxRow = std::max(maxRow, k);
    }
  }
  if (minCol == INT_MAX) return std::nullopt;

  ProjectionBounds b;
  b.cellMinCol = minCol;
  b.cellMaxCol = maxCol;
  b.cellMinRow = minRow;
  b.cellMaxRow = maxRow;
  const auto ground = [&](int j, int k) {
    return cv::Point2d(project.mosaicMinX + j * cellSize, project.mosaicMaxY - k * cellSize);
  };
  const cv::Point cells[4] = {{minCol, minRow}, {maxCol, minRow}, {maxCol, maxRow}, {minCol, maxRow}};
  cv::Point3d corners[4];
  double fill = kNoHeightD;
  for (int c = 0; c < 4; ++c) {
    const cv::Point2d g = ground(cells[c].x, cells[c].y);
    corners[c] = {g.x, g.y, SampleDemHeight(*wgt, dem, g.x, g.y)};
    if (fill == kNoHeightD && corners[c].z != kNoHeightD) fill = corners[c].z;
  }
  if (fill == kNoHeightD) {
    const cv::Point2d g = ground((minCol + maxCol) / 2, (minRow + maxRow) / 2);
    fill = SampleDemHeight(*wgt, dem, g.x, g.y);
    if (fill == kNoHeightD) return std::nullopt;
  }
  const double Wp = project.passport->width, Hp = project.passport->height;
  double pminX = 1e6, pminY = 1e6, pmaxX = -1e6, pmaxY = -1e6;
  for (cv::Point3d& c : corners) {
    if (c.z == kNoHeightD) c.z = fill;
    const cv::Point2d p = orientation.Pt3dToPix(c);
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return std::nullopt;
    pminX = std::trunc(std::max(0.0, std::min(pminX, p.x)));
    pminY = std::trunc(std::max(0.0, std::min(pminY, p.y)));
    pmaxX = std::trunc(std::min(Wp - 1, std::max(pmaxX, p.x)));
    pmaxY = std::trunc(std::min(Hp - 1, std::max(pmaxY, p.y)));
  }
  b.pixMinX = static_cast<int>(pminX);
  b.pixMinY = static_cast<int>(pminY);
  b.pixMaxX = static_cast<int>(pmaxX);
  b.pixMaxY = static_cast<int>(pmaxY);
  return b;
}

OrthoGeometry ComputeOrthoGeometry(const ProjectionBounds& b, double mosaicScale) {
  OrthoGeometry g;
  const int w = static_cast<int>((b.cellMaxCol - b.cellMinCol + 1) * mosaicScale);
  const int h = static_cast<int>((b.cellMaxRow - b.cellMinRow + 1) * mosaicScale);
  g.outW = 4 * (w / 4) + 4;
  g.outH = 4 * (h / 4) + 4;
  g.ox0 = static_cast<int>(std::nearbyint(b.cellMinCol * mosaicScale));
  g.oy0 = static_cast<int>(std::nearbyint(b.cellMinRow * mosaicScale));
  g.bw = g.outW;
  g.bh = g.outH;
  if (static_cast<long long>(g.outW) * g.outH / 1048576 > 16) {
    g.bw = std::min(g.outW, 2048);
    g.bh = std::min(g.outH, 2048);
  }
  g.nBx = (g.outW + g.bw - 1) / g.bw;
  g.nBy = (g.outH + g.bh - 1) / g.bh;
  return g;
}

}  // namespace ortavia
