// ortavia-mpi under mpirun, held against ortavia-batch of the same build on the same sample: the
// files of any number of ranks equal the single run's, refusals come once with the batch runner's
// exit code, Stop leaves only complete orthos and --skip resumes, a crashing rank fails the run
// naming itself and its image, and a rank that does not share the destination is named before
// any image is warped.
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/test_env.h"

extern char** environ;

namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool OnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "";
  for (std::size_t start = 0; start <= dirs.size();) {
    const std::size_t colon = std::min(dirs.find(':', start), dirs.size());
    if (access((fs::path(dirs.substr(start, colon - start)) / program).c_str(), X_OK) == 0)
      return true;
    start = colon + 1;
  }
  return false;
}

// A command running with stdout and stderr in files of its own folder.
struct Command {
  pid_t pid = -1;
  fs::path dir;
  int code = -1;
  std::string out, err;

  explicit Command(const std::vector<std::string>& argv) : dir(ortavia::test::MakeTempDir("cmd")) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (dir / "out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (dir / "err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  std::string ErrSoFar() const { return Contents(dir / "err"); }
  // Waits until stderr matches, or the command ended, or a minute passed.
  bool WaitForErr(const std::regex& pattern) const {
    for (int k = 0; k < 1200; ++k) {
      if (std::regex_search(ErrSoFar(), pattern)) return true;
      if (waitpid(pid, nullptr, WNOHANG) != 0) return false;
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }
  Command& Wait() {
    int status = 0;
    waitpid(pid, &status, 0);
    code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    out = Contents(dir / "out");
    err = Contents(dir / "err");
    return *this;
  }
};

Command Ran(const std::vector<std::string>& argv) {
  Command c(argv);
  c.Wait();
  return c;
}

std::vector<std::string> Batch(std::vector<std::string> args) {
  args.insert(args.begin(), BATCH_TOOL_PATH);
  return args;
}

std::vector<std::string> Mpirun(int ranks, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"mpirun", "-n", std::to_string(ranks), "--oversubscribe",
                                   "--allow-run-as-root", TOOL_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

// The report without the lines that differ from run to run (date, run time, free memory).
std::string StableReport(const fs::path& path) {
  static const std::regex changing("^(Date|Process time|RAM):.*\n", std::regex::multiline);
  return std::regex_replace(Contents(path), changing, "");
}

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.insert(entry.path().filename().string());
  return names;
}

int CountOf(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Pid of the given rank among the processes mpirun started (read from their environment).
pid_t RankPid(int rank) {
  const std::string wanted = "OMPI_COMM_WORLD_RANK=" + std::to_string(rank);
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    if (Contents(entry.path() / "cmdline").find(TOOL_PATH) == std::string::npos) continue;
    const std::string env = Contents(entry.path() / "environ");
    for (std::size_t at = 0; at < env.size(); at = env.find('\0', at) + 1) {
      if (env.compare(at, wanted.size() + 1, wanted + '\0') == 0) return std::stoi(name);
      if (env.find('\0', at) == std::string::npos) break;
    }
  }
  return -1;
}

class MpiCli : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!OnPath("mpirun")) GTEST_SKIP() << "mpirun not found";
    root_ = ortavia::test::MakeTempDir("mpi");
  }
  // A sample project and the single-process run of it into "single".
  void Sample(int images, const std::string& size, const std::string& gsd) {
    Command sample(Batch({"sample", (root_ / "p").string(), "--images", std::to_string(images),
                          "--size", size, "--dem-size", "120"}));
    ASSERT_EQ(sample.Wait().code, 0) << sample.err;
    gsd_ = gsd;
    single_ = Ran(Batch(RunArgs("single")));
    ASSERT_EQ(single_.code, 0) << single_.err;
  }
  std::vector<std::string> RunArgs(const std::string& out) const {
    const fs::path p = root_ / "p";
    return {"run", "--dem", (p / "dem.tif").string(), "--passport", (p / "camera.bcc").string(),
            "--eo", (p / "orientations.txt").string(), "--image-dir", (p / "images").string(),
            "--gsd", gsd_, "--out", (root_ / out).string()};
  }
  // Every final ortho (and world file) in `out` equals the single run's.
  void ExpectOnlyCompleteOrthos(const std::string& out) const {
    for (const std::string& name : Names(root_ / out)) {
      const std::string ext = fs::path(name).extension().string();
      if ((ext == ".tif" || ext == ".tfw") && name.rfind("img_", 0) == 0) {
        EXPECT_EQ(Contents(root_ / out / name), Contents(root_ / "single" / name)) << name;
      }
    }
  }
  void ExpectSameFilesAsSingle(const std::string& out, const std::string& single = "single") const {
    const std::set<std::string> names = Names(root_ / single);
    EXPECT_EQ(Names(root_ / out), names);
    for (const std::string& name : names) {
      if (name == "report.txt")
        EXPECT_EQ(StableReport(root_ / out / name), StableReport(root_ / single / name));
      else
        EXPECT_EQ(Contents(root_ / out / name), Contents(root_ / single / name)) << name;
    }
  }
  fs::path root_;
  std::string gsd_;
  Command single_{std::vector<std::string>{"true"}};
};

