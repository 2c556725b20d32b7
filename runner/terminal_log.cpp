#include "runner/terminal_log.h"

#include <ctime>

#include <unistd.h>

#include "process/remaining_time.h"

namespace ortavia {

std::string LocalTimeStamp() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

ProgressLine::ProgressLine(bool quiet) : tty_(isatty(STDERR_FILENO) != 0), quiet_(quiet) {}

void ProgressLine::Stage(const std::string& name, int images) {
  End(true);
  stage_ = name;
  images_ = images;
}

void ProgressLine::Range(int lo, int hi) {
  lo_ = lo;
  hi_ = hi;
  start_ = std::chrono::steady_clock::now();
}

void ProgressLine::Pos(int pos) {
  if (quiet_ || hi_ <= lo_) return;
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  if (tty_) {
    line_ = StageProgressText(stage_.empty() ? "progress" : stage_, pos - lo_, hi_ - lo_, images_,
                              elapsed);
    Draw();
    return;
  }
  const std::string text = "progress " + std::to_string(pos) + "/" + std::to_string(hi_) + ": " +
                           ProgressText(lo_, hi_, pos, elapsed, "estimating...");
  // Without a terminal only steps past the first are worth a line each.
  if (pos > 0 && text != last_)
    std::fprintf(stderr, "%s  %s\n", LocalTimeStamp().c_str(), text.c_str());
  last_ = text;
}

void ProgressLine::Print(std::FILE* stream, const std::string& text, bool dated) {
  if (open_) std::fputs("\r\033[K", stderr);
  if (dated)
    std::fprintf(stream, "%s  %s\n", LocalTimeStamp().c_str(), text.c_str());
  else
    std::fputs(text.c_str(), stream);
  std::fflush(stream);
  if (open_) Draw();
}

void ProgressLine::End(bool complete) {
  if (open_ && complete) Pos(hi_);
  if (open_) std::fputc('\n', stderr);
  open_ = false;
  line_.clear();
}

void ProgressLine::Draw() {
  std::fprintf(stderr, "\r%s\033[K", line_.c_str());
  std::fflush(stderr);
  open_ = true;
}

BatchIo TerminalIo(ProgressLine& progress, const std::atomic<bool>* abort, bool quiet) {
  BatchIo io;
  io.quiet = quiet;
  io.ctx.abort = abort;
  if (!quiet) {
    io.ctx.log = [&progress](const std::string& text) { progress.Print(stderr, text, true); };
    io.out = [&progress](const std::string& text) { progress.Print(stdout, text, false); };
  }
  io.ctx.progressRange = [&progress](int lo, int hi) { progress.Range(lo, hi); };
  io.ctx.progressPos = [&progress](int pos) { progress.Pos(pos); };
  io.stage = [&progress](const std::string& name, int images) { progress.Stage(name, images); };
  io.error = [&progress](const std::string& text) { progress.Print(stderr, text, true); };
  return io;
}

}  // namespace ortavia
