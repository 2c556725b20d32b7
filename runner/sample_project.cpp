#include "runner/sample_project.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include <gdal_priv.h>

#include "extor/bundle_writer.h"
#include "model/dem_crs.h"

namespace ortavia {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kFieldOfView = 1.25;  // focal length over image width: a normal-angle camera

// Fraction of a line of width w (metres) covering a point at distance d from its axis, with a
// one-pixel ramp so that thin lines render without stair steps.
double LineCover(double d, double w, double pixel) {
  return std::clamp((w / 2.0 - std::abs(d)) / pixel + 0.5, 0.0, 1.0);
}

double Fract(double v) { return v - std::floor(v); }

unsigned Hash(long long a, long long b) {
  unsigned long long h = static_cast<unsigned long long>(a) * 0x9E3779B97F4A7C15ull ^
                         (static_cast<unsigned long long>(b) + 0x632BE59BD9B4E019ull);
  h ^= h >> 31;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 29;
  return static_cast<unsigned>(h);
}

cv::Vec4f Mix(const cv::Vec4f& a, const cv::Vec4f& b, double t) {
  return a * static_cast<float>(1.0 - t) + b * static_cast<float>(t);
}

bool WriteText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  return static_cast<bool>(out);
}

}  // namespace

std::string ValidateSampleOptions(const SampleOptions& o) {
  if (o.images < 1 || o.images > 1000) return "the number of images must be 1 to 1000";
  if (o.width < 64 || o.height < 64 || o.width > 20000 || o.height > 20000)
    return "the image size must be 64 to 20000 pixels each way";
  if (o.bands != 1 && o.bands != 3 && o.bands != 4) return "the band count must be 1, 3 or 4";
  if (o.buildings < 0 || o.buildings > 100000) return "the number of buildings must be 0 to 100000";
  // Each image is rendered whole in memory; the block stays within what a demo needs.
  if (static_cast<double>(o.width) * o.height > 1e8) return "an image may have at most 100 megapixels";
  if (static_cast<double>(o.width) * o.height * o.images > 2e9)
    return "the images may have at most 2000 megapixels in all";
  if (o.demSize < 16 || o.demSize > 10000 || o.DemRows() < 16 || o.DemRows() > 10000)
    return "the DEM size must be 16 to 10000 samples each way";
  return {};
}

SampleScene::SampleScene(const SampleOptions& options) : options_(options) {
  pixelMm = focalMm / (kFieldOfView * options_.width);
  ppx = (options_.width - 1) / 2.0 + 0.7;
  ppy = (options_.height - 1) / 2.0 - 1.3;
  footprintW_ = options_.width * imageGsd;
  footprintH_ = options_.height * imageGsd;
  PlanFlight();
  if (options_.buildings > 0) {
    // Over the ground the images cover, the block's edges left free.
    double minX = 1e300, maxX = -1e300, minY = 1e300, maxY = -1e300;
    for (const SampleShot& s : shots_) {
      minX = std::min(minX, s.x);
      maxX = std::max(maxX, s.x);
      minY = std::min(minY, s.y);
      maxY = std::max(maxY, s.y);
    }
    const double mx = 0.3 * footprintW_, my = 0.3 * footprintH_;
    const cv::Rect2d area(minX - mx, minY - my, maxX - minX + 2 * mx, maxY - minY + 2 * my);
    buildings_ = SampleBuildings(options_.buildings, options_.seed, area,
                                 [this](double x, double y) { return Height(x, y); });
  }
}

double SampleScene::SurfaceHeight(double x, double y) const {
  const SampleBuilding* b = buildings_.At(x, y);
  return b ? b->roof : Height(x, y);
}

cv::Vec4f SampleScene::SurfaceColor(const cv::Point3d& p) const {
  const SampleBuilding* b = buildings_.At(p.x, p.y);
  if (!b || p.z < Height(p.x, p.y) + 0.01) return GroundColor(p.x, p.y);
  if (p.z > b->roof - 1e-6) {
    // Roof tiles in rows, brick red.
    const double rows = 0.85 + 0.15 * std::sin(2 * kPi * (p.x - b->x0) / 1.5);
    return cv::Vec4f(170, 70, 55, 80) * static_cast<float>(rows);
  }
  // Walls: pale grey with a dark band of windows on every floor.
  const double floor = Fract((b->roof - p.z) / 3.0);
  return floor > 0.35 && floor < 0.65 ? cv::Vec4f(60, 70, 90, 40) : cv::Vec4f(205, 200, 190, 90);
}

