#include "runner/cluster_run.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <type_traits>

#include <unistd.h>

#include <gdal_priv.h>

#include "process/hidden_fill_plan.h"

namespace ortavia {
namespace fs = std::filesystem;

namespace {

class Packer {
 public:
  template <class T>
  Packer& Put(const T& value) {
    static_assert(std::is_trivially_copyable_v<T>);
    bytes_.append(reinterpret_cast<const char*>(&value), sizeof value);
    return *this;
  }
  Packer& Put(const std::string& text) {
    Put(static_cast<std::uint64_t>(text.size()));
    bytes_ += text;
    return *this;
  }
  const std::string& Bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

class Unpacker {
 public:
  explicit Unpacker(const std::string& bytes) : bytes_(bytes) {}
  template <class T>
  Unpacker& Get(T& value) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (pos_ + sizeof value > bytes_.size()) {
      ok_ = false;
      return *this;
    }
    std::memcpy(&value, bytes_.data() + pos_, sizeof value);
    pos_ += sizeof value;
    return *this;
  }
  Unpacker& Get(std::string& text) {
    std::uint64_t size = 0;
    Get(size);
    if (!ok_ || size > bytes_.size() - pos_) {
      ok_ = false;
      return *this;
    }
    text = bytes_.substr(pos_, size);
    pos_ += size;
    return *this;
  }
  // Everything read, nothing left over.
  bool Complete() const { return ok_ && pos_ == bytes_.size(); }

 private:
  const std::string& bytes_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

class Fnv1a {
 public:
  void Add(const void* data, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    for (std::size_t k = 0; k < size; ++k) hash_ = (hash_ ^ p[k]) * 1099511628211ULL;
  }
  template <class T>
  void Add(const T& value) {
    static_assert(std::is_trivially_copyable_v<T>);
    Add(&value, sizeof value);
  }
  void Add(const std::string& text) {
    Add(text.size());
    Add(text.data(), text.size());
  }
  std::uint64_t Value() const { return hash_; }

