#include "model/gdal_stop_check.h"

namespace ortavia {

int CPL_STDCALL GdalStopCheck::Callback(double, const char*, void* self) {
  auto* check = static_cast<GdalStopCheck*>(self);
  if (!check || !check->ctx_) return TRUE;
  // Called once a row: the window is kept alive a few dozen times a second, not more.
  const auto now = std::chrono::steady_clock::now();
  if (now - check->lastPump_ < std::chrono::milliseconds(40)) return TRUE;
  check->lastPump_ = now;
  check->stopped_ = check->ctx_->AbortCheck();
  return check->stopped_ ? FALSE : TRUE;
}

}  // namespace ortavia
