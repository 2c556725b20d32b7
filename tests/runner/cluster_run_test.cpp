// The cluster run without message passing: its messages survive encoding exactly, the dispenser
// gathers outcomes in list order whatever order they arrive in, a rank proves it sees what rank 0
// sees, and a run warped out of order by a second project reproduces the single run's files.
#include "runner/cluster_run.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <set>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "process/run_process.h"
#include "runner/batch_runner.h"
#include "support/test_env.h"
#include "support/test_geotiff.h"
#include "tests/runner/small_sample.h"

namespace ortavia {
namespace {
namespace fs = std::filesystem;

std::string Bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

ImageStatus Status(int row, const std::string& name, ImageOutcome outcome,
                   const std::string& reason = {}) {
  ImageStatus s;
  s.row = row;
  s.name = name;
  s.outcome = outcome;
  s.reason = reason;
  return s;
}

TEST(ClusterMessages, StartAndReportSurviveEncodingExactly) {
  ClusterStart s;
  s.go = true;
  s.composition = "412";
  s.tileStep = 1;
  s.maxError = 0.1 + 0.7;
  s.overwrite = true;
  s.gsd = 0.1 + 0.2;  // not a short decimal: a text round trip at 15 digits would change it
  s.cellSize = s.gsd * 40.0;
  s.mosaicWidth = 123457;
  s.mosaicHeight = 7;
  s.mosaicScale = 138.56406460551018;
  s.mosaicMinX = -500000.125;
  s.mosaicMaxX = std::numeric_limits<double>::max();
  s.mosaicMinY = std::numeric_limits<double>::denorm_min();
  s.mosaicMaxY = 4500000.000000001;
  s.imageCount = 10000;
  s.voronoiWidth = 2500;
  s.voronoiHeight = 1;
  s.voronoiHash = 0xfedcba9876543210ULL;
  s.projectHash = 1;
  s.output.crsWkt = "PROJCS[\"WGS 84 / UTM zone 33N\",GEOGCS[\"WGS 84\"]]";
  s.output.compress = "ZSTD";
  s.output.cog = true;
  s.output.alpha = true;
  s.output.occlusion = true;
  s.testShareOnly = true;
  const std::string bytes = EncodeClusterStart(s);
  const auto back = DecodeClusterStart(bytes);
  ASSERT_TRUE(back);
  EXPECT_TRUE(back->go);
  EXPECT_EQ(back->composition, "412");
  EXPECT_EQ(back->tileStep, 1);
  EXPECT_EQ(back->maxError, 0.1 + 0.7);
  EXPECT_TRUE(back->overwrite);
  EXPECT_EQ(back->gsd, 0.30000000000000004);
  EXPECT_EQ(back->cellSize, s.cellSize);
  EXPECT_EQ(back->mosaicWidth, 123457);
  EXPECT_EQ(back->mosaicHeight, 7);
  EXPECT_EQ(back->mosaicScale, 138.56406460551018);
  EXPECT_EQ(back->mosaicMinX, -500000.125);
  EXPECT_EQ(back->mosaicMaxX, std::numeric_limits<double>::max());
  EXPECT_EQ(back->mosaicMinY, std::numeric_limits<double>::denorm_min());
  EXPECT_EQ(back->mosaicMaxY, 4500000.000000001);
  EXPECT_EQ(back->imageCount, 10000);
  EXPECT_EQ(back->voronoiWidth, 2500);
  EXPECT_EQ(back->voronoiHeight, 1);
  EXPECT_EQ(back->voronoiHash, 0xfedcba9876543210ULL);
  EXPECT_EQ(back->projectHash, 1u);
  EXPECT_EQ(back->output.crsWkt, s.output.crsWkt);
  EXPECT_EQ(back->output.compress, "ZSTD");
  EXPECT_TRUE(back->output.cog);
  EXPECT_TRUE(back->output.alpha);
  EXPECT_TRUE(back->output.occlusion);
  EXPECT_TRUE(back->testShareOnly);
  // A cut or padded message is refused, not half read.
  EXPECT_FALSE(DecodeClusterStart(bytes.substr(0, bytes.size() - 1)));
  EXPECT_FALSE(DecodeClusterStart(bytes + "x"));
  EXPECT_FALSE(DecodeClusterStart(""));

  ImageReport r{41, Status(41, "img 041", ImageOutcome::Skipped,
                           std::string("reason with\nnewline and \0 byte", 30))};
  const auto rb = DecodeImageReport(EncodeImageReport(r));
  ASSERT_TRUE(rb);
  EXPECT_EQ(rb->position, 41);
  EXPECT_EQ(rb->status.row, 41);
  EXPECT_EQ(rb->status.name, "img 041");
  EXPECT_EQ(rb->status.outcome, ImageOutcome::Skipped);
  EXPECT_EQ(rb->status.reason, std::string("reason with\nnewline and \0 byte", 30));
  // Whether a skip was a failure crosses too: the run's exit code depends on it.
  for (const bool failed : {false, true}) {
    r.status.failed = failed;
    const auto f = DecodeImageReport(EncodeImageReport(r));
    ASSERT_TRUE(f);
    EXPECT_EQ(f->status.failed, failed);
  }
  // An outcome out of range is refused.
  std::string bad = EncodeImageReport(r);
  bad[8] = 7;  // the outcome follows position and row (two ints)
  EXPECT_FALSE(DecodeImageReport(bad));
}

TEST(ImageDispenser, HandsOutInOrderAndGathersInListOrder) {
  ImageDispenser d(5);
  std::vector<int> handed;
  while (auto p = d.Next()) handed.push_back(*p);
  EXPECT_EQ(handed, (std::vector<int>{0, 1, 2, 3, 4}));
  // Outcomes arrive in the order the ranks finish.
  d.Record({3, Status(3, "d", ImageOutcome::Written)});
  d.Record({1, Status(1, "b", ImageOutcome::Skipped, "already present")});
  d.Record({4, Status(4, "e", ImageOutcome::Aborted, "process aborted by user")});
  d.Record({0, Status(0, "a", ImageOutcome::Written)});
  d.Record({9, Status(9, "x", ImageOutcome::Written)});  // not a position of the run
  EXPECT_EQ(d.Finished(), 3);  // the aborted image is not finished
  const WarpResult r = d.Gather(WarpRunStatus::Aborted);
  EXPECT_EQ(r.status, WarpRunStatus::Aborted);
  EXPECT_EQ(r.processedRows, (std::vector<int>{0, 3}));
  EXPECT_EQ(r.skippedRows, (std::vector<int>{1}));
  ASSERT_EQ(r.images.size(), 4u);  // position 2 never reported: in no list
  EXPECT_EQ(r.images[0].name, "a");
  EXPECT_EQ(r.images[1].name, "b");
  EXPECT_EQ(r.images[2].name, "d");
  EXPECT_EQ(r.images[3].name, "e");
  EXPECT_EQ(r.images[3].outcome, ImageOutcome::Aborted);

  ImageDispenser stopped(3);
  EXPECT_EQ(stopped.Next(), 0);
  stopped.Stop();
  EXPECT_FALSE(stopped.Next());
  EXPECT_TRUE(stopped.Stopped());
}

TEST(ClusterChecks, RasterHashAndProjectFingerprint) {
  cv::Mat a(4, 5, CV_8UC3, cv::Scalar(1, 2, 3));
  cv::Mat wide(4, 9, CV_8UC3, cv::Scalar(1, 2, 3));
  const cv::Mat roi = wide(cv::Rect(2, 0, 5, 4));  // same pixels, another row stride
  EXPECT_EQ(HashRaster(a), HashRaster(roi));
  cv::Mat b = a.clone();
  b.at<cv::Vec3b>(3, 4)[2] = 4;
  EXPECT_NE(HashRaster(a), HashRaster(b));
  EXPECT_NE(HashRaster(a), HashRaster(a.reshape(3, 5)));  // 5 x 4 of the same bytes

  WarpProject p, q;
  for (WarpProject* x : {&p, &q}) {
    x->images = {{"img_1", "/data/img_1.tif"}, {"img_2", "/data/img_2.tif"}};
    x->orientations["img_1"].N = Wml::Point3d(500000.0, 4500000.0, 1200.0);
  }
  EXPECT_EQ(ProjectFingerprint(p), ProjectFingerprint(q));
  q.orientations["img_1"].N = Wml::Point3d(500000.0, 4500000.0, 1200.001);
  EXPECT_NE(ProjectFingerprint(p), ProjectFingerprint(q));
  WarpProject moved;
  moved.images = {{"img_1", "/data/img_1.tif"}, {"img_2", "/other/img_2.tif"}};
  moved.orientations["img_1"].N = Wml::Point3d(500000.0, 4500000.0, 1200.0);
  EXPECT_NE(ProjectFingerprint(p), ProjectFingerprint(moved));
}

TEST(ClusterChecks, VoronoiProductReadBackInChannelOrder) {
  const fs::path dir = test::MakeTempDir("vor");
  std::string error;
  EXPECT_TRUE(ReadVoronoiProduct(dir.string(), &error).empty());
  EXPECT_NE(error.find((dir / "voronoi.tif").string()), std::string::npos) << error;

  test::TestRaster raster;
  raster.width = 3;
  raster.height = 2;
  raster.bands = 3;
  raster.type = GDT_Byte;
  // Band b at (c, r) holds 50 * b + 10 * r + c.
  ASSERT_TRUE(test::WriteGeoTiff(dir / "voronoi.tif", raster,
                                 [](int b, int c, int r) { return 50 * b + 10 * r + c; }));
  const cv::Mat map = ReadVoronoiProduct(dir.string(), &error);
  ASSERT_EQ(map.type(), CV_8UC3);
  ASSERT_EQ(map.size(), cv::Size(3, 2));
  // Channel 0 comes from band 3, channel 2 from band 1 (the row code's low byte is band 3).
  EXPECT_EQ(map.at<cv::Vec3b>(1, 2), cv::Vec3b(162, 112, 62));
  EXPECT_EQ(map.at<cv::Vec3b>(0, 0), cv::Vec3b(150, 100, 50));
}

// A tiny sample project filled as every rank fills it.
struct SampleRun {
  fs::path dir = test::MakeTempDir("cluster");
  SampleFiles files;
  BatchProjectOptions inputs;

