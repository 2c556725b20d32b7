#pragma once
// The terminal side of the command-line tools: log lines with date and time on stderr, results on
// stdout. On a terminal each stage keeps one progress line that is rewritten in place below the
// log; on a pipe or a file progress is dated lines. Quiet: errors only.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>

#include "runner/batch_runner.h"

namespace ortavia {

// Local date and time, "YYYY-MM-DD HH:MM:SS".
std::string LocalTimeStamp();

class ProgressLine {
 public:
  explicit ProgressLine(bool quiet);

  // The stage before ended as it should: its line is left at 100 %.
  void Stage(const std::string& name, int images);
  void Range(int lo, int hi);
  void Pos(int pos);
  // A dated line above the progress line, which is drawn again below it.
  void Print(std::FILE* stream, const std::string& text, bool dated);
  // Leaves the stage's line, completed or as it stands, and moves below it.
  void End(bool complete);

 private:
  void Draw();

  bool tty_, quiet_;
  bool open_ = false;
  std::string stage_, line_, last_;
  int images_ = 0;
  int lo_ = 0, hi_ = 0;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// The tools' wiring of log, results, errors, stages and progress to the terminal. progress must
// outlive the result.
BatchIo TerminalIo(ProgressLine& progress, const std::atomic<bool>* abort, bool quiet);

}  // namespace ortavia
