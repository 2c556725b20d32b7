#pragma once
// The mosaic stage of a run: which images take part, the smoothed terrain surface, the coverage
// and Voronoi products, the per-image bounds files and the one mosaic grid all orthos align to.
//
// Ground coordinates are the DEM's (X east, Y north). The coverage and Voronoi grids are cell
// rasters: cell (i, j) covers the ground square whose top-left corner is
// (originX + i * cellSize, originY - j * cellSize). A DEM sample stands for the centre of its pixel.
#include <string>
#include <vector>

#include <opencv2/core/mat.hpp>

#include "model/project.h"
#include "model/run_context.h"

namespace ortavia {

// What the warp needs of the mosaic stage. The project also receives mosaicScale and the extent
// (mosaicMinX, mosaicMaxX, mosaicMinY, mosaicMaxY); they are copied here for convenience.
struct MosaicGrid {
  double cellSize = 0.0;  // ground size of one Voronoi cell = gsd * mosaicScale
  int mosaicWidth = 0;    // size of the whole mosaic in ortho pixels
  int mosaicHeight = 0;
  // CV_8UC3 on the cropped coverage grid (origin mosaicMinX, mosaicMaxY); a cell carries the list
  // row k of its owner as b0 = k & 255, b1 = (k >> 8) & 255, b2 = (k >> 16) & 255; white = nobody.
  cv::Mat voronoiMap;
  double mosaicScale = 40.0;
  double mosaicMinX = 0.0, mosaicMaxX = 0.0, mosaicMinY = 0.0, mosaicMaxY = 0.0;
};

enum class MosaicStatus {
  Ok,
  BadGsd,          // gsd <= 0 (or not a number): the coverage grid would be undefined
  NoImages,        // no passport, no rows, or rows empty
  NoDem,
  ZeroBaseLength,  // two or more images whose robust base length is 0
  NoSurface,       // the DEM gave no usable terrain points
  NoCoverage,      // no footprint reached the surface, or the cropped coverage could not be reloaded
  WriteFailed,     // a product file could not be created or written (driver missing included)
  Aborted,         // Stop was pressed during the stage
};

struct MosaicResult {
  MosaicStatus status = MosaicStatus::NoImages;
  std::string message;  // the cause, for the log; empty on success
  MosaicGrid grid;
  bool ok() const { return status == MosaicStatus::Ok; }
};

// Builds the mosaic products into destinationFolder: "coverage.tif", "coverage.txt",
// "voronoi.tif" and "<name>.bounds" for each taking-part image whose footprint reaches the terrain.
// rows are image-list rows in list order (a row equals its position). Logs
// "start building overviews..." and "end building overviews..." through ctx. On success the
// project's mosaicScale and mosaic extent are set; on failure files already written stay. Both
// GeoTIFFs carry the CRS of crsWkt (none when empty).
MosaicResult BuildMosaicOverviews(WarpProject& project, const std::vector<int>& rows, double gsd,
                                  const std::string& destinationFolder, const RunContext& ctx,
                                  const std::string& crsWkt = {});

// Robust mean planimetric distance between successive projection centres of the rows that have
// one (mean of the bases within one standard deviation, integer-accumulated as the products
// expect); 0 with fewer than two such images. spread (may be null) receives the deviation.
double ComputeBaseLength(const WarpProject& project, const std::vector<int>& rows, double* spread);

// selected[i] = 1 for each row with a projection centre, except those lying closer than radius
// (planimetrically) to an earlier still-selected one. Returns the number selected.
int SelectMosaicImages(const WarpProject& project, const std::vector<int>& rows,
                       std::vector<int>& selected, double radius);

// Side of the reduced DEM sample raster for the terrain surface: n = images * 1000 points, capped
// by the DEM size, at least 500000, capped again; the scale n / (W * H) applies per axis.
cv::Size SurfaceSampleSize(int demWidth, int demHeight, int imageCount);

// Cell size and mosaic scale after coarsening the coverage grid to at most 100000000 cells.
// extentX / extentY: the surface's ground extent.
struct CoverageCells {
  double cellSize = 0.0;
  double mosaicScale = 40.0;
  int nx = 0, ny = 0;
};
CoverageCells ComputeCoverageCells(double extentX, double extentY, double gsd);

// The 24-bit colour code of a list row, in OpenCV channel order (b0, b1, b2), and back.
cv::Vec3b RowColorCode(int row);
int RowFromColorCode(const cv::Vec3b& code);  // 16777215 for white (no image)

// Mosaic pixel p lies in Voronoi cell floor(p / scale) of its row or column; the first pixel of
// cell `cell` is the smallest p with floor(p / scale) >= cell.
int MosaicCellStart(int cell, double scale);

}  // namespace ortavia
