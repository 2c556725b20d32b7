#pragma once
// ortavia-batch passport: the passport database and table from the command line, through the same
// calls the passport dialog makes.
#include "runner/batch_options.h"
#include "runner/batch_runner.h"

namespace ortavia {

int RunPassportCommand(const BatchPassportOptions& options, const BatchIo& io);

}  // namespace ortavia
