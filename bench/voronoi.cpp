// Voronoi map of image seeds on the coverage grid: cells x seeds as a mosaic block grows.
#include <benchmark/benchmark.h>

#include <random>

#include "external/geo/voronoi.h"

namespace {

void BM_BuildVoronoiMap(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  const int seedCount = static_cast<int>(state.range(1));
  const geo::GroundBounds bounds{0.0, 4.0 * side, 0.0, 4.0 * side, 0.0, 0.0};
  std::mt19937 rng(1);
  std::uniform_real_distribution<double> coord(0.0, 4.0 * side);
  std::vector<cv::Point3d> seeds;
  for (int k = 0; k < seedCount; ++k) seeds.emplace_back(coord(rng), coord(rng), k);
  for (auto _ : state) benchmark::DoNotOptimize(geo::BuildVoronoiMap(bounds, 4.0, seeds));
  state.SetItemsProcessed(state.iterations() * side * side);
}

BENCHMARK(BM_BuildVoronoiMap)
    ->Args({1000, 100})
    ->Args({2500, 500})
    ->Args({2500, 5000})
    ->Args({10000, 2000})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