  bool occlusion = false;

  explicit SampleRun(bool withOcclusion = false) : occlusion(withOcclusion) {
    files = test::WriteSmallSample(dir, 240, 180, 48, occlusion ? 12 : 0);
    inputs.dem = files.dem;
    inputs.passport = files.passport;
    inputs.eo = files.orientations;
    inputs.images = files.images;
  }
  void Fill(WarpProject& project) const { EXPECT_EQ(FillBatchProject(project, inputs, {}), kBatchDone); }
  RunOptions Options(const std::string& out) const {
    RunOptions r;
    r.gsd = 0.5;
    r.destinationFolder = (dir / out).string();
    r.presentOrthos = PresentOrthosMode::Overwrite;
    r.occlusion = occlusion;
    r.alpha = occlusion;
    return r;
  }
};

// With occlusion each rank makes the plan of hidden ground itself: the bytes must still be the
// single run's.
class ClusterRunBytes : public ::testing::TestWithParam<bool> {};

TEST_P(ClusterRunBytes, AnotherProjectWarpingOutOfOrderWritesTheSingleRunsFiles) {
  SampleRun s(GetParam());
  WarpProject single;
  s.Fill(single);
  const RunResult one = RunProcess(single, s.Options("single"), {});
  ASSERT_EQ(one.status, RunStatus::Done) << one.message;
  EXPECT_EQ(one.hiddenFromAll >= 0, s.occlusion) << "the plan of hidden ground ran";

  WarpProject master;
  s.Fill(master);
  std::string prepared = "not called";
  const WarpDriver backwards = [&](const WarpRequest& request, const RunContext& ctx) {
    const auto start = DecodeClusterStart(EncodeClusterStart(MakeClusterStart(request)));
    WarpProject worker;  // another rank: its own project from the same inputs
    s.Fill(worker);
    cv::Mat voronoi;
    WarpRequest workerRequest;
    EXPECT_TRUE(worker.terrain.surface) << "kept by the footprint pass";
    prepared = PrepareClusterWarp(worker, *start, request.destinationFolder, 1, voronoi,
                                  workerRequest);
    EXPECT_FALSE(worker.terrain.surface) << "a rank builds no products: its surface is released";
    ImageDispenser dispenser(static_cast<int>(request.rows.size()));
    ImageWarper warper(workerRequest, ctx);
    EXPECT_FALSE(warper.Refusal());
    for (int i = dispenser.Count() - 1; i >= 0; --i) dispenser.Record({i, warper.WarpImage(i)});
    return dispenser.Gather(WarpRunStatus::Done);
  };
  const RunResult many = RunProcess(master, s.Options("cluster"), {}, backwards);
  EXPECT_EQ(prepared, "");
  ASSERT_EQ(many.status, RunStatus::Done) << many.message;
  EXPECT_EQ(many.processedRows, (std::vector<int>{0, 1, 2}));

  // The same files, each but the report (whose date and times differ) byte for byte; no probe
  // file left behind.
  auto names = [](const fs::path& folder) {
    std::set<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder))
      found.insert(entry.path().filename().string());
    return found;
  };
  const std::set<std::string> files = names(s.dir / "single");
  EXPECT_EQ(names(s.dir / "cluster"), files);
  for (const char* ortho : {"img_001.tif", "img_002.tif", "img_003.tif"})
    EXPECT_EQ(files.count(ortho), 1u) << ortho;
  for (const std::string& name : files) {
    if (name == "report.txt") continue;
    EXPECT_EQ(Bytes(s.dir / "single" / name), Bytes(s.dir / "cluster" / name)) << name;
  }
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutOcclusion, ClusterRunBytes, ::testing::Bool());

