#pragma once
// Image footprints on the DEM: every oriented image's 12 border rays cast from its projection
// centre onto the smoothed terrain surface, drawn as a polygon on layer "Ortho". The same pass
// measures the DEM's height range (minHeight / maxHeight) used by the DEM painting.
//
// Conventions: image pixels are (column, row) with the centre of the top-left pixel at (0, 0), so
// an image of W x H pixels covers [-0.5, W - 0.5] x [-0.5, H - 0.5]. Ground coordinates follow the
// DEM's geotransform gt; a DEM or grid sample stands for the centre of its pixel.
#include <array>
#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include <opencv2/core/types.hpp>

#include "model/dem_geotransform.h"
#include "model/project.h"
#include "model/run_context.h"
#include "model/terrain_surface.h"

namespace ortavia {

inline constexpr std::size_t kMinTerrainSamples = 500000;
inline constexpr std::size_t kTerrainSamplesPerImage = 1000;
inline constexpr double kFootprintRayLength = 1000000.0;

// The reduced sample grid of the terrain. The budget N is the smaller of the DEM's pixel count P
// and 1000 per listed image, raised to 500000 and capped at P; r = N / P. The grid has
// round(r * W) x round(r * H) samples (the same factor on both axes, so about r^2 * P samples; at
// least one each way).
struct TerrainGrid {
  std::size_t budget = 0;  // N
  double ratio = 0.0;      // r
  int cols = 0, rows = 0;
  double scaleX = 0.0, scaleY = 0.0;  // grid samples per DEM pixel: cols / W and rows / H
};
TerrainGrid PlanTerrainGrid(int demWidth, int demHeight, std::size_t imageCount);

// Ground point of grid sample (col, row): the centre of that grid pixel,
// gt0 + (col + 0.5) * gt1 / scaleX + (row + 0.5) * gt2 / scaleY, and likewise for y.
cv::Point2d GridSampleGround(const DemGeoTransform& dem, const TerrainGrid& grid, int col, int row);

// The terrain points of the reduced grid: each valid sample at the ground point of its grid pixel's
// centre, holes left out. They come in ground order, rows from north to south and columns from
// west to east (along the grid's own axes when it is turned), whichever way the DEM's rows and
// columns run, so that a DEM and its flipped copy give the same surface.
struct TerrainSamples {
  bool read = false;  // false: no DEM, no usable geotransform, or a read failure
  TerrainGrid grid;
  std::vector<cv::Point3d> points;
  double minHeight = std::numeric_limits<double>::max();
  double maxHeight = std::numeric_limits<double>::lowest();
};
// Stop (ctx->abort) while the DEM is read leaves the samples unread.
TerrainSamples SampleTerrain(GDALDataset* dem, std::size_t imageCount, const RunContext* ctx = nullptr);

// The 12 border points of a W x H image, clockwise from the top-left outer corner, at thirds of
// each side (pixel convention above).
std::array<cv::Point2d, 12> FootprintBorderPoints(int width, int height);

struct FootprintResult {
  bool ran = false;              // false without a DEM
  std::size_t terrainPoints = 0;  // valid grid samples
  bool surfaceBuilt = false;
  int polygons = 0;              // images that got a polygon
  int withoutPolygon = 0;        // oriented images whose rays did not all hit the terrain
  std::vector<std::string> missed;  // their names, in list order
  bool stopped = false;          // Stop ended the pass: the project kept what it had before
};

inline constexpr const char* kFootprintsStoppedText =
    "Footprint computation stopped: the footprints drawn before are kept";

// The log lines for images whose footprint misses the terrain: one per image (at most
// kMissedNamesLogged, then a count of the rest) and the usual cause. None for an empty list.
inline constexpr std::size_t kMissedNamesLogged = 20;
inline constexpr const char* kMissedTerrainHint =
    "Angles left in degrees are the usual cause of footprints that miss the terrain: import the "
    "orientations again with the angle unit set to degrees";
std::vector<std::string> MissedFootprintLines(const std::vector<std::string>& missed);

// ComputeFootprints: erases every footprint polygon (and purges the drawing), then, with a DEM,
// samples it on the grid above, sets dem.minHeight / dem.maxHeight from the valid samples (the
// largest double and the lowest when there is none) and, with a passport and more than two
// points, builds the terrain surface and gives every image whose orientation has a projection
// centre a 12-vertex closed polygon on layer "Ortho" (filled when project.fillFootprints), stored
// in project.footprints. An image with a ray that misses the terrain gets no polygon; it is named
// in the result and logged (MissedFootprintLines). Progress:
// range 0..8 over the stages, then 0..images; pending messages are dispatched between them.
// Stop (ctx.abort) during the DEM read, the surface build or the rays ends the pass with the
// project as it was: the polygons, the height range and the kept surface are replaced only when
// the pass is complete. The window wraps the call in busy mode and regenerates / zooms the view
// afterwards.
// The surface is kept in project.terrain for the mosaic stage (TakeKeptTerrain).
FootprintResult ComputeFootprints(WarpProject& project, const RunContext& ctx);

// The surface options of a run: one thread when the run was given one (OpenCV's pool size).
TerrainSurfaceOptions RunSurfaceOptions();

// The kept surface when it was built from this DEM on a grid of this size (it then leaves the
// project); null otherwise.
std::shared_ptr<TerrainSurface> TakeKeptTerrain(WarpProject& project, const GDALDataset* dem,
                                                const TerrainGrid& grid);

}  // namespace ortavia
