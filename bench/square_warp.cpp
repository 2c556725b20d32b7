// One 16 x 16 square of tile mode: its transform, OpenCV's warp of it, and the lean warp of the
// same bytes. The source patch is the corners' box, as in the warp; upsampled about 3 times.
#include <benchmark/benchmark.h>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include "process/square_warp.h"

namespace {

struct Square {
  cv::Mat image = cv::Mat(64, 64, CV_8UC3);
  cv::Mat patch, m;
  cv::Mat dst = cv::Mat(16, 16, CV_8UC3);
  const cv::Point2f from[4] = {{1.2f, 0.7f}, {5.3f, 0.9f}, {5.1f, 4.8f}, {0.9f, 4.6f}};
  const cv::Point2f to[4] = {{0, 0}, {16, 0}, {16, 16}, {0, 16}};
  Square() {
    cv::setNumThreads(1);
    cv::randu(image, 0, 256);
    patch = image(cv::Rect(20, 20, 7, 6));
    m = cv::getPerspectiveTransform(from, to);
  }
};

void BM_SquareTransform(benchmark::State& state) {
  Square s;
  for (auto _ : state) benchmark::DoNotOptimize(cv::getPerspectiveTransform(s.from, s.to));
}

void BM_SquareOpenCvWarp(benchmark::State& state) {
  Square s;
  for (auto _ : state)
    cv::warpPerspective(s.patch, s.dst, s.m, s.dst.size(),
                        cv::INTER_LINEAR | cv::WARP_FILL_OUTLIERS, cv::BORDER_CONSTANT,
                        cv::Scalar::all(0));
  state.SetItemsProcessed(state.iterations() * 256);
}

void BM_SquareLeanWarp(benchmark::State& state) {
  Square s;
  for (auto _ : state) benchmark::DoNotOptimize(ortavia::WarpSquareLinear8u(s.patch, s.dst, s.m));
  state.SetItemsProcessed(state.iterations() * 256);
}

BENCHMARK(BM_SquareTransform);
BENCHMARK(BM_SquareOpenCvWarp);
BENCHMARK(BM_SquareLeanWarp);

}  // namespace

BENCHMARK_MAIN();
