#pragma once
// A GDAL progress function over a RunContext, for long reads: keeps the window alive and answers
// FALSE (GDAL's "stop") once Stop was pressed; may show the read's progress.
#include <chrono>

#include <cpl_progress.h>

#include "model/run_context.h"

namespace ortavia {

class GdalStopCheck {
 public:
  // With progressSteps > 0 the context's progress follows the read over 0..progressSteps.
  explicit GdalStopCheck(const RunContext* ctx, int progressSteps = 0)
      : ctx_(ctx), progressSteps_(progressSteps) {}
  // Pass as GDALProgressFunc with `this` as its data; null ctx: never stops.
  static int CPL_STDCALL Callback(double done, const char* message, void* self);
  bool Stopped() const { return stopped_; }

 private:
  const RunContext* ctx_;
  int progressSteps_;
  std::chrono::steady_clock::time_point lastPump_{};
  bool stopped_ = false;
};

}  // namespace ortavia
