#pragma once
// The Voronoi map of image seeds on a ground grid.
#include <opencv2/core/mat.hpp>
#include <vector>

namespace geo {

struct GroundBounds {
  double minX, maxX, minY, maxY, minZ, maxZ;
};

// Cell (i, j) covers the ground square with top-left corner (minX + i * cellSize,
// maxY - j * cellSize) and takes the 24-bit code (z of the seed, as an int; channel 0 = k & 255,
// 1 = (k >> 8) & 255, 2 = (k >> 16) & 255) of the seed nearest in X, Y to the square's centre;
// ties go to the first seed. Distance as (cx - x)^2 + (cy - y)^2 with the cell centre
// cx = minX + (i + 0.5) * cellSize, cy = maxY - (j + 0.5) * cellSize. Size: the extent over
// cellSize rounded to nearest (ties to even). Seeds with a non-finite position or a z beyond the
// int range are skipped; white everywhere when no seed is left. Returns an 8-bit 3-channel image,
// empty for a non-positive cellSize, an extent under half a cell, or more than 4e8 cells.
cv::Mat BuildVoronoiMap(const GroundBounds& bounds, double cellSize,
                        const std::vector<cv::Point3d>& seeds);

}  // namespace geo
