// Bundle reading: a whole block of images, and the refusal of damaged files (a cut, a hostile
// length), as the number of records grows.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "extor/bundle_reader.h"
#include "extor/bundle_writer.h"

namespace {

const char* kPassport =
    "[BCC Camera Passport]\nModel = Bench\nSerialNumber = 1\nFocalLength = 100\nPixelSize = 0.006\n"
    "Width = 14000\nHeight = 10000\nPrincipalPointX = 6999.5\nPrincipalPointY = 4999.5\n";

std::vector<std::uint8_t> Block(int images) {
  ortavia::BundleContent c;
  c.passportText = kPassport;
  c.cameraName = "bench.bcc";
  char path[96];
  for (int i = 0; i < images; ++i) {
    std::snprintf(path, sizeof path, "C:\\Blocks\\Strip_%03d\\IMG_%06d.tif", i / 100, i);
    ortavia::BundleRecord r;
    r.path = path;
    r.hasOrientation = true;
    r.eo = {"", 512345.1 + i, 4987654.3, 1234.5, 0.01, -0.02, 1.57};
    c.records.push_back(r);
  }
  return ortavia::EncodeBundle206(c);
}

void BM_ReadBundle(benchmark::State& state) {
  const std::vector<std::uint8_t> bytes = Block(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(ortavia::ReadBundle(bytes));
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_ReadBundle)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

// The last byte missing: everything is read before the cut shows.
void BM_RefuseCutBundle(benchmark::State& state) {
  std::vector<std::uint8_t> bytes = Block(static_cast<int>(state.range(0)));
  bytes.pop_back();
  for (auto _ : state) benchmark::DoNotOptimize(ortavia::ReadBundle(bytes));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_RefuseCutBundle)->Arg(100000)->Unit(benchmark::kMillisecond);

// A first record claiming 2^63 path characters in front of 100,000 records.
void BM_RefuseHostileLength(benchmark::State& state) {
  std::vector<std::uint8_t> bytes = Block(static_cast<int>(state.range(0)));
  ortavia::BundleContent head;
  head.passportText = kPassport;
  head.cameraName = "bench.bcc";
  std::vector<std::uint8_t> hostile = ortavia::EncodeBundle206(head);
  hostile.resize(hostile.size() - 9);  // before the image count, trailer integer and text
  hostile.insert(hostile.end(), {1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0x80});
  hostile.insert(hostile.end(), bytes.begin(), bytes.end());
  for (auto _ : state) benchmark::DoNotOptimize(ortavia::ReadBundle(hostile));
}
BENCHMARK(BM_RefuseHostileLength)->Arg(100000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
