#pragma once
// The triangulation of height samples that form a complete grid, built directly: the same
// triangles as the 2-D Delaunay triangulation of the samples (triangulated on x and y), without
// its cost.
//
// Coordinates are ground coordinates: x east, y north, z height.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include <opencv2/core/types.hpp>

namespace ortavia {

// Neighbours of every vertex in compressed rows: vertex v's are adj[offsets[v] .. offsets[v+1]).
struct MeshAdjacency {
  std::vector<std::uint32_t> offsets;
  std::vector<std::uint32_t> adj;
};

struct GridMesh {
  std::vector<std::array<std::uint32_t, 3>> faces;  // counter-clockwise in x and y
  MeshAdjacency neighbours;                         // the smoothing's neighbours
  std::size_t rows = 0, cols = 0;
  // Index steps from an interior vertex to its six neighbours, in the order of `neighbours`.
  std::array<std::ptrdiff_t, 6> innerSteps{};
};

// True when a boundary vertex p between its boundary neighbours a and c turns by no more than the
// angle whose cosine is cosLimit: such a vertex slides along the outline while smoothing.
bool BoundaryRunsStraight(const cv::Point3d& a, const cv::Point3d& p, const cv::Point3d& c,
                          double cosLimit);

// When the points are a complete grid in row order (every row the same x values, one y per row,
// both strictly monotonic, at least 2 x 2, all finite) fills the mesh and returns true; otherwise
// returns false. Each cell is split along the diagonal the Delaunay triangulation takes on its four
// co-circular corners under symbolic perturbation (the diagonal that joins neither the
// lexicographically smallest nor the largest corner, x before y). Interior vertices neighbour
// their six mesh neighbours, in ascending index order; boundary vertices their two boundary
// neighbours, or none where the boundary turns more than boundaryEdgeAngleDeg.
bool MeshGrid(const std::vector<cv::Point3d>& points, double boundaryEdgeAngleDeg, GridMesh& mesh);

}  // namespace ortavia
