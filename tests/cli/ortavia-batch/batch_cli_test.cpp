// ortavia-batch as a user runs it: exit codes, messages, and a small sample orthorectified end to
// end whose orthos GDAL opens with their georeferencing.
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gdal_priv.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>
#include <gtest/gtest.h>

#include "support/test_cog.h"
#include "support/test_env.h"
#include "tool_process.h"

namespace {
namespace fs = std::filesystem;

using Outcome = ortavia::test::ToolOutcome;
using ortavia::test::ReadAll;

pid_t Start(const std::vector<std::string>& args, const fs::path& outFile, const fs::path& errFile) {
  return ortavia::test::StartTool(args, outFile, errFile);
}
Outcome Finish(pid_t pid, const fs::path& outFile, const fs::path& errFile) {
  return ortavia::test::FinishTool(pid, outFile, errFile);
}
Outcome Tool(const std::vector<std::string>& args) { return ortavia::test::RunTool(args); }

// A small sample project, written once for the whole suite.
class BatchCli : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = new fs::path(ortavia::test::MakeTempDir("cli"));
    const Outcome o = Tool({"sample", (*root_ / "p").string(), "--images", "4", "--size", "240x180",
                           "--dem-size", "48"});
    ASSERT_EQ(o.code, 0) << o.err;
  }
  static fs::path P(const std::string& f) { return *root_ / "p" / f; }
  static std::vector<std::string> RunArgs(const fs::path& out) {
    return {"run", "--dem", P("dem.tif").string(), "--passport", P("camera.bcc").string(), "--eo",
            P("orientations.txt").string(), "--image-dir", P("images").string(), "--gsd", "0.5",
            "--out", out.string()};
  }
  static std::vector<std::string> With(std::vector<std::string> a, std::vector<std::string> more) {
    a.insert(a.end(), more.begin(), more.end());
    return a;
  }
  static fs::path* root_;
};
fs::path* BatchCli::root_ = nullptr;

