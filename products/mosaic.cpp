#include "products/mosaic.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>

#include <opencv2/imgproc.hpp>

#include "external/geo/pgon.h"
#include "external/geo/voronoi.h"
#include "external/tools/atomic_file.h"
#include "external/tools/storage_error.h"
#include "model/dem.h"
#include "model/dem_crs.h"
#include "model/footprints.h"
#include "model/terrain_surface.h"

namespace ortavia {
namespace {

namespace fs = std::filesystem;

constexpr double kMaxCoverageCells = 100000000.0;
constexpr double kRayLength = 1000000.0;

MosaicResult Fail(MosaicStatus status, std::string message) {
  MosaicResult r;
  r.status = status;
  r.message = std::move(message);
  return r;
}

MosaicResult WriteFailure(const std::string& file, const tools::StorageErrorWatch& storage) {
  return Fail(MosaicStatus::WriteFailed,
              tools::WithStorageCause(file + " cannot be written", storage.Error()));
}

const geo::COrientation* OrientationOf(const WarpProject& project, int row) {
  if (row < 0 || row >= static_cast<int>(project.images.size())) return nullptr;
  auto it = project.orientations.find(project.images[row].name);
  return it == project.orientations.end() ? nullptr : &it->second;
}

const geo::COrientation* CentredOrientation(const WarpProject& project, int row) {
  const geo::COrientation* o = OrientationOf(project, row);
  return o && HasExteriorOrientation(*o) ? o : nullptr;
}

std::string FixedSix(double v) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 6);
  return std::string(buf, res.ptr);
}

// Settings-file text of the bounds of one footprint, as the profile functions would write it.
bool WriteBoundsFile(const fs::path& path, double minX, double minY, double maxX, double maxY) {
  return tools::WriteFileAtomically(path, "[Bounds]\nMinX=" + FixedSix(minX) + "\nMinY=" +
                                              FixedSix(minY) + "\nMaxX=" + FixedSix(maxX) +
                                              "\nMaxY=" + FixedSix(maxY) + "\n");
}

bool WriteProductRaster(const fs::path& path, const cv::Mat& bgr, double minX, double maxY,
                        double cellSize, const std::string& crsWkt) {
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
  if (!driver) return false;
  GDALDatasetUniquePtr ds(
      driver->Create(path.string().c_str(), bgr.cols, bgr.rows, 3, GDT_Byte, nullptr));
  if (!ds) return false;
  for (int band = 1; band <= 3; ++band) {
    auto* data = const_cast<uchar*>(bgr.ptr()) + (3 - band);
    if (ds->GetRasterBand(band)->RasterIO(GF_Write, 0, 0, bgr.cols, bgr.rows, data, bgr.cols,
                                          bgr.rows, GDT_Byte, 3,
                                          static_cast<GSpacing>(bgr.step[0]), nullptr) != CE_None)
      return false;
  }
  double gt[6] = {minX, cellSize, 0.0, maxY, 0.0, -cellSize};
  ds->SetGeoTransform(gt);
  if (!SetDatasetCrs(*ds, crsWkt)) return false;
  CPLErrorReset();
  ds.reset();
  return CPLGetLastErrorType() != CE_Failure;
}

// Written under a temporary name and renamed when complete: a full disk or a stop leaves no
// half-written product under its final name.
bool WriteProductTiff(const fs::path& path, const cv::Mat& bgr, double minX, double maxY,
                      double cellSize, const std::string& crsWkt) {
  const fs::path part = path.string() + ".part";
  std::error_code ec;
  if (WriteProductRaster(part, bgr, minX, maxY, cellSize, crsWkt)) {
    fs::rename(part, path, ec);
    if (!ec) return true;
  }
  fs::remove(part, ec);
  return false;
}

struct Extent {
  double minX = DBL_MAX, minY = DBL_MAX, minZ = DBL_MAX;
  double maxX = -DBL_MAX, maxY = -DBL_MAX, maxZ = -DBL_MAX;
  bool Empty() const { return minX > maxX; }
  void Add(const cv::Point3d& p) {
    minX = std::min(minX, p.x);
    minY = std::min(minY, p.y);
    minZ = std::min(minZ, p.z);
    maxX = std::max(maxX, p.x);
    maxY = std::max(maxY, p.y);
    maxZ = std::max(maxZ, p.z);
  }
};

}  // namespace

