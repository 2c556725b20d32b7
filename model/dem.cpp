#include "model/dem.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <limits>
#include <mutex>

#include <cpl_error.h>
#include <opencv2/imgcodecs.hpp>

#include "external/geo/gdal_extract_roi.h"
#include "external/tools/atomic_file.h"
#include "external/tools/folders.h"
#include "model/dem_crs.h"
#include "model/dem_geotransform.h"
#include "model/gdal_stop_check.h"
#include "model/height_ramp.h"

namespace ortavia {
namespace {

constexpr float kPictureFloor = -200.0f;  // heights below this are shown black in the picture

// Keeps GDAL's own messages off the console while a file is probed; failures are reported by us.
struct QuietGdal {
  QuietGdal() { CPLPushErrorHandler(CPLQuietErrorHandler); }
  ~QuietGdal() { CPLPopErrorHandler(); }
  QuietGdal(const QuietGdal&) = delete;
  QuietGdal& operator=(const QuietGdal&) = delete;
};

void RegisterGdalOnce() {
  static std::once_flag once;
  std::call_once(once, [] { GDALAllRegister(); });
}

bool IsNoHeight(float v) { return v == kNoHeight; }

std::string FixedText(double v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 6);
  return std::string(buf, r.ptr);
}

// The DEM pixel (one axis) seen by the centre of a screen pixel, kept within first..last.
int DemPixelAt(double screen, double origin, double unit, int first, int last) {
  const double p = std::floor((screen + 0.5 - origin) / unit);
  return static_cast<int>(std::clamp(p, static_cast<double>(first), static_cast<double>(last)));
}

}  // namespace

bool IsAcceptableDem(GDALDataset* dataset) {
  if (!dataset || dataset->GetRasterCount() != 1) return false;
  if (dataset->GetRasterXSize() <= 0 || dataset->GetRasterYSize() <= 0) return false;
  const GDALDataType type = dataset->GetRasterBand(1)->GetRasterDataType();
  if (type != GDT_UInt16 && type != GDT_Int16 && type != GDT_Float32) return false;
  // A transform that folds the DEM onto a line places it nowhere: no usable geotransform either.
  return DemGeoTransform::Of(dataset).has_value();
}

