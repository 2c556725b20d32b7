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
// ties go to the first seed. Size: rounded extent / cellSize. White where there is no seed.
// Returns an 8-bit 3-channel image (empty for a non-positive cellSize or an empty extent).
cv::Mat BuildVoronoiMap(const GroundBounds& bounds, double cellSize,
                        const std::vector<cv::Point3d>& seeds);

}  // namespace geo
