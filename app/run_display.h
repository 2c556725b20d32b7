#pragma once
// What the main window shows while a run works: the preview of the last ortho, the recoloured
// footprints, the progress with its remaining time and the log. The engine reports every change;
// the window shows them at most once per refresh interval, however fast orthos finish, so that a
// refresh costs the same at image 10 as at image 10,000 and the window's share stays small. The
// first ortho is shown at once (it opens the preview) and Finish shows whatever is still pending.
#include <QString>
#include <functional>
#include <optional>

#include "gui/refresh_gate.h"

namespace ortavia::ui {

class RunDisplay {
 public:
  struct Targets {
    std::function<void(const QString& path, bool first)> showOrtho;
    std::function<void()> redrawDrawing;
    std::function<void(int pos)> showProgress;
    std::function<void()> flushLog;  // publishes the log rows queued since the last refresh
  };
  // How many times each target was called.
  struct Counts {
    int orthos = 0, drawings = 0, progress = 0, logFlushes = 0;
  };

  static constexpr std::int64_t kIntervalMs = 250;

  explicit RunDisplay(Targets targets, RefreshGate::Clock clock = {}, std::int64_t intervalMs = kIntervalMs);

  void OrthoWritten(const QString& path, bool first);
  void DrawingChanged() { drawingDirty_ = true; }
  void ProgressAt(int pos) { progress_ = pos; }
  void LogQueued() { logDirty_ = true; }
  // Called at every pump of the run: shows what is pending when the interval has passed.
  void Pump();
  // Shows everything still pending (the end of the run).
  void Finish();

  const Counts& Shown() const { return counts_; }

 private:
  void ShowPending();

  Targets targets_;
  RefreshGate gate_;
  std::optional<QString> ortho_;
  std::optional<int> progress_;
  bool drawingDirty_ = false;
  bool logDirty_ = false;
  Counts counts_;
};

}  // namespace ortavia::ui
