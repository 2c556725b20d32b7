#pragma once
// A GDAL progress function over a RunContext, for long reads: keeps the window alive and answers
// FALSE (GDAL's "stop") once Stop was pressed.
#include <chrono>

#include <cpl_progress.h>

#include "model/run_context.h"

namespace ortavia {

class GdalStopCheck {
 public:
  explicit GdalStopCheck(const RunContext* ctx) : ctx_(ctx) {}
  // Pass as GDALProgressFunc with `this` as its data; null ctx: never stops.
  static int CPL_STDCALL Callback(double done, const char* message, void* self);
  bool Stopped() const { return stopped_; }

 private:
  const RunContext* ctx_;
  std::chrono::steady_clock::time_point lastPump_{};
  bool stopped_ = false;
};

}  // namespace ortavia
