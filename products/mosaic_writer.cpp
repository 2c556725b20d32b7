#include "products/mosaic_writer.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>

#include <cpl_conv.h>
#include <cpl_string.h>
#include <gdal_priv.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "external/geo/gdal_extract_roi.h"
#include "model/dem_crs.h"
#include "products/blend.h"
#include "products/gain_balance.h"
#include "products/mosaic.h"
#include "products/mosaic_overviews.h"
#include "products/mosaic_source.h"
#include "products/multiband.h"
#include "products/seamline.h"

namespace ortavia {
namespace {
namespace fs = std::filesystem;

// Seam chunks are fixed, so that the seams do not depend on the memory setting.
constexpr int kChunk = 512;
constexpr int kCoarseTile = 512;
constexpr double kMaxCoarseSamples = 2e6;
// Stored labels are label + 3: an unwritten (sparse) tile reads 0, "take the base label".
constexpr int kBaseLabel = -3;

// Windows of uncompressed rasters read straight into the caller's buffer, past GDAL's block
// cache: the orthos and the temporary raster are read window by window, each block about once.
// Rasters being written (the label raster) are compressed, so that a read never misses a block
// still in the cache. A setting of the user's is left as it is.
class DirectReads {
 public:
  DirectReads() : set_(CPLGetConfigOption(kKey, nullptr) == nullptr) {
    if (set_) CPLSetThreadLocalConfigOption(kKey, "YES");
  }
  ~DirectReads() {
    if (set_) CPLSetThreadLocalConfigOption(kKey, nullptr);
  }
  DirectReads(const DirectReads&) = delete;
  DirectReads& operator=(const DirectReads&) = delete;

