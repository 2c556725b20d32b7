#include "cluster_worker.h"

#include <cstdio>
#include <string>

#include <unistd.h>

#include "crash_note.h"
#include "mpi_link.h"
#include "runner/batch_runner.h"
#include "runner/cluster_run.h"
#include "runner/terminal_log.h"

namespace ortavia::mpi {

void RunClusterWorker(const BatchCommand& command, int rank, std::atomic<bool>& abort) {
  const std::string self = "rank " + std::to_string(rank) + " (pid " + std::to_string(getpid()) +
                           " on " + HostName() + ")";
  SetCrashNote(self + " crashed");
  const WarpThreads threads(command.threads);

  // Rank 0 reports refused inputs once; here they only keep this rank out of the run.
  WarpProject project;
  std::string fillError;
  BatchIo quiet;
  quiet.ctx.abort = &abort;
  quiet.error = [&](const std::string& text) { fillError = text; };
  const int filled = FillBatchProject(project, command.project, quiet);

  std::string bytes;
  if (!Wait(0, kStart, &bytes, [&] { return abort.load(); })) return;
  const auto start = DecodeClusterStart(bytes);
  if (!start || !start->go) return;

  RunContext ctx;
  if (!command.quiet)
    ctx.log = [rank](const std::string& text) {
      std::fprintf(stderr, "%s  rank %d: %s\n", LocalTimeStamp().c_str(), rank, text.c_str());
    };
  ctx.abort = &abort;
  ctx.pump = [&abort] {
    std::string none;
    if (Poll(0, kAbort, &none)) abort.store(true);
  };
  cv::Mat voronoi;
  WarpRequest request;
  std::string cause = filled == kBatchDone ? std::string()
                                           : "cannot read the inputs: " + fillError;
  if (cause.empty())
    cause = PrepareClusterWarp(project, *start, command.run.destinationFolder, rank, voronoi,
                               request);
  ImageWarper warper(request, ctx);
  if (cause.empty())
    if (auto why = warper.Refusal()) cause = *why;
  Send(0, kReady, ReadyText(cause));
  if (!cause.empty()) {
    Wait(0, kWork, &bytes, {});
    return;
  }

  while (Wait(0, kWork, &bytes, {})) {
    const int position = std::stoi(bytes);
    if (position < 0 || position >= static_cast<int>(request.rows.size())) break;
    SetCrashNote(self + " died while warping " + project.images[request.rows[position]].name);
    const ImageStatus status = warper.WarpImage(position);
    SetCrashNote(self + " crashed");
    Send(0, kReport, EncodeImageReport({position, status}));
  }
}

}  // namespace ortavia::mpi
