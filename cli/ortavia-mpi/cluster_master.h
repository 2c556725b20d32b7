#pragma once
// Rank 0 of a cluster run: after the mosaic stage it starts the other ranks, hands out the images
// one at a time as ranks ask for more (a thread of its own warps too), follows their outcomes on
// the progress line and gathers them for the report.
#include <atomic>

#include "model/run_context.h"
#include "process/warp.h"

namespace ortavia::mpi {

class ClusterMaster {
 public:
  // abort: the flag the signals set and the run's context reads. A dying rank clears it again
  // so that the run ends as failed rather than stopped by the user.
  ClusterMaster(int ranks, std::atomic<bool>& abort) : ranks_(ranks), abort_(abort) {}

  // The warp stage of rank 0's run (a WarpDriver).
  WarpResult Warp(const WarpRequest& request, const RunContext& ctx);

  // Tells the other ranks that the run ended before the warp; no-op once Warp has run.
  void EndBeforeWarp();

 private:
  int ranks_;
  std::atomic<bool>& abort_;
  bool started_ = false;
};

}  // namespace ortavia::mpi
