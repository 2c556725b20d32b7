// Lines of sight over a real surface model: every ground point of a 700 x 500 m grid at 0.5 m
// around each camera's nadir point, over the DEM window under it, tested one by one (Sees) and a
// row at a time (SeesEach, in the widest lanes the processor has, and in AVX2 lanes). Prints the
// time per line of each and fails when their answers differ anywhere.
//   bench_sight_lines DEM.tif ORIENTATIONS.txt   (lines "name X Y Z omega phi kappa")
#include <gdal_priv.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <opencv2/core.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "process/visibility.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Tally {
  double seconds = 0.0;
  long long lines = 0, hidden = 0;
};

}  // namespace

int main(int argc, char** argv) {
  using namespace ortavia;
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench_sight_lines DEM.tif ORIENTATIONS.txt\n");
    return 2;
  }
  GDALAllRegister();
  GDALDataset* dem = static_cast<GDALDataset*>(GDALOpen(argv[1], GA_ReadOnly));
  const auto transform = dem ? DemGeoTransform::Of(dem) : std::nullopt;
  if (!transform) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 1;
  }
  cv::Mat heights(dem->GetRasterYSize(), dem->GetRasterXSize(), CV_32F);
  if (dem->GetRasterBand(1)->RasterIO(GF_Read, 0, 0, heights.cols, heights.rows, heights.data,
                                      heights.cols, heights.rows, GDT_Float32, 0, 0) != CE_None)
    return 1;
  std::vector<cv::Point3d> centres;
  std::ifstream in(argv[2]);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string name;
    cv::Point3d c;
    if (fields >> name >> c.x >> c.y >> c.z) centres.push_back(c);
  }
  constexpr int kCols = 1400, kRows = 1000;
  constexpr double kStep = 0.5;
  Tally single, together, avx2;
  long long differ = 0;
  std::vector<double> xs(kCols), ys(kCols);
  std::vector<unsigned char> seen(kCols), seen2(kCols);
  for (const cv::Point3d& c : centres) {
    const cv::Point2d a = transform->GroundToSample(c.x - 360, c.y + 260);
    const cv::Point2d b = transform->GroundToSample(c.x + 360, c.y - 260);
    const cv::Rect window = cv::Rect(cv::Point(static_cast<int>(a.x), static_cast<int>(a.y)),
                                     cv::Point(static_cast<int>(b.x), static_cast<int>(b.y))) &
                            cv::Rect(0, 0, heights.cols, heights.rows);
    const cv::Mat part = heights(window).clone();
    SurfaceVisibility surface(part, transform->Window(window.x, window.y));
    surface.Aim(c);
    for (int r = 0; r < kRows; ++r) {
      for (int k = 0; k < kCols; ++k) xs[k] = c.x - 350 + k * kStep, ys[k] = c.y + 250 - r * kStep;
      auto t0 = Clock::now();
      surface.SeesEach(xs.data(), ys.data(), kCols, c, seen.data());
      auto t1 = Clock::now();
      surface.SeesEach(xs.data(), ys.data(), kCols, c, seen2.data(),
                       SurfaceVisibility::Lanes::Avx2);
      auto t2 = Clock::now();
      together.seconds += std::chrono::duration<double>(t1 - t0).count();
      avx2.seconds += std::chrono::duration<double>(t2 - t1).count();
      for (int k = 0; k < kCols; ++k) {
        const bool one = surface.Sees(xs[k], ys[k], c);
        differ += one != (seen[k] != 0) || one != (seen2[k] != 0);
        single.hidden += !one;
        together.hidden += !seen[k];
        avx2.hidden += !seen2[k];
      }
      single.seconds += std::chrono::duration<double>(Clock::now() - t2).count();
      single.lines += kCols, together.lines += kCols, avx2.lines += kCols;
    }
  }
  for (const auto& [what, t] : {std::pair{"one by one", single}, std::pair{"widest lanes", together},
                                std::pair{"AVX2 lanes", avx2}})
    std::printf("%-12s %lld lines, %lld hidden, %.1f ns per line\n", what, t.lines, t.hidden,
                t.seconds / t.lines * 1e9);
  if (differ) std::printf("answers differ for %lld points\n", differ);
  return differ ? 1 : 0;
}
