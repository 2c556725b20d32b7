#include "process/ortho_writer.h"

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <cpl_error.h>
#include <cpl_string.h>
#include <tiffio.h>

#include "app/dem_crs.h"

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

std::vector<std::pair<std::string, std::string>> OrthoCreationOptions(int bands) {
  std::vector<std::pair<std::string, std::string>> opts = {
      {"TILED", "YES"}, {"BLOCKXSIZE", "256"}, {"BLOCKYSIZE", "256"}, {"TFW", "YES"}};
  if (bands > 1) {
    opts.emplace_back("PHOTOMETRIC", "RGB");
    opts.emplace_back("ALPHA", "NO");
  }
  return opts;
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
  char** options = nullptr;
  for (const auto& [key, value] : OrthoCreationOptions(layout.bands))
    options = CSLSetNameValue(options, key.c_str(), value.c_str());
  ds_.reset(driver->Create(tempPath_.c_str(), layout.width, layout.height, layout.bands, layout.type,
                           options));
  CSLDestroy(options);
  if (!ds_ || !SetDatasetCrs(*ds_, layout.output.crsWkt)) {
    ds_.reset();
    RemoveQuietly(tempPath_);
    return OrthoStatus::CreateFailed;
  }
  open_ = true;
  return OrthoStatus::Ok;
}

OrthoStatus OrthoWriter::WriteBlock(int bx, int by, int bw, int bh, const cv::Mat& block,
                                    const cv::Mat& alpha, const RunContext& ctx) {
  if (!open_ || !ds_) return OrthoStatus::WriteFailed;
  const int x = bx * bw;
  const int y = by * bh;
  const int w = std::min(bw, layout_.width - x);
  const int h = std::min(bh, layout_.height - y);
  if (w <= 0 || h <= 0) return OrthoStatus::WriteFailed;
  const int bytes = GDALGetDataTypeSizeBytes(layout_.type);
  for (int b = 1; b <= layout_.bands; ++b) {
    if (ctx.AbortCheck()) return OrthoStatus::Aborted;
    const cv::Mat& src = b <= 3 ? block : alpha;
    const int channel = b <= 3 ? b - 1 : 0;
    if (src.empty() || channel >= src.channels() || src.cols < w || src.rows < h ||
        static_cast<int>(src.elemSize1()) != bytes)
      return OrthoStatus::WriteFailed;
    auto* data = const_cast<uchar*>(src.ptr()) + channel * bytes;
    CPLErr err = ds_->GetRasterBand(b)->RasterIO(
        GF_Write, x, y, w, h, data, w, h, layout_.type, static_cast<GSpacing>(src.elemSize()),
        static_cast<GSpacing>(src.step[0]), nullptr);
    if (err != CE_None) return OrthoStatus::WriteFailed;
  }
  return OrthoStatus::Ok;
}

OrthoStatus OrthoWriter::Finish(const RunContext& ctx) {
  if (!open_ || !ds_) return OrthoStatus::WriteFailed;
  if (!WriteTextFile(tempWorldPath_,
                     WorldFileText(layout_.gsd, layout_.mosaicMinX, layout_.mosaicMaxY, layout_.ox0,
                                   layout_.oy0))) {
    Abandon(false);
    return OrthoStatus::WorldFileFailed;
  }
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
  std::error_code ec;
  const std::string worldPath = fs::path(layout_.path).replace_extension(".tfw").string();
  fs::rename(tempWorldPath_, worldPath, ec);
  if (!ec) fs::rename(tempPath_, layout_.path, ec);
  if (ec) {
    Abandon(false);
    return OrthoStatus::WriteFailed;
  }
  open_ = false;
  return OrthoStatus::Ok;
}

void OrthoWriter::Abandon(bool keepPartial) {
  ds_.reset();
  RemoveQuietly(tempWorldPath_);
  if (!keepPartial) RemoveQuietly(tempPath_);
  open_ = false;
}

}  // namespace ortavia
