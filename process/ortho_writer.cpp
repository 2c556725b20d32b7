#include "process/ortho_writer.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <cpl_error.h>
#include <cpl_string.h>
#include <tiffio.h>

#include "external/geo/gdal_extract_roi.h"
#include "model/dem_crs.h"
#include "process/tiff_tags_in_place.h"
#include "products/mosaic.h"

namespace ortavia {
namespace {

namespace fs = std::filesystem;

// Six decimals whatever the process locale is (the GUI sets the user's).
std::string FixedSix(double v) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 6);
  return std::string(buf, res.ptr);
}

std::string WorldTempPath(const std::string& finalPath) {
  return fs::path(finalPath).replace_extension(".tfw").string() + ".part";
}

void RemoveQuietly(const std::string& path) {
  std::error_code ec;
  if (!path.empty()) fs::remove(path, ec);
}

bool WriteTextFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  return !out.fail();
}

// libtiff reports through global handlers; failures are seen through the return codes instead.
void QuietTiffHandler(const char*, const char*, va_list) {}

bool WritePositionTags(const std::string& path, const OrthoLayout& layout) {
  TIFFErrorHandler oldWarn = TIFFSetWarningHandler(QuietTiffHandler);
  TIFF* tif = TIFFOpen(path.c_str(), "r+");
  TIFFSetWarningHandler(oldWarn);
  if (!tif) return false;
  bool ok = TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) == 1;
  ok = ok && TIFFSetField(tif, TIFFTAG_XRESOLUTION, 300.0f) == 1;
  ok = ok && TIFFSetField(tif, TIFFTAG_YRESOLUTION, 300.0f) == 1;
  ok = ok && TIFFSetField(tif, TIFFTAG_XPOSITION, OrthoPositionInches(layout.ox0)) == 1;
  ok = ok && TIFFSetField(tif, TIFFTAG_YPOSITION, OrthoPositionInches(layout.oy0)) == 1;
  ok = ok && TIFFSetField(tif, TIFFTAG_PIXAR_IMAGEFULLWIDTH,
                          static_cast<uint32_t>(layout.mosaicWidth)) == 1;
  ok = ok && TIFFSetField(tif, TIFFTAG_PIXAR_IMAGEFULLLENGTH,
                          static_cast<uint32_t>(layout.mosaicHeight)) == 1;
  ok = ok && TIFFRewriteDirectory(tif) == 1;
  TIFFClose(tif);
  return ok;
}

// Room the COG's first directory keeps for the position tags: seven entries and three rationals
// with some to spare.
constexpr std::size_t kTagRoom = 200;

std::vector<TiffTag> PositionTags(const OrthoLayout& layout) {
  // The positions as exact fractions of 300 dpi: the offsets in whole pixels.
  return {TiffTag::Short(TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH),
          TiffTag::Rational(TIFFTAG_XRESOLUTION, 300, 1),
          TiffTag::Rational(TIFFTAG_YRESOLUTION, 300, 1),
          TiffTag::Rational(TIFFTAG_XPOSITION, static_cast<uint32_t>(std::max(layout.ox0, 0)), 300),
          TiffTag::Rational(TIFFTAG_YPOSITION, static_cast<uint32_t>(std::max(layout.oy0, 0)), 300),
          TiffTag::Long(TIFFTAG_PIXAR_IMAGEFULLWIDTH, static_cast<uint32_t>(layout.mosaicWidth)),
          TiffTag::Long(TIFFTAG_PIXAR_IMAGEFULLLENGTH, static_cast<uint32_t>(layout.mosaicHeight))};
}

bool BuildOverviews(const std::string& path) {
  GDALDatasetUniquePtr ds(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_UPDATE));
  if (!ds) return false;
  std::vector<int> levels = OrthoOverviewLevels(ds->GetRasterXSize(), ds->GetRasterYSize());
  if (levels.empty()) return true;
  CPLErrorReset();
  CPLErr err = ds->BuildOverviews("NEAREST", static_cast<int>(levels.size()), levels.data(), 0,
                                  nullptr, nullptr, nullptr);
  ds.reset();
  return err == CE_None && CPLGetLastErrorType() != CE_Failure;
}

}  // namespace

