// ortavia-batch: the engine from the command line. Log lines with date and time go to stderr,
// results to stdout; Ctrl-C or SIGTERM asks the run to stop, so that a job scheduler's stop still
// leaves the report and no half-written file. On a terminal each stage keeps one progress line
// that is rewritten in place below the log; on a pipe or a file progress is dated lines.
// --quiet prints errors only.
#include <atomic>
#include <csignal>
#include <string>
#include <vector>

#include "runner/batch_runner.h"
#include "runner/heap_reuse.h"
#include "runner/terminal_log.h"

namespace {

std::atomic<bool> g_abort{false};

extern "C" void OnInterrupt(int sig) {
  g_abort.store(true);
  // A second Ctrl-C (or SIGTERM) ends the program at once.
  std::signal(sig, SIG_DFL);
}

}  // namespace

int main(int argc, char** argv) {
  ortavia::KeepFreedMemoryForReuse();
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
  const std::vector<std::string> args(argv + 1, argv + argc);
  const bool quiet = ortavia::BatchQuiet(args);
  ortavia::ProgressLine progress(quiet);
  const ortavia::BatchIo io = ortavia::TerminalIo(progress, &g_abort, quiet);
  const int code = ortavia::RunBatchCommand(args, io);
  progress.End(code == ortavia::kBatchDone);
  return code;
}
