// Point-file import: splitting a file into the grid, and the import of every row into the
// orientations of as many images, as the file grows.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>
#include <unistd.h>

#include "extor/ext_or_import_model.h"

namespace {

namespace fs = std::filesystem;

// A point file of `lines` images, blank-separated, with a comment header.
fs::path MakePointFile(int lines) {
  const fs::path path = fs::temp_directory_path() /
                        ("ortavia-bench-" + std::to_string(getpid()) + "-" + std::to_string(lines) + ".txt");
  std::ofstream out(path, std::ios::binary);
  out << "# id x y z omega phi kappa\n";
  char line[160];
  for (int i = 0; i < lines; ++i) {
    std::snprintf(line, sizeof line, "IMG_%06d.tif 512345.123 4987654.321 1234.567 0.012345 -0.023456 1.570796\r\n", i);
    out << line;
  }
  return path;
}

void BM_LoadPointFile(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  const fs::path path = MakePointFile(lines);
  ortavia::extor::ExtOrImportModel model;
  model.SetComments("#%@+");
  model.SetSeparatorsText(", ;");
  model.SetFilePath(path.string());
  for (auto _ : state) benchmark::DoNotOptimize(model.Load());
  state.SetItemsProcessed(state.iterations() * lines);
  state.SetBytesProcessed(state.iterations() * static_cast<long>(fs::file_size(path)));
  fs::remove(path);
}

void BM_ImportAllRows(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  const fs::path path = MakePointFile(lines);
  ortavia::extor::ExtOrImportModel model;
  model.SetSeparatorsText(" ");
  model.SetFilePath(path.string());
  model.Load();
  std::map<std::string, geo::COrientation> orientations;
  char name[32];
  for (int i = 0; i < lines; ++i) {
    std::snprintf(name, sizeof name, "img_%06d", i);
    orientations.emplace(name, geo::COrientation(1.0));
  }
  std::vector<int> rows(model.Imported().size());
  std::iota(rows.begin(), rows.end(), 0);
  for (auto _ : state) benchmark::DoNotOptimize(model.Import(rows, orientations));
  state.SetItemsProcessed(state.iterations() * lines);
  fs::remove(path);
}

BENCHMARK(BM_LoadPointFile)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImportAllRows)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
BENCHMARK_MAIN();
