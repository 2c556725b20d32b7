#include "app/run_display.h"

namespace ortavia::ui {

RunDisplay::RunDisplay(Targets targets, RefreshGate::Clock clock, std::int64_t intervalMs)
    : targets_(std::move(targets)), gate_(intervalMs, std::move(clock)) {}

void RunDisplay::OrthoWritten(const QString& path, bool first) {
  drawingDirty_ = true;
  if (!first) {
    ortho_ = path;
    return;
  }
  // The first ortho opens the preview at once; the operator sees the run has produced something.
  ortho_.reset();
  ++counts_.orthos;
  if (targets_.showOrtho) targets_.showOrtho(path, true);
}

void RunDisplay::Pump() {
  if (!ortho_ && !progress_ && !drawingDirty_ && !logDirty_) return;
  if (gate_.Due()) ShowPending();
}

void RunDisplay::Finish() { ShowPending(); }

void RunDisplay::ShowPending() {
  if (ortho_) {
    ++counts_.orthos;
    if (targets_.showOrtho) targets_.showOrtho(*ortho_, false);
    ortho_.reset();
  }
  if (drawingDirty_) {
    ++counts_.drawings;
    if (targets_.redrawDrawing) targets_.redrawDrawing();
    drawingDirty_ = false;
  }
  if (progress_) {
    ++counts_.progress;
    if (targets_.showProgress) targets_.showProgress(*progress_);
    progress_.reset();
  }
  if (logDirty_) {
    ++counts_.logFlushes;
    if (targets_.flushLog) targets_.flushLog();
    logDirty_ = false;
  }
}

}  // namespace ortavia::ui
