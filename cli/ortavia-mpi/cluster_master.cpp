#include "cluster_master.h"

#include <chrono>
#include <csignal>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <mpi.h>
#include <unistd.h>

#include "crash_note.h"
#include "mpi_link.h"
#include "runner/cluster_run.h"

namespace ortavia::mpi {
namespace {

using Clock = std::chrono::steady_clock;

struct Worker {
  int rank = 0;
  Ready ready;
  int position = -1;     // the image it warps, -1 when idle
  bool stopped = false;  // told that there is no more work
};

std::string RankText(int rank, const std::string& host, long pid) {
  return "rank " + std::to_string(rank) + " (pid " + std::to_string(pid) + " on " + host + ")";
}

// A process of this host that no longer runs. Ranks on other hosts cannot be watched this way;
// mpirun ends the run when one of them dies.
bool GoneHere(const Ready& ready, const std::string& host) {
  return ready.host == host && ready.pid > 0 && kill(static_cast<pid_t>(ready.pid), 0) != 0 &&
         errno == ESRCH;
}

// The images rank 0 warps itself, beside handing out the others.
class LocalWarp {
 public:
  LocalWarp(const WarpRequest& request, ImageWarper& warper, ImageDispenser& dispenser,
            std::mutex& mutex, const std::atomic<bool>& stop, const std::string& crashText)
      : request_(request), warper_(warper), dispenser_(dispenser), mutex_(mutex), stop_(stop),
        crashText_(crashText) {}
  void Run() {
    while (!stop_.load()) {
      std::optional<int> position;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        position = dispenser_.Next();
      }
      if (!position) break;
      SetCrashNote(crashText_ + " died while warping " +
                   request_.project->images[request_.rows[*position]].name);
      const ImageStatus status = warper_.WarpImage(*position);
      SetCrashNote(crashText_ + " crashed");
      std::lock_guard<std::mutex> lock(mutex_);
      dispenser_.Record({*position, status});
      if (status.outcome == ImageOutcome::Aborted) break;
    }
    done_.store(true);
  }
  bool Done() const { return done_.load(); }

 private:
  const WarpRequest& request_;
  ImageWarper& warper_;
  ImageDispenser& dispenser_;
  std::mutex& mutex_;
  const std::atomic<bool>& stop_;
  std::string crashText_;
  std::atomic<bool> done_{false};
};

}  // namespace

void ClusterMaster::EndBeforeWarp() {
  if (started_) return;
  started_ = true;
  const std::string stop = EncodeClusterStart(ClusterStart{});
  for (int r = 1; r < ranks_; ++r) Send(r, kStart, stop);
}