void SampleScene::PlanFlight() {
  std::mt19937 rng(options_.seed);
  std::uniform_real_distribution<double> jitter(-1.0, 1.0);
  const int n = options_.images;
  const int n1 = (n + 1) / 2, n2 = n / 2;
  const double base = 0.4 * footprintW_;   // 60 % forward overlap
  const double strips = 0.7 * footprintH_;  // 30 % side overlap
  const double flyingHeight = imageGsd * focalMm / pixelMm;
  double minX = 1e300, maxX = -1e300, minY = 1e300, maxY = -1e300;
  auto add = [&](int index, double x, double y, double kappa) {
    SampleShot s;
    char name[32];
    std::snprintf(name, sizeof name, "img_%03d", index + 1);
    s.name = name;
    s.x = x + jitter(rng) * 0.02 * base;
    s.y = y + jitter(rng) * 0.02 * base;
    s.z = baseHeight_ + flyingHeight * (1.0 + 0.01 * jitter(rng));
    s.omega = 0.02 * jitter(rng);
    s.phi = 0.02 * jitter(rng);
    s.kappa = kappa + 0.02 * jitter(rng);
    shots_.push_back(s);
    minX = std::min(minX, s.x);
    maxX = std::max(maxX, s.x);
    minY = std::min(minY, s.y);
    maxY = std::max(maxY, s.y);
  };
  const double northY = n2 > 0 ? centreY_ + strips / 2.0 : centreY_;
  for (int i = 0; i < n1; ++i) add(i, centreX_ + (i - (n1 - 1) / 2.0) * base, northY, 0.0);
  // The second strip is flown back westwards, so its images are turned half a turn.
  for (int i = 0; i < n2; ++i)
    add(n1 + i, centreX_ + ((n1 - 1) / 2.0 - i) * base, centreY_ - strips / 2.0, kPi);

  const double margin = 0.35 * std::max(footprintW_, footprintH_);
  const double halfW = footprintW_ / 2.0 + margin, halfH = footprintH_ / 2.0 + margin;
  // Square pixels, as large as needed for the DEM to cover the block both ways.
  const int cols = options_.demSize, rows = options_.DemRows();
  const double spanX = maxX - minX + 2 * halfW, spanY = maxY - minY + 2 * halfH;
  const double posting = std::max(spanX / cols, spanY / rows);
  // A square DEM is the square of the block's larger span, exactly.
  const double sideX = cols == rows ? std::max(spanX, spanY) : posting * cols;
  const double sideY = cols == rows ? sideX : posting * rows;
  const double cx = (minX + maxX) / 2.0, cy = (minY + maxY) / 2.0;
  demGt_ = {cx - sideX / 2.0, posting, 0.0, cy + sideY / 2.0, 0.0, -posting};

  // Holes: one between the strips inside the block, one at the edge of the first image, one in
  // the DEM's corner where no image looks.
  const double r = 0.05 * footprintW_;
  holes_.push_back({centreX_ + 0.25 * base, centreY_ + 0.1 * strips, r});
  holes_.push_back({shots_.front().x - 0.45 * footprintW_, shots_.front().y + 0.3 * footprintH_, r});
  holes_.push_back({demGt_[0] + 0.06 * sideX, demGt_[3] - 0.06 * sideY, 0.04 * std::min(sideX, sideY)});
}

double SampleScene::Height(double x, double y) const {
  const double u = (x - centreX_) / footprintW_, v = (y - centreY_) / footprintW_;
  const double a = footprintW_;
  return baseHeight_ + 0.05 * a * std::sin(2 * kPi * (0.45 * u + 0.1)) * std::cos(2 * kPi * 0.35 * v) +
         0.008 * a * std::sin(2 * kPi * (3.1 * u + 1.3 * v)) +
         0.004 * a * std::cos(2 * kPi * (-1.7 * u + 4.2 * v));
}

bool SampleScene::InHole(double x, double y) const {
  for (const auto& h : holes_)
    if (std::hypot(x - h[0], y - h[1]) < h[2]) return true;
  return false;
}

