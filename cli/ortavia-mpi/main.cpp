// ortavia-mpi: the run of ortavia-batch spread over the ranks of an MPI job sharing one file
// system. Rank 0 checks the inputs, builds the mosaic products, hands out the images and writes
// the report and the summary; every rank warps. SIGINT and SIGTERM (mpirun's Ctrl-C, scancel) stop
// every rank; finished orthos stay complete, the ones in progress stay "<name>.tif.part".
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <mpi.h>

#include "cluster_master.h"
#include "cluster_worker.h"
#include "crash_note.h"
#include "mpi_link.h"
#include "runner/batch_runner.h"
#include "runner/heap_reuse.h"
#include "runner/terminal_log.h"

namespace {

std::atomic<bool> g_abort{false};

extern "C" void OnStop(int sig) {
  g_abort.store(true);
  // A second Ctrl-C ends the rank at once.
  std::signal(sig, SIG_DFL);
}

// ortavia-batch's usage as this tool takes it: the forms of the run command and its options.
std::string Usage() {
  std::istringstream batch(ortavia::BatchUsage());
  const std::string tool = "ortavia-batch";
  std::string forms, options, line;
  bool keep = false;
  while (std::getline(batch, line)) {
    const std::size_t run = line.find(tool + " run ");
    if (run != std::string::npos && run < 8) {
      forms += std::string(forms.empty() ? "Usage: " : "  or:  ") + "mpirun -n N ortavia-mpi" +
               line.substr(run + tool.size()) + "\n";
      continue;
    }
    if (line.empty()) {
      if (keep) options += "\n";
      keep = false;
      continue;
    }
    const bool projectHeading = line.rfind("Project options", 0) == 0;
    if (line[0] != ' ') keep = projectHeading || line == "Run options:";
    if (keep && line.find("--geojson") == std::string::npos)
      options += (projectHeading ? std::string("Project options:") : line) + "\n";
  }
  return forms +
         "  or:  ortavia-mpi --help|--version\n"
         "Runs the run command of ortavia-batch over the ranks of an MPI job.\n\n" +
         options +
         "Every rank must see the inputs and --out under the same paths (a shared file system).\n"
         "Exit codes: 0 done, 1 aborted, 2 usage, 3 input refused, 4 process error (a rank that\n"
         "died included).\n";
}

int RunRankZero(const std::vector<std::string>& args, int ranks) {
  const bool quiet = ortavia::BatchQuiet(args);
  ortavia::ProgressLine progress(quiet);
  const ortavia::BatchIo io = ortavia::TerminalIo(progress, &g_abort, quiet);
  ortavia::BatchCommand command;
  std::string error = ortavia::ParseBatchCommand(args, &command);
  if (error.empty() && command.kind != ortavia::BatchCommandKind::Run &&
      command.kind != ortavia::BatchCommandKind::Help &&
      command.kind != ortavia::BatchCommandKind::Version)
    error = "ortavia-mpi runs only the run command";
  if (!error.empty()) {
    io.error(error + "\n\n" + Usage());
    return ortavia::kBatchUsage;
  }
  if (command.kind == ortavia::BatchCommandKind::Help) {
    std::fputs(Usage().c_str(), stdout);
    return ortavia::kBatchDone;
  }
  if (command.kind == ortavia::BatchCommandKind::Version) {
    std::printf("ortavia-mpi %s\n", ORTAVIA_VERSION);
    return ortavia::kBatchDone;
  }
  ortavia::mpi::ClusterMaster master(ranks, g_abort);
  const int code = ortavia::RunBatchRun(
      command, io,
      [&](const ortavia::WarpRequest& request, const ortavia::RunContext& ctx) {
        return master.Warp(request, ctx);
      });
  master.EndBeforeWarp();
  progress.End(code == ortavia::kBatchDone);
  return code;
}

}  // namespace

// --help and --version started without mpirun answer at once: starting MPI alone may be refused
// (as root) or wait for a launcher that is not there.
static bool AnsweredWithoutMpi(int argc, char** argv) {
  if (argc != 2 || std::getenv("OMPI_COMM_WORLD_SIZE") || std::getenv("PMI_SIZE")) return false;
  const std::string arg = argv[1];
  if (arg == "--help" || arg == "-h") {
    std::fputs(Usage().c_str(), stdout);
    return true;
  }
  if (arg == "--version") {
    std::printf("ortavia-mpi %s\n", ORTAVIA_VERSION);
    return true;
  }
  return false;
}

int main(int argc, char** argv) {
  if (AnsweredWithoutMpi(argc, argv)) return 0;
  ortavia::KeepFreedMemoryForReuse();
  int provided = 0;
  MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided);
  std::signal(SIGINT, OnStop);
  std::signal(SIGTERM, OnStop);
  ortavia::mpi::InstallCrashNote();
  const int rank = ortavia::mpi::Rank();
  const std::vector<std::string> args(argv + 1, argv + argc);
  int code = 0;
  if (rank == 0) {
    code = RunRankZero(args, ortavia::mpi::Size());
  } else {
    ortavia::BatchCommand command;
    if (ortavia::ParseBatchCommand(args, &command).empty() &&
        command.kind == ortavia::BatchCommandKind::Run)
      ortavia::mpi::RunClusterWorker(command, rank, g_abort);
  }
  MPI_Finalize();
  // Only rank 0 speaks for the run; mpirun passes its code on.
  return rank == 0 ? code : 0;
}