bool IsOrthoCompression(const std::string& name) {
  return name.empty() || name == "NONE" || name == "DEFLATE" || name == "LZW" || name == "ZSTD" ||
         name == "JPEG";
}

OrthoAlpha OrthoAlphaKind(int bands, GDALDataType type, const OrthoOutput& output) {
  if (!output.alpha && !output.occlusion) return OrthoAlpha::None;
  const bool bandFits = (bands == 1 || bands == 3) && (type == GDT_Byte || type == GDT_UInt16);
  return bandFits && output.compress != "JPEG" ? OrthoAlpha::Band : OrthoAlpha::Mask;
}

std::vector<std::pair<std::string, std::string>> OrthoCreationOptions(int bands, GDALDataType type,
                                                                      const OrthoOutput& output) {
  const bool alphaBand = OrthoAlphaKind(bands, type, output) == OrthoAlpha::Band;
  const bool jpeg = output.compress == "JPEG";
  std::vector<std::pair<std::string, std::string>> opts = {
      {"TILED", "YES"}, {"BLOCKXSIZE", "256"}, {"BLOCKYSIZE", "256"}, {"TFW", "YES"}};
  if (bands > 1) {
    opts.emplace_back("PHOTOMETRIC", jpeg && bands == 3 ? "YCBCR" : "RGB");
    opts.emplace_back("ALPHA", alphaBand ? "YES" : "NO");
  } else if (alphaBand) {
    opts.emplace_back("ALPHA", "YES");
  }
  if (!output.compress.empty() && output.compress != "NONE")
    opts.emplace_back("COMPRESS", output.compress);
  return opts;
}

std::vector<std::pair<std::string, std::string>> OrthoCogOptions(const OrthoOutput& output) {
  return {{"COMPRESS", output.compress.empty() ? "NONE" : output.compress},
          {"BLOCKSIZE", "256"},
          {"RESAMPLING", "NEAREST"},
          {"OVERVIEWS", "AUTO"}};
}

std::vector<int> OrthoOverviewLevels(int width, int height) {
  std::vector<int> levels;
  const int m = std::max(width, height);
  if (m <= 512) return levels;
  int v = m / 2;
  int n = 0;
  while (v > 512) {
    ++n;
    v /= 2;
  }
  for (int k = 1; k <= n && k < 31; ++k) levels.push_back(1 << k);
  return levels;
}

std::string WorldFileText(double gsd, double mosaicMinX, double mosaicMaxY, int ox0, int oy0) {
  // Lines 5 and 6 are the centre of the upper-left pixel, the very point the warp samples for it.
  const double values[6] = {gsd, 0.0, 0.0, -gsd, mosaicMinX + ox0 * gsd, mosaicMaxY - oy0 * gsd};
  std::string text;
  for (double v : values) text += FixedSix(v) + "\n";
  return text;
}

float OrthoPositionInches(int offset) {
  return static_cast<float>(std::max(offset, 0)) / 300.0f;
}

std::string OrthoStatusText(OrthoStatus status) {
  switch (status) {
    case OrthoStatus::Ok: return "";
    case OrthoStatus::CreateFailed: return "the ortho file cannot be created";
    case OrthoStatus::WriteFailed: return "the ortho raster cannot be written";
    case OrthoStatus::WorldFileFailed: return "the world file cannot be written";
    case OrthoStatus::TagsFailed: return "the position tags cannot be written";
    case OrthoStatus::OverviewsFailed: return "the overviews cannot be built";
    case OrthoStatus::Aborted: return "process aborted by user";
  }
  return "";
}

std::string OrthoTempPath(const std::string& finalPath) { return finalPath + ".part"; }

OrthoWriter::~OrthoWriter() {
  if (open_) Abandon(false);
}

