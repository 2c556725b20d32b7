// The mosaic of a generated block with strong exposure differences: throughput of the assembly
// and the brightness steps across the seams, relative to the known ground.
//   bench_mosaic [--cols 4] [--rows 3] [--ortho 2000] [--spacing 1400] [--memory 512] [--keep DIR]
//                [--only K] [--compress C]  (K: run only the K-th configuration, from 0; C: the
//                mosaic's compression, NONE by default as in the runner)
// Each ortho shows the ground texture times its exposure (the second strip a third brighter,
// every image +-8 %) times a fall-off towards its corners (35 % darker there), plus noise. Prints
// for each configuration: seconds, megapixels per second, peak memory of the assembly, and the
// brightness step across the seams (median and 90th percentile) measured two ways: between the
// pixels right beside each Voronoi line, and between 9 x 9 means 64 pixels off it on either side;
// and the first measure between neighbours inside the cells, the floor that noise and texture set.
// BENCH_STAGES=1 prints the CPU time at each stage; BENCH_NO_STEPS=1 skips the measures (profiling).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gdal_priv.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "runner/heap_reuse.h"
#include "products/mosaic_writer.h"

namespace fs = std::filesystem;
using namespace ortavia;

namespace {

struct Block {
  int cols = 4, rows = 3, ortho = 2000, spacing = 1400, memory = 512;
  int width() const { return spacing * (cols - 1) + ortho; }
  int height() const { return spacing * (rows - 1) + ortho; }
};

double Ground(int x, int y) {
  // Fields, roads and roofs: smooth variation, sharp-edged patches and fine texture.
  const double smooth = 30.0 * std::sin(x * 0.004) * std::cos(y * 0.003);
  const bool patch = ((x / 97) * 7 + (y / 61) * 13) % 5 == 0;
  const unsigned h = static_cast<unsigned>(x) * 73856093u ^ static_cast<unsigned>(y) * 19349663u;
  const double fine = static_cast<double>(h % 1000) / 1000.0 * 12.0;
  return 90.0 + smooth + (patch ? 45.0 : 0.0) + fine;
}

double Exposure(int i, int j) {
  std::mt19937 rng(static_cast<unsigned>(17 + i * 31 + j * 7));
  std::uniform_real_distribution<double> u(0.92, 1.08);
  return u(rng) * (j == 1 ? 4.0 / 3.0 : 1.0);
}

void WriteOrtho(const std::string& path, const Block& b, int i, int j) {
  const int ox0 = i * b.spacing, oy0 = j * b.spacing, n = b.ortho;
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
  char** opts = nullptr;
  opts = CSLSetNameValue(opts, "TILED", "YES");
  opts = CSLSetNameValue(opts, "PHOTOMETRIC", "RGB");
  GDALDatasetUniquePtr ds(driver->Create(path.c_str(), n, n, 3, GDT_Byte, opts));
  CSLDestroy(opts);
  const double gt[6] = {ox0 - 0.5, 1.0, 0.0, -(oy0 - 0.5), 0.0, -1.0};
  ds->SetGeoTransform(const_cast<double*>(gt));
  const double e = Exposure(i, j);
  std::mt19937 rng(static_cast<unsigned>(i * 100 + j));
  std::normal_distribution<double> noise(0.0, 1.5);
  cv::Mat rows(64, n, CV_8UC3);
  for (int y0 = 0; y0 < n; y0 += 64) {
    const int h = std::min(64, n - y0);
    for (int r = 0; r < h; ++r)
      for (int c = 0; c < n; ++c) {
        const double dx = (c - n / 2.0) / (n / 2.0), dy = (y0 + r - n / 2.0) / (n / 2.0);
        const double fall = 1.0 - 0.35 * (dx * dx + dy * dy) / 2.0;
        const double g = Ground(ox0 + c, oy0 + y0 + r) * e * fall;
        for (int k = 0; k < 3; ++k)
          rows.at<cv::Vec3b>(r, c)[k] =
              cv::saturate_cast<uchar>(g * (0.9 + 0.1 * k) + noise(rng));
      }
    if (ds->RasterIO(GF_Write, 0, y0, n, h, rows.ptr(), n, h, GDT_Byte, 3, nullptr, 3, rows.step[0],
                     1, nullptr) != CE_None)
      return;
  }
  int levels[] = {2, 4, 8};
  ds->BuildOverviews("NEAREST", 3, levels, 0, nullptr, nullptr, nullptr);
}

// Voronoi cells of 40 pixels: each owned by the image whose centre is nearest.
cv::Mat Cells(const Block& b) {
  cv::Mat map((b.height() + 39) / 40, (b.width() + 39) / 40, CV_8UC3);
  for (int r = 0; r < map.rows; ++r)
    for (int c = 0; c < map.cols; ++c) {
      int best = 0;
      double bestD = 1e18;
      for (int j = 0; j < b.rows; ++j)
        for (int i = 0; i < b.cols; ++i) {
          const double dx = c * 40 + 20 - (i * b.spacing + b.ortho / 2.0);
          const double dy = r * 40 + 20 - (j * b.spacing + b.ortho / 2.0);
          if (dx * dx + dy * dy < bestD) bestD = dx * dx + dy * dy, best = j * b.cols + i;
        }
      map.at<cv::Vec3b>(r, c) = cv::Vec3b(best & 255, (best >> 8) & 255, 0);
    }
  return map;
}

long PeakKib() {
  std::ifstream s("/proc/self/status");
  std::string line;
  while (std::getline(s, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

double Percentile(std::vector<double> v, double q) {
  if (v.empty()) return 0.0;
  const size_t k = static_cast<size_t>(q * (v.size() - 1));
  std::nth_element(v.begin(), v.begin() + k, v.end());
  return v[k];
}

// Steps of mosaic / ground across the Voronoi lines, in percent: (near, far) medians and p90s.
std::vector<double> SeamSteps(const std::string& path, const Block& b, const cv::Mat& cells) {
  GDALDatasetUniquePtr ds(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
  const int w = b.width(), h = b.height();
  cv::Mat m(h, w, CV_8UC4);
  if (ds->RasterIO(GF_Read, 0, 0, w, h, m.ptr(), w, h, GDT_Byte, 4, nullptr, 4, m.step[0], 1, nullptr) != CE_None)
    return {};
  cv::Mat ratio(h, w, CV_32F);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const cv::Vec4b p = m.at<cv::Vec4b>(y, x);
      ratio.at<float>(y, x) =
          p[3] ? static_cast<float>((p[0] / 0.9 + p[1] / 1.0 + p[2] / 1.1) / 3.0 / Ground(x, y)) : 0.f;
    }
  cv::Mat mean;
  cv::blur(ratio, mean, cv::Size(9, 9));
  const auto owner = [&](int x, int y) { return cells.at<cv::Vec3b>(y / 40, x / 40); };
  std::vector<double> near, far, inside;
  const int d = 64;
  for (int y = d; y < h - d; ++y)
    for (int x = d; x < w - d; ++x) {
      for (const cv::Point s : {cv::Point(1, 0), cv::Point(0, 1)}) {
        if (owner(x, y) == owner(x + s.x, y + s.y)) {
          // The same measure between neighbours inside a cell: noise and texture alone.
          const float a = ratio.at<float>(y, x), c = ratio.at<float>(y + s.y, x + s.x);
          if ((x * 31 + y * 17) % 101 == 0 && a > 0 && c > 0)
            inside.push_back(200.0 * std::abs(a - c) / (a + c));
          continue;
        }
        const float a = ratio.at<float>(y, x), c = ratio.at<float>(y + s.y, x + s.x);
        if (a > 0 && c > 0) near.push_back(200.0 * std::abs(a - c) / (a + c));
        const float fa = mean.at<float>(y - s.y * d, x - s.x * d);
        const float fc = mean.at<float>(y + s.y * (d + 1), x + s.x * (d + 1));
        if (fa > 0 && fc > 0) far.push_back(200.0 * std::abs(fa - fc) / (fa + fc));
      }
    }
  return {Percentile(near, 0.5), Percentile(near, 0.9), Percentile(far, 0.5), Percentile(far, 0.9),
          Percentile(inside, 0.5)};
}

}  // namespace

int main(int argc, char** argv) {
  Block b;
  std::string keep, compress;
  int only = -1;
  for (int a = 1; a + 1 < argc; a += 2) {
    const std::string k = argv[a];
    const int v = std::atoi(argv[a + 1]);
    if (k == "--cols") b.cols = v;
    else if (k == "--rows") b.rows = v;
    else if (k == "--ortho") b.ortho = v;
    else if (k == "--spacing") b.spacing = v;
    else if (k == "--memory") b.memory = v;
    else if (k == "--keep") keep = argv[a + 1];
    else if (k == "--only") only = v;
    else if (k == "--compress") compress = argv[a + 1];
  }
  KeepFreedMemoryForReuse();
  GDALAllRegister();
  const fs::path dir = keep.empty() ? fs::temp_directory_path() / "ortavia-bench-mosaic" : fs::path(keep);
  fs::create_directories(dir);
  std::vector<MosaicVrtOrtho> orthos;
  for (int j = 0; j < b.rows; ++j)
    for (int i = 0; i < b.cols; ++i) {
      const std::string path = (dir / ("o" + std::to_string(j * b.cols + i) + ".tif")).string();
      if (!fs::exists(path)) WriteOrtho(path, b, i, j);
      orthos.push_back({j * b.cols + i, path});
    }
  const cv::Mat cells = Cells(b);
  const MosaicVrtGrid grid{0.0, 0.0, 1.0, 40.0, b.width(), b.height(), {}};
  struct Config {
    const char* name;
    MosaicOptions o;
  };
  MosaicOptions plain;
  plain.balance = MosaicBalance::None;
  plain.blend = MosaicBlend::None;
  plain.seamBandPx = 0;
  MosaicOptions gain = plain;
  gain.balance = MosaicBalance::Gain;
  MosaicOptions blocks = plain;
  blocks.balance = MosaicBalance::Blocks;
  MosaicOptions all;  // the defaults
  MosaicOptions multiband = all;
  multiband.blend = MosaicBlend::Multiband;
  std::vector<Config> configs = {{"voronoi only", plain}, {"gain", gain}, {"blocks", blocks},
                                 {"blocks+seams+feather (default)", all},
                                 {"blocks+seams+multiband", multiband}};
  for (Config& c : configs) {
    c.o.memoryMb = b.memory;
    c.o.compress = compress;
  }
  if (only >= 0 && only < static_cast<int>(configs.size())) configs = {configs[only]};
  std::printf("mosaic %d x %d (%.1f MP), %d orthos of %d px, memory setting %d MB\n", b.width(),
              b.height(), b.width() * 1e-6 * b.height(), b.cols * b.rows, b.ortho, b.memory);
  std::printf("| configuration | wall s | CPU s | MP per CPU s | peak MiB | step near med | p90 | step far med | p90 | near inside cells med | clipped %% |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|---|---|\n");
  for (const Config& c : configs) {
    const std::string out = (dir / "mosaic.tif").string();
    { std::ofstream("/proc/self/clear_refs") << "5"; }
    const auto t0 = std::chrono::steady_clock::now();
    const std::clock_t c0 = std::clock();
    RunContext ctx;
    if (std::getenv("BENCH_STAGES"))
      ctx.log = [&](const std::string& text) {
        std::fprintf(stderr, "  %.2f CPU s  %s\n", static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC,
                     text.c_str());
      };
    const MosaicWriteResult r = WriteMosaicTiff(out, cells, grid, orthos, c.o, ctx);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
    const long peak = PeakKib();
    if (!r.error.empty()) {
      std::fprintf(stderr, "%s: %s\n", c.name, r.error.c_str());
      return 1;
    }
    const std::vector<double> st =
        std::getenv("BENCH_NO_STEPS") ? std::vector<double>(5, 0.0) : SeamSteps(out, b, cells);
    if (st.size() < 5) {
      std::fprintf(stderr, "%s: the mosaic cannot be read back\n", c.name);
      return 1;
    }
    std::printf("| %s | %.2f | %.2f | %.1f | %ld | %.2f %% | %.2f %% | %.2f %% | %.2f %% | %.2f %% | %.4f |\n", c.name, s, cpu,
                b.width() * 1e-6 * b.height() / cpu, peak / 1024, st[0], st[1], st[2], st[3], st[4],
                100.0 * r.ClippedShare());
    std::fflush(stdout);
    if (ctx.log) ctx.log("done");
  }
  return 0;
}
