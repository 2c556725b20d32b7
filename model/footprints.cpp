#include "model/footprints.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <opencv2/core/utility.hpp>

#include "model/dem.h"

namespace ortavia {
namespace {

constexpr int kStages = 8;

// The ground polygon of one image, or nothing when a border ray misses the terrain.
bool TraceFootprint(const geo::COrientation& o, const std::array<cv::Point2d, 12>& border,
                    const TerrainSurface& surface, std::vector<cv::Point2d>& polygon) {
  const cv::Point3d c(o.N.x(), o.N.y(), o.N.z());
  polygon.clear();
  for (const cv::Point2d& b : border) {
    const Wml::Vector3d d = o.PixToVec3d(b);
    const cv::Point3d e = c + kFootprintRayLength * cv::Point3d(d.x(), d.y(), d.z());
    cv::Point3d hit;
    if (!surface.FirstHit(c, e, TerrainSurface::kHitTolerance, hit)) return false;
    polygon.emplace_back(hit.x, hit.y);
  }
  return true;
}

}  // namespace

TerrainGrid PlanTerrainGrid(int demWidth, int demHeight, std::size_t imageCount) {
  TerrainGrid g;
  if (demWidth <= 0 || demHeight <= 0) return g;
  const std::size_t p = static_cast<std::size_t>(demWidth) * static_cast<std::size_t>(demHeight);
  const std::size_t perImages = imageCount > std::numeric_limits<std::size_t>::max() /
                                                 kTerrainSamplesPerImage
                                    ? std::numeric_limits<std::size_t>::max()
                                    : kTerrainSamplesPerImage * imageCount;
  std::size_t n = std::min(p, perImages);
  if (n <= kMinTerrainSamples) n = kMinTerrainSamples;
  if (n >= p) n = p;
  g.budget = n;
  g.ratio = static_cast<double>(n) / static_cast<double>(p);
  g.cols = std::max(1L, std::lround(g.ratio * demWidth));
  g.rows = std::max(1L, std::lround(g.ratio * demHeight));
  g.scaleX = static_cast<double>(g.cols) / demWidth;
  g.scaleY = static_cast<double>(g.rows) / demHeight;
  return g;
}

cv::Point2d GridSampleGround(const DemGeoTransform& dem, const TerrainGrid& grid, int col, int row) {
  return dem.Resampled(grid.scaleX, grid.scaleY).SampleToGround(col, row);
}

TerrainSamples SampleTerrain(GDALDataset* dem, std::size_t imageCount, const RunContext* ctx) {
  TerrainSamples s;
  const auto transform = DemGeoTransform::Of(dem);
  if (!transform) return s;
  s.grid = PlanTerrainGrid(dem->GetRasterXSize(), dem->GetRasterYSize(), imageCount);
  const cv::Mat heights = ReadDemHeights(dem, nullptr, cv::Size(s.grid.cols, s.grid.rows), ctx);
  if (heights.empty()) return s;
  s.read = true;
  const DemGeoTransform grid = transform->Resampled(s.grid.scaleX, s.grid.scaleY);
  const GeoTransform& gt = grid.Coefficients();
  // The triangulation of co-circular grid points depends on their order: keep it a ground order.
  const bool rowsRunNorth = gt[5] > 0.0, colsRunWest = gt[1] < 0.0;
  s.points.reserve(heights.total());
  for (int i = 0; i < heights.rows; ++i) {
    const int r = rowsRunNorth ? heights.rows - 1 - i : i;
    const float* row = heights.ptr<float>(r);
    for (int j = 0; j < heights.cols; ++j) {
      const int c = colsRunWest ? heights.cols - 1 - j : j;
      if (row[c] == kNoHeight) continue;
      const cv::Point2d g = grid.SampleToGround(c, r);
      s.points.emplace_back(g.x, g.y, row[c]);
      s.minHeight = std::min(s.minHeight, static_cast<double>(row[c]));
      s.maxHeight = std::max(s.maxHeight, static_cast<double>(row[c]));
    }
  }
  return s;
}

std::array<cv::Point2d, 12> FootprintBorderPoints(int width, int height) {
  // Outer border of the raster: pixel centres run 0..W-1, so its edges lie at -0.5 and W - 0.5.
  const double w = width, h = height, x0 = -0.5, y0 = -0.5;
  return {{{x0, y0}, {x0 + w / 3, y0}, {x0 + 2 * w / 3, y0}, {x0 + w, y0},
           {x0 + w, y0 + h / 3}, {x0 + w, y0 + 2 * h / 3}, {x0 + w, y0 + h},
           {x0 + 2 * w / 3, y0 + h}, {x0 + w / 3, y0 + h}, {x0, y0 + h},
           {x0, y0 + 2 * h / 3}, {x0, y0 + h / 3}}};
}

TerrainSurfaceOptions RunSurfaceOptions() {
  TerrainSurfaceOptions options;
  if (cv::getNumThreads() < 2) options.threads = 1;
  return options;
}

std::shared_ptr<TerrainSurface> TakeKeptTerrain(WarpProject& project, const GDALDataset* dem,
                                                const TerrainGrid& grid) {
  KeptTerrain kept = std::move(project.terrain);
  project.terrain = {};
  if (!kept.surface || kept.dem != dem || kept.cols != grid.cols || kept.rows != grid.rows)
    return nullptr;
  return kept.surface;
}

namespace {

void DropFootprints(WarpProject& project) {
  for (const auto& [name, handle] : project.footprints) project.cad.Erase(handle);
  project.footprints.clear();
  project.cad.Purge();
  project.terrain = {};
}

bool StopPressed(const RunContext& ctx) { return ctx.abort && ctx.abort->load(); }

}  // namespace

FootprintResult ComputeFootprints(WarpProject& project, const RunContext& ctx) {
  FootprintResult result;
  GDALDataset* dem = project.dem.dataset.get();
  if (!dem) {
    DropFootprints(project);
    return result;
  }
  result.ran = true;

  int stage = 0;
  ctx.SetRange(0, kStages);
  ctx.SetPos(0);
  const auto advance = [&] {
    ctx.SetPos(++stage);
    ctx.Pump();
  };
  // Stop leaves the footprints, the height range and the kept surface of the pass before.
  const auto stopped = [&] {
    result.stopped = true;
    ctx.SetPos(0);
    ctx.Log(kFootprintsStoppedText);
    return result;
  };

  advance();
  TerrainSamples samples = SampleTerrain(dem, project.images.size(), &ctx);
  if (StopPressed(ctx)) return stopped();
  advance();
  result.terrainPoints = samples.points.size();
  advance();
  const auto commitHeights = [&] {
    DropFootprints(project);
    project.dem.minHeight = samples.minHeight;
    project.dem.maxHeight = samples.maxHeight;
  };
  if (!project.passport || samples.points.size() <= 2) {
    commitHeights();
    ctx.SetPos(0);
    ctx.Pump();
    return result;
  }

  advance();
  advance();
  auto built = std::make_shared<TerrainSurface>(TerrainSurface::Build(samples.points, RunSurfaceOptions(), &ctx));
  if (StopPressed(ctx)) return stopped();
  const TerrainSurface& surface = *built;
  const TerrainGrid grid = samples.grid;
  samples.points = {};
  advance();
  advance();
  result.surfaceBuilt = !surface.Empty();

  const auto border = FootprintBorderPoints(project.passport->width, project.passport->height);
  ctx.SetRange(0, static_cast<int>(project.images.size()));
  std::vector<std::pair<std::string, std::vector<cv::Point2d>>> traced;
  std::vector<cv::Point2d> polygon;
  for (std::size_t i = 0; i < project.images.size(); ++i) {
    ctx.SetPos(static_cast<int>(i));
    if (ctx.AbortCheck()) return stopped();
    const std::string& name = project.images[i].name;
    const auto it = project.orientations.find(name);
    if (it == project.orientations.end() || !HasExteriorOrientation(it->second)) continue;
    if (!TraceFootprint(it->second, border, surface, polygon)) {
      ++result.withoutPolygon;
      result.missed.push_back(name);
      continue;
    }
    traced.emplace_back(name, polygon);
  }
  commitHeights();
  project.terrain = {built, dem, grid.cols, grid.rows};
  for (const auto& [name, points] : traced) {
    project.footprints[name] = project.cad.AddPolyline(kLayerOrtho, points, true, kAciByLayer,
                                                       project.fillFootprints);
    ++result.polygons;
  }
  for (const std::string& line : MissedFootprintLines(result.missed)) ctx.Log(line);
  ctx.SetPos(0);
  ctx.Pump();
  return result;
}

std::vector<std::string> MissedFootprintLines(const std::vector<std::string>& missed) {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < missed.size() && i < kMissedNamesLogged; ++i)
    lines.push_back("No footprint for " + missed[i] + ": its rays miss the terrain");
  if (missed.size() > kMissedNamesLogged)
    lines.push_back("No footprint for " + std::to_string(missed.size() - kMissedNamesLogged) +
                    " more images: their rays miss the terrain");
  if (!missed.empty()) lines.push_back(kMissedTerrainHint);
  return lines;
}

}  // namespace ortavia
