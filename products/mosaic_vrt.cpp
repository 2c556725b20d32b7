#include "products/mosaic_vrt.h"

#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <tuple>

#include <gdal_priv.h>

#include "products/mosaic.h"

namespace ortavia {
namespace {
namespace fs = std::filesystem;

std::string Number(double v) {
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, res.ptr);
}

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// What the VRT needs to know of one ortho without opening it again.
struct OrthoFile {
  int row = -1;
  std::string source;  // as written in the VRT
  bool relative = true;
  OrthoPlacement place;
  int imageBands = 0;
  bool alphaBand = false, mask = false;
  GDALDataType type = GDT_Unknown;
  int blockX = 0, blockY = 0;
  std::vector<GDALColorInterp> colours;
};

}  // namespace

std::string PlaceOnMosaicGrid(const double gt[6], int width, int height, const MosaicVrtGrid& grid,
                              OrthoPlacement* place) {
  const double gsd = grid.gsd;
  if (std::abs(gt[1] - gsd) > 1e-9 * gsd || std::abs(gt[5] + gsd) > 1e-9 * gsd || gt[2] != 0.0 ||
      gt[4] != 0.0)
    return "has another pixel size than the run's GSD";
  // The corner lies half a pixel west and north of the centre of pixel (ox0, oy0).
  const double ox = (gt[0] + gsd / 2 - grid.mosaicMinX) / gsd;
  const double oy = (grid.mosaicMaxY + gsd / 2 - gt[3]) / gsd;
  if (std::abs(ox - std::round(ox)) > 1e-3 || std::abs(oy - std::round(oy)) > 1e-3)
    return "is not on the run's mosaic grid";
  *place = {static_cast<int>(std::lround(ox)), static_cast<int>(std::lround(oy)), width, height};
  return {};
}