TEST_F(MpiCli, OneAndThreeRanksWriteTheSingleRunsFilesAndSummary) {
  Sample(6, "480x360", "0.5");
  for (int ranks : {1, 3}) {
    SCOPED_TRACE(std::to_string(ranks) + " ranks");
    const std::string out = "ranks" + std::to_string(ranks);
    const Command run = Ran(Mpirun(ranks, RunArgs(out)));
    EXPECT_EQ(run.code, 0) << run.err;
    ExpectSameFilesAsSingle(out);
    static const std::regex time("- Process time: .*\n"), folder("(Orthos in |Report: ).*\n");
    auto stable = [&](const std::string& text) {
      return std::regex_replace(std::regex_replace(text, time, ""), folder, "");
    };
    EXPECT_EQ(stable(run.out), stable(single_.out));
    EXPECT_NE(run.out.find("- Images warped: 6"), std::string::npos) << run.out;
    // Progress counts finished images of all ranks.
    EXPECT_NE(run.err.find("progress 6/6"), std::string::npos);
  }
}

TEST_F(MpiCli, TheOrthoFileOptionsReachEveryRank) {
  Sample(3, "240x180", "0.5");
  std::vector<std::string> single = RunArgs("single-options"), ranks = RunArgs("ranks-options");
  for (auto* args : {&single, &ranks})
    args->insert(args->end(), {"--compress", "DEFLATE", "--alpha", "--cog", "--crs", "EPSG:32632"});
  ranks.insert(ranks.end(), {"--threads", "1"});  // each rank on one thread: the same files
  const Command batch = Ran(Batch(single));
  ASSERT_EQ(batch.code, 0) << batch.err;
  const Command run = Ran(Mpirun(3, ranks));
  EXPECT_EQ(run.code, 0) << run.err;
  ExpectSameFilesAsSingle("ranks-options", "single-options");
  // The options made a difference: the plain single run's orthos are other files.
  EXPECT_NE(Contents(root_ / "single-options" / "img_001.tif"),
            Contents(root_ / "single" / "img_001.tif"));
}