WarpResult ClusterMaster::Warp(const WarpRequest& request, const RunContext& ctx) {
  started_ = true;
  WarpResult result;
  std::mutex mutex;  // the dispenser, the log and the progress line
  std::atomic<bool> localStop{false};
  RunContext localCtx;
  localCtx.log = [&](const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    ctx.Log(text);
  };
  localCtx.abort = &localStop;
  ImageWarper warper(request, localCtx);

  std::vector<Worker> workers;
  for (int r = 1; r < ranks_; ++r) {
    workers.emplace_back();
    workers.back().rank = r;
  }
  auto stopAll = [&] {
    for (Worker& w : workers) Send(w.rank, kWork, "-1");
  };
  ClusterStart start = MakeClusterStart(request);
  if (auto why = warper.Refusal()) {
    start.go = false;
    for (const Worker& w : workers) Send(w.rank, kStart, EncodeClusterStart(start));
    result.status = WarpRunStatus::Refused;
    result.refusal = *why;
    return result;
  }
  const std::string startBytes = EncodeClusterStart(start);
  for (const Worker& w : workers) Send(w.rank, kStart, startBytes);

  // Every rank proves it sees the inputs and the destination before any image is warped.
  std::vector<std::string> unfit;
  for (Worker& w : workers) {
    std::string bytes;
    if (!Wait(w.rank, kReady, &bytes, [&] { return abort_.load(); })) {
      stopAll();
      ctx.Log("process aborted by user");
      result.status = WarpRunStatus::Aborted;
      return result;
    }
    w.ready = ParseReady(bytes);
    if (!w.ready.cause.empty())
      unfit.push_back(RankText(w.rank, w.ready.host, w.ready.pid) + ": " + w.ready.cause);
  }
  if (!unfit.empty()) {
    stopAll();
    std::string text = "Ranks that cannot take part in the run (is the destination folder on a "
                       "file system all nodes share?):";
    for (const std::string& u : unfit) text += "\n  " + u;
    result.status = WarpRunStatus::Refused;
    result.refusal = text;
    return result;
  }

  const int count = static_cast<int>(request.rows.size());
  ImageDispenser dispenser(count);
  ctx.SetRange(0, count);
  ctx.Log("start warping images...");
  const std::string host = HostName();
  auto handOut = [&](Worker& w) {
    std::optional<int> next;
    {
      std::lock_guard<std::mutex> lock(mutex);
      next = dispenser.Next();
    }
    w.position = next.value_or(-1);
    w.stopped = !next;
    Send(w.rank, kWork, std::to_string(w.position));
  };
  for (Worker& w : workers) handOut(w);
  LocalWarp local(request, warper, dispenser, mutex, localStop, RankText(0, host, getpid()));
  std::thread localThread([&] { local.Run(); });

  bool stopping = false;
  std::string failure;  // the ranks that died, with their images
  auto stop = [&] {
    if (stopping) return;
    stopping = true;
    localStop.store(true);
    std::lock_guard<std::mutex> lock(mutex);
    dispenser.Stop();
    for (const Worker& w : workers)
      if (w.position >= 0) Send(w.rank, kAbort, {});
  };
  int shown = -1;
  auto lastWatch = Clock::now();
  while (true) {
    bool busy = false;
    std::string bytes;
    int from = -1;
    while (Poll(MPI_ANY_SOURCE, kReport, &bytes, &from)) {
      busy = true;
      if (from < 1 || from >= ranks_) continue;
      Worker& w = workers[from - 1];
      const auto report = DecodeImageReport(bytes);
      if (report) {
        std::lock_guard<std::mutex> lock(mutex);
        dispenser.Record(*report);
      }
      w.position = -1;
      // A rank stopped by its own signal stops the run: mpirun sends it to every rank.
      if (report && report->status.outcome == ImageOutcome::Aborted) stop();
      handOut(w);
    }
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (dispenser.Finished() != shown) {
        shown = dispenser.Finished();
        ctx.SetPos(shown);
      }
    }
    if (abort_.load()) stop();
    if (Clock::now() - lastWatch > std::chrono::milliseconds(200)) {
      lastWatch = Clock::now();
      for (Worker& w : workers) {
        if (w.position < 0 || !GoneHere(w.ready, host)) continue;
        const std::string name = request.project->images[request.rows[w.position]].name;
        const std::string line =
            RankText(w.rank, w.ready.host, w.ready.pid) + " died while warping " + name;
        failure += (failure.empty() ? "" : "\n") + line;
        w.position = -1;
        w.stopped = true;
        stop();
      }
    }
    bool allStopped = local.Done();
    for (const Worker& w : workers) allStopped = allStopped && w.stopped && w.position < 0;
    if (allStopped) break;
    if (!busy) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  localThread.join();

  WarpRunStatus status = WarpRunStatus::Done;
  if (!failure.empty()) {
    // mpirun stops the others when a rank dies: not the user's Stop.
    abort_.store(false);
    status = WarpRunStatus::Refused;
  } else if (abort_.load() || stopping) {
    ctx.Log("process aborted by user");
    status = WarpRunStatus::Aborted;
  } else {
    ctx.Log("end warping images...");
  }
  std::lock_guard<std::mutex> lock(mutex);
  result = dispenser.Gather(status);
  result.refusal = failure;
  return result;
}

}  // namespace ortavia::mpi
