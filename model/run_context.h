#pragma once
// What a long engine operation is handed: where to log, how to keep the window alive, where to
// look for Stop and where to show progress. Every member may be empty.
#include <atomic>
#include <functional>
#include <string>

namespace ortavia {

struct RunContext {
  std::function<void(const std::string&)> log;
  std::function<void()> pump;             // dispatches pending window messages
  const std::atomic<bool>* abort = nullptr;  // set by Stop
  std::function<void(int lo, int hi)> progressRange;  // also restarts the remaining-time clock
  std::function<void(int pos)> progressPos;

  void Log(const std::string& text) const {
    if (log) log(text);
  }
  void Pump() const {
    if (pump) pump();
  }
  // Pumps, then tells whether Stop was pressed.
  bool AbortCheck() const {
    Pump();
    return abort && abort->load();
  }
  void SetRange(int lo, int hi) const {
    if (progressRange) progressRange(lo, hi);
  }
  void SetPos(int pos) const {
    if (progressPos) progressPos(pos);
  }
};

}  // namespace ortavia