OrthoStatus OrthoWriter::Create(const OrthoLayout& layout) {
  if (open_) Abandon(false);
  layout_ = layout;
  if (layout.width <= 0 || layout.height <= 0 || layout.bands < 1 || layout.bands > 4)
    return OrthoStatus::CreateFailed;
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
  if (!driver) return OrthoStatus::CreateFailed;
  tempPath_ = OrthoTempPath(layout.path);
  tempWorldPath_ = WorldTempPath(layout.path);
  alphaKind_ = OrthoAlphaKind(layout.bands, layout.type, layout.output);
  // A COG is copied from this raster: it is written plain and compressed only by the copy.
  OrthoOutput tempOutput = layout.output;
  if (tempOutput.cog) tempOutput.compress.clear();
  char** options = nullptr;
  for (const auto& [key, value] : OrthoCreationOptions(layout.bands, layout.type, tempOutput))
    options = CSLSetNameValue(options, key.c_str(), value.c_str());
  const int fileBands = layout.bands + (alphaKind_ == OrthoAlpha::Band ? 1 : 0);
  ds_.reset(driver->Create(tempPath_.c_str(), layout.width, layout.height, fileBands, layout.type,
                           options));
  CSLDestroy(options);
  if (ds_ && alphaKind_ == OrthoAlpha::Mask) {
    CPLSetThreadLocalConfigOption("GDAL_TIFF_INTERNAL_MASK", "YES");
    const CPLErr err = ds_->CreateMaskBand(GMF_PER_DATASET);
    CPLSetThreadLocalConfigOption("GDAL_TIFF_INTERNAL_MASK", nullptr);
    if (err != CE_None) ds_.reset();
  }
  if (!ds_ || !SetDatasetCrs(*ds_, layout.output.crsWkt)) {
    ds_.reset();
    RemoveQuietly(tempPath_);
    return OrthoStatus::CreateFailed;
  }
  open_ = true;
  return OrthoStatus::Ok;
}

OrthoStatus OrthoWriter::WriteBlock(int bx, int by, int bw, int bh, const cv::Mat& block,
                                    const cv::Mat& alpha, const cv::Mat& written,
                                    const RunContext& ctx) {
  if (!open_ || !ds_) return OrthoStatus::WriteFailed;
  const int x = bx * bw;
  const int y = by * bh;
  const int w = std::min(bw, layout_.width - x);
  const int h = std::min(bh, layout_.height - y);
  if (w <= 0 || h <= 0) return OrthoStatus::WriteFailed;
  for (int b = 1; b <= layout_.bands; ++b) {
    if (ctx.AbortCheck()) return OrthoStatus::Aborted;
    const cv::Mat& src = b <= 3 ? block : alpha;
    const int channel = b <= 3 ? b - 1 : 0;
    // A wider working depth (32-bit integers are warped as doubles) is rounded by GDAL on writing.
    const GDALDataType bufferType = geo::GdalTypeOfDepth(src.depth());
    if (src.empty() || channel >= src.channels() || src.cols < w || src.rows < h ||
        bufferType == GDT_Unknown)
      return OrthoStatus::WriteFailed;
    auto* data = const_cast<uchar*>(src.ptr()) + channel * src.elemSize1();
    CPLErr err = ds_->GetRasterBand(b)->RasterIO(
        GF_Write, x, y, w, h, data, w, h, bufferType, static_cast<GSpacing>(src.elemSize()),
        static_cast<GSpacing>(src.step[0]), nullptr);
    if (err != CE_None) return OrthoStatus::WriteFailed;
  }
  if (alphaKind_ == OrthoAlpha::None) return OrthoStatus::Ok;
  if (ctx.AbortCheck()) return OrthoStatus::Aborted;
  if (!written.empty() && (written.type() != CV_8UC1 || written.cols < w || written.rows < h))
    return OrthoStatus::WriteFailed;
  return WriteTransparency(x, y, OpaqueMask(x, y, w, h, written));
}

