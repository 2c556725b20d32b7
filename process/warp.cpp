#include "process/warp.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <new>
#include <thread>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include "external/geo/gdal_extract_roi.h"
#include "external/tools/storage_error.h"
#include "model/dem.h"
#include "process/image_warp.h"
#include "process/ortho_writer.h"
#include "process/tile_fill.h"
#include "process/visibility.h"
#include "products/mosaic.h"

namespace ortavia {
namespace {

namespace fs = std::filesystem;

constexpr std::uintmax_t kPresentOrthoBytes = 10000000;

template <class... Args>
std::string Format(const char* fmt, Args... args) {
  char buf[1024];
  std::snprintf(buf, sizeof buf, fmt, args...);
  return buf;
}

struct Footprint {
  CadHandle handle = 0;
  CadBox box{};
};

void FillPixelRow(const ImageWarp& w, int bx, int by, int r, cv::Mat& block, cv::Mat& alphaBlock,
                  cv::Mat& written, SampleScratch& scratch) {
  const OrthoGeometry& g = w.geo;
  const int gy = by * g.bh + r;
  if (gy >= g.outH) return;
  for (int c = 0; c < g.bw; ++c) {
    const int gx = bx * g.bw + c;
    if (gx >= g.outW) continue;
    double x, y;
    if (ProjectOutputPixel(w, gx, gy, x, y))
      SampleOutputPixel(w, x, y, c, r, block, alphaBlock, written, scratch);
  }
}

// The side of tile mode's squares: the largest power of two from 4 up to the tile step and 64; 1
// (pixel mode) for a step of 1 or below, or a bound of 0 (every pixel projected).
int SquareSide(int tileStep, double maxError) {
  if (tileStep <= 1 || !(maxError > 0.0)) return 1;
  int s = 4;
  while (s * 2 <= std::min(tileStep, 64)) s *= 2;
  return s;
}

// Pixel mode: every output pixel projected on its own. Rows are independent, so the 100 rows
// between two abort checks are shared among threads; the result does not depend on their number.
FillOutcome FillBlockPixels(ImageWarp& w, int bx, int by, cv::Mat& block, cv::Mat& alphaBlock,
                            cv::Mat& written, const RunContext& ctx) {
  const int gx0 = bx * w.geo.bw, gy0 = by * w.geo.bh;
  const auto estimate = [&](int first, int last) {
    return EstimateSourceRect(w, gx0, gy0 + first, gx0 + w.geo.bw - 1, gy0 + last - 1);
  };
  const auto fill = [&](int first, int last) {
    SourceMiss miss;
    std::mutex mutex;
    cv::parallel_for_(cv::Range(first, last), [&](const cv::Range& range) {
      SampleScratch scratch;
      for (int r = range.start; r < range.end; ++r)
        FillPixelRow(w, bx, by, r, block, alphaBlock, written, scratch);
      const std::lock_guard<std::mutex> lock(mutex);
      miss.Add(scratch.miss);
    });
    return miss;
  };
  return FillInBands(w, w.geo.bh, 100, estimate, fill, ctx);
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

// Reads the window rectangle r of the composition's bands into src and alpha, which it makes
// r's size (views of the room kept in srcRoom and alphaRoom, grown as needed).
bool ReadSourceRect(GDALDataset* image, const std::string& composition, const cv::Rect& r,
                    ImageWarp& w, cv::Mat& srcRoom, cv::Mat& alphaRoom, const RunContext& ctx) {
  const auto view = [&](cv::Mat& room, cv::Mat& out) {
    if (room.empty()) return;
    if (room.rows < r.height || room.cols < r.width)
      room = cv::Mat::zeros(std::max(room.rows, r.height), std::max(room.cols, r.width), room.type());
    out = room(cv::Rect(0, 0, r.width, r.height));
  };
  view(srcRoom, w.src);
  view(alphaRoom, w.alpha);
  w.held = cv::Rect();  // until the read succeeds
  const GDALDataType type = geo::GdalTypeOfDepth(w.src.depth());
  const int bytes = static_cast<int>(w.src.elemSize1());
  if (type == GDT_Unknown) return false;
  for (std::size_t k = 0; k < composition.size(); ++k) {
    ctx.Pump();
    const int band = composition[k] - '0';
    if (band < 1 || band > image->GetRasterCount()) return false;
    cv::Mat& dst = k < 3 ? w.src : w.alpha;
    const int channel = k < 3 ? static_cast<int>(k) : 0;
    if (channel >= dst.channels()) return false;
    CPLErr err = image->GetRasterBand(band)->RasterIO(
        GF_Read, w.x0 + r.x, w.y0 + r.y, r.width, r.height, dst.ptr() + channel * bytes, r.width,
        r.height, type, static_cast<GSpacing>(dst.elemSize()), static_cast<GSpacing>(dst.step[0]),
        nullptr);
    if (err != CE_None) return false;
  }
  w.held = r;
  return true;
}

// The part of the image that bounds b project into; empty when it lies outside the image.
cv::Rect SourceWindowOf(const ProjectionBounds& b, int imageW, int imageH) {
  const int x0 = std::max(b.pixMinX, 0), y0 = std::max(b.pixMinY, 0);
  const int x1 = std::min(b.pixMaxX, imageW - 1), y1 = std::min(b.pixMaxY, imageH - 1);
  if (x1 - x0 + 1 < 2 || y1 - y0 + 1 < 2) return {};
  return {x0, y0, x1 - x0 + 1, y1 - y0 + 1};
}

bool TooSmallWindow(const ProjectionBounds& b) {
  return b.pixMaxX - b.pixMinX + 1 < 64 || b.pixMaxY - b.pixMinY + 1 < 64;
}

void SetUpWarp(ImageWarp& w, const geo::COrientation& orientation, const DemWindow& dem,
               const cv::Rect& window, const ProjectionBounds& b, const WarpProject& project,
               double gsd) {
  w.orientation = &orientation;
  w.dem = &dem;
  if (const auto t = DemGeoTransform::From(dem.gt)) w.demTransform = *t;
  w.x0 = window.x;
  w.y0 = window.y;
  w.srcW = window.width;
  w.srcH = window.height;
  w.geo = ComputeOrthoGeometry(b, project.mosaicScale);
  w.grid = {project.mosaicMinX, project.mosaicMaxY, gsd, w.geo.ox0, w.geo.oy0};
}

bool StreamedSource(const cv::Rect& window, const cv::Mat& srcRoom, int nOut, std::size_t bound) {
  const double bytes = static_cast<double>(window.width) * window.height * srcRoom.elemSize() *
                       (nOut == 4 ? 4.0 / 3.0 : 1.0);
  return bytes > static_cast<double>(bound);
}

FillOutcome FillBlock(ImageWarp& w, int bx, int by, int square, double maxError, cv::Mat& block,
                      cv::Mat& alphaBlock, cv::Mat& written, const RunContext& ctx) {
  return square > 1 ? FillBlockTiles(w, bx, by, square, maxError, block, alphaBlock, written, ctx)
                    : FillBlockPixels(w, bx, by, block, alphaBlock, written, ctx);
}

// The abort checks FillBlock makes on block (0, 0) of a source held whole, without its work.
FillOutcome CheckAsFirstBlockFill(const ImageWarp& w, int square, const RunContext& ctx) {
  const int limY = std::min(w.geo.bh, w.geo.outH);
  const int count = square > 1 ? (limY > 0 ? (limY + square - 1) / square : 0) : w.geo.bh;
  for (int first = 0; first == 0 || first < count; first += 100) {
    if (ctx.AbortCheck()) return FillOutcome::Stopped;
    if (std::min(count, first + 100) <= first) break;
  }
  return FillOutcome::Done;
}

// The next image's source window, read whole, and its first block, warped ahead of its turn.
struct AheadWork {
  bool ok = false;
  cv::Rect window;
  OrthoGeometry geo;
  cv::Mat srcRoom, alphaRoom, block, alphaBlock, written;
};

// What the thread warping ahead takes from the project, copied on the thread that starts it.
struct AheadInput {
  int row = -1;
  std::string imagePath, demPath;
  geo::COrientation orientation;
  CadBox box{};
};

}  // namespace

class ImageWarper::Ahead {
 public:
  Ahead(int position, std::function<void(AheadWork&)> work)
      : position_(position), thread_([this, work = std::move(work)] {
          try {
            work(result_);
          } catch (...) {
            result_ = AheadWork{};  // the image's turn meets the fault again and reports it
          }
        }) {}
  ~Ahead() {
    if (thread_.joinable()) thread_.join();
  }
  int Position() const { return position_; }
  AheadWork& Take() {
    if (thread_.joinable()) thread_.join();
    return result_;
  }