cv::Vec4f SampleScene::GroundColor(double x, double y) const {
  const double g = imageGsd;
  // Fields: parcels on a grid turned by 17 degrees, each with its crop and its row direction.
  const double ang = 17.0 * kPi / 180.0;
  const double a = (x - centreX_) * std::cos(ang) + (y - centreY_) * std::sin(ang);
  const double b = -(x - centreX_) * std::sin(ang) + (y - centreY_) * std::cos(ang);
  const double pa = 60.0 * g, pb = 36.0 * g;
  const long long ia = static_cast<long long>(std::floor(a / pa));
  const long long ib = static_cast<long long>(std::floor(b / pb));
  static const cv::Vec4f crops[] = {{70, 120, 50, 210},  {95, 140, 60, 220}, {140, 110, 70, 120},
                                    {190, 170, 90, 150}, {50, 90, 40, 200},  {160, 130, 80, 110}};
  const unsigned h = Hash(ia, ib);
  cv::Vec4f c = crops[h % 6];
  const double rows = (h & 64) ? a : b;
  c *= static_cast<float>(0.88 + 0.12 * std::sin(2 * kPi * rows / (8.0 * g)));
  // Hedges along the parcel borders.
  const double da = (Fract(a / pa) - 0.5) * pa, db = (Fract(b / pb) - 0.5) * pb;
  const double edge = std::max(LineCover(std::abs(da) - pa / 2, 3.0 * g, g),
                               LineCover(std::abs(db) - pb / 2, 3.0 * g, g));
  c = Mix(c, {35, 60, 30, 170}, edge);
  // A survey grid every 100 image pixels on round ground coordinates.
  const double s = 100.0 * g;
  const double gx = (Fract(x / s) - 0.5) * s, gy = (Fract(y / s) - 0.5) * s;
  const double grid = std::max(LineCover(std::abs(gx) - s / 2, 1.5 * g, g),
                               LineCover(std::abs(gy) - s / 2, 1.5 * g, g));
  c = Mix(c, {235, 235, 225, 140}, grid);
  // Roads: straight, asphalt, with a dashed centre line.
  struct Road {
    double px, py, angle;
  };
  const double fw = footprintW_;
  const Road roads[] = {{centreX_, centreY_ + 0.13 * fw, 0.0},
                        {centreX_ - 0.2 * fw, centreY_, 60.0 * kPi / 180.0},
                        {centreX_ + 0.3 * fw, centreY_ - 0.1 * fw, -25.0 * kPi / 180.0}};
  for (const Road& r : roads) {
    const double dx = x - r.px, dy = y - r.py;
    const double across = -dx * std::sin(r.angle) + dy * std::cos(r.angle);
    const double along = dx * std::cos(r.angle) + dy * std::sin(r.angle);
    const double cover = LineCover(across, 10.0 * g, g);
    if (cover <= 0.0) continue;
    cv::Vec4f road = {85, 85, 90, 60};
    const double dash = Fract(along / (16.0 * g)) < 0.5 ? 1.0 : 0.0;
    road = Mix(road, {240, 240, 240, 90}, dash * LineCover(across, 1.2 * g, g));
    c = Mix(c, road, cover);
  }
  return c;
}

float SampleScene::Grey(const cv::Vec4f& c) { return 0.299f * c[0] + 0.587f * c[1] + 0.114f * c[2]; }

std::array<double, 9> SampleScene::Rotation(double omega, double phi, double kappa) {
  const double co = std::cos(omega), so = std::sin(omega);
  const double cp = std::cos(phi), sp = std::sin(phi);
  const double ck = std::cos(kappa), sk = std::sin(kappa);
  // Rx * Ry * Rz written out.
  return {cp * ck,
          -cp * sk,
          sp,
          so * sp * ck + co * sk,
          -so * sp * sk + co * ck,
          -so * cp,
          -co * sp * ck + so * sk,
          co * sp * sk + so * ck,
          co * cp};
}