// Rows of the warp, the plan of hidden ground and the visibility are shared among OpenCV's
// threads: one thread and many must write the same orthos, products and mosaic.
TEST(SingleRunBytes, OneThreadAndTwoWriteTheSameFilesWithOcclusion) {
  SampleRun s(true);
  const int before = cv::getNumThreads();
  auto run = [&](int threads, const std::string& out) {
    WarpProject project;
    s.Fill(project);
    RunOptions options = s.Options(out);
    options.mosaicPath = (s.dir / out / "mosaic.tif").string();
    cv::setNumThreads(threads);
    const RunResult r = RunProcess(project, options, {});
    cv::setNumThreads(before);
    EXPECT_EQ(r.status, RunStatus::Done) << r.message;
    EXPECT_TRUE(r.mosaicWritten) << r.mosaicError;
    return r.hiddenFromAll;
  };
  EXPECT_EQ(run(1, "one"), run(2, "two"));
  size_t compared = 0;
  for (const auto& entry : fs::directory_iterator(s.dir / "one")) {
    const std::string name = entry.path().filename().string();
    if (name == "report.txt") continue;
    EXPECT_EQ(Bytes(entry.path()), Bytes(s.dir / "two" / name)) << name;
    ++compared;
  }
  EXPECT_GE(compared, 3u + 2u) << "three orthos, the products and the mosaic";
}

