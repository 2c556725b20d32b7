#include "external/geo/pump.h"

#include <utility>

namespace geo {
namespace {

std::function<void()>& PumpHook() {
  static std::function<void()> hook;
  return hook;
}

}  // namespace

void SetPumpHook(std::function<void()> hook) { PumpHook() = std::move(hook); }

void PumpMsgs() {
  // Copied so that a hook may replace itself while it runs.
  const auto hook = PumpHook();
  if (hook) hook();
}

}  // namespace geo