int MosaicCellStart(int cell, double scale) {
  int p = static_cast<int>(std::ceil(cell * scale));
  while (p > 0 && std::floor((p - 1) / scale) >= cell) --p;
  while (std::floor(p / scale) < cell) ++p;
  return p;
}

cv::Vec3b RowColorCode(int row) {
  return {static_cast<uchar>(row & 255), static_cast<uchar>((row >> 8) & 255),
          static_cast<uchar>((row >> 16) & 255)};
}

int RowFromColorCode(const cv::Vec3b& code) { return code[0] + 256 * code[1] + 65536 * code[2]; }

double ComputeBaseLength(const WarpProject& project, const std::vector<int>& rows, double* spread) {
  std::vector<double> bases;
  const geo::COrientation* previous = nullptr;
  for (int r : rows) {
    const geo::COrientation* o = CentredOrientation(project, r);
    if (!o) continue;
    if (previous) bases.push_back(std::hypot(o->N.x() - previous->N.x(), o->N.y() - previous->N.y()));
    previous = o;
  }
  if (spread) *spread = 0.0;
  if (bases.empty()) return 0.0;
  double m = 0.0;
  for (double b : bases) m += b;
  m /= static_cast<double>(bases.size());
  double var = 0.0;
  for (double b : bases) var += (b - m) * (b - m);
  const double s = std::sqrt(var / static_cast<double>(bases.size()));
  if (spread) *spread = s;
  long long acc = 0;
  long long qualifying = 0;
  for (double b : bases) {
    if (std::abs(b - m) < s) {
      acc = static_cast<long long>(std::trunc(static_cast<double>(acc) + b));
      ++qualifying;
    }
  }
  return qualifying > 0 ? static_cast<double>(acc / qualifying) : m;
}

int SelectMosaicImages(const WarpProject& project, const std::vector<int>& rows,
                       std::vector<int>& selected, double radius) {
  const std::size_t n = rows.size();
  selected.assign(n, 0);
  std::vector<cv::Point2d> centres(n);
  for (std::size_t i = 0; i < n; ++i) {
    if (const geo::COrientation* o = CentredOrientation(project, rows[i])) {
      selected[i] = 1;
      centres[i] = {o->N.x(), o->N.y()};
    }
  }
  if (radius != 0.0) {
    // Each surviving image removes every other selected centre within the radius of its own.
    for (std::size_t i = 0; i < n; ++i) {
      if (!selected[i]) continue;
      for (std::size_t j = 0; j < n; ++j) {
        if (j == i || !selected[j]) continue;
        if (std::hypot(centres[j].x - centres[i].x, centres[j].y - centres[i].y) <= radius)
          selected[j] = 0;
      }
    }
  }
  return static_cast<int>(std::count(selected.begin(), selected.end(), 1));
}

cv::Size SurfaceSampleSize(int demWidth, int demHeight, int imageCount) {
  const TerrainGrid grid = PlanTerrainGrid(demWidth, demHeight, static_cast<std::size_t>(imageCount));
  return {grid.cols, grid.rows};
}

CoverageCells ComputeCoverageCells(double extentX, double extentY, double gsd) {
  CoverageCells c;
  c.mosaicScale = 40.0;
  c.cellSize = gsd * c.mosaicScale;
  c.nx = static_cast<int>(std::min(2e9, std::nearbyint(extentX / c.cellSize)));
  c.ny = static_cast<int>(std::min(2e9, std::nearbyint(extentY / c.cellSize)));
  const double cells = static_cast<double>(c.nx) * c.ny;
  if (cells > kMaxCoverageCells) {
    c.cellSize = c.cellSize / std::sqrt(kMaxCoverageCells / cells);
    c.mosaicScale = c.cellSize / gsd;
    c.nx = static_cast<int>(std::nearbyint(extentX / c.cellSize));
    c.ny = static_cast<int>(std::nearbyint(extentY / c.cellSize));
  }
  return c;
}