GDALDatasetUniquePtr OpenDem(const std::string& path) {
  RegisterGdalOnce();
  QuietGdal quiet;
  GDALDatasetUniquePtr ds(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
  if (!IsAcceptableDem(ds.get())) return nullptr;
  return ds;
}

cv::Mat ReadDemHeights(GDALDataset* dem, const cv::Rect* rect, cv::Size size, const RunContext* ctx,
                       int progressSteps) {
  if (!dem || dem->GetRasterCount() < 1 || size.width <= 0 || size.height <= 0) return {};
  GDALRasterBand* band = dem->GetRasterBand(1);
  // Without a no-data value GDAL reports 0, which would turn every sea-level sample into a hole.
  int hasNoData = 0;
  const double reported = band->GetNoDataValue(&hasNoData);
  const double noData = hasNoData ? reported : std::numeric_limits<double>::quiet_NaN();
  const GDALDataType type = band->GetRasterDataType();
  QuietGdal quiet;
  if (ctx && progressSteps > 0) ctx->SetRange(0, progressSteps);
  GdalStopCheck stop(ctx, progressSteps);
  cv::Mat heights(size, CV_32F);
  if (type == GDT_UInt16 || type == GDT_Int16) {
    cv::Mat raw(size, type == GDT_UInt16 ? CV_16U : CV_16S);
    if (!geo::GDALExtractROI(dem, raw, rect, geo::kExtractRaw, nullptr, &GdalStopCheck::Callback, &stop))
      return {};
    for (int r = 0; r < size.height; ++r) {
      float* out = heights.ptr<float>(r);
      for (int c = 0; c < size.width; ++c) {
        const int v = type == GDT_UInt16 ? raw.at<std::uint16_t>(r, c) : raw.at<std::int16_t>(r, c);
        out[c] = v == noData ? kNoHeight : static_cast<float>(v);
      }
    }
    return heights;
  }
  if (!geo::GDALExtractROI(dem, heights, rect, geo::kExtractRaw, nullptr, &GdalStopCheck::Callback, &stop))
    return {};
  const float noDataF = static_cast<float>(noData);
  for (int r = 0; r < size.height; ++r) {
    float* row = heights.ptr<float>(r);
    for (int c = 0; c < size.width; ++c)
      if (row[c] == noData || row[c] == noDataF || std::isnan(row[c])) row[c] = kNoHeight;
  }
  return heights;
}

void ResetProjectForNewDem(WarpProject& project) {
  if (project.dem.pictureEntity) project.cad.Erase(project.dem.pictureEntity);
  project.dem.pictureEntity = 0;
  for (const auto& [name, handle] : project.footprints) project.cad.Erase(handle);
  project.footprints.clear();
  project.cad.Purge();
  project.images.clear();
  project.passport.reset();
  project.orientations.clear();
  project.dem.dataset.reset();
  project.dem.path.clear();
  project.dem.stamp.reset();
  project.dem.geographicAdvice.clear();
  project.terrain = {};
  // The bundle's passport, images and orientations are gone: their lock goes with them.
  project.bundleLock = false;
}

namespace {
// Fine enough for a progress bar of any width.
constexpr int kDemReadProgressSteps = 1000;
}  // namespace

DemPicture MakeDemPicture(GDALDataset* dem, const RunContext* ctx) {
  DemPicture picture;
  if (!dem) return picture;
  const double w = dem->GetRasterXSize(), h = dem->GetRasterYSize();
  const double c = w * h <= kDemPictureMaxPixels ? 1.0 : std::sqrt(kDemPictureMaxPixels / (w * h));
  // A very elongated DEM still gets at least one picture pixel across.
  const cv::Size size(std::max(1, static_cast<int>(c * w)), std::max(1, static_cast<int>(c * h)));
  const cv::Mat heights = ReadDemHeights(dem, nullptr, size, ctx, kDemReadProgressSteps);
  if (ctx) ctx->SetPos(0);
  if (heights.empty()) return picture;

  float lo = std::numeric_limits<float>::max(), hi = std::numeric_limits<float>::lowest();
  for (int r = 0; r < heights.rows; ++r)
    for (const float v : cv::Mat_<float>(heights.row(r))) {
      if (IsNoHeight(v) || v < kPictureFloor) continue;
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
  picture.bgr.create(size, CV_8UC3);
  for (int r = 0; r < heights.rows; ++r) {
    const float* in = heights.ptr<float>(r);
    cv::Vec3b* out = picture.bgr.ptr<cv::Vec3b>(r);
    for (int col = 0; col < heights.cols; ++col)
      out[col] = IsNoHeight(in[col]) || in[col] < kPictureFloor ? cv::Vec3b(0, 0, 0)
                                                                : HeightRampBgr(in[col], lo, hi);
  }

  // The world file names the centre of the upper-left picture pixel; the picture pixel size is what
  // the picture really covers (its size is truncated to whole pixels).
  double gt[6];
  dem->GetGeoTransform(gt);
  const double sx = w / size.width, sy = h / size.height;
  picture.scale = c;
  picture.world[0] = gt[1] * sx;
  picture.world[1] = gt[4] * sx;
  picture.world[2] = gt[2] * sy;
  picture.world[3] = gt[5] * sy;
  picture.world[4] = gt[0] + 0.5 * gt[1] * sx + 0.5 * gt[2] * sy;
  picture.world[5] = gt[3] + 0.5 * gt[4] * sx + 0.5 * gt[5] * sy;
  return picture;
}

std::string WriteDemPicture(const DemPicture& picture, const std::string& folder) {
  if (picture.bgr.empty() || folder.empty()) return {};
  const std::filesystem::path dir(folder);
  std::vector<unsigned char> jpeg;
  try {
    if (!cv::imencode(".jpg", picture.bgr, jpeg)) return {};
  } catch (const cv::Exception&) {
    return {};
  }
  const std::filesystem::path file = dir / kDemPictureName;
  if (!tools::WriteFileAtomically(file, std::string_view(reinterpret_cast<const char*>(jpeg.data()),
                                                          jpeg.size())))
    return {};
  std::string world;
  for (double v : picture.world) world += FixedText(v) + "\n";
  tools::WriteFileAtomically(dir / kDemWorldFileName, world);  // the drawing works without it
  return file.string();
}

CadImageFrame DemPictureFrame(GDALDataset* dem) {
  const auto transform = DemGeoTransform::Of(dem);
  if (!transform) return {};
  const double w = dem->GetRasterXSize(), h = dem->GetRasterYSize();
  const cv::Point2d origin = transform->PixelToGround(0.0, 0.0);
  const cv::Point2d across = transform->PixelToGround(w, 0.0) - origin;
  const cv::Point2d down = transform->PixelToGround(0.0, h) - origin;
  return {origin, {across.x, across.y}, {down.x, down.y}};
}

LoadDemResult LoadDem(WarpProject& project, const std::string& path, const RunContext& ctx) {
  LoadDemResult result;
  // Stamped before reading, so that a change while the heights are read is noticed too.
  const auto stamp = tools::StampOf(path);
  GDALDatasetUniquePtr ds = OpenDem(path);
  // A DEM whose heights cannot be read (a truncated file) is as unusable as a wrong one.
  const DemPicture picture = ds ? MakeDemPicture(ds.get(), &ctx) : DemPicture{};
  // The heights are read before the old DEM goes: a stopped load leaves the project as it was.
  if (picture.bgr.empty() && ctx.abort && ctx.abort->load()) {
    result.status = LoadDemStatus::Stopped;
    result.message = kDemLoadStoppedText;
    ctx.Log(result.message);
    return result;
  }
  if (project.dem.dataset) ResetProjectForNewDem(project);
  if (picture.bgr.empty()) {
    result.status = LoadDemStatus::Invalid;
    result.message = kInvalidDemText;
    return result;
  }
  project.dem.dataset = std::move(ds);
  project.dem.path = path;
  project.dem.stamp = stamp;
  result.status = LoadDemStatus::Loaded;

  const std::string folder = GT_GetSpecialFolder(kCsidlLocalAppData);
  const std::string file = WriteDemPicture(picture, folder);
  if (!file.empty()) {
    project.dem.pictureEntity = project.cad.AddImage(
        kLayerDem, file, DemPictureFrame(project.dem.dataset.get()), kDemPictureCode);
    result.pictureShown = true;
  }
  const std::string line = "DTM added: " + std::filesystem::path(path).stem().string();
  result.log.push_back(line);
  ctx.Log(line);
  // Accepted, so that the operator sees the DEM; the run itself refuses it.
  const std::string advice =
      GeographicDemAdvice(project.dem.dataset.get(), DatasetCrsWkt(project.dem.dataset.get()), path);
  project.dem.geographicAdvice = advice;
  if (!advice.empty()) {
    result.log.push_back("Warning: " + advice);
    ctx.Log(result.log.back());
  }
  return result;
}

DemPaint PaintDem(const WarpProject& project, const cv::Rect2d& picture, const cv::Rect& redrawn) {
  GDALDataset* dem = project.dem.dataset.get();
  if (!dem || !project.dem.pictureEntity || !project.cad.Find(project.dem.pictureEntity)) return {};
  if (!(picture.width > 0.0) || !(picture.height > 0.0) || !std::isfinite(picture.x) ||
      !std::isfinite(picture.y) || !std::isfinite(picture.width) || !std::isfinite(picture.height))
    return {};
  const int w = dem->GetRasterXSize(), h = dem->GetRasterYSize();
  const double ux = picture.width / w, uy = picture.height / h;

  // The screen pixels to paint: the redrawn part of the picture.
  const cv::Rect2d visible = picture & cv::Rect2d(redrawn);
  if (visible.width <= 0.0 || visible.height <= 0.0) return {};
  const int x0 = std::max(redrawn.x, static_cast<int>(std::floor(visible.x)));
  const int y0 = std::max(redrawn.y, static_cast<int>(std::floor(visible.y)));
  const int x1 = std::min(redrawn.x + redrawn.width, static_cast<int>(std::ceil(visible.br().x)));
  const int y1 = std::min(redrawn.y + redrawn.height, static_cast<int>(std::ceil(visible.br().y)));
  if (x1 <= x0 || y1 <= y0) return {};

  // The DEM pixels they see, read at no more than the screen resolution.
  const int left = DemPixelAt(x0, picture.x, ux, 0, w - 1);
  const int right = DemPixelAt(x1 - 1, picture.x, ux, 0, w - 1);
  const int top = DemPixelAt(y0, picture.y, uy, 0, h - 1);
  const int bottom = DemPixelAt(y1 - 1, picture.y, uy, 0, h - 1);
  const cv::Rect source(left, top, right - left + 1, bottom - top + 1);
  const cv::Size readSize(std::min(source.width, x1 - x0), std::min(source.height, y1 - y0));
  const cv::Mat heights = ReadDemHeights(dem, &source, readSize);
  if (heights.empty()) return {};

  const double lo = project.dem.minHeight, hi = project.dem.maxHeight;
  cv::Mat colours(heights.size(), CV_8UC3);
  for (int r = 0; r < heights.rows; ++r)
    for (int c = 0; c < heights.cols; ++c) {
      const float v = heights.at<float>(r, c);
      colours.at<cv::Vec3b>(r, c) = IsNoHeight(v) ? cv::Vec3b(0, 0, 0) : HeightRampBgr(v, lo, hi);
    }

  // Nearest read sample of every screen column and row.
  auto indexTable = [](int from, int to, double origin, double unit, int first, int last,
                       int sourceLen, int readLen) {
    std::vector<int> table(to - from);
    for (int s = from; s < to; ++s) {
      const int p = DemPixelAt(s, origin, unit, first, last) - first;
      table[s - from] = std::min(readLen - 1, static_cast<int>((p + 0.5) * readLen / sourceLen));
    }
    return table;
  };
  const auto cols = indexTable(x0, x1, picture.x, ux, left, right, source.width, readSize.width);
  const auto rows = indexTable(y0, y1, picture.y, uy, top, bottom, source.height, readSize.height);
  DemPaint paint;
  paint.topLeft = {x0, y0};
  paint.bgr.create(y1 - y0, x1 - x0, CV_8UC3);
  for (int r = 0; r < paint.bgr.rows; ++r) {
    const cv::Vec3b* in = colours.ptr<cv::Vec3b>(rows[r]);
    cv::Vec3b* out = paint.bgr.ptr<cv::Vec3b>(r);
    for (int c = 0; c < paint.bgr.cols; ++c) out[c] = in[cols[c]];
  }
  return paint;
}

std::string DemFileChangedMessage(const DemRaster& dem) {
  if (!dem.dataset || !dem.stamp || tools::StampOf(dem.path) == dem.stamp) return {};
  return "The DEM file " + dem.path + " has changed since it was loaded: load it again";
}

}  // namespace ortavia