TEST_F(MpiCli, RefusalsComeOnceWithTheBatchRunnersCode) {
  Sample(2, "240x180", "0.5");
  struct Case {
    std::string what;
    std::vector<std::string> args;
    int code;
    std::string message;
  };
  std::vector<std::string> badDem = RunArgs("fresh1");
  badDem[2] = (root_ / "no-such-dem.tif").string();
  std::vector<std::string> badTile = RunArgs("fresh2");
  badTile.insert(badTile.end(), {"--tile", "3"});
  const std::vector<Case> cases = {
      {"DEM missing", badDem, 3, "no-such-dem.tif"},
      {"orthos present, no --skip", RunArgs("single"), 3, "give --skip to keep them"},
      {"bad option value", badTile, 2, "--tile needs 16 or 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Command batch = Ran(Batch(c.args));
    const Command mpi = Ran(Mpirun(3, c.args));
    EXPECT_EQ(batch.code, c.code) << batch.err;
    EXPECT_EQ(mpi.code, c.code) << mpi.err;
    EXPECT_EQ(CountOf(batch.err, c.message), 1) << batch.err;
    EXPECT_EQ(CountOf(mpi.err, c.message), 1) << mpi.err;
    EXPECT_EQ(mpi.err.find("processing image"), std::string::npos);
  }
  EXPECT_FALSE(fs::exists(root_ / "fresh1" / "img_001.tif"));
}

std::string OrthoName(int k) {
  char name[32];
  std::snprintf(name, sizeof name, "img_%03d.tif", k);
  return name;
}

TEST_F(MpiCli, StopLeavesOnlyCompleteOrthosAndSkipResumes) {
  // Enough images that a quiet machine cannot finish them all before the stop arrives.
  Sample(24, "1600x1200", "0.25");
  Command run(Mpirun(3, RunArgs("stopped")));
  // The fill reports progress too: wait for the first finished ortho. Two ranks may finish
  // together, so the first count shown need not be 1.
  ASSERT_TRUE(run.WaitForErr(std::regex("start warping images[^]*progress [1-9]\\d*/24")))
      << run.ErrSoFar();
  kill(run.pid, SIGINT);  // Ctrl-C on mpirun
  run.Wait();
  EXPECT_EQ(run.code, 1) << run.err;
  ExpectOnlyCompleteOrthos("stopped");
  int complete = 0;
  for (int k = 1; k <= 24; ++k) complete += fs::exists(root_ / "stopped" / OrthoName(k));
  EXPECT_GE(complete, 1);
  EXPECT_LT(complete, 24);

  std::vector<std::string> again = RunArgs("stopped");
  again.push_back("--skip");
  const Command resumed = Ran(Mpirun(3, again));
  EXPECT_EQ(resumed.code, 0) << resumed.err;
  for (int k = 1; k <= 24; ++k) {
    const std::string name = OrthoName(k);
    EXPECT_EQ(Contents(root_ / "stopped" / name), Contents(root_ / "single" / name)) << name;
  }
}

TEST_F(MpiCli, ACrashingRankFailsTheRunNamingItselfAndItsImage) {
  Sample(24, "1600x1200", "0.25");
  Command run(Mpirun(3, RunArgs("crashed")));
  ASSERT_TRUE(run.WaitForErr(std::regex("rank 2: processing image"))) << run.ErrSoFar();
  const pid_t victim = RankPid(2);
  ASSERT_GT(victim, 0);
  kill(victim, SIGSEGV);
  run.Wait();
  EXPECT_EQ(run.code, 4) << run.err;
  std::smatch named;
  ASSERT_TRUE(std::regex_search(
      run.err, named,
      std::regex("rank 2 \\(pid " + std::to_string(victim) + " on [^)]+\\) died while warping (img_\\d+)")))
      << run.err;
  EXPECT_NE(run.err.find("rank 2: processing image " + named[1].str()), std::string::npos);
  EXPECT_FALSE(fs::exists(root_ / "crashed" / (named[1].str() + ".tif")));
  ExpectOnlyCompleteOrthos("crashed");
}

TEST_F(MpiCli, ARankWithoutTheSharedFolderIsNamedBeforeTheWarp) {
  if (geteuid() != 0 || Command({"unshare", "-m", "true"}).Wait().code != 0)
    GTEST_SKIP() << "needs root and unshare to give one rank a folder of its own";
  Sample(2, "240x180", "0.5");
  const fs::path out = root_ / "unshared";
  fs::create_directories(out);
  // Ranks 0 and 1 see the folder; rank 2 sees an empty file system mounted over it.
  std::vector<std::string> argv = {"mpirun", "--oversubscribe", "--allow-run-as-root", "-n", "2",
                                   TOOL_PATH};
  const std::vector<std::string> args = RunArgs("unshared");
  argv.insert(argv.end(), args.begin(), args.end());
  argv.insert(argv.end(), {":", "-n", "1", "unshare", "-m", "sh", "-c",
                           "mount -t tmpfs tmpfs \"$0\" && exec \"$@\"", out.string(), TOOL_PATH});
  argv.insert(argv.end(), args.begin(), args.end());
  const Command run = Ran(argv);
  EXPECT_EQ(run.code, 4) << run.err;
  EXPECT_TRUE(std::regex_search(run.err, std::regex("rank 2 \\(pid \\d+ on [^)]+\\): cannot open .*voronoi.tif")))
      << run.err;
  EXPECT_EQ(run.err.find("rank 1 (pid"), std::string::npos) << run.err;
  // The error line is the cause itself, without an empty message and a colon before it.
  EXPECT_EQ(run.err.find("  : Ranks"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("processing image"), std::string::npos);
  EXPECT_FALSE(fs::exists(out / "img_001.tif"));
  EXPECT_FALSE(fs::exists(out / "img_001.tif.part"));
}

}  // namespace
