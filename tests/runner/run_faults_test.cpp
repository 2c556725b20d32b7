// Faults that strike a run through the batch runner while it works: input files that vanish, are
// cut short or turn to junk after the checks. Each costs at most the images it touches, is named,
// and never crashes the run. Inputs are never written to, whether the run ends or is stopped.
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gdal_priv.h>
#include <gtest/gtest.h>

#include "runner/batch_runner.h"
#include "support/test_env.h"
#include "support/test_geotiff.h"
#include "tests/runner/small_sample.h"

namespace ortavia {
namespace {
namespace fs = std::filesystem;

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A sample project and a run of it whose log lines can set off a fault.
struct FaultRun {
  fs::path dir;
  SampleFiles files;
  std::vector<std::string> log, errors;
  std::string out;
  std::function<void(const std::string&)> onLog;
  std::atomic<bool> stop{false};
  BatchIo io;

  FaultRun() {
    dir = test::MakeTempDir("faults");
    files = test::WriteSmallSample(dir, 160, 120, 40);
    io.ctx.abort = &stop;
    io.ctx.log = [this](const std::string& line) {
      log.push_back(line);
      if (onLog) onLog(line);
    };
    io.error = [this](const std::string& e) { errors.push_back(e); };
    io.out = [this](const std::string& text) { out += text; };
  }
  fs::path Orthos() const { return dir / "orthos"; }
  fs::path Image(int i) const { return files.images.at(static_cast<std::size_t>(i)); }
  std::string ImageName(int i) const { return Image(i).stem().string(); }
  // The project from passport, point file and images, or from the sample's bundle file.
  int Run(bool fromBundle = false) {
    if (fromBundle)
      return RunBatchCommand({"run", "--dem", files.dem, "--bundle", (dir / "p" / "bundle.bun").string(),
                              "--gsd", "0.5", "--out", Orthos().string()},
                             io);
    return RunBatchCommand({"run", "--dem", files.dem, "--passport", files.passport, "--eo",
                            files.orientations, "--images", files.images[0], files.images[1],
                            files.images[2], "--gsd", "0.5", "--out", Orthos().string()},
                           io);
  }
  // Runs the fault once, when the log first shows a line containing `trigger`.
  void When(const std::string& trigger, std::function<void()> fault) {
    onLog = [trigger, fault, done = false](const std::string& line) mutable {
      if (!done && line.find(trigger) != std::string::npos) {
        done = true;
        fault();
      }
    };
  }
  std::string Log() const {
    std::string all;
    for (const auto& l : log) all += l + "\n";
    for (const auto& e : errors) all += "error: " + e + "\n";
    return all + out;
  }
  // Every file of the output folder that is not a temporary one.
  std::vector<std::string> FinalNames() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(Orthos())) {
      const std::string n = e.path().filename().string();
      if (!n.ends_with(".part")) names.push_back(n);
    }
    std::sort(names.begin(), names.end());
    return names;
  }
};

using test::ReadsCompletely;

TEST(RunFaults, AnImageThatVanishesOrIsCutShortBeforeItsWarpIsSkippedAndNamed) {
  for (const bool truncate : {false, true}) {
    SCOPED_TRACE(truncate ? "truncated" : "deleted");
    FaultRun run;
    const fs::path victim = run.Image(1);
    // "Process started" comes after every check and before the first image is read.
    run.When("Process started", [&] {
      if (truncate)
        fs::resize_file(victim, fs::file_size(victim) / 2);
      else
        fs::remove(victim);
    });
    run.Run();
    const std::string log = run.Log();
    EXPECT_NE(run.out.find("Skipped:\n  " + run.ImageName(1) + ": "), std::string::npos) << log;
    EXPECT_NE(run.out.find("- Images warped: 2"), std::string::npos) << log;
    EXPECT_NE(run.out.find("- Images skipped: 1"), std::string::npos) << log;
    for (int i : {0, 2}) EXPECT_TRUE(ReadsCompletely(run.Orthos() / (run.ImageName(i) + ".tif")));
    EXPECT_FALSE(fs::exists(run.Orthos() / (run.ImageName(1) + ".tif")));
    EXPECT_FALSE(fs::exists(run.Orthos() / (run.ImageName(1) + ".tfw")));
    EXPECT_FALSE(fs::exists(run.Orthos() / (run.ImageName(1) + ".tif.part")));
  }
}

TEST(RunFaults, ADemTurnedToJunkAfterLoadingEndsTheRunWithAClearMessage) {
  // Junk of the DEM's own size written into the file the run holds open, and junk that is far
  // shorter than the file. GDAL's block cache is emptied so the run reads the file again.
  for (const bool sameSize : {true, false}) {
    SCOPED_TRACE(sameSize ? "same size" : "short");
    FaultRun run;
    const std::size_t size = fs::file_size(run.files.dem);
    run.When("Process started", [&] {
      std::ofstream junk(run.files.dem, std::ios::binary | std::ios::in | std::ios::out);
      std::string bytes = sameSize ? std::string(size, '\0') : std::string("junk\n");
      for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7919 % 251);
      junk.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      junk.close();
      if (!sameSize) fs::resize_file(run.files.dem, bytes.size());
      GDALSetCacheMax64(0);
    });
    const GIntBig cache = GDALGetCacheMax64();
    const int code = run.Run();
    GDALSetCacheMax64(cache);
    const std::string log = run.Log();
    EXPECT_EQ(code, kBatchProcessError) << log;
    ASSERT_FALSE(run.errors.empty()) << log;
    EXPECT_NE(run.errors.front().find("DEM"), std::string::npos) << log;
    for (const auto& name : run.FinalNames())
      if (name.ends_with(".tif")) {
        EXPECT_TRUE(ReadsCompletely(run.Orthos() / name)) << name;
      }
  }
}

TEST(RunFaults, InputsAreNeverWrittenByAFullOrAStoppedRun) {
  for (const bool fromBundle : {false, true})
    for (const bool stopped : {false, true}) {
      SCOPED_TRACE(std::string(stopped ? "stopped" : "full") + (fromBundle ? ", bundle" : ""));
      FaultRun run;
      // Every file of the project: DEM, passport, point file, bundle and images.
      std::map<fs::path, std::pair<std::string, fs::file_time_type>> before;
      for (const auto& e : fs::recursive_directory_iterator(run.dir / "p"))
        if (e.is_regular_file()) before[e.path()] = {ReadBytes(e.path()), e.last_write_time()};
      ASSERT_EQ(before.size(), 4 + run.files.images.size());
      if (stopped) run.When("processing image " + run.ImageName(1), [&] { run.stop = true; });
      const int code = run.Run(fromBundle);
      EXPECT_EQ(code, stopped ? kBatchAborted : kBatchDone) << run.Log();
      EXPECT_TRUE(fs::exists(run.Orthos() / (run.ImageName(0) + ".tif")));
      std::size_t after = 0;
      for (const auto& e : fs::recursive_directory_iterator(run.dir / "p")) {
        if (!e.is_regular_file()) continue;
        ++after;
        ASSERT_TRUE(before.count(e.path())) << "new file beside the inputs: " << e.path();
        EXPECT_EQ(ReadBytes(e.path()), before[e.path()].first) << e.path();
        EXPECT_EQ(e.last_write_time(), before[e.path()].second) << e.path();
      }
      EXPECT_EQ(after, before.size());
    }
}

}  // namespace
}  // namespace ortavia
