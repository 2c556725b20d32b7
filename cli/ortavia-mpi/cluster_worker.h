#pragma once
// The ranks other than 0: fill their own project from the same inputs while rank 0 checks them and
// builds the mosaic products, prove that they see what rank 0 sees, then warp the images rank 0
// hands out until it has none left.
#include <atomic>

#include "runner/batch_options.h"

namespace ortavia::mpi {

// Returns when rank 0 ends the run. abort: set by the signals and by rank 0's stop message.
void RunClusterWorker(const BatchCommand& command, int rank, std::atomic<bool>& abort);

}  // namespace ortavia::mpi
