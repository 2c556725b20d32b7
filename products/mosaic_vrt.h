#pragma once
// "mosaic.vrt": one GDAL virtual raster over the orthos of a run, so that a GIS opens the whole
// block as one layer. Every ortho contributes its own Voronoi cell (with true orthos, also the
// pixels it shows for a neighbour that cannot see them): the cells an image owns
// are cut into rectangles (runs of cells along a row, merged down while they stay the same), and
// each rectangle is one source window of that image's ortho. The seamlines are those of the
// Voronoi map, and where an ortho was not written its cells stay empty.
//
// Mosaic pixel (i, j) is the ground point (mosaicMinX + i * gsd, mosaicMaxY - j * gsd), its
// centre; it lies in cell (floor(i / mosaicScale), floor(j / mosaicScale)) of the Voronoi map.
#include <string>
#include <vector>

#include <opencv2/core/mat.hpp>

#include "products/hidden_fill.h"

namespace ortavia {

struct MosaicVrtGrid {
  double mosaicMinX = 0.0, mosaicMaxY = 0.0;
  double gsd = 0.0;
  double mosaicScale = 40.0;  // output pixels per Voronoi cell
  int mosaicWidth = 0, mosaicHeight = 0;
  std::string crsWkt;  // empty: none
};

struct MosaicVrtOrtho {
  int row = -1;      // list row: the Voronoi code the ortho owns
  std::string path;  // the finished ortho; its world file places it
};

// One source window: ortho pixels (srcX, srcY) .. + (w, h) go to mosaic pixels (dstX, dstY).
struct VrtWindow {
  int ortho = 0;  // index into the orthos
  int srcX = 0, srcY = 0, dstX = 0, dstY = 0, w = 0, h = 0;
  bool operator==(const VrtWindow&) const = default;
};

// Placement of an ortho on the mosaic grid, in whole output pixels.
struct OrthoPlacement {
  int ox0 = 0, oy0 = 0, width = 0, height = 0;
};

// Where an ortho of `width` x `height` pixels with GDAL geotransform `gt` lies on the grid: empty
// text and `place` set, or why it does not lie on the grid.
std::string PlaceOnMosaicGrid(const double gt[6], int width, int height, const MosaicVrtGrid& grid,
                              OrthoPlacement* place);

// The windows that show each ortho's own cells, clipped to the ortho and the mosaic.
// voronoiMap: CV_8UC3 codes (b0 + 256 b1 + 65536 b2 = row; white = nobody).
std::vector<VrtWindow> MosaicVrtWindows(const cv::Mat& voronoiMap, double mosaicScale,
                                        int mosaicWidth, int mosaicHeight,
                                        const std::vector<int>& rows,
                                        const std::vector<OrthoPlacement>& placements);

// True orthos: the windows that show the pixels an owner cannot see from the image that shows them
// instead (runs of one mosaic row, grown down while the next row has the same run), clipped to that
// ortho. They follow the cells' windows, so that they are drawn over the owner's empty pixels.
std::vector<VrtWindow> HiddenFillWindows(const HiddenFill& fill, const std::vector<int>& rows,
                                         const std::vector<OrthoPlacement>& placements);

struct MosaicVrtResult {
  std::string error;               // empty when written (or nothing to write)
  std::vector<std::string> notes;  // orthos left out, each with its cause
  int orthos = 0;                  // orthos in the mosaic
};

// Writes "<folder>/mosaic.vrt" over the orthos that exist; nothing when none does. Orthos whose
// pixel size is not the grid's or whose offset is not whole pixels are left out with a note. With
// `fill` (true orthos), hidden pixels are shown from the image the plan names.
MosaicVrtResult WriteMosaicVrt(const std::string& folder, const cv::Mat& voronoiMap,
                               const MosaicVrtGrid& grid, const std::vector<MosaicVrtOrtho>& orthos,
                               const HiddenFill* fill = nullptr);

}  // namespace ortavia
