// The footprint pass on a DEM of 500,000 samples with 50 oriented images: reading the sample grid,
// the Delaunay triangulation, 512 smoothing iterations, the intersection tree and 600 border rays.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gdal_priv.h>

#include "model/dem.h"
#include "model/footprints.h"
#include "model/terrain_surface.h"

namespace {

namespace fs = std::filesystem;
using namespace ortavia;

constexpr int kDemWidth = 1000, kDemHeight = 500;  // 500,000 samples: the grid is the whole DEM
constexpr double kPixel = 5.0, kX0 = 640000.0, kY0 = 5120000.0;

double Terrain(double x, double y) {
  return 400.0 + 60.0 * std::sin((x - kX0) / 700.0) * std::cos((y - kY0) / 900.0) +
         0.02 * (x - kX0);
}

fs::path WriteDem() {
  std::string templ = (fs::temp_directory_path() / "ortavia-bench-XXXXXX").string();
  if (!mkdtemp(templ.data())) std::abort();
  const fs::path file = fs::path(templ) / "dem.tif";
  GDALAllRegister();
  GDALDatasetUniquePtr ds(GetGDALDriverManager()->GetDriverByName("GTiff")->Create(
      file.c_str(), kDemWidth, kDemHeight, 1, GDT_Float32, nullptr));
  double gt[6] = {kX0, kPixel, 0, kY0, 0, -kPixel};
  ds->SetGeoTransform(gt);
  std::vector<float> heights(static_cast<std::size_t>(kDemWidth) * kDemHeight);
  for (int r = 0; r < kDemHeight; ++r)
    for (int c = 0; c < kDemWidth; ++c)
      heights[static_cast<std::size_t>(r) * kDemWidth + c] =
          static_cast<float>(Terrain(kX0 + (c + 0.5) * kPixel, kY0 - (r + 0.5) * kPixel));
  if (ds->GetRasterBand(1)->RasterIO(GF_Write, 0, 0, kDemWidth, kDemHeight, heights.data(),
                                     kDemWidth, kDemHeight, GDT_Float32, 0, 0, nullptr) != CE_None)
    std::abort();
  return file;
}

// 50 stations in a 10 x 5 block with 60 % overlap,, 1000 m above the terrain, slightly tilted.
void FillProject(WarpProject& project, const fs::path& dem) {
  project.dem.dataset = OpenDem(dem.string());
  if (!project.dem.dataset) std::abort();
  auto passport = std::make_unique<geo::CBCCCameraPassport>();
  passport->focalLength = 50.0;
  passport->pixelSize = 0.005;
  passport->width = 8000;
  passport->height = 6000;
  passport->principalPointX = 3999.5;
  passport->principalPointY = 2999.5;
  project.passport = std::move(passport);
  for (int i = 0; i < 50; ++i) {
    const std::string name = "img" + std::to_string(i);
    const double x = kX0 + 600.0 + (i % 10) * 420.0, y = kY0 - 600.0 - (i / 10) * 320.0;
    project.images.push_back({name, "/bench/" + name + ".tif"});
    geo::COrientation o(1.0);
    o.BuildINTWithoutDistortion(project.passport.get(), 0.0);
    ApplyExtOrientation({name, x, y, Terrain(x, y) + 1000.0, 0.01 * (i % 3), -0.01 * (i % 2),
                         0.02 * (i % 5)},
                        o);
    project.orientations[name] = o;
  }
}

void BM_FootprintPass(benchmark::State& state) {
  static const fs::path dem = WriteDem();
  WarpProject project;
  FillProject(project, dem);
  FootprintResult result;
  for (auto _ : state) {
    result = ComputeFootprints(project, {});
    benchmark::DoNotOptimize(result);
  }
  if (result.terrainPoints != 500000u || result.polygons != 50) state.SkipWithError("wrong pass");
  state.counters["samples"] = static_cast<double>(result.terrainPoints);
  state.counters["polygons"] = result.polygons;
}
BENCHMARK(BM_FootprintPass)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The terrain surface alone, without the smoothing, to show where the pass spends its time.
void BM_SurfaceStages(benchmark::State& state) {
  std::vector<cv::Point3d> pts;
  for (int r = 0; r < kDemHeight; ++r)
    for (int c = 0; c < kDemWidth; ++c) {
      const double x = kX0 + (c + 0.5) * kPixel, y = kY0 - (r + 0.5) * kPixel;
      pts.emplace_back(x, y, Terrain(x, y));
    }
  for (auto _ : state) {
    TerrainSurface s = TerrainSurface::Build(pts, static_cast<int>(state.range(0)));
    benchmark::DoNotOptimize(s);
  }
}
BENCHMARK(BM_SurfaceStages)->Arg(0)->Arg(512)->Unit(benchmark::kMillisecond)->Iterations(3)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
