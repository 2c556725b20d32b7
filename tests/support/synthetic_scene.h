#pragma once
// A synthetic aerial scene for engine tests: an analytic terrain sampled into a DEM GeoTIFF, a
// camera passport, and images rendered by casting every pixel's ray onto the terrain through the
// camera model (x = column, y = row, centre of the top-left pixel at (0, 0)). The ground carries
// bright round marks on a regular grid over a dark background, so that where a mark lands in an
// ortho can be measured to a fraction of a pixel.
//
// Header-only: it needs the project types, which the support library does not link.
#include <array>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include <gdal_priv.h>

#include "external/geo/camera_passport.h"
#include "model/project.h"
#include "support/test_geotiff.h"
#include "support/test_passport.h"

namespace ortavia::test {

struct SceneCamera {
  std::string name;
  double x, y, z;             // projection centre
  double omega, phi, kappa;   // radians
};

struct SyntheticScene {
  // Ground: origin of the DEM (north-west corner) and its size.
  double x0 = 500000.0, y0 = 4000400.0;
  double posting = 5.0;
  int demCols = 80, demRows = 80;
  // Terrain: a tilted plane with a gentle wave. slopeX = 0.3 is a 30 % slope.
  double baseZ = 100.0, slopeX = 0.3, slopeY = 0.1, wave = 3.0;
  // Camera: f = 10 mm, 0.01 mm pixels.
  int width = 640, height = 480;
  double focal = 10.0, pixelSize = 0.01;
  // Marks: every `markSpacing` ground units, Gaussian of `markSigma`.
  double markSpacing = 4.0, markSigma = 0.35, background = 30.0, peak = 190.0;
  // A round no-data hole in the DEM (radius 0: none); the terrain itself goes on below it.
  double holeX = 0.0, holeY = 0.0, holeRadius = 0.0;
  bool InHole(double x, double y) const {
    return holeRadius > 0.0 && std::hypot(x - holeX, y - holeY) < holeRadius;
  }

  // Which way the DEM's rows and columns run over the same ground: north-up, rows running north,
  // columns running west, or the north-up grid turned by demTurnDeg (counter-clockwise) about the
  // scene's centre. Every layout samples the same terrain at its own sample centres.
  enum class DemLayout { NorthUp, SouthUp, WestRunning, Turned };
  DemLayout demLayout = DemLayout::NorthUp;
  double demTurnDeg = 20.0;
  // Added to every image sample (to reach past 2^31 in 32-bit images, or below 0).
  double imageOffset = 0.0;
  // Amplitude of a short relief (wavelength about 20 ground units, 4 postings) on the terrain.
  double rugged = 0.0;
  // Images whose samples tell where they are instead of showing the ground: band 1 holds
  // column + kCoordinateBase, band 2 row + kCoordinateBase, band 3 kCoordinateBase.
  bool coordinateImages = false;
  static constexpr double kCoordinateBase = 1000.0;

  std::array<double, 6> DemTransform() const {
    const double p = posting, w = demCols * p, h = demRows * p;
    switch (demLayout) {
      case DemLayout::SouthUp: return {x0, p, 0.0, y0 - h, 0.0, p};
      case DemLayout::WestRunning: return {x0 + w, -p, 0.0, y0, 0.0, -p};
      case DemLayout::Turned: {
        // Columns run along (cos a, sin a), rows along (sin a, -cos a).
        const double a = demTurnDeg * 3.14159265358979323846 / 180.0;
        const double g1 = p * std::cos(a), g4 = p * std::sin(a), g2 = p * std::sin(a),
                     g5 = -p * std::cos(a);
        const double hc = demCols / 2.0, hr = demRows / 2.0;
        return {CentreX() - hc * g1 - hr * g2, g1, g2, CentreY() - hc * g4 - hr * g5, g4, g5};
      }
      case DemLayout::NorthUp: break;
    }
    return {x0, p, 0.0, y0, 0.0, -p};
  }

  double CentreX() const { return x0 + demCols * posting / 2; }
  double CentreY() const { return y0 - demRows * posting / 2; }

  double Height(double x, double y) const {
    const double dx = x - CentreX(), dy = y - CentreY();
    return baseZ + slopeX * dx + slopeY * dy + wave * std::sin(dx / 40.0) * std::cos(dy / 50.0) +
           rugged * std::sin(dx / 3.2 + 0.7) * std::cos(dy / 2.9 - 0.4);
  }

  cv::Point2d NearestMark(double x, double y) const {
    const double ox = x0 + markSpacing / 2, oy = y0 - markSpacing / 2;
    return {ox + std::round((x - ox) / markSpacing) * markSpacing,
            oy + std::round((y - oy) / markSpacing) * markSpacing};
  }

  double Texture(double x, double y) const {
    const cv::Point2d m = NearestMark(x, y);
    const double d2 = (x - m.x) * (x - m.x) + (y - m.y) * (y - m.y);
    return background + peak * std::exp(-d2 / (2 * markSigma * markSigma));
  }

  std::unique_ptr<geo::CCameraPassport> Passport() const {
    return MakeTestPassport(width, height, focal, pixelSize, "Synthetic", "1");
  }