TEST(ClusterRun, ARankThatSeesAnotherFolderOrOtherInputsIsNamedBeforeTheWarp) {
  SampleRun s;
  WarpProject master;
  s.Fill(master);
  std::optional<ClusterStart> start;
  const WarpDriver capture = [&](const WarpRequest& request, const RunContext&) {
    start = MakeClusterStart(request);
    WarpResult r;
    r.status = WarpRunStatus::Done;
    return r;
  };
  const RunOptions options = s.Options("out");
  ASSERT_EQ(RunProcess(master, options, {}, capture).status, RunStatus::Done);
  ASSERT_TRUE(start);
  const std::string out = options.destinationFolder;

  auto prepare = [&](const ClusterStart& st, const std::string& folder,
                     const std::function<void(WarpProject&)>& change = {}) {
    WarpProject worker;
    s.Fill(worker);
    if (change) change(worker);
    cv::Mat voronoi;
    WarpRequest request;
    return PrepareClusterWarp(worker, st, folder, 2, voronoi, request);
  };
  EXPECT_EQ(prepare(*start, out), "");
  // One thing wrong at a time, each with its own cause.
  EXPECT_NE(prepare(*start, (s.dir / "missing").string()).find("does not exist here"),
            std::string::npos);
  fs::create_directories(s.dir / "empty");
  EXPECT_NE(prepare(*start, (s.dir / "empty").string()).find("cannot open"), std::string::npos);
  ClusterStart otherMap = *start;
  otherMap.voronoiHash ^= 1;
  EXPECT_NE(prepare(otherMap, out).find("not the one rank 0 wrote"), std::string::npos);
  EXPECT_NE(prepare(*start, out, [](WarpProject& p) { p.images.pop_back(); })
                .find("inputs read here differ"),
            std::string::npos);
  EXPECT_NE(prepare(*start, out,
                    [](WarpProject& p) { p.orientations.begin()->second.N[0] += 0.5; })
                .find("inputs read here differ"),
            std::string::npos);
  // Nothing of the checks stays in the folder.
  for (const auto& entry : fs::directory_iterator(out))
    EXPECT_EQ(entry.path().filename().string().rfind(".ortavia", 0), std::string::npos);
}

}  // namespace
}  // namespace ortavia
