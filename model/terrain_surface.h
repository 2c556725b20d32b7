#pragma once
// The terrain as a surface: the 2-D Delaunay triangulation of height samples (triangulated on x
// and y, z kept), smoothed by a Laplacian filter, with a first-hit segment query. Used by the
// footprints and by the mosaic stage.
//
// Coordinates are ground coordinates of the DEM: x east, y north, z height, in ground units.
#include <cstddef>
#include <memory>
#include <vector>

#include <opencv2/core/types.hpp>

#include "external/geo/voronoi.h"  // geo::GroundBounds

namespace ortavia {

struct RunContext;

struct TerrainSurfaceOptions {
  int smoothingIterations = 512;
  double relaxation = 0.01;
  // A boundary vertex where the boundary turns by more than this angle stays fixed; the others
  // only slide along the boundary, so the surface keeps its outline.
  double boundaryEdgeAngleDeg = 15.0;
  // How the smoothing is run; the result does not depend on either. threads 0: two on large
  // surfaces when the machine has them. chunkVertices: vertices smoothed together while in cache.
  int threads = 0;
  std::size_t chunkVertices = 16384;
};

class TerrainSurface {
 public:
  static constexpr int kSmoothingIterations = 512;
  static constexpr double kRelaxation = 0.01;
  static constexpr double kHitTolerance = 0.001;

  TerrainSurface();  // an empty surface: no triangle, every query misses
  ~TerrainSurface();
  TerrainSurface(TerrainSurface&&) noexcept;
  TerrainSurface& operator=(TerrainSurface&&) noexcept;
  TerrainSurface(const TerrainSurface&) = delete;
  TerrainSurface& operator=(const TerrainSurface&) = delete;

  // Triangulates the points and smooths the triangulation. Points that share x and y with an
  // earlier one are merged into it (the earlier height wins). Fewer than 3 points, or points all on
  // one line, give an empty surface. When ctx is given, pending messages are dispatched throughout:
  // between smoothing sweeps, and every 20 ms while the mesh and the search trees are built on a
  // thread of their own (with a pump in ctx; the same surface results); Stop (ctx->abort) ends the
  // build with an empty surface.
  static TerrainSurface Build(const std::vector<cv::Point3d>& points,
                              const TerrainSurfaceOptions& options = {},
                              const RunContext* ctx = nullptr);
  // Shorthand with the default relaxation and boundary rule.
  static TerrainSurface Build(const std::vector<cv::Point3d>& points, int smoothingIterations);

  bool Empty() const;
  std::size_t VertexCount() const;
  std::size_t TriangleCount() const;

  // The point of the surface nearest to p0 on the segment p0-p1; false when the segment does not
  // meet the surface. A hit up to `tolerance` (ground units) beyond either end of the segment still
  // counts, so a segment that ends on the surface hits it.
  bool FirstHit(const cv::Point3d& p0, const cv::Point3d& p1, double tolerance,
                cv::Point3d& hit) const;

  // Height of the surface above (x, y): the first hit of a vertical segment from above; false
  // outside the surface.
  bool HeightAt(double x, double y, double& z) const;

  // Extent of the smoothed surface (all zero when empty).
  geo::GroundBounds Bounds() const;

  // The smoothed vertices, in the order of the points they came from (merged points left out).
  std::vector<cv::Point3d> Vertices() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace ortavia