  geo::COrientation Orientation(const SceneCamera& c) const {
    geo::COrientation o(1.0);
    auto passport = Passport();
    o.BuildINTWithoutDistortion(passport.get(), 0.0);
    ExtOrientation eo{c.name, c.x, c.y, c.z, c.omega, c.phi, c.kappa};
    ApplyExtOrientation(eo, o);
    return o;
  }

  // Where the ray through image point (x, y) meets the terrain (fixed-point iteration on height).
  cv::Point3d CastRay(const geo::COrientation& o, cv::Point2d pixel) const {
    const Wml::Vector3d d = o.PixToVec3d(pixel);
    double z = baseZ;
    cv::Point3d p;
    for (int k = 0; k < 60; ++k) {
      const double s = (z - o.N.z()) / d.z();
      p = {o.N.x() + s * d.x(), o.N.y() + s * d.y(), z};
      z = Height(p.x, p.y);
    }
    p.z = z;
    return p;
  }

  // The DEM: sample (c, r) holds the terrain height at its pixel's centre.
  bool WriteDem(const std::filesystem::path& path, GDALDataType type = GDT_Float32) const {
    TestRaster r;
    r.width = demCols;
    r.height = demRows;
    r.type = type;
    const std::array<double, 6> gt = DemTransform();
    r.geoTransform = gt;
    r.noData = -9999.0;
    return WriteGeoTiff(path, r, [&](int, int c, int row) {
      const double x = gt[0] + (c + 0.5) * gt[1] + (row + 0.5) * gt[2];
      const double y = gt[3] + (c + 0.5) * gt[4] + (row + 0.5) * gt[5];
      return InHole(x, y) ? -9999.0 : Height(x, y);
    });
  }

  // An image of `bands` bands of `type` (band b holds the texture value + 10 * (b - 1)).
  bool WriteImage(const std::filesystem::path& path, const SceneCamera& c, int bands = 1,
                  GDALDataType type = GDT_Byte) const {
    if (coordinateImages) return WriteCoordinateImage(path, type);
    const geo::COrientation o = Orientation(c);
    std::vector<double> values(static_cast<std::size_t>(width) * height);
    for (int row = 0; row < height; ++row)
      for (int col = 0; col < width; ++col) {
        const cv::Point3d g = CastRay(o, {static_cast<double>(col), static_cast<double>(row)});
        values[static_cast<std::size_t>(row) * width + col] = Texture(g.x, g.y);
      }
    TestRaster r;
    r.width = width;
    r.height = height;
    r.bands = bands;
    r.type = type;
    return WriteGeoTiff(path, r, [&](int b, int col, int row) {
      return std::round(values[static_cast<std::size_t>(row) * width + col]) + 10.0 * (b - 1) +
             imageOffset;
    });
  }

  bool WriteCoordinateImage(const std::filesystem::path& path, GDALDataType type) const {
    TestRaster r;
    r.width = width;
    r.height = height;
    r.bands = 3;
    r.type = type;
    return WriteGeoTiff(path, r, [&](int b, int col, int row) {
      return kCoordinateBase + (b == 1 ? col : b == 2 ? row : 0);
    });
  }

  // Fills the project: DEM, passport, images and orientations, and a footprint polygon per image
  // (the four image corners cast onto the terrain) in the drawing.
  bool Fill(WarpProject& project, const std::filesystem::path& folder,
            const std::vector<SceneCamera>& cameras, int bands = 1,
            GDALDataType type = GDT_Byte) const {
    GDALAllRegister();
    const auto demPath = folder / "dem.tif";
    if (!WriteDem(demPath)) return false;
    project.dem.dataset.reset(
        GDALDataset::Open(demPath.string().c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    if (!project.dem.dataset) return false;
    project.passport = Passport();
    for (const SceneCamera& c : cameras) {
      const auto path = folder / (c.name + ".tif");
      if (!WriteImage(path, c, bands, type)) return false;
      project.images.push_back({c.name, path.string()});
      const geo::COrientation o = Orientation(c);
      project.orientations[c.name] = o;
      std::vector<cv::Point2d> corners;
      for (cv::Point2d p : {cv::Point2d(-0.5, -0.5), cv::Point2d(width - 0.5, -0.5),
                            cv::Point2d(width - 0.5, height - 0.5), cv::Point2d(-0.5, height - 0.5)}) {
        const cv::Point3d g = CastRay(o, p);
        corners.emplace_back(g.x, g.y);
      }
      project.footprints[c.name] = project.cad.AddPolyline(kLayerOrtho, corners, true);
    }
    return true;
  }

  // Three exposures along a strip, 30 ground units apart, 100 above the terrain, slightly tilted.
  std::vector<SceneCamera> Strip() const {
    const double cx = CentreX(), cy = CentreY();
    return {{"img_a", cx - 30, cy + 2, Height(cx - 30, cy + 2) + 100, 0.02, -0.01, 0.10},
            {"img_b", cx, cy - 1, Height(cx, cy - 1) + 100, -0.015, 0.02, 0.05},
            {"img_c", cx + 30, cy + 1, Height(cx + 30, cy + 1) + 100, 0.01, 0.015, -0.08}};
  }
};

}  // namespace ortavia::test
