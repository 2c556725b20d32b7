// How true the orthos of a sample block with box buildings are, judged by the scene itself (rays
// against the boxes), for a run with --occlusion against the same run without:
//   bench_hidden_check [--images N] [--size WxH] [--dem-size N] [--buildings N] [--seed S]
//                      PLAIN_DIR TRUE_DIR
// (the sample options those of `ortavia-batch sample`). For each image, over the ortho pixels the
// plain run painted (the ground in the image's frame): of the ground the scene hides from the
// image, the share painted (ghosts); of the ground it shows, the share left empty; of the painted
// pixels, the share whose colour is off the scene's by more than 60 in a band. With a mosaic
// (TRUE_DIR/mosaic.tif): the share of the ground some image sees that the mosaic leaves empty, and
// of its painted pixels the share off the scene's colour.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gdal_priv.h>
#include <opencv2/core.hpp>

#include "runner/sample_project.h"

namespace {
namespace fs = std::filesystem;
using ortavia::SampleScene;
using ortavia::SampleShot;

struct Raster {
  cv::Mat px;  // CV_8UC(n)
  int ox0 = 0, oy0 = 0, bands = 0;
  bool alpha = false;
};

bool Read(const fs::path& path, const double* vgt, double gsd, Raster* out) {
  GDALDatasetUniquePtr ds(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
  if (!ds) return false;
  const int n = ds->GetRasterCount();
  out->bands = n;
  out->alpha = ds->GetRasterBand(n)->GetColorInterpretation() == GCI_AlphaBand;
  out->px.create(ds->GetRasterYSize(), ds->GetRasterXSize(), CV_8UC(n));
  if (ds->RasterIO(GF_Read, 0, 0, out->px.cols, out->px.rows, out->px.ptr(), out->px.cols,
                   out->px.rows, GDT_Byte, n, nullptr, n, static_cast<GSpacing>(out->px.step[0]), 1,
                   nullptr) != CE_None)
    return false;
  double gt[6];
  if (ds->GetGeoTransform(gt) != CE_None) return false;
  out->ox0 = static_cast<int>(std::lround((gt[0] + gsd / 2 - vgt[0]) / gsd));
  out->oy0 = static_cast<int>(std::lround((vgt[3] - gt[3] + gsd / 2) / gsd));
  return true;
}

bool Painted(const Raster& r, const uchar* p) {
  if (r.alpha) return p[r.bands - 1] != 0;
  for (int b = 0; b < r.bands; ++b)
    if (p[b]) return true;
  return false;
}

bool Sees(const SampleScene& scene, const SampleShot& s, double x, double y) {
  const cv::Point3d p(x, y, scene.SurfaceHeight(x, y)), o(s.x, s.y, s.z);
  double t = 0.0;
  return !scene.Buildings().Hit(o, p - o, 1.0 - 1e-6, &t);
}

double Share(long long a, long long b) { return b > 0 ? 100.0 * a / b : 0.0; }

}  // namespace

int main(int argc, char** argv) {
  ortavia::SampleOptions o;
  std::vector<std::string> dirs;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool value = i + 1 < argc;
    if (a == "--images" && value) o.images = std::atoi(argv[++i]);
    else if (a == "--size" && value) std::sscanf(argv[++i], "%dx%d", &o.width, &o.height);
    else if (a == "--dem-size" && value) o.demSize = std::atoi(argv[++i]);
    else if (a == "--buildings" && value) o.buildings = std::atoi(argv[++i]);
    else if (a == "--seed" && value) o.seed = static_cast<unsigned>(std::atoi(argv[++i]));
    else dirs.push_back(a);
  }
  if (dirs.size() != 2) {
    std::fprintf(stderr, "usage: bench_hidden_check [sample options] PLAIN_DIR TRUE_DIR\n");
    return 2;
  }
  GDALAllRegister();
  const SampleScene scene(o);
  const fs::path plainDir = dirs[0], trueDir = dirs[1];
  GDALDatasetUniquePtr vds(GDALDataset::Open((trueDir / "voronoi.tif").c_str(), GDAL_OF_RASTER));
  double vgt[6];
  if (!vds || vds->GetGeoTransform(vgt) != CE_None) return 1;
  // The orthos' pixel size: their world files' first line. Mosaic pixel (x, y) stands for the ground
  // point (minX + x * gsd, maxY - y * gsd), the origin of voronoi.tif's geotransform.
  double gsd = 0.0;
  {
    FILE* f = std::fopen((trueDir / (scene.Shots().front().name + ".tfw")).c_str(), "r");
    if (!f || std::fscanf(f, "%lf", &gsd) != 1) return 1;
    std::fclose(f);
  }
  long long hidden = 0, ghosts = 0, seen = 0, empty = 0, painted = 0, off = 0;
  std::vector<std::pair<size_t, Raster>> plains;
  for (size_t k = 0; k < scene.Shots().size(); ++k) {
    const SampleShot& s = scene.Shots()[k];
    Raster p, t;
    if (!Read(plainDir / (s.name + ".tif"), vgt, gsd, &p) ||
        !Read(trueDir / (s.name + ".tif"), vgt, gsd, &t))
      continue;
    long long h = 0, g = 0, v = 0, e = 0, pt = 0, of = 0;
    for (int j = 0; j < p.px.rows; ++j)
      for (int i = 0; i < p.px.cols; ++i) {
        const uchar* a = p.px.ptr<uchar>(j) + p.bands * i;
        if (!Painted(p, a)) continue;
        const int ti = p.ox0 + i - t.ox0, tj = p.oy0 + j - t.oy0;
        const bool in = ti >= 0 && tj >= 0 && ti < t.px.cols && tj < t.px.rows;
        const uchar* b = in ? t.px.ptr<uchar>(tj) + t.bands * ti : nullptr;
        const bool shown = b && Painted(t, b);
        const double x = vgt[0] + (p.ox0 + i) * gsd, y = vgt[3] - (p.oy0 + j) * gsd;
        if (Sees(scene, s, x, y)) {
          ++v;
          e += !shown;
        } else {
          ++h;
          g += shown;
        }
        if (!shown) continue;
        ++pt;
        const cv::Point3d q(x, y, scene.SurfaceHeight(x, y));
        const cv::Vec4f c = scene.SurfaceColor(q);
        for (int k = 0; k < 3; ++k)
          if (std::abs(b[k] - c[k]) > 60) {
            ++of;
            break;
          }
      }
    std::printf("%s: hidden %lld, painted %.2f %%; seen %lld, empty %.2f %%; off colour %.2f %% of %lld\n",
                s.name.c_str(), h, Share(g, h), v, Share(e, v), Share(of, pt), pt);
    hidden += h, ghosts += g, seen += v, empty += e, painted += pt, off += of;
    plains.emplace_back(k, std::move(p));
  }
  std::printf("all: hidden ground painted %.2f %% (%lld of %lld); seen ground empty %.2f %% (%lld of "
              "%lld); painted off colour %.2f %% (%lld of %lld)\n",
              Share(ghosts, hidden), ghosts, hidden, Share(empty, seen), empty, seen,
              Share(off, painted), off, painted);
  Raster mosaic;
  if (!Read(trueDir / "mosaic.tif", vgt, gsd, &mosaic)) return 0;
  long long seenAny = 0, left = 0, shown = 0, offMosaic = 0;
  for (int y = 0; y < mosaic.px.rows; ++y)
    for (int x = 0; x < mosaic.px.cols; ++x) {
      const double gx = vgt[0] + x * gsd, gy = vgt[3] - y * gsd;
      bool any = false;
      for (const auto& [k, p] : plains) {
        if (any) break;
        const int i = x - p.ox0, j = y - p.oy0;
        if (i < 0 || j < 0 || i >= p.px.cols || j >= p.px.rows) continue;
        any = Painted(p, p.px.ptr<uchar>(j) + p.bands * i) && Sees(scene, scene.Shots()[k], gx, gy);
      }
      const uchar* m = mosaic.px.ptr<uchar>(y) + mosaic.bands * x;
      if (Painted(mosaic, m)) {
        ++shown;
        const cv::Vec4f c = scene.SurfaceColor({gx, gy, scene.SurfaceHeight(gx, gy)});
        for (int k = 0; k < 3; ++k)
          if (std::abs(m[k] - c[k]) > 60) {
            ++offMosaic;
            break;
          }
      }
      if (!any) continue;
      ++seenAny;
      left += !Painted(mosaic, m);
    }
  std::printf("mosaic: ground some image sees left empty %.2f %% (%lld of %lld); painted off "
              "colour %.2f %% (%lld of %lld)\n",
              Share(left, seenAny), left, seenAny, Share(offMosaic, shown), offMosaic, shown);
  return 0;
}
