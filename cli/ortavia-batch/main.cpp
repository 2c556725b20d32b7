// ortavia-batch: the engine from the command line. Log lines with date and time and a progress
// line with the remaining time go to stderr, results to stdout; Ctrl-C asks the run to stop.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <string>
#include <vector>

#include <unistd.h>

#include "process/batch_runner.h"
#include "process/remaining_time.h"

namespace {

std::atomic<bool> g_abort{false};

extern "C" void OnInterrupt(int) {
  g_abort.store(true);
  // A second Ctrl-C ends the program at once.
  std::signal(SIGINT, SIG_DFL);
}

std::string Now() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

// Progress on stderr: rewritten in place on a terminal, one line per step otherwise.
class ProgressLine {
 public:
  ProgressLine() : tty_(isatty(STDERR_FILENO) != 0) {}
  void Range(int lo, int hi) {
    lo_ = lo;
    hi_ = hi;
    start_ = std::chrono::steady_clock::now();
  }
  void Pos(int pos) {
    if (hi_ <= lo_) return;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const std::string remaining = ortavia::ProgressText(lo_, hi_, pos, elapsed, "estimating...");
    const std::string text = "progress " + std::to_string(pos) + "/" + std::to_string(hi_) + ": " +
                             remaining;
    if (tty_) {
      std::fprintf(stderr, "\r%s\033[K", text.c_str());
      open_ = true;
    } else if (pos > 0 && text != last_) {
      // Without a terminal only steps past the first are worth a line each.
      std::fprintf(stderr, "%s  %s\n", Now().c_str(), text.c_str());
    }
    last_ = text;
  }
  // Ends an in-place line before another line is written.
  void Break() {
    if (open_) std::fputc('\n', stderr);
    open_ = false;
  }

 private:
  bool tty_;
  bool open_ = false;
  std::string last_;
  int lo_ = 0, hi_ = 0;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGINT, OnInterrupt);
  ProgressLine progress;
  ortavia::BatchIo io;
  io.ctx.abort = &g_abort;
  io.ctx.log = [&](const std::string& text) {
    progress.Break();
    std::fprintf(stderr, "%s  %s\n", Now().c_str(), text.c_str());
  };
  io.ctx.progressRange = [&](int lo, int hi) { progress.Range(lo, hi); };
  io.ctx.progressPos = [&](int pos) { progress.Pos(pos); };
  io.out = [&](const std::string& text) {
    progress.Break();
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
  };
  io.error = [&](const std::string& text) {
    progress.Break();
    std::fprintf(stderr, "%s  %s\n", Now().c_str(), text.c_str());
  };
  const std::vector<std::string> args(argv + 1, argv + argc);
  const int code = ortavia::RunBatchCommand(args, io);
  progress.Break();
  return code;
}