TEST(BatchCliUsage, ExitCodesOfTheCommandLine) {
  EXPECT_EQ(Tool({}).code, 2);
  EXPECT_EQ(Tool({"frobnicate"}).code, 2);
  const Outcome help = Tool({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("ortavia-batch run"), std::string::npos);
  EXPECT_EQ(Tool({"sample"}).code, 2);
  EXPECT_EQ(Tool({"sample", "/tmp/x", "--bands", "2"}).code, 2);
  EXPECT_EQ(Tool({"run", "--dem", "a"}).code, 2);
  EXPECT_EQ(Tool({"run", "--dem", "a", "--passport", "b", "--eo", "c", "--images", "d", "--gsd", "0",
                 "--out", "o"})
                .code,
            2);
  EXPECT_EQ(Tool({"run", "--dem", "a", "--passport", "b", "--eo", "c", "--images", "d", "--gsd",
                 "1", "--out", "o", "--tile", "8"})
                .code,
            2);
  // An option is never taken as the value of the option before it.
  const Outcome optionAsValue = Tool({"run", "--dem", "a", "--passport", "b", "--eo", "c",
                                      "--images", "d", "--gsd", "1", "--out", "--overwrite"});
  EXPECT_EQ(optionAsValue.code, 2);
  EXPECT_NE(optionAsValue.err.find("option --out needs a value"), std::string::npos);
  EXPECT_FALSE(fs::exists("--overwrite"));
}

TEST_F(BatchCli, RunsTheSampleIntoGeoreferencedOrthos) {
  const fs::path out = *root_ / "orthos";
  const Outcome o = Tool(RunArgs(out));
  ASSERT_EQ(o.code, 0) << o.err;
  EXPECT_NE(o.out.find("- Images warped: 4"), std::string::npos) << o.out;
  // Log lines carry date and time and the run's own texts.
  EXPECT_NE(o.err.find("Process started"), std::string::npos);
  EXPECT_NE(o.err.find("processing image img_001 0/4 (0%)"), std::string::npos);
  EXPECT_NE(o.err.find("Warp process finished"), std::string::npos);
  // A progress line of the DEM read may come first.
  EXPECT_TRUE(std::regex_search(
      o.err, std::regex(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}  DTM)",
                        std::regex::ECMAScript | std::regex::multiline)))
      << o.err.substr(0, 80);

  GDALAllRegister();
  for (const char* name : {"img_001", "img_002", "img_003", "img_004"}) {
    const fs::path tif = out / (std::string(name) + ".tif");
    GDALDatasetUniquePtr ds(GDALDataset::Open(tif.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    ASSERT_TRUE(ds) << tif;
    EXPECT_EQ(ds->GetRasterCount(), 3);
    double gt[6];
    ASSERT_EQ(ds->GetGeoTransform(gt), CE_None) << "no georeferencing: " << tif;
    EXPECT_DOUBLE_EQ(gt[1], 0.5);
    EXPECT_DOUBLE_EQ(gt[5], -0.5);
    // All orthos lie on the one mosaic grid: their origins differ by whole pixels.
    const double fx = (gt[0] - 499000.0) / 0.5, fy = (gt[3] - 4499000.0) / 0.5;
    static double refX = fx, refY = fy;
    EXPECT_NEAR(fx - refX, std::round(fx - refX), 1e-6);
    EXPECT_NEAR(fy - refY, std::round(fy - refY), 1e-6);
  }
  EXPECT_NE(ReadAll(out / "report.txt").find("Process DONE"), std::string::npos);

  // A second run neither guesses nor touches anything: it lists the orthos and stops.
  const auto stamp = fs::last_write_time(out / "report.txt");
  const Outcome again = Tool(RunArgs(out));
  EXPECT_EQ(again.code, 3);
  EXPECT_NE(again.out.find("img_003"), std::string::npos);
  EXPECT_NE(again.err.find("--skip"), std::string::npos);
  EXPECT_EQ(fs::last_write_time(out / "report.txt"), stamp);
  const Outcome skip = Tool(With(RunArgs(out), {"--skip"}));
  EXPECT_EQ(skip.code, 0) << skip.err;
  EXPECT_NE(ReadAll(out / "report.txt").find("Skip previous data"), std::string::npos);
  EXPECT_EQ(Tool(With(RunArgs(out), {"--skip", "--overwrite"})).code, 2);
}

TEST_F(BatchCli, PixelModeAndExplicitImagesInTheirOrder) {
  const fs::path out = *root_ / "pixel";
  const Outcome o = Tool({"run", "--dem", P("dem.tif").string(), "--passport",
                         P("camera.bcc").string(), "--eo", P("orientations.txt").string(),
                         "--images", P("images/img_003.tif").string(),
                         P("images/img_001.tif").string(), "--gsd", "0.5", "--tile", "1",
                         "--bands", "321", "--out", out.string()});
  ASSERT_EQ(o.code, 0) << o.err;
  EXPECT_LT(o.err.find("processing image img_003 0/2"), o.err.find("processing image img_001 1/2"));
  EXPECT_TRUE(fs::exists(out / "img_003.tif"));
  EXPECT_FALSE(fs::exists(out / "img_002.tif"));
}

// Whatever the number of threads, every file of the run but the report (its times) is the same.
TEST_F(BatchCli, OneThreadAndSeveralWriteTheSameFiles) {
  for (const char* tile : {"16", "1"}) {
    std::map<std::string, std::string> first;
    for (const char* threads : {"1", "2", "3", "64"}) {
      SCOPED_TRACE(std::string("tile ") + tile + ", threads " + threads);
      const fs::path out = *root_ / (std::string("threads-") + tile + "-" + threads);
      const Outcome o = Tool(With(RunArgs(out), {"--tile", tile, "--threads", threads}));
      ASSERT_EQ(o.code, 0) << o.err;
      // More threads than this machine's cores are no reason for a thread library's warning.
      EXPECT_EQ(o.err.find("Warning"), std::string::npos) << o.err;
      std::map<std::string, std::string> files;
      for (const auto& entry : fs::directory_iterator(out))
        if (entry.path().filename() != "report.txt")
          files[entry.path().filename().string()] = ReadAll(entry.path());
      EXPECT_TRUE(files.count("img_004.tif"));
      if (first.empty())
        first = files;
      else
        EXPECT_TRUE(files == first);
    }
  }
  const Outcome none = Tool(With(RunArgs(*root_ / "threads-none"), {"--threads", "0"}));
  EXPECT_EQ(none.code, 2);
  EXPECT_NE(none.err.find("--threads needs a whole number from 1 to 1024"), std::string::npos);
  EXPECT_FALSE(fs::exists(*root_ / "threads-none"));
}

TEST_F(BatchCli, RefusedInputs) {
  const fs::path out = *root_ / "refused";
  std::vector<std::string> args = RunArgs(out);
  args[2] = P("camera.bcc").string();  // not a DEM
  Outcome o = Tool(args);
  EXPECT_EQ(o.code, 3);
  EXPECT_NE(o.err.find("Invalid DEM!"), std::string::npos);

  args = RunArgs(out);
  args[4] = P("dem.tif").string();  // not a passport
  EXPECT_EQ(Tool(args).code, 3);

  args = With(RunArgs(out), {"--bands", "1234"});  // three-band images
  o = Tool(args);
  EXPECT_EQ(o.code, 3);
  EXPECT_NE(o.err.find("Invalid Band Composition!"), std::string::npos);

  args = With(RunArgs(out), {"--angles", "deg"});  // radians read as degrees: still a run
  EXPECT_NE(Tool(args).code, 2);
  fs::remove_all(out);

  // A destination that cannot be a folder: refused before anything is written.
  std::ofstream(*root_ / "plain") << "x";
  o = Tool(RunArgs(*root_ / "plain" / "orthos"));
  EXPECT_EQ(o.code, 3);
  EXPECT_NE(o.err.find("not writable"), std::string::npos);
}

TEST_F(BatchCli, FootprintsAsGeoJson) {
  const fs::path json = *root_ / "footprints.geojson";
  const Outcome o = Tool({"footprints", "--dem", P("dem.tif").string(), "--passport",
                         P("camera.bcc").string(), "--eo", P("orientations.txt").string(),
                         "--image-dir", P("images").string(), "--geojson", json.string()});
  ASSERT_EQ(o.code, 0) << o.err;
  GDALAllRegister();
  GDALDatasetUniquePtr ds(GDALDataset::Open(json.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
  ASSERT_TRUE(ds) << ReadAll(json);
  OGRLayer* layer = ds->GetLayer(0);
  ASSERT_TRUE(layer);
  EXPECT_EQ(layer->GetFeatureCount(), 4);
  layer->ResetReading();
  std::vector<std::string> names;
  while (OGRFeature* f = layer->GetNextFeature()) {
    names.push_back(f->GetFieldAsString("name"));
    const OGRGeometry* g = f->GetGeometryRef();
    EXPECT_TRUE(g && wkbFlatten(g->getGeometryType()) == wkbPolygon);
    if (g) {
      EXPECT_GT(g->toPolygon()->get_Area(), 1000.0);
    }
    OGRFeature::DestroyFeature(f);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"img_001", "img_002", "img_003", "img_004"}));
}

TEST_F(BatchCli, CtrlCAbortsAndTheReportSaysSo) {
  // Bigger images in pixel mode, so that the warp is still busy when the signal comes.
  const fs::path big = *root_ / "big";
  Outcome s = Tool({"sample", big.string(), "--images", "2", "--size", "1600x1200", "--dem-size",
                   "48"});
  ASSERT_EQ(s.code, 0) << s.err;
  const fs::path out = *root_ / "aborted", outFile = *root_ / "abort.out", errFile = *root_ / "abort.err";
  const pid_t pid = Start({"run", "--dem", (big / "dem.tif").string(), "--passport",
                           (big / "camera.bcc").string(), "--eo", (big / "orientations.txt").string(),
                           "--image-dir", (big / "images").string(), "--gsd", "0.25", "--tile", "1",
                           "--out", out.string()},
                          outFile, errFile);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (ReadAll(errFile).find("processing image img_001") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  kill(pid, SIGINT);
  const Outcome o = Finish(pid, outFile, errFile);
  EXPECT_EQ(o.code, 1) << o.err;
  EXPECT_NE(o.err.find("process aborted by user"), std::string::npos);
  EXPECT_NE(ReadAll(out / "report.txt").find("Process aborted by user"), std::string::npos);
  EXPECT_FALSE(fs::exists(out / "img_002.tif"));
  EXPECT_EQ(o.err.find("Warp process finished"), std::string::npos);
}


// The sample's bundle gives the orthos of its point file: the same grid, the same pixels.
TEST_F(BatchCli, BundleRunsToTheOrthosOfThePointFile) {
  const fs::path byFile = *root_ / "by_file", byBundle = *root_ / "by_bundle";
  ASSERT_EQ(Tool(RunArgs(byFile)).code, 0);
  const Outcome o = Tool({"run", "--dem", P("dem.tif").string(), "--bundle", P("bundle.bun").string(),
                         "--gsd", "0.5", "--out", byBundle.string()});
  ASSERT_EQ(o.code, 0) << o.err;
  EXPECT_NE(o.out.find("- Images warped: 4"), std::string::npos) << o.out;
  EXPECT_NE(o.err.find("4 images added"), std::string::npos);
  GDALAllRegister();
  for (const char* name : {"img_001", "img_002", "img_003", "img_004"}) {
    const std::string file = std::string(name) + ".tif";
    GDALDatasetUniquePtr a(GDALDataset::Open((byFile / file).c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    GDALDatasetUniquePtr b(GDALDataset::Open((byBundle / file).c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    ASSERT_TRUE(a && b) << file;
    double ga[6], gb[6];
    ASSERT_EQ(b->GetGeoTransform(gb), CE_None);
    a->GetGeoTransform(ga);
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(ga[i], gb[i], 1e-6) << file << " " << i;
    ASSERT_EQ(a->GetRasterXSize(), b->GetRasterXSize());
    ASSERT_EQ(a->GetRasterYSize(), b->GetRasterYSize());
    // The point file rounds positions to 1 um and angles to 1e-12 rad: at most a few pixels of
    // a few levels may differ.
    const int w = a->GetRasterXSize(), h = a->GetRasterYSize();
    std::vector<unsigned char> pa(static_cast<size_t>(w) * h), pb(pa.size());
    ASSERT_EQ(a->GetRasterBand(1)->RasterIO(GF_Read, 0, 0, w, h, pa.data(), w, h, GDT_Byte, 0, 0), CE_None);
    ASSERT_EQ(b->GetRasterBand(1)->RasterIO(GF_Read, 0, 0, w, h, pb.data(), w, h, GDT_Byte, 0, 0), CE_None);
    double diff = 0.0;
    for (size_t i = 0; i < pa.size(); ++i) diff += std::abs(pa[i] - pb[i]);
    EXPECT_LT(diff / static_cast<double>(pa.size()), 0.05) << file;
  }
}

// Damaged bundles end quickly with exit code 3 and say where they went wrong.
TEST_F(BatchCli, DamagedBundlesAreRefused) {
  std::ifstream in(P("bundle.bun"), std::ios::binary);
  const std::string whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(whole.size(), 200u);
  std::vector<std::string> damaged = {whole.substr(0, 3), whole.substr(0, whole.size() / 2),
                                      whole.substr(0, whole.size() - 1), whole + "junk",
                                      std::string("\xC9\0\0\0", 4) + whole.substr(4)};
  damaged.push_back(std::string("\xCE\0\0\0", 4) + std::string(1, '\xFF') + std::string(6, '\xFF') +
                    std::string(8, '\x7F'));  // a first text of about 2^63 characters
  for (size_t i = 0; i < damaged.size(); ++i) {
    const fs::path bun = *root_ / ("damaged_" + std::to_string(i) + ".bun");
    std::ofstream(bun, std::ios::binary) << damaged[i];
    const Outcome o = Tool({"footprints", "--dem", P("dem.tif").string(), "--bundle", bun.string(),
                           "--geojson", (*root_ / "d.geojson").string()});
    EXPECT_EQ(o.code, 3) << i << ": " << o.err;
    const bool version = i == 4;
    EXPECT_NE(o.err.find(version ? "Invalid BUN file version" : "Unable to read BUN file!"), std::string::npos)
        << i << ": " << o.err;
    EXPECT_NE(o.err.find("offset "), std::string::npos) << o.err;
  }
}

TEST_F(BatchCli, CrsThatCannotBeUsedStopsBeforeAnyWork) {
  // A definition GDAL cannot read: usage error with GDAL's own reason; nothing created.
  const fs::path out = *root_ / "crs_bad";
  Outcome o = Tool(With(RunArgs(out), {"--crs", "EPSG:999999"}));
  EXPECT_EQ(o.code, 2);
  EXPECT_NE(o.err.find("crs not found"), std::string::npos) << o.err;
  EXPECT_FALSE(fs::exists(out));

  // A DEM in degrees: refused with the command that reprojects it.
  GDALAllRegister();
  const fs::path geographic = *root_ / "dem_wgs84.tif";
  {
    GDALDatasetUniquePtr src(GDALDataset::Open(P("dem.tif").c_str(), GDAL_OF_RASTER));
    GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
    GDALDatasetUniquePtr copy(
        gtiff->CreateCopy(geographic.c_str(), src.get(), FALSE, nullptr, nullptr, nullptr));
    OGRSpatialReference wgs84;
    wgs84.importFromEPSG(4326);
    copy->SetSpatialRef(&wgs84);
  }
  std::vector<std::string> args = RunArgs(out);
  args[2] = geographic.string();
  o = Tool(args);
  EXPECT_EQ(o.code, 3);
  EXPECT_NE(o.err.find("gdalwarp -t_srs"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find(geographic.string()), std::string::npos) << o.err;
  EXPECT_FALSE(fs::exists(out / "coverage.tif"));
}


// Runs the tool with stderr on a pseudo-terminal (stdout to a file); returns what the terminal showed.
Outcome OnTerminal(const std::vector<std::string>& args) {
  const fs::path dir = ortavia::test::MakeTempDir("tty");
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    const int out = open((dir / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    ortavia::test::ExecTool(args);
  }
  Outcome o;
  char buf[4096];
  for (ssize_t n; (n = read(master, buf, sizeof buf)) > 0;) o.err.append(buf, static_cast<size_t>(n));
  int status = 0;
  waitpid(pid, &status, 0);
  close(master);
  o.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  o.out = ReadAll(dir / "out");
  return o;
}

TEST_F(BatchCli, ProgressOnATerminalInAFileAndQuiet) {
  // Terminal: one line per stage, rewritten in place, ending at 100 %.
  const Outcome tty = OnTerminal(RunArgs(*root_ / "tty"));
  ASSERT_EQ(tty.code, 0) << tty.err;
  EXPECT_NE(tty.err.find("\rWarping images: 0% image 1 of 4, estimating..."), std::string::npos)
      << tty.err;
  EXPECT_NE(tty.err.find("\rWarping images: 100% image 4 of 4, done"), std::string::npos) << tty.err;
  EXPECT_NE(tty.err.find("\rFootprints: 100%"), std::string::npos) << tty.err;
  EXPECT_EQ(tty.err.find("progress 1/4"), std::string::npos);

  // File: dated lines, nothing rewritten.
  const Outcome file = Tool(RunArgs(*root_ / "file"));
  ASSERT_EQ(file.code, 0) << file.err;
  EXPECT_EQ(file.err.find('\r'), std::string::npos);
  EXPECT_TRUE(std::regex_search(file.err, std::regex(R"(\d{2}:\d{2}:\d{2}  progress 1/4: )")))
      << file.err;

  // Quiet: nothing at all when all goes well, on a terminal or not.
  const Outcome quiet = Tool(With(RunArgs(*root_ / "quiet"), {"--quiet"}));
  EXPECT_EQ(quiet.code, 0);
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(quiet.out, "");
  EXPECT_TRUE(fs::exists(*root_ / "quiet" / "img_004.tif"));
  const Outcome quietTty = OnTerminal(With(RunArgs(*root_ / "quiet_tty"), {"-q"}));
  EXPECT_EQ(quietTty.code, 0);
  EXPECT_EQ(quietTty.err, "");

  // Quiet still says what went wrong, and about which file.
  std::vector<std::string> args = With(RunArgs(*root_ / "quiet_bad"), {"--quiet"});
  args[4] = P("dem.tif").string();  // not a passport
  const Outcome bad = Tool(args);
  EXPECT_EQ(bad.code, 3);
  EXPECT_NE(bad.err.find("Invalid camera passport: " + P("dem.tif").string()), std::string::npos)
      << bad.err;
  EXPECT_EQ(bad.err.find("DTM added"), std::string::npos);
}

TEST_F(BatchCli, CloudOptimizedTransparentOrthosAndTheirMosaic) {
  const fs::path out = *root_ / "cog";
  const Outcome o = Tool(With(RunArgs(out), {"--cog", "--alpha", "--compress", "LZW", "--crs", "EPSG:32633"}));
  ASSERT_EQ(o.code, 0) << o.err;
  GDALAllRegister();
  for (const char* name : {"img_001", "img_002", "img_003", "img_004"}) {
    const fs::path tif = out / (std::string(name) + ".tif");
    const ortavia::test::CogCheck check = ortavia::test::ValidateCog(tif);
    EXPECT_TRUE(check.valid) << check.output;
    GDALDatasetUniquePtr ds(GDALDataset::Open(tif.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    ASSERT_TRUE(ds);
    EXPECT_EQ(ds->GetRasterCount(), 4);
    EXPECT_STREQ(ds->GetMetadataItem("COMPRESSION", "IMAGE_STRUCTURE"), "LZW");
    EXPECT_STREQ(ds->GetMetadataItem("LAYOUT", "IMAGE_STRUCTURE"), "COG");
  }
  GDALDatasetUniquePtr vrt(
      GDALDataset::Open((out / "mosaic.vrt").c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
  ASSERT_TRUE(vrt);
  EXPECT_EQ(vrt->GetRasterCount(), 4);
  EXPECT_EQ(vrt->GetRasterBand(4)->GetColorInterpretation(), GCI_AlphaBand);
  ASSERT_TRUE(vrt->GetSpatialRef());
  EXPECT_STREQ(vrt->GetSpatialRef()->GetAuthorityCode(nullptr), "32633");
}

TEST_F(BatchCli, MosaicBesideOrthosWrittenAsWithout) {
  const fs::path plain = *root_ / "no-mosaic", with = *root_ / "with-mosaic";
  ASSERT_EQ(Tool(RunArgs(plain)).code, 0);
  const fs::path mosaic = with / "block.tif";
  const Outcome o = Tool(With(RunArgs(with), {"--mosaic", mosaic.string()}));
  ASSERT_EQ(o.code, 0) << o.err;
  EXPECT_NE(o.err.find("Mosaic written"), std::string::npos) << o.err;
  EXPECT_NE(o.out.find("Mosaic: " + mosaic.string()), std::string::npos) << o.out;
  // The orthos, products and mosaic.vrt are those of a run without the mosaic.
  std::map<std::string, std::string> a, b;
  for (const auto& entry : fs::directory_iterator(plain))
    if (entry.path().filename() != "report.txt") a[entry.path().filename().string()] = ReadAll(entry.path());
  for (const auto& entry : fs::directory_iterator(with))
    if (entry.path().filename() != "report.txt" && entry.path() != mosaic)
      b[entry.path().filename().string()] = ReadAll(entry.path());
  EXPECT_TRUE(a.count("mosaic.vrt") && a.count("img_004.tif"));
  EXPECT_TRUE(a == b);
  const ortavia::test::CogCheck check = ortavia::test::ValidateCog(mosaic);
  EXPECT_TRUE(check.valid) << check.output;
  // The mosaic is no ortho for the next run: with the orthos gone, nothing is found present.
  for (const char* name : {"img_001", "img_002", "img_003", "img_004"})
    fs::remove(with / (std::string(name) + ".tif"));
  const Outcome again = Tool(With(RunArgs(with), {"--mosaic", mosaic.string()}));
  EXPECT_EQ(again.code, 0) << again.out << again.err;

  // Each option refused on its own, before any work.
  struct Bad {
    std::vector<std::string> args;
    const char* message;
  };
  for (const Bad& bad : {Bad{{"--balance", "levels"}, "--balance needs none, gain or blocks"},
                         Bad{{"--blend", "pyramid"}, "--blend needs none, feather or multiband"},
                         Bad{{"--feather", "-1"}, "--feather needs a whole number of pixels"},
                         Bad{{"--seam-band", "x"}, "--seam-band needs a whole number of pixels"},
                         Bad{{"--mosaic-memory", "64"}, "--mosaic-memory needs a whole number"}}) {
    const fs::path out = *root_ / "mosaic-refused";
    const Outcome r = Tool(With(With(RunArgs(out), {"--mosaic", (out / "m.tif").string()}), bad.args));
    EXPECT_EQ(r.code, 2) << bad.message;
    EXPECT_NE(r.err.find(bad.message), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out));
  }
}

}  // namespace
