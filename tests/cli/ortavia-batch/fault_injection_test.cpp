// Faults from outside during a whole ortavia-batch run: the disk fills while an ortho is written
// (a file-size limit with SIGXFSZ ignored, so writes fail with EFBIG as on a full disk), and a
// SIGTERM arrives during the mosaic stage or during a warp.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>

#include <gtest/gtest.h>

#include "support/test_env.h"
#include "support/test_geotiff.h"
#include "tool_process.h"

namespace {
namespace fs = std::filesystem;
using ortavia::test::ReadAll;
using ortavia::test::ReadsCompletely;
using ortavia::test::RunTool;
using ortavia::test::ToolOutcome;

std::vector<std::string> RunArgs(const fs::path& project, const std::vector<std::string>& images,
                                 const fs::path& out, const std::string& tile = "16") {
  std::vector<std::string> a = {"run", "--dem", (project / "dem.tif").string(), "--passport",
                                (project / "camera.bcc").string(), "--eo",
                                (project / "orientations.txt").string(), "--images"};
  for (const auto& name : images) a.push_back((project / "images" / (name + ".tif")).string());
  for (const std::string s : {"--gsd", "0.5", "--tile"}) a.push_back(s);
  a.push_back(tile);
  a.push_back("--out");
  a.push_back(out.string());
  return a;
}

fs::path WriteSample(const fs::path& dir, const std::string& images, const std::string& size,
                     const std::string& demSize) {
  const ToolOutcome o =
      RunTool({"sample", dir.string(), "--images", images, "--size", size, "--dem-size", demSize});
  EXPECT_EQ(o.code, 0) << o.err;
  return dir;
}

// Every file of the folder under a final name (temporary ".part" files left out) is complete:
// rasters read to the end, world files hold six lines, text files end with their last line.
void ExpectNothingHalfWritten(const fs::path& folder) {
  for (const auto& e : fs::directory_iterator(folder)) {
    const fs::path p = e.path();
    const std::string ext = p.extension().string();
    if (ext == ".part") continue;
    if (ext == ".tif") {
      EXPECT_TRUE(ReadsCompletely(p)) << p;
    } else if (ext == ".tfw") {
      const std::string text = ReadAll(p);
      EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6) << p;
    } else if (ext == ".txt") {
      const std::string text = ReadAll(p);
      EXPECT_TRUE(text.empty() || text.back() == '\n') << p;
    }
  }
}

