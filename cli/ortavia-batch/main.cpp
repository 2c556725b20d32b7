// ortavia-batch: the engine from the command line. Log lines with date and time go to stderr,
// results to stdout; Ctrl-C asks the run to stop. On a terminal each stage keeps one progress
// line that is rewritten in place below the log; on a pipe or a file progress is dated lines.
// --quiet prints errors only.
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

class ProgressLine {
 public:
  explicit ProgressLine(bool quiet) : tty_(isatty(STDERR_FILENO) != 0), quiet_(quiet) {}

  // The stage before ended as it should: its line is left at 100 %.
  void Stage(const std::string& name, int images) {
    End(true);
    stage_ = name;
    images_ = images;
  }
  void Range(int lo, int hi) {
    lo_ = lo;
    hi_ = hi;
    start_ = std::chrono::steady_clock::now();
  }
  void Pos(int pos) {
    if (quiet_ || hi_ <= lo_) return;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    if (tty_) {
      line_ = ortavia::StageProgressText(stage_.empty() ? "progress" : stage_, pos - lo_, hi_ - lo_,
                                         images_, elapsed);
      Draw();
      return;
    }
    const std::string text = "progress " + std::to_string(pos) + "/" + std::to_string(hi_) + ": " +
                             ortavia::ProgressText(lo_, hi_, pos, elapsed, "estimating...");
    // Without a terminal only steps past the first are worth a line each.
    if (pos > 0 && text != last_) std::fprintf(stderr, "%s  %s\n", Now().c_str(), text.c_str());
    last_ = text;
  }
  // A dated line above the progress line, which is drawn again below it.
  void Print(std::FILE* stream, const std::string& text, bool dated) {
    if (open_) std::fputs("\r\033[K", stderr);
    if (dated)
      std::fprintf(stream, "%s  %s\n", Now().c_str(), text.c_str());
    else
      std::fputs(text.c_str(), stream);
    std::fflush(stream);
    if (open_) Draw();
  }
  // Leaves the stage's line, completed or as it stands, and moves below it.
  void End(bool complete) {
    if (open_ && complete) Pos(hi_);
    if (open_) std::fputc('\n', stderr);
    open_ = false;
    line_.clear();
  }

 private:
  void Draw() {
    std::fprintf(stderr, "\r%s\033[K", line_.c_str());
    std::fflush(stderr);
    open_ = true;
  }

  bool tty_, quiet_;
  bool open_ = false;
  std::string stage_, line_, last_;
  int images_ = 0;
  int lo_ = 0, hi_ = 0;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGINT, OnInterrupt);
  const std::vector<std::string> args(argv + 1, argv + argc);
  const bool quiet = ortavia::BatchQuiet(args);
  ProgressLine progress(quiet);
  ortavia::BatchIo io;
  io.quiet = quiet;
  io.ctx.abort = &g_abort;
  if (!quiet) {
    io.ctx.log = [&](const std::string& text) { progress.Print(stderr, text, true); };
    io.out = [&](const std::string& text) { progress.Print(stdout, text, false); };
  }
  io.ctx.progressRange = [&](int lo, int hi) { progress.Range(lo, hi); };
  io.ctx.progressPos = [&](int pos) { progress.Pos(pos); };
  io.stage = [&](const std::string& name, int images) { progress.Stage(name, images); };
  io.error = [&](const std::string& text) { progress.Print(stderr, text, true); };
  const int code = ortavia::RunBatchCommand(args, io);
  progress.End(code == ortavia::kBatchDone);
  return code;
}