MosaicResult BuildMosaicOverviews(WarpProject& project, const std::vector<int>& rows, double gsd,
                                  const std::string& destinationFolder, const RunContext& ctx,
                                  const std::string& crsWkt) {
  if (!project.passport || rows.empty()) return Fail(MosaicStatus::NoImages, "no passport or no images");
  if (!(gsd > 0.0) || !std::isfinite(gsd))
    return Fail(MosaicStatus::BadGsd, "The GSD must be greater than 0");
  ctx.Log("start building overviews...");
  GDALDataset* dem = project.dem.dataset.get();
  if (!dem || dem->GetRasterCount() < 1) return Fail(MosaicStatus::NoDem, "no elevation model loaded");

  const double base = ComputeBaseLength(project, rows, nullptr);
  if (base == 0.0 && rows.size() >= 2)
    return Fail(MosaicStatus::ZeroBaseLength, "the projection centres give no base length");
  std::vector<int> selected;
  SelectMosaicImages(project, rows, selected, base * 0.5);

  // Terrain surface from a reduced grid of the DEM (the same grid as the footprints').
  if (!DemGeoTransform::Of(dem)) return Fail(MosaicStatus::NoDem, kInvalidDemText);
  // The footprint pass built the same surface when the grids agree: take it rather than build again.
  std::shared_ptr<TerrainSurface> kept = TakeKeptTerrain(
      project, dem, PlanTerrainGrid(dem->GetRasterXSize(), dem->GetRasterYSize(), rows.size()));
  if (!kept) {
    TerrainSamples samples = SampleTerrain(dem, rows.size());
    if (!samples.read) return Fail(MosaicStatus::NoSurface, "the elevation model cannot be read");
    kept = std::make_shared<TerrainSurface>(
        TerrainSurface::Build(samples.points, RunSurfaceOptions(), &ctx));
  }
  const TerrainSurface& surface = *kept;
  if (ctx.abort && ctx.abort->load()) return Fail(MosaicStatus::Aborted, "process aborted by user");
  if (surface.Empty()) return Fail(MosaicStatus::NoSurface, "the elevation model gives no terrain surface");

  // Seeds and the coverage grid.
  std::vector<cv::Point3d> seeds;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const geo::COrientation* o = CentredOrientation(project, rows[i]);
    if (selected[i] && o) seeds.emplace_back(o->N.x(), o->N.y(), static_cast<double>(rows[i]));
  }
  const geo::GroundBounds sb = surface.Bounds();
  const CoverageCells cells = ComputeCoverageCells(sb.maxX - sb.minX, sb.maxY - sb.minY, gsd);
  if (cells.nx < 1 || cells.ny < 1)
    return Fail(MosaicStatus::NoCoverage, "the terrain is smaller than one coverage cell");
  const double cellSize = cells.cellSize;
  project.mosaicScale = cells.mosaicScale;
  cv::Mat coverage(cells.ny, cells.nx, CV_8UC3, cv::Scalar::all(255));

  // Footprints into the coverage map, the coverage list and the bounds files.
  const fs::path folder(destinationFolder);
  // Every file below stops the stage at its first failed write, so the first reason is its own.
  const tools::StorageErrorWatch storage;
  std::string list;  // coverage.txt
  Extent mosaic;
  std::map<int, geo::CPgon> polygons;  // by list row, for the taking-part images
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const int k = rows[i];
    const geo::COrientation* o = CentredOrientation(project, k);
    if (!selected[i] || !o) continue;
    ctx.Pump();
    geo::CPgon polygon;
    Extent own;
    std::vector<cv::Point> vertices;
    const cv::Point3d centre(o->N.x(), o->N.y(), o->N.z());
    for (const cv::Point2d& p : FootprintBorderPoints(project.passport->width, project.passport->height)) {
      const Wml::Vector3d d = o->PixToVec3d(p) * kRayLength;
      cv::Point3d hit;
      if (!surface.FirstHit(centre, centre + cv::Point3d(d.x(), d.y(), d.z()),
                            TerrainSurface::kHitTolerance, hit))
        continue;
      const cv::Point v(static_cast<int>(std::trunc((hit.x - sb.minX) / cellSize)),
                        static_cast<int>(std::trunc((sb.maxY - hit.y) / cellSize)));
      vertices.push_back(v);
      polygon.Add(cv::Point2d(v.x, v.y));
      own.Add(hit);
      mosaic.Add(hit);
    }
    polygons[k] = polygon;
    const std::string& name = project.images[k].name;
    if (vertices.empty()) {
      ctx.Log(name + " image footprint does not reach the terrain");
      continue;
    }
    const cv::Vec3b code = RowColorCode(k);
    const std::vector<std::vector<cv::Point>> polys{vertices};
    cv::fillPoly(coverage, polys, cv::Scalar(code[0], code[1], code[2]), cv::LINE_8);
    char line[1200];
    std::snprintf(line, sizeof line, "%s %d %d %d\n", name.c_str(), code[2], code[1], code[0]);
    list += line;
    cv::polylines(coverage, polys, true, cv::Scalar(128, 128, 128), 5);
    if (!WriteBoundsFile(folder / (name + ".bounds"), own.minX, own.minY, own.maxX, own.maxY))
      return WriteFailure(name + ".bounds", storage);
  }
  if (!tools::WriteFileAtomically(folder / "coverage.txt", list))
    return WriteFailure("coverage.txt", storage);
  if (mosaic.Empty()) return Fail(MosaicStatus::NoCoverage, "no image footprint reaches the terrain");

  // Crop to the mosaic extent.
  const int x0 = static_cast<int>(std::nearbyint((mosaic.minX - sb.minX) / cellSize));
  const int y0 = static_cast<int>(std::nearbyint((sb.maxY - mosaic.maxY) / cellSize));
  const int cw = static_cast<int>(std::nearbyint((mosaic.maxX - mosaic.minX) / cellSize));
  const int ch = static_cast<int>(std::nearbyint((mosaic.maxY - mosaic.minY) / cellSize));
  if (cw < 1 || ch < 1)
    return Fail(MosaicStatus::NoCoverage, "the footprints cover less than one coverage cell");
  // Rounding can put the crop's last row or column just past the grid: it stays white.
  cv::Mat coverageCrop(ch, cw, CV_8UC3, cv::Scalar::all(255));
  const cv::Rect inside = cv::Rect(x0, y0, cw, ch) & cv::Rect(0, 0, coverage.cols, coverage.rows);
  if (!inside.empty())
    coverage(inside).copyTo(coverageCrop(inside - cv::Point(x0, y0)));
  coverage.release();

  // Voronoi cells, each clipped to its image's footprint.
  const geo::GroundBounds bounds{mosaic.minX, mosaic.maxX, mosaic.minY, mosaic.maxY, mosaic.minZ,
                                 mosaic.maxZ};
  cv::Mat voronoi = geo::BuildVoronoiMap(bounds, cellSize, seeds);
  if (voronoi.empty() || voronoi.type() != CV_8UC3 || voronoi.size() != coverageCrop.size())
    return Fail(MosaicStatus::NoCoverage, "the Voronoi map cannot be built");
  const int rowCount = static_cast<int>(rows.size());
  for (int j = 0; j < voronoi.rows; ++j) {
    auto* px3 = voronoi.ptr<cv::Vec3b>(j);
    for (int i = 0; i < voronoi.cols; ++i) {
      const int code = RowFromColorCode(px3[i]);
      if (code >= rowCount) continue;
      auto it = polygons.find(code);
      if (it == polygons.end()) continue;
      if (!it->second.PtInPolygon(x0 + i, y0 + j)) px3[i] = cv::Vec3b(255, 255, 255);
    }
  }

  // The mosaic grid every ortho aligns to.
  MosaicResult result;
  MosaicGrid& grid = result.grid;
  grid.cellSize = cellSize;
  grid.mosaicScale = project.mosaicScale;
  grid.mosaicWidth = static_cast<int>(std::nearbyint(voronoi.cols * project.mosaicScale));
  grid.mosaicHeight = static_cast<int>(std::nearbyint(voronoi.rows * project.mosaicScale));
  project.mosaicMinX = mosaic.minX;
  project.mosaicMaxX = mosaic.minX + grid.mosaicWidth * gsd;
  project.mosaicMinY = mosaic.maxY - grid.mosaicHeight * gsd;
  project.mosaicMaxY = mosaic.maxY;
  grid.mosaicMinX = project.mosaicMinX;
  grid.mosaicMaxX = project.mosaicMaxX;
  grid.mosaicMinY = project.mosaicMinY;
  grid.mosaicMaxY = project.mosaicMaxY;

  if (!WriteProductTiff(folder / "coverage.tif", coverageCrop, grid.mosaicMinX, grid.mosaicMaxY,
                        cellSize, crsWkt))
    return WriteFailure("coverage.tif", storage);
  if (!WriteProductTiff(folder / "voronoi.tif", voronoi, grid.mosaicMinX, grid.mosaicMaxY, cellSize,
                        crsWkt))
    return WriteFailure("voronoi.tif", storage);
  grid.voronoiMap = voronoi;
  ctx.Log("end building overviews...");
  result.status = MosaicStatus::Ok;
  return result;
}

}  // namespace ortavia
