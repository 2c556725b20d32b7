#include "model/gdal_stop_check.h"

#include <algorithm>

namespace ortavia {

int CPL_STDCALL GdalStopCheck::Callback(double done, const char*, void* self) {
  auto* check = static_cast<GdalStopCheck*>(self);
  if (!check || !check->ctx_) return TRUE;
  // Called once a row: the window is kept alive a few dozen times a second, not more.
  const auto now = std::chrono::steady_clock::now();
  if (now - check->lastPump_ < std::chrono::milliseconds(40)) return TRUE;
  check->lastPump_ = now;
  if (check->progressSteps_ > 0)
    check->ctx_->SetPos(static_cast<int>(std::clamp(done, 0.0, 1.0) * check->progressSteps_));
  check->stopped_ = check->ctx_->AbortCheck();
  return check->stopped_ ? FALSE : TRUE;
}

}  // namespace ortavia
