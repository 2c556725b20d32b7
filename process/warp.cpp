#include "process/warp.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <new>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include "external/geo/gdal_extract_roi.h"
#include "external/tools/storage_error.h"
#include "model/dem.h"
#include "process/ortho_writer.h"
#include "process/pixel_sample.h"
#include "process/square_warp.h"
#include "products/mosaic.h"

namespace ortavia {
namespace {

namespace fs = std::filesystem;

constexpr double kNoHeightD = -9999.0;
constexpr std::uintmax_t kPresentOrthoBytes = 10000000;

template <class... Args>
std::string Format(const char* fmt, Args... args) {
  char buf[1024];
  std::snprintf(buf, sizeof buf, fmt, args...);
  return buf;
}

// Ground point of output pixel (gx, gy) of an ortho: the pixel's centre.
struct GroundGrid {
  double minX, maxY, gsd;
  int ox0, oy0;
  cv::Point2d At(int gx, int gy) const {
    return {minX + (ox0 + gx) * gsd, maxY - (oy0 + gy) * gsd};
  }
};

struct Footprint {
  CadHandle handle = 0;
  CadBox box{};
};

// Everything the fill of one ortho needs; the rasters are the source window of the image.
struct ImageWarp {
  const geo::COrientation* orientation = nullptr;
  const DemWindow* dem = nullptr;
  DemGeoTransform demTransform;  // of dem->gt
  GroundGrid grid{};
  OrthoGeometry geo{};
  cv::Mat src;    // W x H, 1 or 3 channels, working depth
  cv::Mat alpha;  // W x H, 1 channel ("1234" only)
  int x0 = 0, y0 = 0;
};

// Source-window position of an output pixel, or false where no height or no image reaches it.
bool ProjectOutputPixel(const ImageWarp& w, int gx, int gy, double& x, double& y) {
  const cv::Point2d g = w.grid.At(gx, gy);
  const double z = SampleDemHeight(w.demTransform, w.dem->heights, g.x, g.y);
  if (z == kNoHeightD) return false;
  const cv::Point2d p = w.orientation->Pt3dToPix(cv::Point3d(g.x, g.y, z));
  if (!std::isfinite(p.x) || !std::isfinite(p.y)) return false;
  x = p.x - w.x0;
  y = p.y - w.y0;
  return std::abs(x) < 1e9 && std::abs(y) < 1e9;
}

struct Corner {
  bool valid = false;
  float u = 0.f, v = 0.f;
};

// Projects the square corners of one row of squares: corner k stands at gx = bx*bw + k*s.
void ProjectCornerRow(const ImageWarp& w, int gx0, int gy, int s, int count,
                      std::vector<Corner>& out) {
  out.assign(count, Corner{});
  for (int k = 0; k < count; ++k) {
    double x, y;
    if (!ProjectOutputPixel(w, gx0 + k * s, gy, x, y)) continue;
    out[k] = {true, static_cast<float>(x), static_cast<float>(y)};
  }
}

// 8-bit squares take the lean warp of the same bytes; other depths OpenCV's.
void WarpPatch(const cv::Mat& patch, cv::Mat& dst, const cv::Mat& m) {
  if (WarpSquareLinear8u(patch, dst, m)) return;
  cv::warpPerspective(patch, dst, m, dst.size(), cv::INTER_LINEAR | cv::WARP_FILL_OUTLIERS,
                      cv::BORDER_CONSTANT, cv::Scalar::all(0));
}

// Warps one square from its four projected corners into the block at (sx, sy).
void WarpSquare(const ImageWarp& w, const Corner (&c)[4], int sx, int sy, int s, cv::Mat& block,
                cv::Mat& alphaBlock, cv::Mat& written) {
  int umin = INT_MAX, vmin = INT_MAX, umax = -INT_MAX, vmax = -INT_MAX;
  for (const Corner& k : c) {
    if (!k.valid) return;
    const int tu = static_cast<int>(k.u), tv = static_cast<int>(k.v);
    umin = std::min(umin, tu);
    vmin = std::min(vmin, tv);
    umax = std::max(umax, tu + 1);
    vmax = std::max(vmax, tv + 1);
  }
  if (umin < 0 || vmin < 0 || umax >= w.src.cols || vmax >= w.src.rows) return;
  const cv::Point2f from[4] = {{c[0].u - umin, c[0].v - vmin}, {c[1].u - umin, c[1].v - vmin},
                               {c[2].u - umin, c[2].v - vmin}, {c[3].u - umin, c[3].v - vmin}};
  const float fs = static_cast<float>(s);
  const cv::Point2f to[4] = {{0.f, 0.f}, {fs, 0.f}, {fs, fs}, {0.f, fs}};
  const cv::Mat m = cv::getPerspectiveTransform(from, to);
  // The patch is a view: with a constant border the warp reads nothing outside it.
  const cv::Rect srcRect(umin, vmin, umax - umin + 1, vmax - vmin + 1);
  const cv::Rect dstRect(sx, sy, s, s);
  cv::Mat dst = block(dstRect);
  WarpPatch(w.src(srcRect), dst, m);
  if (!written.empty()) written(dstRect).setTo(255);
  if (!w.alpha.empty()) {
    cv::Mat adst = alphaBlock(dstRect);
    WarpPatch(w.alpha(srcRect), adst, m);
  }
}

// Strips [first, last) of a block. Neighbouring strips share their corner row, so each corner is
// projected once per run of strips.
void FillStrips(const ImageWarp& w, int bx, int by, int s, int first, int last, cv::Mat& block,
                cv::Mat& alphaBlock, cv::Mat& written) {
  const OrthoGeometry& g = w.geo;
  const int gx0 = bx * g.bw;
  // A square is warped only while its far edge stays strictly inside the ortho.
  int squares = 0;
  while (squares < g.bw / s && gx0 + squares * s + s < g.outW) ++squares;
  std::vector<Corner> top, bottom;
  ProjectCornerRow(w, gx0, by * g.bh + first * s, s, squares + 1, top);
  for (int n = first; n < last; ++n) {
    const int sy = n * s;
    ProjectCornerRow(w, gx0, by * g.bh + sy + s, s, squares + 1, bottom);
    for (int q = 0; q < squares; ++q) {
      const Corner c[4] = {top[q], top[q + 1], bottom[q + 1], bottom[q]};
      WarpSquare(w, c, q * s, sy, s, block, alphaBlock, written);
    }
    std::swap(top, bottom);
  }
}

// Tile mode: one perspective transform per s x s square, from its four projected corners.
// Squares are independent, so the 100 strips between two abort checks are shared among threads
// in runs of neighbouring strips; the bytes do not depend on their number. Returns false when
// Stop was pressed.
bool FillBlockTiles(const ImageWarp& w, int bx, int by, int s, cv::Mat& block, cv::Mat& alphaBlock,
                    cv::Mat& written, const RunContext& ctx) {
  const OrthoGeometry& g = w.geo;
  const int gy0 = by * g.bh;
  // A strip is warped only while its far edge stays strictly inside the ortho.
  int strips = 0;
  while ((strips + 1) * s <= g.bh && gy0 + strips * s + s < g.outH) ++strips;
  for (int n0 = 0; n0 == 0 || n0 < strips; n0 += 100) {
    if (ctx.AbortCheck()) return false;
    const int n1 = std::min(strips, n0 + 100);
    if (n1 <= n0) break;
    cv::parallel_for_(
        cv::Range(n0, n1),
        [&](const cv::Range& range) {
          FillStrips(w, bx, by, s, range.start, range.end, block, alphaBlock, written);
        },
        std::min(n1 - n0, 4 * cv::getNumThreads()));
  }
  return true;
}

template <class T>
T SaturateRound(double v) {
  return cv::saturate_cast<T>(v);
}

// Bilinear value at (u, v), the centre of the 3 x 3 neighbourhood getRectSubPix would take;
// used for the depths getRectSubPix does not take (16-bit, and 64-bit float, which also carries
// 32-bit integer images). A
// distance-weighted mean of the 3 x 3 pixels around trunc(u), trunc(v) would pull the sample up
// to 0.7 pixel toward that pixel, so 16-bit unsigned images are interpolated like the others.
template <class T>
void SampleBilinear(const cv::Mat& src, float u, float v, double* out) {
  const int iu = static_cast<int>(std::floor(u)), iv = static_cast<int>(std::floor(v));
  const double fx = u - iu, fy = v - iv;
  const int ch = src.channels();
  const T* r0 = src.ptr<T>(iv);
  const T* r1 = src.ptr<T>(iv + 1);
  for (int k = 0; k < ch; ++k) {
    const double a = r0[iu * ch + k] * (1 - fx) + r0[(iu + 1) * ch + k] * fx;
    const double b = r1[iu * ch + k] * (1 - fx) + r1[(iu + 1) * ch + k] * fx;
    out[k] = a * (1 - fy) + b * fy;
  }
}

void SamplePixel(const cv::Mat& src, float u, float v, double* out, cv::Mat& subPix) {
  switch (src.depth()) {
    case CV_16U: SampleBilinear<uint16_t>(src, u, v, out); return;
    case CV_8U:
      if (SampleLinear8u(src, u, v, out)) return;
      [[fallthrough]];
    case CV_32F: {
      cv::getRectSubPix(src, cv::Size(3, 3), cv::Point2f(u, v), subPix);
      for (int k = 0; k < src.channels(); ++k) {
        out[k] = src.depth() == CV_8U ? subPix.ptr<uchar>(1)[src.channels() + k]
                                      : subPix.ptr<float>(1)[src.channels() + k];
      }
      return;
    }
    case CV_16S: SampleBilinear<int16_t>(src, u, v, out); return;
    default: SampleBilinear<double>(src, u, v, out); return;
  }
}

void StorePixel(cv::Mat& dst, int c, int r, const double* val) {
  const int ch = dst.channels();
  for (int k = 0; k < ch; ++k) {
    switch (dst.depth()) {
      case CV_8U: dst.ptr<uchar>(r)[c * ch + k] = SaturateRound<uchar>(val[k]); break;
      case CV_16U: dst.ptr<uint16_t>(r)[c * ch + k] = SaturateRound<uint16_t>(val[k]); break;
      case CV_16S: dst.ptr<int16_t>(r)[c * ch + k] = SaturateRound<int16_t>(val[k]); break;
      case CV_32F: dst.ptr<float>(r)[c * ch + k] = static_cast<float>(val[k]); break;
      default: dst.ptr<double>(r)[c * ch + k] = val[k]; break;
    }
  }
}

void FillPixelRow(const ImageWarp& w, int bx, int by, int r, cv::Mat& block, cv::Mat& alphaBlock,
                  cv::Mat& written, cv::Mat& subPix, cv::Mat& alphaSubPix) {
  const OrthoGeometry& g = w.geo;
  const int W = w.src.cols, H = w.src.rows;
  const int gy = by * g.bh + r;
  if (gy >= g.outH) return;
  double val[4], aval[4];
  for (int c = 0; c < g.bw; ++c) {
    const int gx = bx * g.bw + c;
    if (gx >= g.outW) continue;
    double x, y;
    if (!ProjectOutputPixel(w, gx, gy, x, y)) continue;
    const int tu = static_cast<int>(x), tv = static_cast<int>(y);
    if (tu < 5 || tu > W - 6 || tv < 5 || tv > H - 6) continue;
    const float u = static_cast<float>(x), v = static_cast<float>(y);
    SamplePixel(w.src, u, v, val, subPix);
    StorePixel(block, c, r, val);
    if (!written.empty()) written.at<uchar>(r, c) = 255;
    if (!w.alpha.empty()) {
      SamplePixel(w.alpha, u, v, aval, alphaSubPix);
      StorePixel(alphaBlock, c, r, aval);
    }
  }
}

// Pixel mode: every output pixel projected on its own. Rows are independent, so the 100 rows
// between two abort checks are shared among threads; the result does not depend on their number.
// Returns false when Stop was pressed.
bool FillBlockPixels(const ImageWarp& w, int bx, int by, cv::Mat& block, cv::Mat& alphaBlock,
                     cv::Mat& written, const RunContext& ctx) {
  const int rows = w.geo.bh;
  for (int r0 = 0; r0 < rows; r0 += 100) {
    if (ctx.AbortCheck()) return false;
    cv::parallel_for_(cv::Range(r0, std::min(rows, r0 + 100)), [&](const cv::Range& range) {
      cv::Mat subPix, alphaSubPix;
      for (int r = range.start; r < range.end; ++r)
        FillPixelRow(w, bx, by, r, block, alphaBlock, written, subPix, alphaSubPix);
    });
  }
  return true;
}

std::optional<Footprint> FindFootprint(const WarpProject& project, const std::string& name) {
  auto it = project.footprints.find(name);
  if (it == project.footprints.end()) return std::nullopt;
  auto box = project.cad.EntityBox(it->second);
  if (!box) return std::nullopt;
  return Footprint{it->second, *box};
}

void Recolor(WarpProject& project, CadHandle handle, int color, bool filled) {
  project.cad.SetColor(handle, color);
  project.cad.SetFilled(handle, filled);
}

bool OwnsVoronoiCell(const cv::Mat& voronoiMap, int row) {
  if (voronoiMap.empty() || voronoiMap.type() != CV_8UC3) return false;
  const cv::Vec3b code = RowColorCode(row);
  cv::Mat cells;
  cv::inRange(voronoiMap, code, code, cells);
  return cv::countNonZero(cells) > 0;
}

bool PresentOrtho(const std::string& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return false;
  const auto size = fs::file_size(path, ec);
  return !ec && size > kPresentOrthoBytes;
}

// Reads window (x0, y0, W, H) of the composition's bands into the source and alpha windows.
bool ReadSourceWindow(GDALDataset* image, const std::string& composition, int x0, int y0,
                      cv::Mat& src, cv::Mat& alpha, const RunContext& ctx) {
  const GDALDataType type = geo::GdalTypeOfDepth(src.depth());
  const int bytes = static_cast<int>(src.elemSize1());
  if (type == GDT_Unknown) return false;
  for (std::size_t k = 0; k < composition.size(); ++k) {
    ctx.Pump();
    const int band = composition[k] - '0';
    if (band < 1 || band > image->GetRasterCount()) return false;
    cv::Mat& dst = k < 3 ? src : alpha;
    const int channel = k < 3 ? static_cast<int>(k) : 0;
    if (channel >= dst.channels()) return false;
    CPLErr err = image->GetRasterBand(band)->RasterIO(
        GF_Read, x0, y0, dst.cols, dst.rows, dst.ptr() + channel * bytes, dst.cols, dst.rows, type,
        static_cast<GSpacing>(dst.elemSize()), static_cast<GSpacing>(dst.step[0]), nullptr);
    if (err != CE_None) return false;
  }
  return true;
}

}  // namespace

ImageWarper::Step ImageWarper::Skip(const std::string& reason) {
  status_.failed = true;
  return LeaveOut(reason);
}

ImageWarper::Step ImageWarper::LeaveOut(const std::string& reason) {
  status_.outcome = ImageOutcome::Skipped;
  status_.reason = reason;
  return Step::Skipped;
}

ImageWarper::Step ImageWarper::Abort() {
  ctx_.Log("process aborted by user");
  status_.outcome = ImageOutcome::Aborted;
  status_.reason = "process aborted by user";
  return Step::Aborted;
}

// An image too large for memory, or a raster library failure, skips that image only.
ImageWarper::Step ImageWarper::GuardedProcessImage(int i, int r) {
  std::string what;
  try {
    return ProcessImage(i, r);
  } catch (const std::bad_alloc&) {
    what = "not enough memory";
  } catch (const cv::Exception& e) {
    what = e.what();
  }
  if (status_.name.empty() && r >= 0 && r < static_cast<int>(req_.project->images.size()))
    status_.name = req_.project->images[r].name;
  ctx_.Log(Format("%s image can't be projected: %s!", status_.name.c_str(), what.c_str()));
  return Skip(what);
}

ImageStatus ImageWarper::WarpImage(int i) {
  status_ = ImageStatus{};
  status_.row = i >= 0 && i < static_cast<int>(req_.rows.size()) ? req_.rows[i] : -1;
  GuardedProcessImage(i, status_.row);
  return status_;
}

std::optional<std::string> ImageWarper::Refusal() {
  const WarpProject* project = req_.project;
  if (!project || !project->passport || req_.rows.empty()) return "no passport or no images";
  nOut_ = CompositionBands(req_.composition);
  if (nOut_ == 0) return "unknown band composition " + req_.composition;
  if (!(req_.gsd > 0.0) || !std::isfinite(req_.gsd)) return "the GSD must be greater than 0";
  const int first = req_.rows.front();
  if (first < 0 || first >= static_cast<int>(project->images.size()))
    return "the first image is not in the list";
  GDALDatasetUniquePtr image(GDALDataset::Open(project->images[first].path.c_str(),
                                               GDAL_OF_RASTER | GDAL_OF_READONLY));
  if (!image || image->GetRasterCount() < 1) return "the first image cannot be opened";
  const int n = image->GetRasterCount();
  type_ = image->GetRasterBand(1)->GetRasterDataType();
  image.reset();
  if ((req_.composition == "1" && n != 1) ||
      ((req_.composition == "1234" || req_.composition == "412") && n != 4))
    return "the band composition does not fit the first image";
  depth_ = WarpWorkingDepth(type_);
  if (depth_ < 0) return "the sample type of the images is not supported";
  return std::nullopt;
}

ImageWarper::Step ImageWarper::ProcessImage(int i, int r) {
  WarpProject& project = *req_.project;
  if (r < 0 || r >= static_cast<int>(project.images.size())) return Skip("not in the image list");
  const ImageItem& item = project.images[r];
  status_.name = item.name;
  auto oit = project.orientations.find(item.name);
  if (oit == project.orientations.end()) return Skip("no exterior orientation");
  const geo::COrientation orientation = oit->second;
  const auto footprint = FindFootprint(project, item.name);
  if (!footprint) return LeaveOut("its footprint does not reach the terrain");
  const std::string orthoPath = (fs::path(req_.destinationFolder) / (item.name + ".tif")).string();
  const std::string cannotProject =
      Format("%s image can't be projected: unable to compute projection bounds!", item.name.c_str());

  // Heights read from a DEM file rewritten since loading would make a plausible-looking wrong ortho.
  if (std::string changed = DemFileChangedMessage(project.dem); !changed.empty())
    return Skip(changed);
  DemWindow dem;
  const CadBox& box = footprint->box;
  switch (BuildDemWindow(project.dem.dataset.get(), box.left, box.right, box.top, box.bottom, dem)) {
    case DemWindowStatus::TooSmall: return LeaveOut("the DEM window is too small");
    case DemWindowStatus::ReadFailed: ctx_.Log(cannotProject); return Skip("DEM window unreadable");
    case DemWindowStatus::Ok: break;
  }
  project.demWindow = dem.heights;
  const cv::Mat emptyMap;
  const cv::Mat& voronoi = req_.voronoiMap ? *req_.voronoiMap : emptyMap;
  const auto bounds = ComputeProjectionBounds(project, r, orientation, voronoi, dem, req_.cellSize,
                                              cellMask_);
  if (!bounds) {
    ctx_.Log(cannotProject);
    // An image the mosaic left out (too close to another) owns no cell: nothing failed.
    if (!OwnsVoronoiCell(voronoi, r)) return LeaveOut("it owns no cell of the Voronoi map");
    return Skip("unable to compute projection bounds");
  }
  std::error_code ec;
  if (fs::equivalent(orthoPath, item.path, ec)) {
    ctx_.Log(Format("%s image can't be written: the ortho would replace its source image!",
                    item.name.c_str()));
    return Skip("the ortho would replace its source image");
  }
  if (!req_.overwrite && PresentOrtho(orthoPath)) {
    ctx_.Log(Format("Projection of %s image skipped because already present.", item.name.c_str()));
    Recolor(project, footprint->handle, kAciGreen, true);
    return LeaveOut(kAlreadyPresentReason);
  }
  ctx_.SetPos(r);
  const int count = static_cast<int>(req_.rows.size());
  ctx_.Log(Format("processing image %s %d/%d (%d%%)", item.name.c_str(), i, count,
                  static_cast<int>(std::floor(static_cast<double>(i) / count * 100.0))));
  if (ctx_.AbortCheck()) return Abort();

  GDALDatasetUniquePtr image(GDALDataset::Open(item.path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
  if (!image || image->GetRasterCount() < 1) return Skip("the image cannot be opened");
  const ProjectionBounds& b = *bounds;
  if (b.pixMaxX - b.pixMinX + 1 < 64 || b.pixMaxY - b.pixMinY + 1 < 64)
    return LeaveOut("the image window is smaller than 64 x 64 pixels");
  const int x0 = std::max(b.pixMinX, 0), y0 = std::max(b.pixMinY, 0);
  const int x1 = std::min(b.pixMaxX, image->GetRasterXSize() - 1);
  const int y1 = std::min(b.pixMaxY, image->GetRasterYSize() - 1);
  const int W = x1 - x0 + 1, H = y1 - y0 + 1;
  if (W < 2 || H < 2) return LeaveOut("the image window lies outside the image");
  const int bands = image->GetRasterCount();
  if (bands < nOut_) return Skip("the image has fewer bands than the composition");

  Recolor(project, footprint->handle, kAciMagenta, true);
  if (ctx_.AbortCheck()) return Abort();

  ImageWarp w;
  w.orientation = &orientation;
  w.dem = &dem;
  if (const auto t = DemGeoTransform::From(dem.gt)) w.demTransform = *t;
  w.x0 = x0;
  w.y0 = y0;
  w.src = cv::Mat::zeros(H, W, CV_MAKETYPE(depth_, bands == 1 ? 1 : 3));
  if (nOut_ == 4) w.alpha = cv::Mat::zeros(H, W, CV_MAKETYPE(depth_, 1));
  if (!ReadSourceWindow(image.get(), req_.composition, x0, y0, w.src, w.alpha, ctx_))
    return Skip("the image cannot be read");
  image.reset();
  if (ctx_.AbortCheck()) return Abort();

  w.geo = ComputeOrthoGeometry(b, project.mosaicScale);
  w.grid = {project.mosaicMinX, project.mosaicMaxY, req_.gsd, w.geo.ox0, w.geo.oy0};
  OrthoLayout layout;
  layout.path = orthoPath;
  layout.width = w.geo.outW;
  layout.height = w.geo.outH;
  layout.bands = nOut_;
  layout.type = type_;
  layout.gsd = req_.gsd;
  layout.ox0 = w.geo.ox0;
  layout.oy0 = w.geo.oy0;
  layout.mosaicMinX = project.mosaicMinX;
  layout.mosaicMaxY = project.mosaicMaxY;
  layout.mosaicWidth = req_.mosaicWidth;
  layout.mosaicHeight = req_.mosaicHeight;
  layout.output = req_.output;
  layout.voronoiMap = req_.voronoiMap;
  layout.row = r;
  layout.mosaicScale = project.mosaicScale;
  const tools::StorageErrorWatch storage;
  OrthoWriter writer;
  const auto cannotWrite = [&](OrthoStatus s) {
    const std::string what = tools::WithStorageCause(OrthoStatusText(s), storage.Error());
    ctx_.Log(Format("%s image can't be written: %s!", item.name.c_str(), what.c_str()));
    return Skip(what);
  };
  if (OrthoStatus s = writer.Create(layout); s != OrthoStatus::Ok) return cannotWrite(s);

  cv::Mat block(w.geo.bh, w.geo.bw, w.src.type());
  cv::Mat alphaBlock;
  if (nOut_ == 4) alphaBlock.create(w.geo.bh, w.geo.bw, w.alpha.type());
  cv::Mat written;  // where the warp wrote, for the transparency of the ortho
  if (req_.output.alpha) written.create(w.geo.bh, w.geo.bw, CV_8UC1);
  for (int by = 0; by < w.geo.nBy; ++by) {
    for (int bx = 0; bx < w.geo.nBx; ++bx) {
      block.setTo(cv::Scalar::all(0));
      if (!alphaBlock.empty()) alphaBlock.setTo(cv::Scalar::all(0));
      if (!written.empty()) written.setTo(cv::Scalar::all(0));
      const bool going =
          req_.tileStep > 1
              ? FillBlockTiles(w, bx, by, req_.tileStep, block, alphaBlock, written, ctx_)
              : FillBlockPixels(w, bx, by, block, alphaBlock, written, ctx_);
      if (!going) {
        writer.Abandon(true);
        return Abort();
      }
      const OrthoStatus s =
          writer.WriteBlock(bx, by, w.geo.bw, w.geo.bh, block, alphaBlock, written, ctx_);
      if (s == OrthoStatus::Aborted) {
        writer.Abandon(true);
        return Abort();
      }
      if (s != OrthoStatus::Ok) {
        writer.Abandon(false);
        return cannotWrite(s);
      }
    }
  }
  w.src.release();
  w.alpha.release();
  block.release();
  alphaBlock.release();
  const OrthoStatus finished = writer.Finish(ctx_);
  if (finished == OrthoStatus::Aborted) return Abort();
  if (finished != OrthoStatus::Ok) return cannotWrite(finished);

  // The file is complete under its final name: it counts as written even if Stop follows.
  Recolor(project, footprint->handle, kAciGreen, false);
  project.lastOrthoPath = orthoPath;
  status_.outcome = ImageOutcome::Written;
  if (req_.orthoWritten) req_.orthoWritten(orthoPath, firstWritten_);
  firstWritten_ = false;
  return Step::Written;
}

void AddImageOutcome(WarpResult& result, int position, const ImageStatus& status) {
  if (status.outcome == ImageOutcome::Written) result.processedRows.push_back(position);
  if (status.outcome == ImageOutcome::Skipped) result.skippedRows.push_back(status.row);
  result.images.push_back(status);
}

WarpResult WarpImages(const WarpRequest& request, const RunContext& ctx) {
  WarpResult result;
  ImageWarper warper(request, ctx);
  if (auto why = warper.Refusal()) {
    result.status = WarpRunStatus::Refused;
    result.refusal = *why;
    return result;
  }
  const int count = static_cast<int>(request.rows.size());
  ctx.SetRange(0, count);
  ctx.Log("start warping images...");
  for (int i = 0; i < count; ++i) {
    const ImageStatus status = warper.WarpImage(i);
    AddImageOutcome(result, i, status);
    if (status.outcome == ImageOutcome::Aborted) {
      result.status = WarpRunStatus::Aborted;
      return result;
    }
    // A finished ortho counts as written even when Stop follows it.
    if (status.outcome == ImageOutcome::Written && ctx.AbortCheck()) {
      ctx.Log("process aborted by user");
      result.status = WarpRunStatus::Aborted;
      return result;
    }
  }
  ctx.Log("end warping images...");
  result.status = WarpRunStatus::Done;
  return result;
}

}  // namespace ortavia