 private:
  std::uint64_t hash_ = 14695981039346656037ULL;
};

template <class Io, class Start>
void EachStartField(Io& io, Start& s) {
  io.Get(s.go).Get(s.composition).Get(s.tileStep).Get(s.maxError).Get(s.overwrite).Get(s.gsd).Get(s.cellSize);
  io.Get(s.mosaicWidth).Get(s.mosaicHeight).Get(s.mosaicScale).Get(s.mosaicMinX);
  io.Get(s.mosaicMaxX).Get(s.mosaicMinY).Get(s.mosaicMaxY).Get(s.imageCount);
  io.Get(s.voronoiWidth).Get(s.voronoiHeight).Get(s.voronoiHash).Get(s.projectHash);
  io.Get(s.output.crsWkt).Get(s.output.compress).Get(s.output.cog).Get(s.output.alpha);
  io.Get(s.output.occlusion).Get(s.testShareOnly);
}

// Every choice of the ortho files must reach the other ranks, or their orthos would differ.
struct KnownOrthoOutput {
  std::string crsWkt, compress;
  bool cog, alpha, occlusion;
};
static_assert(sizeof(OrthoOutput) == sizeof(KnownOrthoOutput),
              "a field was added to OrthoOutput: carry it in EachStartField too");

// Lets EachStartField drive a Packer too.
struct PackAll {
  Packer& packer;
  template <class T>
  PackAll& Get(const T& value) {
    packer.Put(value);
    return *this;
  }
};

std::string FolderCause(const std::string& folder) {
  std::error_code ec;
  if (!fs::is_directory(folder, ec))
    return "the destination folder " + folder + " does not exist here";
  return {};
}

}  // namespace

ClusterStart MakeClusterStart(const WarpRequest& request) {
  ClusterStart s;
  s.go = true;
  s.composition = request.composition;
  s.tileStep = request.tileStep;
  s.maxError = request.maxError;
  s.overwrite = request.overwrite;
  s.gsd = request.gsd;
  s.cellSize = request.cellSize;
  s.mosaicWidth = request.mosaicWidth;
  s.mosaicHeight = request.mosaicHeight;
  const WarpProject& project = *request.project;
  s.mosaicScale = project.mosaicScale;
  s.mosaicMinX = project.mosaicMinX;
  s.mosaicMaxX = project.mosaicMaxX;
  s.mosaicMinY = project.mosaicMinY;
  s.mosaicMaxY = project.mosaicMaxY;
  s.imageCount = static_cast<int>(request.rows.size());
  if (request.voronoiMap) {
    s.voronoiWidth = request.voronoiMap->cols;
    s.voronoiHeight = request.voronoiMap->rows;
    s.voronoiHash = HashRaster(*request.voronoiMap);
  }
  s.projectHash = ProjectFingerprint(project);
  s.output = request.output;
  s.testShareOnly = request.testShareOnly;
  return s;
}

std::string EncodeClusterStart(const ClusterStart& start) {
  Packer packer;
  PackAll all{packer};
  EachStartField(all, start);
  return packer.Bytes();
}

std::optional<ClusterStart> DecodeClusterStart(const std::string& bytes) {
  ClusterStart start;
  Unpacker in(bytes);
  EachStartField(in, start);
  if (!in.Complete()) return std::nullopt;
  return start;
}

std::string EncodeImageReport(const ImageReport& report) {
  Packer packer;
  packer.Put(report.position).Put(report.status.row).Put(static_cast<int>(report.status.outcome));
  packer.Put(report.status.name).Put(report.status.reason).Put(report.status.failed);
  return packer.Bytes();
}

std::optional<ImageReport> DecodeImageReport(const std::string& bytes) {
  ImageReport report;
  int outcome = -1;
  Unpacker in(bytes);
  in.Get(report.position).Get(report.status.row).Get(outcome);
  in.Get(report.status.name).Get(report.status.reason).Get(report.status.failed);
  if (!in.Complete() || outcome < static_cast<int>(ImageOutcome::Written) ||
      outcome > static_cast<int>(ImageOutcome::Aborted))
    return std::nullopt;
  report.status.outcome = static_cast<ImageOutcome>(outcome);
  return report;
}

std::uint64_t HashRaster(const cv::Mat& raster) {
  Fnv1a h;
  h.Add(raster.rows);
  h.Add(raster.cols);
  h.Add(raster.type());
  const std::size_t rowBytes = raster.cols * raster.elemSize();
  for (int r = 0; r < raster.rows; ++r) h.Add(raster.ptr(r), rowBytes);
  return h.Value();
}

std::uint64_t ProjectFingerprint(const WarpProject& project) {
  Fnv1a h;
  for (const ImageItem& image : project.images) {
    h.Add(image.name);
    h.Add(image.path);
    if (auto o = project.orientations.find(image.name); o != project.orientations.end()) {
      const geo::COrientation& orientation = o->second;
      for (int k = 0; k < 3; ++k) h.Add(orientation.N[k]);
      for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) h.Add(orientation.RotMat()(r, c));
    }
    if (auto f = project.footprints.find(image.name); f != project.footprints.end())
      if (auto box = project.cad.EntityBox(f->second)) h.Add(*box);
  }
  if (project.passport) {
    h.Add(project.passport->width);
    h.Add(project.passport->height);
  }
  if (GDALDataset* dem = project.dem.dataset.get()) {
    double gt[6] = {};
    dem->GetGeoTransform(gt);
    h.Add(gt);
    h.Add(dem->GetRasterXSize());
    h.Add(dem->GetRasterYSize());
  }
  return h.Value();
}

cv::Mat ReadVoronoiProduct(const std::string& destinationFolder, std::string* error) {
  const std::string path = (fs::path(destinationFolder) / "voronoi.tif").string();
  GDALAllRegister();
  CPLPushErrorHandler(CPLQuietErrorHandler);
  GDALDatasetUniquePtr ds(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
  CPLPopErrorHandler();
  if (!ds) {
    *error = "cannot open " + path;
    return {};
  }
  if (ds->GetRasterCount() < 3) {
    *error = path + " has fewer than 3 bands";
    return {};
  }
  cv::Mat map(ds->GetRasterYSize(), ds->GetRasterXSize(), CV_8UC3);
  for (int band = 1; band <= 3; ++band) {
    if (ds->GetRasterBand(band)->RasterIO(GF_Read, 0, 0, map.cols, map.rows, map.ptr() + (3 - band),
                                          map.cols, map.rows, GDT_Byte, 3,
                                          static_cast<GSpacing>(map.step[0]), nullptr) != CE_None) {
      *error = "cannot read " + path;
      return {};
    }
  }
  return map;
}

std::string PrepareClusterWarp(WarpProject& project, const ClusterStart& start,
                               const std::string& destinationFolder, int rank, cv::Mat& voronoi,
                               WarpRequest& request) {
  // The mosaic stage is rank 0's: the footprint pass's surface would only hold memory here.
  project.terrain = {};
  if (std::string cause = FolderCause(destinationFolder); !cause.empty()) return cause;
  std::string error;
  voronoi = ReadVoronoiProduct(destinationFolder, &error);
  if (voronoi.empty()) return error + " (the products rank 0 wrote)";
  if (voronoi.cols != start.voronoiWidth || voronoi.rows != start.voronoiHeight ||
      HashRaster(voronoi) != start.voronoiHash)
    return "voronoi.tif in " + destinationFolder + " is not the one rank 0 wrote";
  if (ProjectFingerprint(project) != start.projectHash ||
      static_cast<int>(project.images.size()) != start.imageCount)
    return "the inputs read here differ from those of rank 0 (images, orientations, footprints, "
           "passport or DEM)";
  const fs::path probe =
      fs::path(destinationFolder) /
      (".ortavia-write-test-rank" + std::to_string(rank) + "-" + std::to_string(getpid()));
  {
    std::ofstream out(probe, std::ios::binary | std::ios::trunc);
    out << "x";
    out.close();
    std::error_code ec;
    const bool written = !out.fail() && fs::exists(probe, ec);
    fs::remove(probe, ec);
    if (!written) return "cannot write into " + destinationFolder;
  }

  project.mosaicScale = start.mosaicScale;
  project.mosaicMinX = start.mosaicMinX;
  project.mosaicMaxX = start.mosaicMaxX;
  project.mosaicMinY = start.mosaicMinY;
  project.mosaicMaxY = start.mosaicMaxY;
  request.project = &project;
  request.rows.clear();
  for (int r = 0; r < start.imageCount; ++r) request.rows.push_back(r);
  request.composition = start.composition;
  request.tileStep = start.tileStep;
  request.maxError = start.maxError;
  request.destinationFolder = destinationFolder;
  request.overwrite = start.overwrite;
  request.voronoiMap = &voronoi;
  request.gsd = start.gsd;
  request.cellSize = start.cellSize;
  request.mosaicWidth = start.mosaicWidth;
  request.mosaicHeight = start.mosaicHeight;
  request.output = start.output;
  request.testShareOnly = start.testShareOnly;
  if (request.output.occlusion) {
    const HiddenFillRequest plan{&project, request.rows, &voronoi, request.gsd, request.mosaicWidth,
                                 request.mosaicHeight};
    auto fill = PlanHiddenFill(plan, RunContext{});
    if (!fill) return "the plan of hidden ground was stopped";
    request.hiddenFill = std::make_shared<const HiddenFill>(std::move(*fill));
  }
  return {};
}

std::optional<int> ImageDispenser::Next() {
  if (stopped_ || next_ >= count_) return std::nullopt;
  return next_++;
}

void ImageDispenser::Record(const ImageReport& report) {
  if (report.position < 0 || report.position >= count_) return;
  const auto counts = [](const std::optional<ImageStatus>& s) {
    return s && s->outcome != ImageOutcome::Aborted;
  };
  finished_ -= counts(outcomes_[report.position]);
  outcomes_[report.position] = report.status;
  finished_ += counts(outcomes_[report.position]);
}

WarpResult ImageDispenser::Gather(WarpRunStatus status) const {
  WarpResult result;
  result.status = status;
  for (int i = 0; i < count_; ++i)
    if (outcomes_[i]) AddImageOutcome(result, i, *outcomes_[i]);
  return result;
}

}  // namespace ortavia
