#include "gui/refresh_gate.h"

#include <chrono>

namespace ortavia::ui {

RefreshGate::RefreshGate(std::int64_t intervalMs, Clock clock) : intervalMs_(intervalMs), clock_(std::move(clock)) {
  if (!clock_)
    clock_ = [] {
      using namespace std::chrono;
      return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    };
}

bool RefreshGate::Due() {
  const std::int64_t now = clock_();
  if (started_ && now - last_ < intervalMs_) return false;
  started_ = true;
  last_ = now;
  return true;
}

}  // namespace ortavia::ui
