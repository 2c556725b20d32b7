// Reading a DEM into a reduced height grid (the DEM picture, the terrain sample) and a display
// picture, from a tiled Float32 GeoTIFF made once in a temporary folder.
#include <benchmark/benchmark.h>
#include <gdal_priv.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "external/geo/gdal_extract_roi.h"

namespace {

constexpr int kSide = 6000;

std::filesystem::path MakeDem() {
  static const std::filesystem::path path = [] {
    GDALAllRegister();
    const auto p = std::filesystem::temp_directory_path() /
                   ("ortavia_bench_dem_" + std::to_string(::getpid()) + ".tif");
    const char* options[] = {"TILED=YES", nullptr};
    GDALDatasetUniquePtr ds(GetGDALDriverManager()->GetDriverByName("GTiff")->Create(
        p.string().c_str(), kSide, kSide, 1, GDT_Float32, const_cast<char**>(options)));
    std::vector<float> row(kSide);
    for (int r = 0; r < kSide; ++r) {
      for (int c = 0; c < kSide; ++c) row[c] = 100.0f + 10.0f * std::sin(c * 0.01f + r * 0.02f);
      if (ds->GetRasterBand(1)->RasterIO(GF_Write, 0, r, kSide, 1, row.data(), kSide, 1,
                                         GDT_Float32, 0, 0, nullptr) != CE_None)
        std::abort();
    }
    return p;
  }();
  return path;
}

void BM_ExtractRaw(benchmark::State& state) {
  GDALDatasetUniquePtr ds(GDALDataset::Open(MakeDem().string().c_str(), GDAL_OF_RASTER));
  const int side = static_cast<int>(state.range(0));
  cv::Mat grid(side, side, CV_32FC1);
  for (auto _ : state)
    benchmark::DoNotOptimize(geo::GDALExtractROI(ds.get(), grid, nullptr, geo::kExtractRaw, nullptr));
  state.SetItemsProcessed(state.iterations() * side * side);
}

void BM_ExtractDisplay(benchmark::State& state) {
  GDALDatasetUniquePtr ds(GDALDataset::Open(MakeDem().string().c_str(), GDAL_OF_RASTER));
  const int side = static_cast<int>(state.range(0));
  cv::Mat picture(side, side, CV_8UC3);
  for (auto _ : state)
    benchmark::DoNotOptimize(
        geo::GDALExtractROI(ds.get(), picture, nullptr, geo::kExtractDisplay, nullptr));
  state.SetItemsProcessed(state.iterations() * side * side);
}

BENCHMARK(BM_ExtractRaw)->Arg(707)->Arg(2048)->Arg(6000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExtractDisplay)->Arg(1024)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  std::filesystem::remove(MakeDem());
  return 0;
}