namespace {

std::string ReadOrtho(const std::string& folder, const MosaicVrtOrtho& o, const MosaicVrtGrid& grid,
                      OrthoFile* f) {
  GDALDatasetUniquePtr ds(GDALDataset::Open(o.path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
  if (!ds || ds->GetRasterCount() < 1) return "cannot be opened";
  double gt[6];
  if (ds->GetGeoTransform(gt) != CE_None) return "has no georeferencing";
  if (std::string why = PlaceOnMosaicGrid(gt, ds->GetRasterXSize(), ds->GetRasterYSize(), grid, &f->place);
      !why.empty())
    return why;
  f->row = o.row;
  const int n = ds->GetRasterCount();
  f->alphaBand = n > 1 && ds->GetRasterBand(n)->GetColorInterpretation() == GCI_AlphaBand;
  f->imageBands = f->alphaBand ? n - 1 : n;
  f->mask = ds->GetRasterBand(1)->GetMaskFlags() == GMF_PER_DATASET;
  f->type = ds->GetRasterBand(1)->GetRasterDataType();
  ds->GetRasterBand(1)->GetBlockSize(&f->blockX, &f->blockY);
  for (int b = 1; b <= n; ++b) f->colours.push_back(ds->GetRasterBand(b)->GetColorInterpretation());
  const fs::path p(o.path);
  std::error_code ec;
  f->relative = fs::equivalent(p.parent_path().empty() ? "." : p.parent_path(), folder, ec);
  f->source = f->relative ? p.filename().string() : fs::absolute(p).string();
  return {};
}

std::string Source(const OrthoFile& f, const std::string& band, GDALDataType dataType,
                   const VrtWindow& w) {
  const char* type = GDALGetDataTypeName(dataType);
  return "      <SimpleSource>\n"
         "        <SourceFilename relativeToVRT=\"" + std::string(f.relative ? "1" : "0") + "\">" +
         Escaped(f.source) + "</SourceFilename>\n"
         "        <SourceBand>" + band + "</SourceBand>\n"
         "        <SourceProperties RasterXSize=\"" + std::to_string(f.place.width) +
         "\" RasterYSize=\"" + std::to_string(f.place.height) + "\" DataType=\"" + type +
         "\" BlockXSize=\"" + std::to_string(f.blockX) + "\" BlockYSize=\"" +
         std::to_string(f.blockY) + "\"/>\n"
         "        <SrcRect xOff=\"" + std::to_string(w.srcX) + "\" yOff=\"" + std::to_string(w.srcY) +
         "\" xSize=\"" + std::to_string(w.w) + "\" ySize=\"" + std::to_string(w.h) + "\"/>\n"
         "        <DstRect xOff=\"" + std::to_string(w.dstX) + "\" yOff=\"" + std::to_string(w.dstY) +
         "\" xSize=\"" + std::to_string(w.w) + "\" ySize=\"" + std::to_string(w.h) + "\"/>\n"
         "      </SimpleSource>\n";
}

// One band of the VRT; band 0 is the mask band (bytes, from the orthos' masks).
std::string Band(const std::vector<OrthoFile>& files, const std::vector<VrtWindow>& windows,
                 int vrtBand, GDALColorInterp colour) {
  const GDALDataType type = vrtBand > 0 ? files.front().type : GDT_Byte;
  const std::string sourceBand = vrtBand > 0 ? std::to_string(vrtBand) : "mask,1";
  std::string xml = "  <VRTRasterBand dataType=\"" + std::string(GDALGetDataTypeName(type)) + "\"";
  if (vrtBand > 0) xml += " band=\"" + std::to_string(vrtBand) + "\"";
  xml += ">\n";
  if (colour != GCI_Undefined)
    xml += "    <ColorInterp>" + std::string(GDALGetColorInterpretationName(colour)) + "</ColorInterp>\n";
  for (const VrtWindow& w : windows) xml += Source(files[w.ortho], sourceBand, type, w);
  return xml + "  </VRTRasterBand>\n";
}

}  // namespace

std::vector<VrtWindow> MosaicVrtWindows(const cv::Mat& voronoiMap, double mosaicScale,
                                        int mosaicWidth, int mosaicHeight,
                                        const std::vector<int>& rows,
                                        const std::vector<OrthoPlacement>& placements) {
  std::vector<VrtWindow> out;
  if (voronoiMap.empty() || voronoiMap.type() != CV_8UC3 || !(mosaicScale > 0.0)) return out;
  std::map<int, int> orthoOfRow;
  for (size_t i = 0; i < rows.size() && i < placements.size(); ++i)
    orthoOfRow[rows[i]] = static_cast<int>(i);
  // Windows of the previous cell row, by (ortho, dstX, width): a window of the same columns
  // right below grows that one instead of starting another.
  std::map<std::tuple<int, int, int>, size_t> above;
  for (int k = 0; k < voronoiMap.rows; ++k) {
    const int y0 = std::max(MosaicCellStart(k, mosaicScale), 0);
    const int y1 = std::min(MosaicCellStart(k + 1, mosaicScale), mosaicHeight);
    std::map<std::tuple<int, int, int>, size_t> here;
    const cv::Vec3b* codes = voronoiMap.ptr<cv::Vec3b>(k);
    for (int j = 0; j < voronoiMap.cols;) {
      int j1 = j;
      while (j1 + 1 < voronoiMap.cols && codes[j1 + 1] == codes[j]) ++j1;
      const auto it = orthoOfRow.find(RowFromColorCode(codes[j]));
      const int x0 = std::max(MosaicCellStart(j, mosaicScale), 0);
      const int x1 = std::min(MosaicCellStart(j1 + 1, mosaicScale), mosaicWidth);
      j = j1 + 1;
      if (it == orthoOfRow.end() || y0 >= y1) continue;
      const OrthoPlacement& p = placements[it->second];
      const int cx0 = std::max(x0, p.ox0), cx1 = std::min(x1, p.ox0 + p.width);
      const int cy0 = std::max(y0, p.oy0), cy1 = std::min(y1, p.oy0 + p.height);
      if (cx0 >= cx1 || cy0 >= cy1) continue;
      const auto key = std::make_tuple(it->second, cx0, cx1 - cx0);
      const auto prev = above.find(key);
      if (prev != above.end() && out[prev->second].dstY + out[prev->second].h == cy0) {
        out[prev->second].h += cy1 - cy0;
        here[key] = prev->second;
        continue;
      }
      out.push_back({it->second, cx0 - p.ox0, cy0 - p.oy0, cx0, cy0, cx1 - cx0, cy1 - cy0});
      here[key] = out.size() - 1;
    }
    above = std::move(here);
  }
  return out;
}

std::vector<VrtWindow> HiddenFillWindows(const HiddenFill& fill, const std::vector<int>& rows,
                                         const std::vector<OrthoPlacement>& placements) {
  std::map<int, int> orthoOfRow;
  for (size_t i = 0; i < rows.size() && i < placements.size(); ++i)
    orthoOfRow[rows[i]] = static_cast<int>(i);
  std::vector<VrtWindow> out;
  std::map<std::tuple<int, int, int>, size_t> above;  // as in MosaicVrtWindows
  for (int y = 0; y < fill.Height(); ++y) {
    std::map<std::tuple<int, int, int>, size_t> here;
    for (const FillRun& run : fill.Row(y)) {
      const auto it = orthoOfRow.find(run.row);
      if (it == orthoOfRow.end()) continue;  // nobody sees it, or its ortho is missing
      const OrthoPlacement& p = placements[it->second];
      const int x0 = std::max(run.x0, p.ox0), x1 = std::min(run.x1, p.ox0 + p.width);
      if (x0 >= x1 || y < p.oy0 || y >= p.oy0 + p.height) continue;
      const auto key = std::make_tuple(it->second, x0, x1 - x0);
      const auto prev = above.find(key);
      if (prev != above.end()) {
        ++out[prev->second].h;
        here[key] = prev->second;
        continue;
      }
      out.push_back({it->second, x0 - p.ox0, y - p.oy0, x0, y, x1 - x0, 1});
      here[key] = out.size() - 1;
    }
    above = std::move(here);
  }
  return out;
}

MosaicVrtResult WriteMosaicVrt(const std::string& folder, const cv::Mat& voronoiMap,
                               const MosaicVrtGrid& grid, const std::vector<MosaicVrtOrtho>& orthos,
                               const HiddenFill* fill) {
  MosaicVrtResult result;
  std::vector<OrthoFile> files;
  for (const MosaicVrtOrtho& o : orthos) {
    std::error_code ec;
    if (!fs::is_regular_file(o.path, ec)) continue;
    OrthoFile f;
    std::string why = ReadOrtho(folder, o, grid, &f);
    if (why.empty() && !files.empty() &&
        (f.imageBands != files.front().imageBands || f.type != files.front().type ||
         f.alphaBand != files.front().alphaBand))
      why = "has other bands than the first ortho";
    if (!why.empty()) {
      result.notes.push_back(o.path + " left out of mosaic.vrt: it " + why);
      continue;
    }
    files.push_back(std::move(f));
  }
  result.orthos = static_cast<int>(files.size());
  if (files.empty()) return result;

  std::vector<int> rows;
  std::vector<OrthoPlacement> placements;
  for (const OrthoFile& f : files) {
    rows.push_back(f.row);
    placements.push_back(f.place);
  }
  std::vector<VrtWindow> windows = MosaicVrtWindows(
      voronoiMap, grid.mosaicScale, grid.mosaicWidth, grid.mosaicHeight, rows, placements);
  if (fill) {
    const std::vector<VrtWindow> filled = HiddenFillWindows(*fill, rows, placements);
    windows.insert(windows.end(), filled.begin(), filled.end());
  }

  const double g = grid.gsd;
  std::string xml = "<VRTDataset rasterXSize=\"" + std::to_string(grid.mosaicWidth) +
                    "\" rasterYSize=\"" + std::to_string(grid.mosaicHeight) + "\">\n";
  if (!grid.crsWkt.empty())
    xml += "  <SRS dataAxisToSRSAxisMapping=\"1,2\">" + Escaped(grid.crsWkt) + "</SRS>\n";
  xml += "  <GeoTransform>" + Number(grid.mosaicMinX - g / 2) + ", " + Number(g) + ", 0, " +
         Number(grid.mosaicMaxY + g / 2) + ", 0, " + Number(-g) + "</GeoTransform>\n";
  const OrthoFile& first = files.front();
  const int n = first.imageBands + (first.alphaBand ? 1 : 0);
  for (int b = 1; b <= n; ++b)
    xml += Band(files, windows, b, first.colours[b - 1]);
  if (first.mask && !first.alphaBand)
    xml += "  <MaskBand>\n" + Band(files, windows, 0, GCI_Undefined) + "  </MaskBand>\n";
  xml += "</VRTDataset>\n";

  const fs::path path = fs::path(folder) / "mosaic.vrt";
  const fs::path part = fs::path(folder) / "mosaic.vrt.part";
  {
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    out << xml;
    out.close();
    if (!out) {
      std::error_code ec;
      fs::remove(part, ec);
      result.error = "cannot write " + part.string();
      return result;
    }
  }
  std::error_code ec;
  fs::rename(part, path, ec);
  if (ec) result.error = "cannot write " + path.string() + ": " + ec.message();
  return result;
}

}  // namespace ortavia
