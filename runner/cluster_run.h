#pragma once
// A run spread over several processes (ranks) sharing one file system, without the message
// passing itself: rank 0 checks the inputs and builds the mosaic products as a single run does,
// then hands each other rank a ClusterStart; every rank fills its own project from the same
// inputs, proves with PrepareClusterWarp that it sees what rank 0 sees, and warps the images the
// ImageDispenser of rank 0 hands out one at a time. Their outcomes travel back as ImageReports and
// are gathered in list order, so report and summary read as those of a single run.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <opencv2/core/mat.hpp>

#include "model/project.h"
#include "process/warp.h"

namespace ortavia {

// What the other ranks need of rank 0 once the mosaic stage is done.
struct ClusterStart {
  bool go = false;  // false: the run ended before the warp (refused input, mosaic stage failed)
  std::string composition;
  int tileStep = 16;
  double maxError = kDefaultMaxError;
  bool overwrite = false;
  double gsd = 0.0, cellSize = 0.0;
  int mosaicWidth = 0, mosaicHeight = 0;
  double mosaicScale = 0.0;
  double mosaicMinX = 0.0, mosaicMaxX = 0.0, mosaicMinY = 0.0, mosaicMaxY = 0.0;
  int imageCount = 0;
  int voronoiWidth = 0, voronoiHeight = 0;
  std::uint64_t voronoiHash = 0;  // HashRaster of the Voronoi map
  std::uint64_t projectHash = 0;  // ProjectFingerprint of rank 0's project
  OrthoOutput output;             // CRS and file options of the orthos
  bool testShareOnly = false;     // WarpRequest::testShareOnly
};

// The start message of a warp request of rank 0 (project, rows, grid and answers set).
ClusterStart MakeClusterStart(const WarpRequest& request);

// Exact, byte-order-native encodings (all ranks run the same build on the same architecture).
std::string EncodeClusterStart(const ClusterStart& start);
std::optional<ClusterStart> DecodeClusterStart(const std::string& bytes);

// One image's outcome on its way back to rank 0.
struct ImageReport {
  int position = -1;  // in the run's rows
  ImageStatus status;
};
std::string EncodeImageReport(const ImageReport& report);
std::optional<ImageReport> DecodeImageReport(const std::string& bytes);

// FNV-1a of a raster's pixels, row by row, with its size and type.
std::uint64_t HashRaster(const cv::Mat& raster);

// A fingerprint of what the warp reads of a project: image names and paths, orientations,
// footprint boxes, passport size and the DEM's size and geotransform.
std::uint64_t ProjectFingerprint(const WarpProject& project);

// "voronoi.tif" of a destination folder read back into the in-memory layout of the mosaic stage
// (CV_8UC3, channel 0 from band 3). Empty with the cause in *error when it cannot be read.
cv::Mat ReadVoronoiProduct(const std::string& destinationFolder, std::string* error);

// A rank other than 0 after filling its project: checks that it sees the destination folder and
// the products rank 0 wrote there, and the same inputs; then sets the mosaic grid in the project
// and fills request (voronoi receives the map and must outlive the request). Empty on success,
// else the cause. rank names the probe file written to prove the folder takes files. The terrain
// surface kept by the project's footprint pass is released: a rank never builds the products.
std::string PrepareClusterWarp(WarpProject& project, const ClusterStart& start,
                               const std::string& destinationFolder, int rank, cv::Mat& voronoi,
                               WarpRequest& request);

// Hands out the positions 0 .. count - 1 in order and gathers the outcomes by position.
class ImageDispenser {
 public:
  explicit ImageDispenser(int count) : count_(count), outcomes_(count) {}
  int Count() const { return count_; }
  // The next position to warp; none when all were handed out or after Stop().
  std::optional<int> Next();
  void Stop() { stopped_ = true; }
  bool Stopped() const { return stopped_; }
  void Record(const ImageReport& report);
  // Images written or skipped; an image stopped half-way is not finished.
  int Finished() const { return finished_; }
  // The warp's result as the single-process loop would build it: outcomes in position order,
  // up to the positions reached.
  WarpResult Gather(WarpRunStatus status) const;

 private:
  int count_;
  int next_ = 0;
  int finished_ = 0;
  bool stopped_ = false;
  std::vector<std::optional<ImageStatus>> outcomes_;
};

}  // namespace ortavia