cv::Mat OrthoWriter::OpaqueMask(int x, int y, int w, int h, const cv::Mat& written) const {
  cv::Mat opaque(h, w, CV_8UC1, cv::Scalar(0));
  if (!layout_.output.alpha) {
    if (written.empty()) opaque.setTo(255);
    else opaque.setTo(255, written(cv::Rect(0, 0, w, h)));
    return opaque;
  }
  const cv::Mat* cells = layout_.voronoiMap;
  if (!cells || cells->empty() || cells->type() != CV_8UC3 || !(layout_.mosaicScale > 0.0))
    return opaque;
  // The cell of each column and row of the block, -1 outside the map.
  auto cellOf = [&](int mosaicPixel, int limit) {
    const int cell = static_cast<int>(std::floor(mosaicPixel / layout_.mosaicScale));
    return cell >= 0 && cell < limit ? cell : -1;
  };
  std::vector<int> col(w);
  for (int c = 0; c < w; ++c) col[c] = cellOf(layout_.ox0 + x + c, cells->cols);
  const cv::Vec3b own = RowColorCode(layout_.row);
  for (int r = 0; r < h; ++r) {
    const int cellRow = cellOf(layout_.oy0 + y + r, cells->rows);
    if (cellRow < 0) continue;
    const cv::Vec3b* codes = cells->ptr<cv::Vec3b>(cellRow);
    const uchar* wrote = written.empty() ? nullptr : written.ptr<uchar>(r);
    uchar* out = opaque.ptr<uchar>(r);
    for (int c = 0; c < w; ++c)
      if (col[c] >= 0 && codes[col[c]] == own && (!wrote || wrote[c])) out[c] = 255;
  }
  if (layout_.hiddenFill) ApplyFill(x, y, written, opaque);
  return opaque;
}

// Pixels the plan gives to an image other than their owner: opaque only in that image's ortho.
void OrthoWriter::ApplyFill(int x, int y, const cv::Mat& written, cv::Mat& opaque) const {
  const int mx = layout_.ox0 + x;
  for (int r = 0; r < opaque.rows; ++r) {
    const uchar* wrote = written.empty() ? nullptr : written.ptr<uchar>(r);
    uchar* out = opaque.ptr<uchar>(r);
    for (const FillRun& run : layout_.hiddenFill->Row(layout_.oy0 + y + r)) {
      const int c0 = std::max(run.x0 - mx, 0), c1 = std::min(run.x1 - mx, opaque.cols);
      for (int c = c0; c < c1; ++c)
        out[c] = run.row == layout_.row && (!wrote || wrote[c]) ? 255 : 0;
    }
  }
}

OrthoStatus OrthoWriter::WriteTransparency(int x, int y, const cv::Mat& opaque) {
  const int w = opaque.cols, h = opaque.rows;
  if (alphaKind_ == OrthoAlpha::Mask) {
    GDALRasterBand* mask = ds_->GetRasterBand(1)->GetMaskBand();
    return mask && mask->RasterIO(GF_Write, x, y, w, h, const_cast<uchar*>(opaque.ptr()), w, h,
                                  GDT_Byte, 1, static_cast<GSpacing>(opaque.step[0]),
                                  nullptr) == CE_None
               ? OrthoStatus::Ok
               : OrthoStatus::WriteFailed;
  }
  // An alpha band of the image's own type: full scale where opaque.
  cv::Mat alpha;
  opaque.convertTo(alpha, layout_.type == GDT_UInt16 ? CV_16U : CV_8U,
                   layout_.type == GDT_UInt16 ? 257.0 : 1.0);
  return ds_->GetRasterBand(layout_.bands + 1)
                     ->RasterIO(GF_Write, x, y, w, h, alpha.ptr(), w, h, layout_.type,
                                static_cast<GSpacing>(alpha.elemSize()),
                                static_cast<GSpacing>(alpha.step[0]), nullptr) == CE_None
             ? OrthoStatus::Ok
             : OrthoStatus::WriteFailed;
}