// Starts a run, and when its log shows `line` stops it, does `act` to it and lets it go on.
ToolOutcome ActWhen(const std::vector<std::string>& args, const std::string& line,
                    const fs::path& dir, const std::function<void(pid_t)>& act,
                    const std::function<void()>& inChild = {}) {
  const fs::path outFile = dir / "act.out", errFile = dir / "act.err";
  fs::remove(errFile);  // an earlier run's log must not be taken for this one's
  const pid_t pid = ortavia::test::StartTool(args, outFile, errFile, inChild);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(300);
  while (ReadAll(errFile).find(line) == std::string::npos &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  kill(pid, SIGSTOP);
  act(pid);
  kill(pid, SIGCONT);
  return ortavia::test::FinishTool(pid, outFile, errFile);
}

TEST(BatchFaults, ADiskThatFillsDuringAnOrthoCostsOnlyThatOrtho) {
  const fs::path root = ortavia::test::MakeTempDir("diskfull");
  // Images large enough, in pixel mode, that an ortho takes a while to write.
  const fs::path project = WriteSample(root / "p", "4", "1200x900", "48");
  const std::vector<std::string> names = {"img_001", "img_002", "img_003", "img_004"};
  const fs::path reference = root / "reference";
  ToolOutcome o = RunTool(RunArgs(project, names, reference, "1"));
  ASSERT_EQ(o.code, 0) << o.err;

  // The disk "fills" when the third ortho starts: from then on no file may grow past 64 KiB,
  // so the orthos fail and the report still fits.
  const fs::path out = root / "full";
  o = ActWhen(
      RunArgs(project, names, out, "1"), "processing image img_003", root,
      [](pid_t pid) {
        const rlimit rl{65536, 65536};
        prlimit(pid, RLIMIT_FSIZE, &rl, nullptr);
      },
      [] { std::signal(SIGXFSZ, SIG_IGN); });
  EXPECT_EQ(o.code, 4) << o.err;
  for (const std::string name : {"img_003", "img_004"}) {
    // Reported with its cause; nothing under its final name and no leftover.
    EXPECT_NE(o.out.find(name), std::string::npos) << o.out;
    EXPECT_NE(o.err.find(name + " image can't be written: the ortho raster cannot be written "
                                "(File too large)!"),
              std::string::npos)
        << o.err;
    for (const std::string ext : {".tif", ".tfw", ".tif.part", ".tfw.part"})
      EXPECT_FALSE(fs::exists(out / (name + ext))) << name + ext;
  }
  // The orthos written before the disk filled are whole: as in the run without a limit.
  for (const std::string f : {"img_001.tif", "img_001.tfw", "img_002.tif", "img_002.tfw"})
    EXPECT_EQ(ReadAll(out / f), ReadAll(reference / f)) << f;
  // The report lists the images the full disk cost, after the ones that were made.
  const std::string report = ReadAll(out / "report.txt");
  const std::size_t failed = report.find("Failed");
  ASSERT_NE(failed, std::string::npos) << report;
  for (const std::string name : {"img_003", "img_004"})
    EXPECT_NE(report.find(name + ": the ortho raster cannot be written (File too large)", failed),
              std::string::npos)
        << report;
  EXPECT_EQ(report.find("img_002", failed), std::string::npos) << report;
  ExpectNothingHalfWritten(out);
}

TEST(BatchFaults, ADiskFullInTheMosaicStageLeavesNoHalfProduct) {
  const fs::path root = ortavia::test::MakeTempDir("diskfull-mosaic");
  const fs::path project = WriteSample(root / "p", "4", "240x180", "48");
  // The text products fit in 300 bytes; the coverage raster does not. The log goes through a
  // pipe, which the limit does not cut.
  const fs::path out = root / "out";
  int log[2];
  ASSERT_EQ(pipe(log), 0);
  const pid_t pid = ortavia::test::StartTool(
      RunArgs(project, {"img_001", "img_002", "img_003", "img_004"}, out), root / "o", root / "e",
      [&log] {
        dup2(log[1], 2);
        close(log[0]);
        close(log[1]);
        const rlimit rl{300, 300};
        setrlimit(RLIMIT_FSIZE, &rl);
        std::signal(SIGXFSZ, SIG_IGN);
      });
  close(log[1]);
  std::string err;
  char buf[4096];
  for (ssize_t n; (n = read(log[0], buf, sizeof buf)) > 0;) err.append(buf, static_cast<std::size_t>(n));
  close(log[0]);
  const ToolOutcome o = ortavia::test::FinishTool(pid, root / "o", root / "e");
  EXPECT_EQ(o.code, 4) << err;
  EXPECT_NE(err.find("Process error!"), std::string::npos) << err;
  EXPECT_NE(err.find("coverage.tif cannot be written (File too large)"), std::string::npos) << err;
  for (const std::string f : {"coverage.tif", "coverage.tif.part", "voronoi.tif", "img_001.tif"})
    EXPECT_FALSE(fs::exists(out / f)) << f;
  ExpectNothingHalfWritten(out);
}

TEST(BatchFaults, SigtermDuringTheMosaicStageOrAWarpLeavesNothingHalfWritten) {
  const fs::path root = ortavia::test::MakeTempDir("sigterm");
  // A large DEM makes the mosaic stage last; large images in pixel mode make the warp last.
  const fs::path project = WriteSample(root / "p", "2", "1600x1200", "1500");
  const std::map<std::string, std::string> stages = {
      {"mosaic", "Process started"}, {"warp", "processing image img_002"}};
  for (const auto& [stage, line] : stages) {
    SCOPED_TRACE(stage);
    const fs::path out = root / stage;
    const ToolOutcome o = ActWhen(RunArgs(project, {"img_001", "img_002"}, out, "1"), line, root,
                                  [](pid_t pid) { kill(pid, SIGTERM); });
    ASSERT_NE(o.err.find(line), std::string::npos) << o.err;
    // Stopped as by the operator: the run ends in order and its report says so.
    EXPECT_EQ(o.code, 1) << o.err;
    EXPECT_NE(ReadAll(out / "report.txt").find("Process aborted by user"), std::string::npos);
    EXPECT_FALSE(fs::exists(out / "img_002.tif"));
    if (stage == "mosaic") {
      EXPECT_FALSE(fs::exists(out / "img_001.tif"));
    }
    ExpectNothingHalfWritten(out);
  }
}

}  // namespace