 private:
  static constexpr const char* kKey = "GTIFF_DIRECT_IO";
  bool set_;
};

void RemoveQuietly(const std::string& path) {
  std::error_code ec;
  fs::remove(path, ec);
}

struct TypeInfo {
  int depth;
  double lo, hi, opaque;
};

TypeInfo InfoOf(GDALDataType t) {
  const double inf = std::numeric_limits<double>::infinity();
  switch (t) {
    case GDT_Byte: return {CV_8U, 0, 255, 255};
    case GDT_UInt16: return {CV_16U, 0, 65535, 65535};
    case GDT_Int16: return {CV_16S, -32768, 32767, 32767};
    case GDT_UInt32: return {CV_64F, 0, 4294967295.0, 255};
    case GDT_Int32: return {CV_64F, -2147483648.0, 2147483647.0, 255};
    case GDT_Float32: return {CV_32F, -inf, inf, 255};
    default: return {CV_64F, -inf, inf, 255};
  }
}

cv::Rect Grow(const cv::Rect& r, int by, const cv::Rect& limit) {
  return cv::Rect(r.x - by, r.y - by, r.width + 2 * by, r.height + 2 * by) & limit;
}

// What every pass needs.
struct Assembly {
  std::vector<MosaicSource> sources;
  cv::Mat cellOwner;  // CV_32S on the Voronoi grid: index into sources, -1 none
  double scale = 40.0;
  cv::Rect all;
  int bands = 0;
  GDALDataType type = GDT_Unknown;
  std::vector<GainField> gains;
  double level = 1.0;
  int depth = 1;
  const HiddenFill* fill = nullptr;  // owners of the pixels their Voronoi owner cannot see
  std::map<int, int> indexOfRow;     // image row -> index into sources
};

// Pixels their Voronoi owner cannot see belong to the image the plan names, or to none.
void FillOwners(const Assembly& a, const cv::Rect& rect, int step, cv::Mat& out) {
  for (int r = 0; r < rect.height; ++r) {
    const std::vector<FillRun>& runs = a.fill->Row((rect.y + r) * step);
    if (runs.empty()) continue;
    int* o = out.ptr<int>(r);
    for (const FillRun& run : runs) {
      const auto it = a.indexOfRow.find(run.row);
      const int owner = it == a.indexOfRow.end() ? -1 : it->second;
      const int c0 = std::max(0, (run.x0 + step - 1) / step - rect.x);
      const int c1 = std::min(rect.width, (run.x1 + step - 1) / step - rect.x);
      for (int c = c0; c < c1; ++c) o[c] = owner;
    }
  }
}

// Owners of the pixels of rect on a grid `step` mosaic pixels wide (pixel (c, r) stands for
// mosaic pixel (c * step, r * step)).
cv::Mat PixelOwners(const Assembly& a, const cv::Rect& rect, int step = 1) {
  cv::Mat out(rect.size(), CV_32S, cv::Scalar(-1));
  std::vector<int> col(rect.width);
  for (int c = 0; c < rect.width; ++c) {
    const int cell = static_cast<int>(std::floor((rect.x + c) * step / a.scale));
    col[c] = cell < a.cellOwner.cols ? cell : -1;
  }
  for (int r = 0; r < rect.height; ++r) {
    const int cell = static_cast<int>(std::floor((rect.y + r) * step / a.scale));
    if (cell >= a.cellOwner.rows) continue;
    const int* owners = a.cellOwner.ptr<int>(cell);
    int* o = out.ptr<int>(r);
    for (int c = 0; c < rect.width; ++c)
      if (col[c] >= 0) o[c] = owners[col[c]];
  }
  if (a.fill) FillOwners(a, rect, step, out);
  return out;
}

// The labels (>= 0) of a window, sorted, with those of into; a window holds a few.
std::vector<int> Distinct(const cv::Mat& labels, std::vector<int> into = {}) {
  int last = std::numeric_limits<int>::min();
  for (int r = 0; r < labels.rows; ++r) {
    const int* p = labels.ptr<int>(r);
    for (int c = 0; c < labels.cols; ++c)
      if (p[c] >= 0 && p[c] != last) {
        last = p[c];
        if (std::find(into.begin(), into.end(), last) == into.end()) into.push_back(last);
      }
  }
  std::sort(into.begin(), into.end());
  return into;
}

std::string SourceError(const Assembly& a, int i) {
  return a.sources[i].path + " cannot be read";
}

struct Progress {
  const RunContext& ctx;
  int done = 0;
  bool Stopped() const { return ctx.abort && ctx.abort->load(); }
  bool Step() {
    ctx.SetPos(++done);
    return !ctx.AbortCheck();
  }
};

// Pass 1: exposure statistics on a coarse grid, then the gain fields.
std::string Balance(Assembly& a, MosaicReader& reader, const MosaicOptions& o, Progress& p,
                    int step) {
  std::vector<GainField> layouts;
  for (const MosaicSource& s : a.sources)
    layouts.push_back(BlockLayout(s.place.ox0, s.place.oy0, s.place.width, s.place.height));
  BalanceAccumulator acc(layouts, a.bands);
  const int cw = (a.all.width + step - 1) / step, ch = (a.all.height + step - 1) / step;
  for (int ty = 0; ty < ch; ty += kCoarseTile)
    for (int tx = 0; tx < cw; tx += kCoarseTile) {
      const cv::Point origin(tx * step, ty * step);
      const cv::Size size(std::min(kCoarseTile, cw - tx), std::min(kCoarseTile, ch - ty));
      const cv::Rect region(origin, cv::Size(size.width * step, size.height * step));
      std::vector<int> ids;
      std::vector<cv::Mat> values, valid;
      for (size_t i = 0; i < a.sources.size(); ++i) {
        if ((a.sources[i].Rect() & region).empty()) continue;
        cv::Mat v, m;
        if (!reader.ReadCoarse(static_cast<int>(i), origin, size, step, v, m))
          return SourceError(a, static_cast<int>(i));
        ids.push_back(static_cast<int>(i));
        values.push_back(v);
        valid.push_back(m);
      }
      acc.Add(ids, values, valid, origin + cv::Point(step / 2, step / 2), step);
      if (!p.Step()) return {};
    }
  a.gains = acc.Solve(o.balance);
  a.level = std::max(acc.MeanLevel(), 1e-6);
  a.depth = std::max(acc.MaxDepth(), 1);
  return {};
}

GDALDatasetUniquePtr CreateTiff(const std::string& path, const cv::Rect& all, int bands,
                                GDALDataType type, std::vector<std::pair<std::string, std::string>> opts) {
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
  if (!driver) return nullptr;
  char** options = nullptr;
  opts.insert(opts.begin(), {{"TILED", "YES"}, {"SPARSE_OK", "TRUE"}, {"BIGTIFF", "IF_SAFER"}});
  for (const auto& [k, v] : opts) options = CSLSetNameValue(options, k.c_str(), v.c_str());
  GDALDatasetUniquePtr ds(driver->Create(path.c_str(), all.width, all.height, bands, type, options));
  CSLDestroy(options);
  return ds;
}

// The field of a gain on the half grid (pixel u standing for mosaic pixels 2u and 2u + 1).
GainField HalfField(GainField f) {
  const auto half = [](int v) { return v >= 0 ? v / 2 : -((1 - v) / 2); };
  f.ox0 = half(f.ox0);
  f.oy0 = half(f.oy0);
  f.blockPx /= 2.0;
  return f;
}

// Balanced half-resolution windows (the orthos' first overviews where they have them) of the
// orthos ids over rect of the half grid; empty, or which cannot be read.
std::string ReadHalfBalanced(MosaicReader& reader, const Assembly& a, const std::vector<int>& ids,
                             const cv::Rect& rect, std::vector<cv::Mat>& values,
                             std::vector<cv::Mat>& valid) {
  values.assign(ids.size(), cv::Mat());
  valid.assign(ids.size(), cv::Mat());
  for (size_t i = 0; i < ids.size(); ++i) {
    if (!reader.ReadCoarse(ids[i], rect.tl() * 2, rect.size(), 2, values[i], valid[i]))
      return SourceError(a, ids[i]);
    const GainField& gain = a.gains[ids[i]];
    if (!IsUnitGain(gain, a.bands)) ApplyGain(HalfField(gain), rect, values[i]);
  }
  return {};
}

// The seams of one chunk, searched at half resolution on the orthos' overviews: a quarter of the
// pixels to read and half the path lengths, while the feathering hides the pixel the seam may be
// off. chunk and the labels are on the half grid; stored receives them as kept in the label
// raster (label + 3, 0 for the base label where no ortho was seen), or nothing where no seam is
// within reach. Where the ortho chosen lacks a mosaic pixel, the assembly takes the base label
// there: a seam never leaves the overlap.
std::string HalfSeamChunk(const Assembly& a, MosaicReader& reader, const cv::Rect& half,
                          SeamChunk& in, cv::Mat& labels, cv::Mat& stored) {
  in.ownerRect = Grow(in.chunk, in.band + 1, half);
  in.workRect = Grow(in.chunk, 1, half);
  in.owner = PixelOwners(a, in.ownerRect, 2);
  in.ids = Distinct(in.owner);
  if (in.ids.size() < 2) {
    // No seam within reach: the owners stand for the labels next door.
    labels = PixelOwners(a, in.chunk, 2);
    stored.release();
    return {};
  }
  if (std::string e = ReadHalfBalanced(reader, a, in.ids, in.workRect, in.values, in.valid);
      !e.empty())
    return e;
  in.level = a.level;
  labels = SeamLabels(in);
  stored.create(labels.size(), CV_32S);
  for (int r = 0; r < labels.rows; ++r) {
    const int* l = labels.ptr<int>(r);
    int* out = stored.ptr<int>(r);
    for (int c = 0; c < labels.cols; ++c) out[c] = (l[c] >= 0 ? l[c] : kBaseLabel) - kBaseLabel;
  }
  return {};
}

// Pass 2: the seams, chunk by chunk, into the label raster.
std::string Seams(const Assembly& a, MosaicReader& reader, const MosaicOptions& o, Progress& p,
                  GDALDataset& labelsDs) {
  const cv::Rect half(0, 0, (a.all.width + 1) / 2, (a.all.height + 1) / 2);
  const int side = kChunk / 2;
  std::vector<int> above(half.width, -2);
  for (int y = 0; y < half.height; y += side) {
    std::vector<int> left(side, -2);
    for (int x = 0; x < half.width; x += side) {
      SeamChunk in;
      in.chunk = cv::Rect(x, y, side, side) & half;
      in.band = std::max(1, o.seamBandPx / 2);
      in.above.assign(above.begin() + x, above.begin() + x + in.chunk.width);
      in.left.assign(left.begin(), left.begin() + in.chunk.height);
      cv::Mat labels, stored;
      if (std::string e = HalfSeamChunk(a, reader, half, in, labels, stored); !e.empty()) return e;
      if (!stored.empty() &&
          labelsDs.GetRasterBand(1)->RasterIO(GF_Write, x, y, stored.cols, stored.rows,
                                              stored.ptr(), stored.cols, stored.rows, GDT_Int32, 0,
                                              static_cast<GSpacing>(stored.step[0]),
                                              nullptr) != CE_None)
        return "the seams cannot be stored";
      for (int c = 0; c < in.chunk.width; ++c)
        above[x + c] = labels.at<int>(in.chunk.height - 1, c);
      for (int r = 0; r < in.chunk.height; ++r) left[r] = labels.at<int>(r, in.chunk.width - 1);
      if (!p.Step()) return {};
    }
  }
  return {};
}

// One assembled tile, converted to the sample type, with its alpha.
struct TileOut {
  cv::Mat image;  // depth of the type, bands channels and alpha
};

// One ortho's part of a tile: its samples as read and mask over rect (in tile coordinates), and
// its gains; balanced values are made where they are needed.
struct Layer {
  int id = -1;
  cv::Rect rect;
  cv::Point origin;  // of the tile's window on the mosaic
  cv::Mat samples, valid;
  std::shared_ptr<GainRows> gains;
  bool Has(cv::Point p) const { return rect.contains(p) && valid.at<uchar>(p - rect.tl()) != 0; }
  // Balanced values of pixels (x .. x + n - 1, y), tile coordinates inside rect.
  void Balance(int y, int x, int n, float* out) const {
    const uchar* s = samples.ptr(y - rect.y) + (x - rect.x) * samples.elemSize();
    gains->Apply(y + origin.y, x + origin.x, n, s, samples.depth(), out);
  }
  // Balanced values over rect, CV_32FC(bands).
  cv::Mat Values() const {
    cv::Mat v(rect.size(), CV_32FC(samples.channels()));
    for (int r = 0; r < rect.height; ++r) Balance(rect.y + r, rect.x, rect.width, v.ptr<float>(r));
    return v;
  }
};

std::string ReadLayer(MosaicReader& reader, const Assembly& a, const cv::Rect& grown, Layer& l) {
  l.samples.release();
  l.valid.release();
  if (l.rect.empty()) return {};
  l.origin = grown.tl();
  if (!reader.Read(l.id, l.rect + grown.tl(), l.samples, l.valid)) return SourceError(a, l.id);
  l.gains = std::make_shared<GainRows>(a.gains[l.id], l.rect + grown.tl(), a.bands);
  return {};
}

// The orthos of a window: every label and owner, sorted, each with where it is needed (the pixels
// labelled with it, or owned by it where the label is left to the base, grown by radius; empty
// where it only owns pixels labelled otherwise). One pass over runs of alike pixels.
struct NeededOrtho {
  int id;
  cv::Point lo{INT_MAX, INT_MAX}, hi{-1, -1};
};

std::vector<NeededOrtho> NeededOrthos(const cv::Mat& labels, const cv::Mat& owner) {
  std::vector<NeededOrtho> found;
  size_t last = 0;
  const auto entry = [&](int id) -> NeededOrtho& {
    if (last < found.size() && found[last].id == id) return found[last];
    for (last = 0; last < found.size() && found[last].id != id; ++last) {
    }
    if (last == found.size()) found.push_back({id});
    return found[last];
  };
  for (int r = 0; r < labels.rows; ++r) {
    const int* l = labels.ptr<int>(r);
    const int* o = owner.ptr<int>(r);
    for (int c = 0; c < labels.cols;) {
      int end = c + 1;
      while (end < labels.cols && l[end] == l[c] && o[end] == o[c]) ++end;
      if (o[c] >= 0) entry(o[c]);
      const int id = l[c] == kBaseLabel ? o[c] : l[c];
      if (id >= 0) {
        NeededOrtho& n = entry(id);
        n.lo.x = std::min(n.lo.x, c), n.lo.y = std::min(n.lo.y, r);
        n.hi.x = std::max(n.hi.x, end - 1), n.hi.y = std::max(n.hi.y, r);
      }
      c = end;
    }
  }
  std::sort(found.begin(), found.end(),
            [](const NeededOrtho& x, const NeededOrtho& y) { return x.id < y.id; });
  return found;
}

// Labels left to the base, or naming an ortho that lacks the pixel: the owner where it has the
// pixel, else the first ortho that has it. Orthos are read further where the owner lacks pixels.
std::string ResolveBase(MosaicReader& reader, const Assembly& a, const cv::Rect& grown,
                        const cv::Mat& owner, cv::Mat& labels, std::vector<Layer>& layers) {
  const auto layerOf = [&](int id) {
    for (Layer& l : layers)
      if (l.id == id) return &l;
    return static_cast<Layer*>(nullptr);
  };
  // The layer of the last id asked for: labels come in long runs.
  int lastId = INT_MIN;
  const Layer* last = nullptr;
  const auto cachedLayerOf = [&](int id) {
    if (id != lastId) lastId = id, last = layerOf(id);
    return last;
  };
  cv::Rect lacking;
  for (int r = 0; r < labels.rows; ++r) {
    int* l = labels.ptr<int>(r);
    const int* o = owner.ptr<int>(r);
    for (int c = 0; c < labels.cols;) {
      // A run of one label, or of base labels of one owner.
      const bool base = l[c] == kBaseLabel;
      const int id = base ? o[c] : l[c];
      int end = c + 1;
      while (end < labels.cols && (l[end] == kBaseLabel) == base && (base ? o[end] : l[end]) == id)
        ++end;
      const Layer* layer = id >= 0 ? cachedLayerOf(id) : nullptr;
      const bool inside = layer && layer->rect.contains({c, r}) && layer->rect.contains({end - 1, r});
      const uchar* valid = inside ? layer->valid.ptr<uchar>(r - layer->rect.y) + (c - layer->rect.x) : nullptr;
      for (int i = c; i < end; ++i) {
        if (inside ? valid[i - c] != 0 : layer && layer->Has({i, r})) {
          l[i] = id;
          continue;
        }
        if (!base) {
          // The chosen ortho lacks the pixel: the owner's, where it has it.
          const Layer* own = o[i] >= 0 ? layerOf(o[i]) : nullptr;
          if (own && own->Has({i, r})) {
            l[i] = o[i];
            continue;
          }
        }
        l[i] = kBaseLabel;
        lacking |= cv::Rect(i, r, 1, 1);
      }
      c = end;
    }
  }
  if (lacking.empty()) return {};
  for (Layer& l : layers)
    if ((l.rect & lacking) != lacking) {
      l.rect |= lacking;
      if (std::string e = ReadLayer(reader, a, grown, l); !e.empty()) return e;
    }
  for (int r = lacking.y; r < lacking.br().y; ++r) {
    int* l = labels.ptr<int>(r);
    for (int c = lacking.x; c < lacking.br().x; ++c) {
      if (l[c] != kBaseLabel) continue;
      l[c] = -1;
      for (const Layer& layer : layers)
        if (layer.Has({c, r})) {
          l[c] = layer.id;
          break;
        }
    }
  }
  return {};
}

// The pixels within reach of a seam are found, and feathered, in blocks of kFeatherBlock pixels.
constexpr int kFeatherBlock = 64;

// Whether all labels of a window are one.
bool OneLabel(const cv::Mat& labels) {
  const int first = labels.at<int>(0, 0);
  for (int r = 0; r < labels.rows; ++r) {
    const int* l = labels.ptr<int>(r);
    for (int c = 0; c < labels.cols; ++c)
      if (l[c] != first) return false;
  }
  return true;
}

// Pixels whose (2 radius + 1)-square (within labels) holds one label only: CV_8U over inner.
// Most blocks lie away from every seam and are settled by a look at their window alone.
cv::Mat UniformPixels(const cv::Mat& labels, const cv::Rect& inner, const std::vector<int>& ids,
                      int radius) {
  cv::Mat uniform(inner.size(), CV_8U, cv::Scalar(255));
  if (radius <= 0) return uniform;
  const cv::Rect all({}, labels.size());
  const cv::Mat square = cv::getStructuringElement(cv::MORPH_RECT, {2 * radius + 1, 2 * radius + 1});
  for (int by = 0; by < inner.height; by += kFeatherBlock)
    for (int bx = 0; bx < inner.width; bx += kFeatherBlock) {
      const cv::Rect block = cv::Rect(bx, by, kFeatherBlock, kFeatherBlock) & cv::Rect({}, inner.size());
      const cv::Rect window = Grow(block + inner.tl(), radius, all);
      if (OneLabel(labels(window))) continue;
      cv::Mat index(window.size(), CV_16U);
      for (int r = 0; r < window.height; ++r) {
        const int* l = labels.ptr<int>(window.y + r) + window.x;
        ushort* x = index.ptr<ushort>(r);
        for (int c = 0; c < window.width; ++c)
          x[c] = l[c] < 0 ? 65535
                          : static_cast<ushort>(std::lower_bound(ids.begin(), ids.end(), l[c]) - ids.begin());
      }
      cv::Mat lo, hi;
      cv::erode(index, lo, square);
      cv::dilate(index, hi, square);
      const cv::Rect at = block + inner.tl() - window.tl();
      cv::Mat same = lo(at) == hi(at);
      same.copyTo(uniform(block));
    }
  return uniform;
}

// The output of a tile: samples of the mosaic's type, the pixels covered, and the count of
// samples balanced beyond the type's range.
struct TileSink {
  TypeInfo info;
  cv::Mat image;  // depth info.depth, bands channels and alpha
  long long covered = 0;  // pixels
  long long clipped = 0;