bool SampleScene::CastRay(const SampleShot& shot, double col, double row,
                          cv::Point3d* ground) const {
  const auto r = Rotation(shot.omega, shot.phi, shot.kappa);
  const double xm = (col - ppx) * pixelMm, ym = -(row - ppy) * pixelMm, zm = -focalMm;
  const double dx = r[0] * xm + r[1] * ym + r[2] * zm;
  const double dy = r[3] * xm + r[4] * ym + r[5] * zm;
  const double dz = r[6] * xm + r[7] * ym + r[8] * zm;
  if (dz >= 0.0) return false;
  // Fixed-point iteration on the height: converges since slope times the ray's tilt is well
  // below 1 on this terrain; bisection takes over if it ever does not.
  double z = baseHeight_;
  for (int i = 0; i < 60; ++i) {
    const double t = (z - shot.z) / dz;
    const double zNew = Height(shot.x + t * dx, shot.y + t * dy);
    if (std::abs(zNew - z) < 1e-7) {
      *ground = {shot.x + t * dx, shot.y + t * dy, zNew};
      OntoBuilding(shot, {dx, dy, dz}, t, ground);
      return true;
    }
    z = zNew;
  }
  const double span = 0.07 * footprintW_;
  double tHigh = (baseHeight_ + span - shot.z) / dz, tLow = (baseHeight_ - span - shot.z) / dz;
  for (int i = 0; i < 100; ++i) {
    const double t = (tHigh + tLow) / 2.0;
    const double above = shot.z + t * dz - Height(shot.x + t * dx, shot.y + t * dy);
    (above > 0 ? tHigh : tLow) = t;
  }
  const double t = (tHigh + tLow) / 2.0;
  *ground = {shot.x + t * dx, shot.y + t * dy, shot.z + t * dz};
  OntoBuilding(shot, {dx, dy, dz}, t, ground);
  return true;
}

void SampleScene::OntoBuilding(const SampleShot& shot, const cv::Point3d& d, double tGround,
                               cv::Point3d* hit) const {
  double t = 0.0;
  if (buildings_.Hit({shot.x, shot.y, shot.z}, d, tGround, &t))
    *hit = {shot.x + t * d.x, shot.y + t * d.y, shot.z + t * d.z};
}

namespace {

std::string WriteDem(const SampleScene& scene, const std::filesystem::path& path) {
  const int n = scene.Options().demSize, rows = scene.Options().DemRows();
  const auto& gt = scene.DemGeoTransform();
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
  if (!driver) return "the GTiff driver is missing";
  char** opts = nullptr;
  opts = CSLSetNameValue(opts, "TILED", "YES");
  GDALDatasetUniquePtr ds(driver->Create(path.c_str(), n, rows, 1, GDT_Float32, opts));
  CSLDestroy(opts);
  if (!ds) return "cannot create " + path.string();
  double gtCopy[6];
  std::copy(gt.begin(), gt.end(), gtCopy);
  ds->SetGeoTransform(gtCopy);
  // Metres around (500000, 4500000): the block lies in UTM zone 33N, so GIS software places it.
  std::string utm33n;
  if (ParseCrsDefinition("EPSG:32633", &utm33n).empty()) SetDatasetCrs(*ds, utm33n);
  GDALRasterBand* band = ds->GetRasterBand(1);
  band->SetNoDataValue(SampleScene::kDemNoData);
  std::vector<float> line(n);
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < n; ++c) {
      const double x = gt[0] + (c + 0.5) * gt[1], y = gt[3] + (r + 0.5) * gt[5];
      line[c] = scene.InHole(x, y) ? SampleScene::kDemNoData : static_cast<float>(scene.SurfaceHeight(x, y));
    }
    if (band->RasterIO(GF_Write, 0, r, n, 1, line.data(), n, 1, GDT_Float32, 0, 0) != CE_None)
      return "cannot write " + path.string();
  }
  return {};
}

void RenderRows(const SampleScene& scene, const SampleShot& shot, cv::Mat& image, int r0, int r1) {
  const int bands = image.channels();
  for (int r = r0; r < r1; ++r) {
    auto* row = image.ptr<unsigned char>(r);
    for (int c = 0; c < image.cols; ++c) {
      cv::Point3d p;
      cv::Vec4f color(0, 0, 0, 0);
      if (scene.CastRay(shot, c, r, &p)) color = scene.SurfaceColor(p);
      unsigned char* px = row + static_cast<size_t>(c) * bands;
      if (bands == 1) {
        px[0] = cv::saturate_cast<unsigned char>(SampleScene::Grey(color));
      } else {
        for (int b = 0; b < bands; ++b) px[b] = cv::saturate_cast<unsigned char>(color[b]);
      }
    }
  }
}

