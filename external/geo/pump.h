#pragma once
// Dispatch of pending window messages during long operations. The GUI installs a hook that runs
// its event loop once; without a hook (batch runs, tests) PumpMsgs does nothing.
#include <functional>

namespace geo {

void SetPumpHook(std::function<void()> hook);
void PumpMsgs();

}  // namespace geo
