#pragma once
// Lets a refresh through at most once per interval, however often it is asked for. The time comes
// from a clock that can be replaced, so that tests count refreshes instead of timing them.
#include <cstdint>
#include <functional>

namespace ortavia::ui {

class RefreshGate {
 public:
  using Clock = std::function<std::int64_t()>;  // monotonic milliseconds
  // An empty clock is the steady clock.
  explicit RefreshGate(std::int64_t intervalMs, Clock clock = {});

  // True when the interval has passed since the last refresh let through (always the first time);
  // the interval then starts again.
  bool Due();

 private:
  std::int64_t intervalMs_;
  Clock clock_;
  bool started_ = false;
  std::int64_t last_ = 0;
};

}  // namespace ortavia::ui