std::string WriteImage(const SampleScene& scene, const SampleShot& shot,
                       const std::filesystem::path& path) {
  const auto& o = scene.Options();
  cv::Mat image(o.height, o.width, CV_8UC(o.bands));
  // Rows are independent, so splitting them over threads gives the same picture.
  const int threads = std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 4);
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    const int r0 = o.height * t / threads, r1 = o.height * (t + 1) / threads;
    pool.emplace_back([&, r0, r1] { RenderRows(scene, shot, image, r0, r1); });
  }
  for (auto& t : pool) t.join();

  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
  char** opts = nullptr;
  if (o.bands > 1) {
    opts = CSLSetNameValue(opts, "PHOTOMETRIC", "RGB");
    opts = CSLSetNameValue(opts, "ALPHA", "NO");
  }
  GDALDatasetUniquePtr ds(driver->Create(path.c_str(), o.width, o.height, o.bands, GDT_Byte, opts));
  CSLDestroy(opts);
  if (!ds) return "cannot create " + path.string();
  const CPLErr err =
      ds->RasterIO(GF_Write, 0, 0, o.width, o.height, image.data, o.width, o.height, GDT_Byte,
                   o.bands, nullptr, o.bands, static_cast<GSpacing>(image.step), 1, nullptr);
  if (err != CE_None) return "cannot write " + path.string();
  ds.reset();
  return {};
}

}  // namespace

std::string WriteSampleProject(const std::string& folder, const SampleOptions& options,
                               const RunContext& context, SampleFiles* files) {
  if (std::string bad = ValidateSampleOptions(options); !bad.empty()) return bad;
  GDALAllRegister();
  namespace fs = std::filesystem;
  const fs::path root(folder), imageDir = root / "images";
  std::error_code ec;
  fs::create_directories(imageDir, ec);
  if (ec) return "cannot create " + imageDir.string() + ": " + ec.message();

  SampleScene scene(options);
  SampleFiles out;
  out.dem = (root / "dem.tif").string();
  out.passport = (root / "camera.bcc").string();
  out.orientations = (root / "orientations.txt").string();
  out.imageDir = imageDir.string();

  context.Log("writing " + out.dem);
  if (std::string err = WriteDem(scene, out.dem); !err.empty()) return err;

  char text[1024];
  std::snprintf(text, sizeof text,
                "[BCC Camera Passport]\nModel = Ortavia Sample Camera\nSerialNumber = S-0001\n"
                "FocalLength = %.17g\nPixelSize = %.17g\nWidth = %d\nHeight = %d\n"
                "PrincipalPointX = %.17g\nPrincipalPointY = %.17g\n",
                scene.focalMm, scene.pixelMm, options.width, options.height, scene.ppx, scene.ppy);
  if (!WriteText(out.passport, text)) return "cannot write " + out.passport;
  BundleContent bundle;
  bundle.title = "Ortavia sample project";
  bundle.passportText = text;
  bundle.cameraName = "camera.bcc";

  std::string eo;
  for (const SampleShot& s : scene.Shots()) {
    std::snprintf(text, sizeof text, "%s %.6f %.6f %.6f %.12f %.12f %.12f\n", s.name.c_str(), s.x,
                  s.y, s.z, s.omega, s.phi, s.kappa);
    eo += text;
    BundleRecord record;
    record.path = "images/" + s.name + ".tif";
    record.hasOrientation = true;
    record.eo = {s.name, s.x, s.y, s.z, s.omega, s.phi, s.kappa};
    bundle.records.push_back(std::move(record));
  }
  if (!WriteText(out.orientations, eo)) return "cannot write " + out.orientations;
  out.bundle = (root / "bundle.bun").string();
  const std::vector<std::uint8_t> bun = EncodeBundle206(bundle);
  if (!WriteText(out.bundle, std::string(bun.begin(), bun.end()))) return "cannot write " + out.bundle;

  const int count = static_cast<int>(scene.Shots().size());
  context.SetRange(0, count);
  for (int i = 0; i < count; ++i) {
    context.SetPos(i);
    if (context.AbortCheck()) return "aborted";
    const SampleShot& s = scene.Shots()[i];
    const std::string path = (imageDir / (s.name + ".tif")).string();
    context.Log("rendering " + path);
    if (std::string err = WriteImage(scene, s, path); !err.empty()) return err;
    out.images.push_back(path);
  }
  context.SetPos(count);
  if (files) *files = std::move(out);
  return {};
}

}  // namespace ortavia