  int Bands() const { return image.channels() - 1; }

  // Values of n pixels from column c of row r, those where valid is not 0.
  void Store(int r, int c, int n, const float* v, const uchar* valid) {
    switch (info.depth) {
      case CV_8U: StoreAs<uchar>(r, c, n, v, valid); break;
      case CV_16U: StoreAs<ushort>(r, c, n, v, valid); break;
      case CV_16S: StoreAs<short>(r, c, n, v, valid); break;
      case CV_32F: StoreAs<float>(r, c, n, v, valid); break;
      default: StoreAs<double>(r, c, n, v, valid); break;
    }
  }

 private:
  template <typename T>
  void StoreAs(int r, int c, int n, const float* v, const uchar* valid) {
    if (std::isfinite(info.hi))
      StoreRun<T, true>(r, c, n, v, valid);
    else
      StoreRun<T, false>(r, c, n, v, valid);
  }

  template <typename T, bool kBounded>
  void StoreRun(int r, int c, int n, const float* v, const uchar* valid) {
    const int bands = image.channels() - 1;
    T* out = image.ptr<T>(r) + c * (bands + 1);
    const float hi = static_cast<float>(info.hi + 0.5), lo = static_cast<float>(info.lo - 0.5);
    const T opaque = static_cast<T>(info.opaque);
    long long beyond = 0, reached = 0;
    for (int i = 0; i < n; ++i, out += bands + 1, v += bands) {
      if (!valid[i]) continue;
      ++reached;
      for (int b = 0; b < bands; ++b) {
        if constexpr (kBounded) beyond += (v[b] > hi) + (v[b] < lo);
        out[b] = cv::saturate_cast<T>(v[b]);
      }
      out[bands] = opaque;
    }
    clipped += beyond;
    covered += reached;
  }
};

const Layer* LayerOf(const std::vector<Layer>& layers, int id) {
  for (const Layer& k : layers)
    if (k.id == id) return &k;
  return nullptr;
}

// Calls run(layer, r, c, n) for each run of pixels of one label in a row of inner (tile
// coordinates), where uniform is not 0.
template <typename Run>
void ForUniformRuns(const cv::Mat& labels, const cv::Rect& inner, const cv::Mat& uniform,
                    const std::vector<Layer>& layers, Run run) {
  for (int r = 0; r < inner.height; ++r) {
    const int* l = labels.ptr<int>(inner.y + r) + inner.x;
    const uchar* u = uniform.ptr<uchar>(r);
    const Layer* layer = nullptr;
    for (int c = 0; c < inner.width;) {
      if (!u[c] || l[c] < 0) {
        ++c;
        continue;
      }
      int end = c + 1;
      while (end < inner.width && u[end] && l[end] == l[c]) ++end;
      if (!layer || layer->id != l[c]) layer = LayerOf(layers, l[c]);
      if (layer) run(*layer, inner.y + r, inner.x + c, end - c);
      c = end;
    }
  }
}

// The pixels of one label: its ortho's balanced value.
void CopyUniform(const cv::Mat& labels, const cv::Rect& inner, const cv::Mat& uniform,
                 const std::vector<Layer>& layers, TileSink& sink) {
  std::vector<float> values;
  ForUniformRuns(labels, inner, uniform, layers, [&](const Layer& layer, int y, int x, int n) {
    values.resize(static_cast<size_t>(n) * sink.Bands());
    layer.Balance(y, x, n, values.data());
    const uchar* valid = layer.valid.ptr<uchar>(y - layer.rect.y) + (x - layer.rect.x);
    sink.Store(y - inner.y, x - inner.x, n, values.data(), valid);
  });
}

// The same as floats over the window (multi-band's base image).
void CopyUniformValues(const cv::Mat& labels, const std::vector<Layer>& layers, int bands,
                       cv::Mat& base, cv::Mat& reached) {
  const cv::Rect all({}, labels.size());
  const cv::Mat everywhere(labels.size(), CV_8U, cv::Scalar(255));
  ForUniformRuns(labels, all, everywhere, layers, [&](const Layer& layer, int y, int x, int n) {
    float* out = base.ptr<float>(y) + x * bands;
    layer.Balance(y, x, n, out);
    const uchar* valid = layer.valid.ptr<uchar>(y - layer.rect.y) + (x - layer.rect.x);
    uchar* cov = reached.ptr<uchar>(y) + x;
    for (int i = 0; i < n; ++i)
      if (valid[i])
        cov[i] = 255;
      else
        std::fill(out + i * bands, out + (i + 1) * bands, 0.0f);
  });
}

void FeatherNearSeams(const cv::Mat& labels, const cv::Rect& inner, const cv::Mat& uniform,
                      const std::vector<Layer>& layers, int radius, TileSink& sink) {
  const int bands = sink.Bands();
  const cv::Rect all(0, 0, labels.cols, labels.rows);
  for (int by = 0; by < inner.height; by += kFeatherBlock)
    for (int bx = 0; bx < inner.width; bx += kFeatherBlock) {
      const cv::Rect block = cv::Rect(bx, by, kFeatherBlock, kFeatherBlock) & cv::Rect({}, inner.size());
      const cv::Mat apart = uniform(block) == 0;
      if (cv::countNonZero(apart) == 0) continue;
      const cv::Rect at = block + inner.tl();  // in tile coordinates
      const cv::Rect window = Grow(at, radius, all);
      const cv::Mat near = labels(window);
      const std::vector<int> ids = Distinct(near);
      std::vector<cv::Mat> valid, values;
      for (int id : ids) {
        const Layer* layer = LayerOf(layers, id);
        cv::Mat ok = cv::Mat::zeros(at.size(), CV_8U), v = cv::Mat::zeros(at.size(), CV_32FC(bands));
        const cv::Rect part = layer ? at & layer->rect : cv::Rect();
        if (!part.empty()) {
          layer->valid(part - layer->rect.tl()).copyTo(ok(part - at.tl()));
          for (int r = 0; r < part.height; ++r)
            layer->Balance(part.y + r, part.x, part.width,
                           v.ptr<float>(part.y + r - at.y) + (part.x - at.x) * bands);
        }
        valid.push_back(ok);
        values.push_back(v);
      }
      cv::Mat blended, reached;
      Composite(FeatherWeights(near, at - window.tl(), ids, valid, radius), values, blended, reached);
      reached &= apart;
      for (int r = 0; r < block.height; ++r)
        sink.Store(block.y + r, block.x, block.width, blended.ptr<float>(r), reached.ptr<uchar>(r));
    }
}

// The labels of a window (seams, then the base) and the orthos read where they are needed.
struct TileLabels {
  cv::Mat owner, labels;  // CV_32S over the window
  std::vector<int> ids;
  std::vector<Layer> layers;
};

std::string ReadTileLabels(const Assembly& a, MosaicReader& reader, GDALDataset* labelsDs,
                           const cv::Rect& window, int reach, TileLabels& t) {
  t.owner = PixelOwners(a, window);
  t.labels.create(window.size(), CV_32S);
  t.labels.setTo(kBaseLabel);
  if (labelsDs) {
    // The labels are kept on the half grid: mosaic pixel (x, y) has label (x / 2, y / 2).
    const cv::Rect half(window.x / 2, window.y / 2, (window.br().x - 1) / 2 - window.x / 2 + 1,
                        (window.br().y - 1) / 2 - window.y / 2 + 1);
    cv::Mat stored(half.size(), CV_32S);
    if (labelsDs->GetRasterBand(1)->RasterIO(GF_Read, half.x, half.y, half.width, half.height,
                                             stored.ptr(), half.width, half.height, GDT_Int32, 0,
                                             static_cast<GSpacing>(stored.step[0]),
                                             nullptr) != CE_None)
      return "the seams cannot be read back";
    for (int r = 0; r < window.height; ++r) {
      const int* h = stored.ptr<int>((window.y + r) / 2 - half.y);
      int* l = t.labels.ptr<int>(r);
      for (int c = 0; c < window.width; ++c) l[c] = h[(window.x + c) / 2 - half.x] + kBaseLabel;
    }
  }
  const std::vector<NeededOrtho> needed = NeededOrthos(t.labels, t.owner);
  if (needed.empty()) return {};
  const cv::Rect all({}, window.size());
  t.layers.resize(needed.size());
  for (size_t k = 0; k < needed.size(); ++k) {
    const NeededOrtho& n = needed[k];
    t.ids.push_back(n.id);
    t.layers[k].id = n.id;
    if (n.hi.x >= 0) t.layers[k].rect = Grow(cv::Rect(n.lo, n.hi + cv::Point(1, 1)), reach, all);
    if (std::string e = ReadLayer(reader, a, window, t.layers[k]); !e.empty()) return e;
  }
  return ResolveBase(reader, a, window, t.owner, t.labels, t.layers);
}

// Feathered or not: the window is the tile grown by the feather radius. sink.image stays empty
// where no ortho reaches the tile.
std::string FeatherTile(const Assembly& a, MosaicReader& reader, int radius, GDALDataset* labelsDs,
                        const cv::Rect& tile, TileSink& sink) {
  const cv::Rect grown = Grow(tile, radius, a.all);
  const cv::Rect inner = tile - grown.tl();
  TileLabels t;
  if (std::string e = ReadTileLabels(a, reader, labelsDs, grown, radius, t); !e.empty()) return e;
  if (t.ids.empty()) return {};
  sink.image = cv::Mat::zeros(inner.size(), CV_MAKETYPE(sink.info.depth, a.bands + 1));
  const cv::Mat uniform = UniformPixels(t.labels, inner, t.ids, radius);
  CopyUniform(t.labels, inner, uniform, t.layers, sink);
  if (radius > 0) FeatherNearSeams(t.labels, inner, uniform, t.layers, radius, sink);
  return {};
}

// Multi-band: the window reaches kMultibandMargin beyond the tile and starts on a multiple of
// the coarsest level's pixel, so that every tile sees the same pyramid grid.
std::string MultibandTile(const Assembly& a, MosaicReader& reader, GDALDataset* labelsDs,
                          const cv::Rect& tile, cv::Mat& mixed, cv::Mat& covered) {
  constexpr int kAlign = 1 << kMultibandLevels;
  const cv::Rect grown = Grow(tile, kMultibandMargin, a.all);
  const cv::Point origin(grown.x / kAlign * kAlign, grown.y / kAlign * kAlign);
  const cv::Rect window(origin, grown.br());
  const cv::Rect inner = tile - window.tl();
  TileLabels t;
  if (std::string e = ReadTileLabels(a, reader, labelsDs, window, std::max(window.width, window.height), t);
      !e.empty())
    return e;
  if (t.ids.empty()) return {};
  const cv::Rect all({}, window.size());
  cv::Mat base = cv::Mat::zeros(window.size(), CV_32FC(a.bands));
  cv::Mat reached = cv::Mat::zeros(window.size(), CV_8U);
  CopyUniformValues(t.labels, t.layers, a.bands, base, reached);
  std::vector<cv::Mat> differences, masks;
  for (const Layer& l : t.layers) {
    cv::Mat mask = t.labels == l.id;
    if (cv::countNonZero(mask) == 0 || l.rect.empty()) continue;
    cv::Mat e = cv::Mat::zeros(window.size(), base.type());
    cv::Mat own = e(l.rect);
    cv::subtract(l.Values(), base(l.rect), own, l.valid);
    differences.push_back(e);
    masks.push_back(mask);
  }
  const cv::Mat blended = differences.size() < 2 ? base : MultibandBlend(base, differences, masks);
  mixed = cv::Mat::zeros(inner.size(), base.type());
  blended(inner).copyTo(mixed, reached(inner));
  covered = reached(inner).clone();
  return {};
}

std::string AssembleTile(const Assembly& a, MosaicReader& reader, const MosaicOptions& o,
                         GDALDataset* labelsDs, const cv::Rect& tile, TileOut& out,
                         MosaicWriteResult& result) {
  out.image.release();
  TileSink sink;
  sink.info = InfoOf(a.type);
  if (o.blend == MosaicBlend::Multiband) {
    cv::Mat mixed, covered;
    if (std::string e = MultibandTile(a, reader, labelsDs, tile, mixed, covered); !e.empty())
      return e;
    if (mixed.empty()) return {};
    sink.image = cv::Mat::zeros(mixed.size(), CV_MAKETYPE(sink.info.depth, a.bands + 1));
    for (int r = 0; r < mixed.rows; ++r)
      sink.Store(r, 0, mixed.cols, mixed.ptr<float>(r), covered.ptr<uchar>(r));
  } else if (std::string e = FeatherTile(a, reader, o.blend == MosaicBlend::None ? 0 : o.featherPx,
                                         labelsDs, tile, sink);
             !e.empty()) {
    return e;
  }
  if (sink.image.empty()) return {};
  result.samples += sink.covered * a.bands;
  result.clipped += sink.clipped;
  out.image = sink.image;
  return {};
}

// Bands and alpha at once, interleaved as in the file.
std::string WriteTile(GDALDataset& ds, const cv::Rect& tile, const TileOut& t) {
  const GDALDataType bufType = geo::GdalTypeOfDepth(t.image.depth());
  const CPLErr err = ds.RasterIO(GF_Write, tile.x, tile.y, tile.width, tile.height,
                                 const_cast<uchar*>(t.image.ptr()), tile.width, tile.height,
                                 bufType, t.image.channels(), nullptr,
                                 static_cast<GSpacing>(t.image.elemSize()),
                                 static_cast<GSpacing>(t.image.step[0]),
                                 static_cast<GSpacing>(t.image.elemSize1()), nullptr);
  return err == CE_None ? "" : "the mosaic cannot be written";
}

std::string Assemble(const Assembly& a, MosaicReader& reader, const MosaicOptions& o, Progress& p,
                     GDALDataset* labelsDs, GDALDataset& out, int side, MosaicWriteResult& result) {
  MosaicOverviews overviews(out, a.bands, InfoOf(a.type).depth);
  for (int y = 0; y < a.all.height; y += side)
    for (int x = 0; x < a.all.width; x += side) {
      const cv::Rect tile = cv::Rect(x, y, side, side) & a.all;
      TileOut t;
      if (std::string e = AssembleTile(a, reader, o, labelsDs, tile, t, result); !e.empty())
        return e;
      if (!t.image.empty()) {
        if (std::string e = WriteTile(out, tile, t); !e.empty()) return e;
        if (std::string e = overviews.AddTile(tile, t.image); !e.empty()) return e;
      }
      if (!p.Step()) return {};
    }
  return overviews.Finish();
}

void SetBandRoles(GDALDataset& ds, int bands) {
  for (int b = 1; b <= bands && bands >= 3 && b <= 3; ++b)
    ds.GetRasterBand(b)->SetColorInterpretation(static_cast<GDALColorInterp>(GCI_RedBand + b - 1));
  if (bands == 1) ds.GetRasterBand(1)->SetColorInterpretation(GCI_GrayIndex);
  ds.GetRasterBand(bands + 1)->SetColorInterpretation(GCI_AlphaBand);
}

// Blank overviews in the temporary raster, filled from the tiles as they are assembled; the COG
// driver takes them as they are instead of making its own.
std::string CreateBlankOverviews(GDALDataset& ds) {
  std::vector<int> levels = MosaicOverviewFactors(ds.GetRasterXSize(), ds.GetRasterYSize());
  if (levels.empty()) return {};
  CPLErrorReset();
  if (ds.BuildOverviews("NONE", static_cast<int>(levels.size()), levels.data(), 0, nullptr,
                        nullptr, nullptr) != CE_None)
    return "the mosaic's overviews cannot be created";
  return {};
}

std::string CopyToCog(const std::string& from, const std::string& to, const MosaicOptions& o,
                      const RunContext& ctx, Progress& p, int steps) {
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("COG");
  GDALDatasetUniquePtr src(GDALDataset::Open(from.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
  if (!driver || !src) return "the COG driver cannot read the assembled mosaic";
  char** options = nullptr;
  options = CSLSetNameValue(options, "COMPRESS", o.compress.empty() ? "NONE" : o.compress.c_str());
  options = CSLSetNameValue(options, "BLOCKSIZE", "512");
  options = CSLSetNameValue(options, "RESAMPLING", "AVERAGE");
  options = CSLSetNameValue(options, "OVERVIEWS", "AUTO");
  options = CSLSetNameValue(options, "BIGTIFF", "IF_SAFER");
  struct Cb {
    const RunContext* ctx;
    Progress* p;
    int base, steps;
  } cb{&ctx, &p, p.done, steps};
  const auto going = [](double share, const char*, void* data) -> int {
    auto* c = static_cast<Cb*>(data);
    c->ctx->SetPos(c->base + static_cast<int>(share * c->steps));
    return !c->ctx->AbortCheck();
  };
  CPLErrorReset();
  GDALDatasetUniquePtr cog(driver->CreateCopy(to.c_str(), src.get(), FALSE, options, going, &cb));
  CSLDestroy(options);
  const bool copied = cog != nullptr;
  cog.reset();
  if (!copied || CPLGetLastErrorType() == CE_Failure)
    return ctx.abort && ctx.abort->load() ? "" : "the Cloud-Optimized GeoTIFF cannot be written";
  return {};
}

// The orthos that take part, their bands and the owner of every Voronoi cell; empty on success.
std::string OpenAssembly(const cv::Mat& voronoiMap, const MosaicVrtGrid& grid,
                         const std::vector<MosaicVrtOrtho>& orthos, Assembly& a,
                         std::vector<std::string>& notes) {
  a.scale = grid.mosaicScale;
  a.all = cv::Rect(0, 0, grid.mosaicWidth, grid.mosaicHeight);
  std::map<int, int> indexOfRow;
  for (const MosaicVrtOrtho& o : orthos) {
    std::error_code ec;
    if (!fs::is_regular_file(o.path, ec)) continue;
    MosaicSource s;
    std::string why = OpenMosaicSource(o, grid, &s);
    if (why.empty() && !a.sources.empty() &&
        (s.bands != a.sources.front().bands || s.type != a.sources.front().type))
      why = "has other bands than the first ortho";
    if (why.empty() && s.bands > kMaxMosaicBands) why = "has more than four bands";
    if (!why.empty()) {
      notes.push_back(o.path + " left out of the mosaic: it " + why);
      continue;
    }
    indexOfRow[s.row] = static_cast<int>(a.sources.size());
    a.sources.push_back(std::move(s));
  }
  if (a.sources.empty()) return "no ortho to assemble";
  if (a.all.empty() || voronoiMap.type() != CV_8UC3 || !(a.scale > 0.0))
    return "the mosaic grid is empty";
  a.bands = a.sources.front().bands;
  a.type = a.sources.front().type;
  a.indexOfRow = indexOfRow;
  a.cellOwner.create(voronoiMap.size(), CV_32S);
  for (int r = 0; r < voronoiMap.rows; ++r)
    for (int c = 0; c < voronoiMap.cols; ++c) {
      const auto it = indexOfRow.find(RowFromColorCode(voronoiMap.at<cv::Vec3b>(r, c)));
      a.cellOwner.at<int>(r, c) = it == indexOfRow.end() ? -1 : it->second;
    }
  return {};
}

// The temporary tiled raster of the mosaic: image bands and alpha, grid and CRS.
GDALDatasetUniquePtr CreateMosaicTiles(const std::string& path, const Assembly& a,
                                       const MosaicVrtGrid& grid) {
  GDALDatasetUniquePtr tiles =
      CreateTiff(path, a.all, a.bands + 1, a.type,
                 {{"BLOCKXSIZE", "256"}, {"BLOCKYSIZE", "256"},
                  {"PHOTOMETRIC", a.bands >= 3 ? "RGB" : "MINISBLACK"}});
  if (!tiles) return nullptr;
  const double g = grid.gsd;
  double gt[6] = {grid.mosaicMinX - g / 2, g, 0.0, grid.mosaicMaxY + g / 2, 0.0, -g};
  if (tiles->SetGeoTransform(gt) != CE_None || !SetDatasetCrs(*tiles, grid.crsWkt)) return nullptr;
  SetBandRoles(*tiles, a.bands);
  return tiles;
}

}  // namespace

int MosaicTileSide(int memoryMb, int depth, int bands, int featherPx, bool pyramids) {
  // Per pixel of a grown tile: each ortho's balanced values and gains, mask, labels and weight;
  // the composite and its conversion.
  const int layers = std::max(depth, 1);
  double perPixel = layers * (8.0 * bands + 16.0) + 12.0 * bands + 16.0;
  // Multi-band: each ortho's difference and mask over the window, the blended levels and their
  // weights (a third more than the finest), the level being built and its expansion.
  if (pyramids) perPixel += layers * (4.0 * bands + 5.0) + 4.0 / 3.0 * (4.0 * bands + 4.0) + 20.0 * bands;
  const double budget = std::max(memoryMb, kMinMosaicMemoryMb) * 1048576.0 / 2.0;
  const int side = static_cast<int>(std::sqrt(budget / perPixel)) - 2 * featherPx;
  return std::clamp(side / 256 * 256, 256, 4096);
}

MosaicWriteResult WriteMosaicTiff(const std::string& path, const cv::Mat& voronoiMap,
                                  const MosaicVrtGrid& grid,
                                  const std::vector<MosaicVrtOrtho>& orthos,
                                  const MosaicOptions& options, const RunContext& ctx) {
  MosaicWriteResult result;
  const DirectReads direct;
  Assembly a;
  if (std::string e = OpenAssembly(voronoiMap, grid, orthos, a, result.notes); !e.empty()) {
    result.error = e;
    return result;
  }
  result.orthos = static_cast<int>(a.sources.size());
  a.fill = options.hiddenFill;

  const std::string labelsPath = path + ".seams.part", tilesPath = path + ".tiles.part",
                    partPath = path + ".part";
  const auto cleanUp = [&] {
    RemoveQuietly(labelsPath);
    RemoveQuietly(tilesPath);
    RemoveQuietly(partPath);
  };
  const GIntBig oldCache = GDALGetCacheMax64();
  GDALSetCacheMax64(static_cast<GIntBig>(std::max(options.memoryMb, kMinMosaicMemoryMb)) * 1048576 / 4);
  const auto finish = [&](std::string error) {
    GDALSetCacheMax64(oldCache);
    result.aborted = ctx.abort && ctx.abort->load();
    if (result.aborted || !error.empty()) cleanUp();
    if (!result.aborted) result.error = std::move(error);
    return result;
  };

  MosaicReader reader(a.sources);
  const int step = std::max(1, static_cast<int>(std::ceil(std::sqrt(
                                   static_cast<double>(a.all.area()) / kMaxCoarseSamples))));
  const int coarseTiles = ((a.all.width / step + kCoarseTile) / kCoarseTile) *
                          ((a.all.height / step + kCoarseTile) / kCoarseTile);
  const bool seams = options.seamBandPx > 0 && a.sources.size() > 1;
  const int chunks = seams ? ((a.all.width + kChunk - 1) / kChunk) * ((a.all.height + kChunk - 1) / kChunk) : 0;
  Progress p{ctx};
  // The tile count is known only after the statistics; a rough range first.
  ctx.SetRange(0, coarseTiles + chunks + 1);
  ctx.Log("Mosaic: balancing exposures of " + std::to_string(a.sources.size()) + " orthos");
  if (std::string e = Balance(a, reader, options, p, step); !e.empty() || p.Stopped())
    return finish(e);

  const bool pyramids = options.blend == MosaicBlend::Multiband;
  result.tileSide = MosaicTileSide(options.memoryMb, a.depth, a.bands,
                                   pyramids ? kMultibandMargin : options.featherPx, pyramids);
  const int side = result.tileSide;
  const int tiles = ((a.all.width + side - 1) / side) * ((a.all.height + side - 1) / side);
  const int cogSteps = std::max(tiles / 4, 1);
  ctx.SetRange(0, p.done + chunks + tiles + cogSteps);

  GDALDatasetUniquePtr labels;
  if (seams) {
    ctx.Log("Mosaic: seamlines");
    const cv::Rect halfGrid(0, 0, (a.all.width + 1) / 2, (a.all.height + 1) / 2);
    labels = CreateTiff(labelsPath, halfGrid, 1, GDT_Int32,
                        {{"BLOCKXSIZE", "512"}, {"BLOCKYSIZE", "512"}, {"COMPRESS", "DEFLATE"},
                         {"ZLEVEL", "1"}});
    if (!labels) return finish("the seams cannot be stored in " + labelsPath);
    if (std::string e = Seams(a, reader, options, p, *labels); !e.empty() || p.Stopped())
      return finish(e);
  }

  ctx.Log("Mosaic: assembling " + std::to_string(a.all.width) + " x " +
          std::to_string(a.all.height) + " pixels");
  {
    GDALDatasetUniquePtr tiles = CreateMosaicTiles(tilesPath, a, grid);
    if (!tiles) return finish("the mosaic cannot be created: " + tilesPath);
    if (std::string e = CreateBlankOverviews(*tiles); !e.empty()) return finish(e);
    if (std::string e = Assemble(a, reader, options, p, labels.get(), *tiles, side, result);
        !e.empty() || p.Stopped())
      return finish(e);
    CPLErrorReset();
    tiles.reset();
    if (CPLGetLastErrorType() == CE_Failure) return finish("the mosaic cannot be written: " + tilesPath);
  }
  labels.reset();
  RemoveQuietly(labelsPath);
  ctx.Log("Mosaic: writing the Cloud-Optimized GeoTIFF with its overviews");

  if (std::string e = CopyToCog(tilesPath, partPath, options, ctx, p, cogSteps);
      !e.empty() || p.Stopped())
    return finish(e);
  RemoveQuietly(tilesPath);
  std::error_code ec;
  fs::rename(partPath, path, ec);
  if (ec) return finish("cannot write " + path + ": " + ec.message());
  return finish({});
}

}  // namespace ortavia