OrthoStatus OrthoWriter::Finish(const RunContext& ctx) {
  if (!open_ || !ds_) return OrthoStatus::WriteFailed;
  if (!WriteTextFile(tempWorldPath_,
                     WorldFileText(layout_.gsd, layout_.mosaicMinX, layout_.mosaicMaxY, layout_.ox0,
                                   layout_.oy0))) {
    Abandon(false);
    return OrthoStatus::WorldFileFailed;
  }
  // The COG driver copies DocumentName into the first directory, where it keeps room for the
  // position tags (see tiff_tags_in_place.h).
  if (layout_.output.cog)
    ds_->SetMetadataItem("TIFFTAG_DOCUMENTNAME", std::string(kTagRoom, '-').c_str());
  CPLErrorReset();
  ds_.reset();  // flushes the raster
  if (CPLGetLastErrorType() == CE_Failure) {
    Abandon(false);
    return OrthoStatus::WriteFailed;
  }
  if (ctx.AbortCheck()) {
    Abandon(true);
    return OrthoStatus::Aborted;
  }
  if (layout_.output.cog) {
    if (OrthoStatus s = FinishCog(ctx); s != OrthoStatus::Ok) return s;
  } else {
    if (!WritePositionTags(tempPath_, layout_)) {
      Abandon(false);
      return OrthoStatus::TagsFailed;
    }
    if (ctx.AbortCheck()) {
      Abandon(true);
      return OrthoStatus::Aborted;
    }
    if (!BuildOverviews(tempPath_)) {
      Abandon(false);
      return OrthoStatus::OverviewsFailed;
    }
  }
  // The raster first: when it cannot take its final name, the older ortho keeps its own world
  // file. When the world file then fails, no stale one stays beside the new raster.
  std::error_code ec;
  const std::string worldPath = fs::path(layout_.path).replace_extension(".tfw").string();
  fs::rename(tempPath_, layout_.path, ec);
  if (ec) {
    Abandon(false);
    return OrthoStatus::WriteFailed;
  }
  fs::rename(tempWorldPath_, worldPath, ec);
  if (ec) {
    RemoveQuietly(worldPath);
    Abandon(false);
    return OrthoStatus::WorldFileFailed;
  }
  open_ = false;
  return OrthoStatus::Ok;
}

OrthoStatus OrthoWriter::FinishCog(const RunContext& ctx) {
  const std::string cogPath = tempPath_ + ".cog";
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("COG");
  GDALDatasetUniquePtr src(GDALDataset::Open(tempPath_.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
  if (!driver || !src) {
    Abandon(false);
    return OrthoStatus::CreateFailed;
  }
  char** options = nullptr;
  for (const auto& [key, value] : OrthoCogOptions(layout_.output))
    options = CSLSetNameValue(options, key.c_str(), value.c_str());
  const auto going = [](double, const char*, void* data) -> int {
    return !static_cast<const RunContext*>(data)->AbortCheck();
  };
  CPLErrorReset();
  GDALDatasetUniquePtr cog(driver->CreateCopy(cogPath.c_str(), src.get(), FALSE, options, going,
                                              const_cast<RunContext*>(&ctx)));
  CSLDestroy(options);
  const bool copied = cog != nullptr;
  cog.reset();
  src.reset();
  const bool aborted = ctx.abort && ctx.abort->load();
  if (!copied || aborted || CPLGetLastErrorType() == CE_Failure) {
    RemoveQuietly(cogPath);
    Abandon(aborted);
    return aborted ? OrthoStatus::Aborted : OrthoStatus::OverviewsFailed;
  }
  if (!SetTiffTagsInPlace(cogPath, PositionTags(layout_), TIFFTAG_DOCUMENTNAME).empty()) {
    RemoveQuietly(cogPath);
    Abandon(false);
    return OrthoStatus::TagsFailed;
  }
  std::error_code ec;
  fs::rename(cogPath, tempPath_, ec);
  if (ec) {
    RemoveQuietly(cogPath);
    Abandon(false);
    return OrthoStatus::WriteFailed;
  }
  return OrthoStatus::Ok;
}

void OrthoWriter::Abandon(bool keepPartial) {
  ds_.reset();
  RemoveQuietly(tempWorldPath_);
  if (!keepPartial) RemoveQuietly(tempPath_);
  open_ = false;
}

}  // namespace ortavia
