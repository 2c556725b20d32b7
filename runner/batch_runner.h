#pragma once
// The commands of the batch runner ortavia-batch over the engine: fill a project through the same
// calls the windows make (DEM, passport, image checks, point-file import, footprints), run it,
// write footprints as GeoJSON, or write a sample project. The program's main only wires the
// terminal (log, progress, Ctrl-C) to these functions.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include <opencv2/core/utility.hpp>

#include "model/add_images.h"
#include "model/project.h"
#include "model/run_context.h"
#include "process/run_process.h"
#include "runner/batch_options.h"

namespace ortavia {

enum BatchExit : int {
  kBatchDone = 0,
  kBatchAborted = 1,
  kBatchUsage = 2,
  kBatchRefused = 3,       // an input or the destination was refused; nothing was run
  kBatchProcessError = 4,  // the run failed (mosaic stage, warp refused, report not written), or
                           // an image failed: refused at import or not written because of an error
};

struct BatchIo {
  RunContext ctx;                                  // log lines, progress, abort flag
  std::function<void(const std::string&)> out;     // results for the user (stdout)
  std::function<void(const std::string&)> error;  // the failure message (stderr)
  // A stage begins: its name and how many images it goes through; progress ranges of that many
  // items count images. An empty name: the stage before ended as it should.
  std::function<void(const std::string& stage, int images)> stage;
  bool quiet = false;  // errors only: images that failed are reported as errors too
};

// Either stream may be left unset by a caller that does not want it.
inline void Out(const BatchIo& io, const std::string& text) {
  if (io.out) io.out(text);
}
inline void Error(const BatchIo& io, const std::string& text) {
  if (io.error) io.error(text);
}

// OpenCV's pool, which runs the warp and the terrain surface, with n threads (0: as it is) for the
// life of the object. More threads than cores are as many as the cores: the pool would refuse
// them anyway, with a warning on the terminal.
class WarpThreads {
 public:
  explicit WarpThreads(int n) : before_(cv::getNumThreads()) {
    if (n > 0) cv::setNumThreads(std::min(n, std::max(1, cv::getNumberOfCPUs())));
  }
  ~WarpThreads() { cv::setNumThreads(before_); }
  WarpThreads(const WarpThreads&) = delete;
  WarpThreads& operator=(const WarpThreads&) = delete;

 private:
  int before_;
};

// Fills an empty project from the options. Returns kBatchDone, or kBatchRefused / kBatchAborted
// with the cause given to io.error. Each image file not added is logged with its cause and, when
// refused is given, appended to it.
int FillBatchProject(WarpProject& project, const BatchProjectOptions& options, const BatchIo& io,
                     std::vector<RefusedImage>* refused = nullptr);

// Runs one command line (the arguments after the program name); returns the exit code.
int RunBatchCommand(const std::vector<std::string>& args, const BatchIo& io);

// The run command: fills the project, runs it with `warp` as the warp stage and writes the
// summary; returns the exit code.
int RunBatchRun(const BatchCommand& command, const BatchIo& io,
                const WarpDriver& warp = WarpImages);

}  // namespace ortavia