 private:
  int position_;
  AheadWork result_;
  std::thread thread_;  // last: runs once the rest is built
};

ImageWarper::ImageWarper(const WarpRequest& request, const RunContext& ctx)
    : req_(request), ctx_(ctx) {}

ImageWarper::~ImageWarper() = default;

// Silent: anything amiss leaves the work undone, and the image's turn does it and says why.
void ImageWarper::StartAhead(int position) {
  ahead_.reset();
  if (!warpAhead_ || position < 0 || position >= static_cast<int>(req_.rows.size())) return;
  const WarpProject& project = *req_.project;
  const int r = req_.rows[position];
  // Its own handle of the DEM: a GDAL dataset is not to be shared between threads.
  const std::string demPath =
      project.dem.dataset ? std::string(project.dem.dataset->GetDescription()) : std::string();
  if (r < 0 || r >= static_cast<int>(project.images.size()) || demPath.empty()) return;
  const ImageItem& item = project.images[r];
  const auto oit = project.orientations.find(item.name);
  const auto footprint = FindFootprint(project, item.name);
  if (oit == project.orientations.end() || !footprint) return;
  auto in = std::make_shared<AheadInput>(
      AheadInput{r, item.path, demPath, oit->second, footprint->box});
  ahead_ = std::make_unique<Ahead>(position, [this, in](AheadWork& out) {
    RunContext quiet;
    quiet.abort = ctx_.abort;
    const WarpProject& project = *req_.project;
    GDALDatasetUniquePtr demSet = OpenDem(in->demPath);
    DemWindow dem;
    const CadBox& box = in->box;
    if (!demSet || BuildDemWindow(demSet.get(), box.left, box.right, box.top, box.bottom, dem) !=
                       DemWindowStatus::Ok)
      return;
    demSet.reset();
    const cv::Mat emptyMap;
    cv::Mat cellMask;
    const auto bounds = ComputeProjectionBounds(project, in->row, in->orientation,
                                                req_.voronoiMap ? *req_.voronoiMap : emptyMap, dem,
                                                req_.cellSize, cellMask);
    if (!bounds || TooSmallWindow(*bounds)) return;
    GDALDatasetUniquePtr image(
        GDALDataset::Open(in->imagePath.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    if (!image || image->GetRasterCount() < nOut_) return;
    const int bands = image->GetRasterCount();
    const cv::Rect window =
        SourceWindowOf(*bounds, image->GetRasterXSize(), image->GetRasterYSize());
    cv::Mat srcRoom = cv::Mat::zeros(1, 1, CV_MAKETYPE(depth_, bands == 1 ? 1 : 3)), alphaRoom;
    if (window.empty() || StreamedSource(window, srcRoom, nOut_, req_.wholeSourceBytes)) return;
    ImageWarp w;
    SetUpWarp(w, in->orientation, dem, window, *bounds, project, req_.gsd);
    srcRoom = cv::Mat::zeros(window.height, window.width, srcRoom.type());
    if (nOut_ == 4) alphaRoom = cv::Mat::zeros(window.height, window.width, CV_MAKETYPE(depth_, 1));
    if (!ReadSourceRect(image.get(), req_.composition, cv::Rect(cv::Point(), window.size()), w,
                        srcRoom, alphaRoom, quiet))
      return;
    image.reset();
    AheadWork a;
    a.block = cv::Mat::zeros(w.geo.bh, w.geo.bw, srcRoom.type());
    if (nOut_ == 4) a.alphaBlock = cv::Mat::zeros(w.geo.bh, w.geo.bw, alphaRoom.type());
    if (req_.output.alpha || req_.output.occlusion)
      a.written = cv::Mat::zeros(w.geo.bh, w.geo.bw, CV_8UC1);
    const int square = SquareSide(req_.tileStep, req_.maxError);
    if (FillBlock(w, 0, 0, square, req_.maxError, a.block, a.alphaBlock, a.written, quiet) !=
        FillOutcome::Done)
      return;
    a.ok = true;
    a.window = window;
    a.geo = w.geo;
    a.srcRoom = srcRoom;
    a.alphaRoom = alphaRoom;
    out = std::move(a);
  });
}

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
  std::unique_ptr<Ahead> ahead = std::move(ahead_);
  if (ahead && ahead->Position() != i) ahead.reset();
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
  if (TooSmallWindow(b)) return LeaveOut("the image window is smaller than 64 x 64 pixels");
  const cv::Rect window = SourceWindowOf(b, image->GetRasterXSize(), image->GetRasterYSize());
  if (window.empty()) return LeaveOut("the image window lies outside the image");
  const int W = window.width, H = window.height;
  const int bands = image->GetRasterCount();
  if (bands < nOut_) return Skip("the image has fewer bands than the composition");

  Recolor(project, footprint->handle, kAciMagenta, true);
  if (ctx_.AbortCheck()) return Abort();

  ImageWarp w;
  SetUpWarp(w, orientation, dem, window, b, project, req_.gsd);
  // Zeroed, so that channels the composition leaves out stay 0.
  cv::Mat srcRoom = cv::Mat::zeros(1, 1, CV_MAKETYPE(depth_, bands == 1 ? 1 : 3)), alphaRoom;
  if (nOut_ == 4) alphaRoom = cv::Mat::zeros(1, 1, CV_MAKETYPE(depth_, 1));
  // What was warped ahead serves when it was made from the same window and grid.
  AheadWork* early = ahead ? &ahead->Take() : nullptr;
  if (early && !(early->ok && early->window == window && early->geo.outW == w.geo.outW &&
                 early->geo.outH == w.geo.outH && early->geo.bw == w.geo.bw &&
                 early->geo.bh == w.geo.bh && early->geo.ox0 == w.geo.ox0 &&
                 early->geo.oy0 == w.geo.oy0 && early->srcRoom.type() == srcRoom.type()))
    early = nullptr;
  if (StreamedSource(window, srcRoom, nOut_, req_.wholeSourceBytes)) {
    // A large frame is read a band of the ortho at a time, by the rectangle each band needs.
    w.hold = [&](const cv::Rect& r) {
      const bool read = ReadSourceRect(image.get(), req_.composition, r, w, srcRoom, alphaRoom, ctx_);
      // GDAL would otherwise keep every block read in its cache: the whole frame in the end.
      image->FlushCache();
      return read;
    };
  } else if (early) {
    srcRoom = early->srcRoom;
    alphaRoom = early->alphaRoom;
    w.src = srcRoom;
    w.alpha = alphaRoom;
    w.held = cv::Rect(0, 0, W, H);
    for (std::size_t k = 0; k < req_.composition.size(); ++k) ctx_.Pump();  // as the read does
    image.reset();
  } else {
    srcRoom = cv::Mat::zeros(H, W, srcRoom.type());
    if (!alphaRoom.empty()) alphaRoom = cv::Mat::zeros(H, W, alphaRoom.type());
    if (!ReadSourceRect(image.get(), req_.composition, cv::Rect(0, 0, W, H), w, srcRoom,
                        alphaRoom, ctx_))
      return Skip("the image cannot be read");
    image.reset();
  }
  if (ctx_.AbortCheck()) return Abort();

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
  layout.hiddenFill = req_.hiddenFill.get();
  const tools::StorageErrorWatch storage;
  OrthoWriter writer;
  const auto cannotWrite = [&](OrthoStatus s) {
    const std::string what = tools::WithStorageCause(OrthoStatusText(s), storage.Error());
    ctx_.Log(Format("%s image can't be written: %s!", item.name.c_str(), what.c_str()));
    return Skip(what);
  };
  if (OrthoStatus s = writer.Create(layout); s != OrthoStatus::Ok) return cannotWrite(s);

  cv::Mat block(w.geo.bh, w.geo.bw, srcRoom.type());
  cv::Mat alphaBlock;
  if (nOut_ == 4) alphaBlock.create(w.geo.bh, w.geo.bw, alphaRoom.type());
  cv::Mat written;  // where the warp wrote, for the transparency of the ortho
  if (req_.output.alpha || req_.output.occlusion) written.create(w.geo.bh, w.geo.bw, CV_8UC1);
  std::optional<SurfaceVisibility> surface;
  const cv::Point3d centre(orientation.N.x(), orientation.N.y(), orientation.N.z());
  if (req_.output.occlusion) {
    // The lines from the ortho to the centre cross only the DEM between them.
    const cv::Rect sight = SightWindow(
        w.demTransform, dem.heights.size(),
        {w.grid.At(0, 0), w.grid.At(w.geo.outW - 1, w.geo.outH - 1)}, {{centre.x, centre.y}});
    if (sight.width >= 2 && sight.height >= 2)
      surface.emplace(dem.heights(sight), w.demTransform.Window(sight.x, sight.y));
    else
      surface.emplace(dem.heights, w.demTransform);
    surface->Aim(centre);
  }
  const int square = SquareSide(req_.tileStep, req_.maxError);
  for (int by = 0; by < w.geo.nBy; ++by) {
    for (int bx = 0; bx < w.geo.nBx; ++bx) {
      FillOutcome filled;
      if (early && bx == 0 && by == 0) {
        filled = CheckAsFirstBlockFill(w, square, ctx_);
        early->block.copyTo(block);
        if (!alphaBlock.empty()) early->alphaBlock.copyTo(alphaBlock);
        if (!written.empty()) early->written.copyTo(written);
      } else {
        block.setTo(cv::Scalar::all(0));
        if (!alphaBlock.empty()) alphaBlock.setTo(cv::Scalar::all(0));
        if (!written.empty()) written.setTo(cv::Scalar::all(0));
        filled = FillBlock(w, bx, by, square, req_.maxError, block, alphaBlock, written, ctx_);
      }
      if (filled == FillOutcome::Stopped) {
        writer.Abandon(true);
        return Abort();
      }
      if (filled == FillOutcome::ReadFailed) {
        writer.Abandon(false);
        ctx_.Log(Format("%s image can't be projected: the image cannot be read!", item.name.c_str()));
        return Skip("the image cannot be read");
      }
      if (bx == w.geo.nBx - 1 && by == w.geo.nBy - 1) {
        // The source is done with: the next image's is read while this ortho is written.
        w.src.release();
        w.alpha.release();
        srcRoom.release();
        alphaRoom.release();
        ahead.reset();
        early = nullptr;
        StartAhead(i + 1);
      }
      if (surface)
        HideUnseenPixels(*surface, centre, w.grid, bx * w.geo.bw, by * w.geo.bh, block,
                         alphaBlock, written,
                         {req_.hiddenFill.get(), req_.voronoiMap, project.mosaicScale, r,
                          req_.output.alpha && req_.testShareOnly});
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
  srcRoom.release();
  alphaRoom.release();
  w.hold = nullptr;
  image.reset();
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
  warper.WarpAhead(true);
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
