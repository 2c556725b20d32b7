#include "process/run_process.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gdal_priv.h>
#include <ogr_spatialref.h>
#include <gtest/gtest.h>

#include "runner/batch_runner.h"
#include "runner/sample_project.h"
#include "support/test_cog.h"
#include "support/test_env.h"
#include "support/test_geotiff.h"

namespace ortavia {
namespace {
namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void Touch(const fs::path& path, size_t bytes = 1) {
  std::ofstream(path, std::ios::binary) << std::string(bytes, 'x');
}

SampleOptions Tiny() {
  SampleOptions o;
  o.images = 3;
  o.width = 240;
  o.height = 180;
  o.bands = 3;
  o.demSize = 48;
  return o;
}

// A project filled from a tiny sample through the batch runner's calls (those of the windows).
struct Filled {
  fs::path dir;
  SampleFiles files;
  WarpProject project;
  std::vector<std::string> log;
  RunContext ctx;

  explicit Filled(const SampleOptions& options = Tiny()) {
    dir = test::MakeTempDir("run");
    EXPECT_EQ(WriteSampleProject((dir / "project").string(), options, {}, &files), "");
    ctx.log = [this](const std::string& line) { log.push_back(line); };
    BatchIo io;
    io.ctx = ctx;
    BatchProjectOptions o;
    o.dem = files.dem;
    o.passport = files.passport;
    o.eo = files.orientations;
    o.images = files.images;
    EXPECT_EQ(FillBatchProject(project, o, io), kBatchDone);
  }
  RunOptions Options(const std::string& out = "orthos") const {
    RunOptions r;
    r.gsd = 0.5;
    r.destinationFolder = (dir / out).string();
    return r;
  }
  bool Logged(const std::string& text) const {
    return std::any_of(log.begin(), log.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
  }
};

TEST(RunHelpers, CompositionFromColorRoles) {
  EXPECT_EQ(CompositionFromColorRoles({GCI_RedBand, GCI_GreenBand, GCI_BlueBand}), "123");
  EXPECT_EQ(CompositionFromColorRoles({GCI_BlueBand, GCI_GreenBand, GCI_RedBand}), "321");
  EXPECT_EQ(CompositionFromColorRoles({GCI_GreenBand, GCI_BlueBand, GCI_Undefined, GCI_RedBand}),
            "412");
  EXPECT_EQ(CompositionFromColorRoles(
                {GCI_RedBand, GCI_GreenBand, GCI_BlueBand, GCI_AlphaBand}),
            "1234");
  // A role left out keeps its blank inside the text; only trailing blanks go.
  EXPECT_EQ(CompositionFromColorRoles({GCI_RedBand, GCI_Undefined, GCI_BlueBand}), "1 3");
  EXPECT_EQ(CompositionFromColorRoles({GCI_GrayIndex}), "");
}

TEST(RunHelpers, AcceptedCompositions) {
  EXPECT_TRUE(IsAcceptedComposition("1", 1));
  EXPECT_FALSE(IsAcceptedComposition("1", 3));
  EXPECT_TRUE(IsAcceptedComposition("123", 3));
  EXPECT_TRUE(IsAcceptedComposition("321", 4));
  EXPECT_FALSE(IsAcceptedComposition("123", 2));
  EXPECT_TRUE(IsAcceptedComposition("1234", 4));
  EXPECT_FALSE(IsAcceptedComposition("1234", 3));
  // "412" reads band 4: three bands can never feed it.
  EXPECT_TRUE(IsAcceptedComposition("412", 4));
  EXPECT_FALSE(IsAcceptedComposition("412", 3));
  EXPECT_FALSE(IsAcceptedComposition("1 3", 3));
  EXPECT_EQ(DefaultComposition(1), "1");
  EXPECT_EQ(DefaultComposition(3), "123");
  EXPECT_EQ(DefaultComposition(4), "1234");
  EXPECT_EQ(DefaultComposition(2), "");
}

TEST(RunHelpers, PresentOrthosLeaveProductsOut) {
  const fs::path dir = test::MakeTempDir("present") / "coverage_area";  // a telling folder name
  fs::create_directories(dir / "sub.tif");
  for (const char* f : {"a.tif", "B.TIF", "coverage.tif", "voronoi.tif", "report.txt", "a.tfw",
                        "c.tif.part", "my_voronoi_old.tif", "Mosaic.tif", "mosaic.tif.part"})
    Touch(dir / f);
  const auto present = FindPresentOrthos(dir.string());
  std::vector<std::string> names;
  for (const auto& p : present) names.push_back(fs::path(p).filename().string());
  EXPECT_EQ(names, (std::vector<std::string>{"B.TIF", "a.tif"}));
  EXPECT_TRUE(FindPresentOrthos((dir / "missing").string()).empty());
}

TEST(RunHelpers, SummaryText) {
  EXPECT_EQ(FormatRunSummary("0:01:02", 0.1234, 5, 2),
            "- Process time: 0:01:02\n- GSD: 0.123 (d.u.)\n- Images warped: 5\n- Images skipped: 2");
}

TEST(RunHelpers, DestinationChecks) {
  const fs::path dir = test::MakeTempDir("dest");
  EXPECT_EQ(CheckDestinationWritable((dir / "new" / "deeper").string()), "");
  EXPECT_TRUE(fs::is_directory(dir / "new" / "deeper"));
  EXPECT_TRUE(fs::is_empty(dir / "new" / "deeper"));  // the probe file is gone
  Touch(dir / "plain");
  EXPECT_NE(CheckDestinationWritable((dir / "plain").string()), "");
  EXPECT_NE(CheckDestinationWritable((dir / "plain" / "sub").string()), "");
  EXPECT_NE(CheckDestinationWritable(""), "");
}

TEST(RunProcess, RefusesMissingInputsAndBadAnswersWithoutWriting) {
  WarpProject empty;
  RunOptions options;
  options.gsd = 0.5;
  options.destinationFolder = (test::MakeTempDir("run") / "out").string();
  RunResult r = RunProcess(empty, options, {});
  EXPECT_EQ(r.status, RunStatus::MissingData);
  EXPECT_EQ(r.message, kMissingDataMessage);

  Filled f;
  RunOptions bad = f.Options();
  bad.gsd = 0.0;
  EXPECT_EQ(RunProcess(f.project, bad, f.ctx).status, RunStatus::InvalidGsd);
  // A slip of the decimal point would make each ortho of these 240-pixel images ~50000 wide.
  bad.gsd = 0.005;
  r = RunProcess(f.project, bad, f.ctx);
  EXPECT_EQ(r.status, RunStatus::InvalidGsd);
  EXPECT_NE(r.message.find("too small"), std::string::npos) << r.message;
  bad = f.Options();
  bad.composition = "1234";  // three-band images
  r = RunProcess(f.project, bad, f.ctx);
  EXPECT_EQ(r.status, RunStatus::InvalidComposition);
  EXPECT_EQ(r.message, kInvalidCompositionMessage);
  bad.composition = "412";
  EXPECT_EQ(RunProcess(f.project, bad, f.ctx).status, RunStatus::InvalidComposition);

  Touch(f.dir / "plain");
  bad = f.Options();
  bad.destinationFolder = (f.dir / "plain" / "orthos").string();
  r = RunProcess(f.project, bad, f.ctx);
  EXPECT_EQ(r.status, RunStatus::DestinationNotWritable);
  EXPECT_NE(r.message.find("not writable"), std::string::npos);

  EXPECT_FALSE(fs::exists(f.dir / "orthos"));
  EXPECT_FALSE(f.Logged(kProcessStarted));

  // The first image vanished after it was listed: its bands cannot be checked.
  fs::remove(f.files.images[0]);
  r = RunProcess(f.project, f.Options(), f.ctx);
  EXPECT_EQ(r.status, RunStatus::BandCheckFailed);
  EXPECT_EQ(r.message, kBandCheckMessage);
}

// Reads a ground-coloured ortho back with GDAL (world file) and compares it with the scene.
double MeanColourError(const std::string& orthoPath, const SampleScene& scene, double shiftX,
                       double shiftY, int* compared) {
  GDALDatasetUniquePtr ds(GDALDataset::Open(orthoPath.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
  if (!ds) return 1e9;
  double gt[6];
  if (ds->GetGeoTransform(gt) != CE_None) return 1e9;
  const int w = ds->GetRasterXSize(), h = ds->GetRasterYSize();
  std::vector<unsigned char> rgb(static_cast<size_t>(w) * h * 3);
  if (ds->RasterIO(GF_Read, 0, 0, w, h, rgb.data(), w, h, GDT_Byte, 3, nullptr, 3, 3 * w, 1,
                   nullptr) != CE_None)
    return 1e9;
  double sum = 0.0;
  int n = 0;
  for (int j = 2; j < h - 2; j += 3)
    for (int i = 2; i < w - 2; i += 3) {
      const unsigned char* p = &rgb[(static_cast<size_t>(j) * w + i) * 3];
      if (p[0] == 0 && p[1] == 0 && p[2] == 0) continue;
      // GDAL's geotransform gives the pixel's corner; its centre is half a pixel further.
      const double x = gt[0] + (i + 0.5 + shiftX) * gt[1];
      const double y = gt[3] + (j + 0.5 + shiftY) * gt[5];
      if (scene.InHole(x, y)) continue;
      const cv::Vec4f c = scene.GroundColor(x, y);
      sum += (std::abs(p[0] - c[0]) + std::abs(p[1] - c[1]) + std::abs(p[2] - c[2])) / 3.0;
      ++n;
    }
  *compared = n;
  return n ? sum / n : 1e9;
}

// Each ortho shows the ground where GDAL places it: the colour error grows when the ground is
// looked up half a pixel off in any direction, so the ortho is within a quarter pixel.
void ExpectOrthosInPlace(const WarpProject& project, const fs::path& folder) {
  const SampleScene scene(Tiny());
  for (const auto& image : project.images) {
    const std::string ortho = (folder / (image.name + ".tif")).string();
    ASSERT_TRUE(fs::exists(folder / (image.name + ".tfw"))) << ortho;
    int n = 0;
    const double at = MeanColourError(ortho, scene, 0, 0, &n);
    EXPECT_GT(n, 500) << ortho;
    EXPECT_LT(at, 12.0) << ortho;
    for (const auto& [dx, dy] : {std::pair{0.5, 0.0}, {-0.5, 0.0}, {0.0, 0.5}, {0.0, -0.5}}) {
      int m = 0;
      EXPECT_LT(at, MeanColourError(ortho, scene, dx, dy, &m)) << ortho << " shift " << dx << "," << dy;
    }
  }
}

TEST(RunProcess, WritesGeoreferencedOrthosProductsAndReport) {
  Filled f;
  RunOptions options = f.Options();
  const RunResult r = RunProcess(f.project, options, f.ctx);
  ASSERT_EQ(r.status, RunStatus::Done) << r.message;
  EXPECT_EQ(r.composition, "123");
  EXPECT_EQ(r.processedRows, (std::vector<int>{0, 1, 2}));
  EXPECT_TRUE(r.skippedRows.empty());
  EXPECT_TRUE(r.reportWritten);
  EXPECT_EQ(r.resultText, "Process DONE");
  EXPECT_NE(r.summary.find("- Images warped: 3"), std::string::npos);
  EXPECT_TRUE(f.Logged(kProcessStarted));
  const fs::path out = options.destinationFolder;
  for (const char* file : {"coverage.tif", "voronoi.tif", "coverage.txt", "report.txt"})
    EXPECT_TRUE(fs::exists(out / file)) << file;
  EXPECT_NE(ReadAll(out / "report.txt").find("Process DONE"), std::string::npos);
  // Footprints are drawn unfilled again once the warp is over.
  EXPECT_FALSE(f.project.fillFootprints);

  ExpectOrthosInPlace(f.project, out);
}

TEST(RunProcess, PixelModeOrthosLandWithinAQuarterPixel) {
  Filled f;
  RunOptions options = f.Options("pixel");
  options.tileStep = 1;
  ASSERT_EQ(RunProcess(f.project, options, f.ctx).status, RunStatus::Done);
  ExpectOrthosInPlace(f.project, options.destinationFolder);
}

TEST(RunProcess, PresentOrthosAreAskedForThenSkippedOrOverwritten) {
  Filled f;
  RunOptions options = f.Options();
  ASSERT_EQ(RunProcess(f.project, options, f.ctx).status, RunStatus::Done);
  const fs::path out = options.destinationFolder;
  const auto before = fs::last_write_time(out / "coverage.tif");

  RunResult r = RunProcess(f.project, options, f.ctx);
  EXPECT_EQ(r.status, RunStatus::PresentOrthosFound);
  EXPECT_EQ(r.presentOrthos, (std::vector<std::string>{"img_001", "img_002", "img_003"}));
  EXPECT_EQ(fs::last_write_time(out / "coverage.tif"), before);  // nothing run

  // Orthos larger than 10,000,000 bytes are kept; these small ones are written again.
  Touch(out / "img_002.tif", 10000001);
  options.presentOrthos = PresentOrthosMode::Skip;
  r = RunProcess(f.project, options, f.ctx);
  ASSERT_EQ(r.status, RunStatus::Done);
  EXPECT_EQ(r.processedRows, (std::vector<int>{0, 2}));
  EXPECT_EQ(r.skippedRows, (std::vector<int>{1}));
  EXPECT_EQ(fs::file_size(out / "img_002.tif"), 10000001u);
  EXPECT_NE(ReadAll(out / "report.txt").find("Skip previous data"), std::string::npos);

  options.presentOrthos = PresentOrthosMode::Overwrite;
  r = RunProcess(f.project, options, f.ctx);
  ASSERT_EQ(r.status, RunStatus::Done);
  EXPECT_EQ(r.processedRows.size(), 3u);
  EXPECT_LT(fs::file_size(out / "img_002.tif"), 10000001u);
  EXPECT_NE(ReadAll(out / "report.txt").find("Overwrite previous data"), std::string::npos);
}

TEST(RunProcess, ImageGoneAfterListingIsSkippedAndLogged) {
  Filled f;
  fs::remove(f.files.images[1]);
  const RunResult r = RunProcess(f.project, f.Options(), f.ctx);
  ASSERT_EQ(r.status, RunStatus::Done);
  EXPECT_EQ(r.processedRows, (std::vector<int>{0, 2}));
  EXPECT_EQ(r.skippedRows, (std::vector<int>{1}));
  EXPECT_TRUE(f.Logged("Image img_002 failed: the image cannot be opened"));
  ASSERT_EQ(r.images.size(), 3u);
  EXPECT_TRUE(r.images[1].failed);
  EXPECT_FALSE(fs::exists(f.dir / "orthos" / "img_002.tif"));
  const std::string report = ReadAll(f.dir / "orthos" / "report.txt");
  EXPECT_NE(report.find("Process DONE"), std::string::npos);
  EXPECT_NE(report.find("img_002", report.find("Skipped")), std::string::npos);
  EXPECT_NE(report.find("img_002: the image cannot be opened", report.find("Failed")),
            std::string::npos);
}

TEST(RunProcess, StopDuringTheWarpStillReports) {
  Filled f;
  std::atomic<bool> stop{false};
  RunContext ctx = f.ctx;
  ctx.abort = &stop;
  ctx.log = [&](const std::string& line) {
    f.log.push_back(line);
    if (line.find("processing image img_002") != std::string::npos) stop = true;
  };
  const RunResult r = RunProcess(f.project, f.Options(), ctx);
  EXPECT_EQ(r.status, RunStatus::Aborted);
  EXPECT_EQ(r.resultText, "Process aborted by user");
  EXPECT_EQ(r.processedRows, (std::vector<int>{0}));
  EXPECT_TRUE(f.Logged("process aborted by user"));
  const fs::path out = f.dir / "orthos";
  EXPECT_TRUE(fs::exists(out / "img_001.tif"));
  EXPECT_FALSE(fs::exists(out / "img_002.tif"));
  EXPECT_FALSE(fs::exists(out / "img_003.tif"));
  const std::string report = ReadAll(out / "report.txt");
  EXPECT_NE(report.find("Process aborted by user"), std::string::npos);
  // The image never reached is named only under "In process".
  EXPECT_EQ(report.find("img_003", report.find("Processed")), std::string::npos);
  EXPECT_NE(r.summary.find("- Images warped: 1"), std::string::npos);
}

TEST(RunProcess, StopBeforeTheWarpReportsTheAbort) {
  Filled f;
  std::atomic<bool> stop{false};
  RunContext ctx = f.ctx;
  ctx.abort = &stop;
  ctx.log = [&](const std::string& line) {
    f.log.push_back(line);
    if (line == kProcessStarted) stop = true;
  };
  const RunResult r = RunProcess(f.project, f.Options(), ctx);
  EXPECT_EQ(r.status, RunStatus::Aborted);
  EXPECT_TRUE(r.processedRows.empty());
  const fs::path out = f.dir / "orthos";
  EXPECT_FALSE(fs::exists(out / "img_001.tif"));
  EXPECT_NE(ReadAll(out / "report.txt").find("Process aborted by user"), std::string::npos);
  EXPECT_FALSE(f.Logged(kProcessEndedWithErrors));
}


// The six numbers of a world file, read as text.
std::vector<double> WorldFile(const fs::path& path) {
  std::ifstream in(path);
  std::vector<double> v;
  for (double x; in >> x;) v.push_back(x);
  return v;
}

std::string EpsgOfFile(const fs::path& path) {
  GDALDatasetUniquePtr ds(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
  const OGRSpatialReference* srs = ds ? ds->GetSpatialRef() : nullptr;
  if (!srs) return "none";
  OGRSpatialReference copy(*srs);
  copy.AutoIdentifyEPSG();
  const char* code = copy.GetAuthorityCode(nullptr);
  return code ? code : "unnamed";
}

// The project's DEM replaced by an in-memory copy labelled with another CRS (none for "").
void RelabelDem(WarpProject& project, const std::string& crs) {
  GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
  GDALDatasetUniquePtr copy(
      mem->CreateCopy("", project.dem.dataset.get(), FALSE, nullptr, nullptr, nullptr));
  OGRSpatialReference srs;
  if (!crs.empty()) srs.SetFromUserInput(crs.c_str());
  copy->SetSpatialRef(crs.empty() ? nullptr : &srs);
  project.dem.dataset = std::move(copy);
}

TEST(RunProcess, OrthosAndProductsCarryTheCrsWhereTheWorldFilePutsThem) {
  struct Case {
    std::string demCrs, option, expected;
  };
  // The sample DEM is in UTM 33N.
  const Case cases[] = {{"EPSG:32633", "", "32633"},
                        {"EPSG:32633", "EPSG:3004", "3004"},
                        {"", "", "none"},
                        {"", "+proj=utm +zone=33 +datum=WGS84 +units=m +no_defs", "32633"},
                        {"EPSG:4326", "EPSG:32633", "32633"}};  // a wrong label put right
  for (const Case& c : cases) {
    Filled f;
    RelabelDem(f.project, c.demCrs);
    RunOptions options = f.Options();
    options.crs = c.option;
    const RunResult r = RunProcess(f.project, options, f.ctx);
    ASSERT_EQ(r.status, RunStatus::Done) << c.demCrs << " / " << c.option << ": " << r.message;
    const fs::path out = options.destinationFolder;
    for (const char* product : {"coverage.tif", "voronoi.tif"})
      EXPECT_EQ(EpsgOfFile(out / product), c.expected) << product << " " << c.option;
    for (const auto& image : f.project.images) {
      const fs::path tif = out / (image.name + ".tif");
      EXPECT_EQ(EpsgOfFile(tif), c.expected) << tif;
      // GDAL's corner origin lies half a pixel west and north of the world file's pixel centre.
      const std::vector<double> tfw = WorldFile(out / (image.name + ".tfw"));
      ASSERT_EQ(tfw.size(), 6u);
      GDALDatasetUniquePtr ds(GDALDataset::Open(tif.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
      double gt[6];
      ASSERT_EQ(ds->GetGeoTransform(gt), CE_None);
      EXPECT_NEAR(gt[0], tfw[4] - 0.25, 1e-6);
      EXPECT_NEAR(gt[3], tfw[5] + 0.25, 1e-6);
      EXPECT_DOUBLE_EQ(gt[1], tfw[0]);
      EXPECT_DOUBLE_EQ(gt[5], tfw[3]);
    }
  }
}

TEST(RunProcess, GeographicDemOrBadCrsIsRefusedBeforeAnyWork) {
  struct Case {
    std::string demCrs, option;
    RunStatus status;
    std::string fragment;
  };
  const Case cases[] = {
      {"EPSG:4326", "", RunStatus::GeographicCrs, "gdalwarp -t_srs EPSG:"},
      {"EPSG:32633", "EPSG:4258", RunStatus::GeographicCrs, "geographic coordinate system (ETRS89)"},
      {"EPSG:32633", "EPSG:999999", RunStatus::InvalidCrs, "crs not found"},
  };
  for (const Case& c : cases) {
    Filled f;
    RelabelDem(f.project, c.demCrs);
    RunOptions options = f.Options();
    options.crs = c.option;
    const RunResult r = RunProcess(f.project, options, f.ctx);
    EXPECT_EQ(r.status, c.status) << c.demCrs << " / " << c.option;
    EXPECT_NE(r.message.find(c.fragment), std::string::npos) << r.message;
    EXPECT_FALSE(fs::exists(options.destinationFolder)) << c.option;
    EXPECT_FALSE(f.Logged(kProcessStarted));
  }
}


TEST(RunProcess, CogOrthosAreTransparentOutsideTheirCellAndUnchangedInside) {
  Filled f;
  const RunOptions plain = f.Options("plain");
  ASSERT_EQ(RunProcess(f.project, plain, f.ctx).status, RunStatus::Done);
  RunOptions gis = f.Options("gis");
  gis.cog = true;
  gis.alpha = true;
  gis.compress = "DEFLATE";
  const RunResult r = RunProcess(f.project, gis, f.ctx);
  ASSERT_EQ(r.status, RunStatus::Done) << r.message;

  // The Voronoi cells as the product file gives them: code = blue + 256 green + 65536 red.
  const fs::path out = gis.destinationFolder;
  GDALDatasetUniquePtr voronoi(GDALDataset::Open((out / "voronoi.tif").c_str(), GDAL_OF_RASTER));
  ASSERT_TRUE(voronoi);
  double vgt[6];
  ASSERT_EQ(voronoi->GetGeoTransform(vgt), CE_None);
  const cv::Mat codes = test::ReadBandsAsBytes(voronoi.get());
  const double scale = vgt[1] / gis.gsd;

  for (size_t k = 0; k < f.project.images.size(); ++k) {
    const std::string name = f.project.images[k].name;
    const fs::path cog = out / (name + ".tif");
    const test::CogCheck check = test::ValidateCog(cog);
    EXPECT_TRUE(check.valid) << cog << ": " << check.output;
    GDALDatasetUniquePtr g(GDALDataset::Open(cog.c_str(), GDAL_OF_RASTER));
    GDALDatasetUniquePtr p(
        GDALDataset::Open((fs::path(plain.destinationFolder) / (name + ".tif")).c_str(), GDAL_OF_RASTER));
    ASSERT_TRUE(g && p);
    ASSERT_EQ(g->GetRasterCount(), 4);
    EXPECT_EQ(g->GetRasterBand(4)->GetColorInterpretation(), GCI_AlphaBand);
    const cv::Mat a = test::ReadBandsAsBytes(g.get()), b = test::ReadBandsAsBytes(p.get());
    ASSERT_EQ(a.size(), b.size());
    double gt[6];
    ASSERT_EQ(g->GetGeoTransform(gt), CE_None);
    const int ox0 = static_cast<int>(std::lround((gt[0] + gis.gsd / 2 - vgt[0]) / gis.gsd));
    const int oy0 = static_cast<int>(std::lround((vgt[3] - gt[3] + gis.gsd / 2) / gis.gsd));
    int opaque = 0, clear = 0, wrong = 0;
    for (int j = 0; j < a.rows; ++j)
      for (int i = 0; i < a.cols; ++i) {
        const uchar* pa = a.ptr<uchar>(j) + 4 * i;
        const uchar* pb = b.ptr<uchar>(j) + 3 * i;
        const int cx = static_cast<int>(std::floor((ox0 + i) / scale));
        const int cy = static_cast<int>(std::floor((oy0 + j) / scale));
        const bool onMap = cx >= 0 && cy >= 0 && cx < codes.cols && cy < codes.rows;
        const uchar* c = onMap ? codes.ptr<uchar>(cy) + 3 * cx : nullptr;
        const bool own = onMap && c[2] + 256 * c[1] + 65536 * c[0] == static_cast<int>(k);
        const bool imaged = pb[0] || pb[1] || pb[2];
        if (pa[3] == 255) {
          ++opaque;
          // Inside: the plain ortho's very pixels, and only in the image's own cell.
          wrong += !own || pa[0] != pb[0] || pa[1] != pb[1] || pa[2] != pb[2];
        } else {
          ++clear;
          wrong += pa[3] != 0 || (own && imaged);
        }
      }
    EXPECT_EQ(wrong, 0) << cog;
    EXPECT_GT(opaque, 1000) << cog;
    EXPECT_GT(clear, 1000) << cog;
  }
  // One virtual mosaic over the block in each folder; with transparency it has an alpha band.
  for (const auto& [folder, bands] : {std::pair{plain.destinationFolder, 3}, {gis.destinationFolder, 4}}) {
    GDALDatasetUniquePtr vrt(
        GDALDataset::Open((fs::path(folder) / "mosaic.vrt").c_str(), GDAL_OF_RASTER));
    ASSERT_TRUE(vrt) << folder;
    EXPECT_EQ(vrt->GetRasterCount(), bands);
    EXPECT_NEAR(vrt->GetRasterXSize(), voronoi->GetRasterXSize() * scale, 1.0);
  }
}

TEST(RunProcess, JpegTakesEightBitImagesOnly) {
  Filled f;
  RunOptions options = f.Options();
  options.compress = "JPEG";
  options.alpha = true;
  ASSERT_EQ(RunProcess(f.project, options, f.ctx).status, RunStatus::Done);
  GDALDatasetUniquePtr ds(GDALDataset::Open(
      (fs::path(options.destinationFolder) / "img_002.tif").c_str(), GDAL_OF_RASTER));
  ASSERT_TRUE(ds);
  EXPECT_STREQ(ds->GetMetadataItem("COMPRESSION", "IMAGE_STRUCTURE"), "YCbCr JPEG");
  EXPECT_EQ(ds->GetRasterBand(1)->GetMaskFlags(), GMF_PER_DATASET);  // JPEG's alpha: a mask
  GDALDatasetUniquePtr vrt(GDALDataset::Open(
      (fs::path(options.destinationFolder) / "mosaic.vrt").c_str(), GDAL_OF_RASTER));
  ASSERT_TRUE(vrt);
  EXPECT_EQ(vrt->GetRasterCount(), 3);
  EXPECT_EQ(vrt->GetRasterBand(1)->GetMaskFlags(), GMF_PER_DATASET);  // the orthos' masks

  // The first image turned 16-bit: refused, naming it, before anything is written.
  const std::string first = f.project.images[0].path;
  test::TestRaster sixteen;
  sixteen.width = 240;
  sixteen.height = 180;
  sixteen.bands = 3;
  sixteen.type = GDT_UInt16;
  sixteen.georeferenced = false;
  ASSERT_TRUE(test::WriteGeoTiff(first, sixteen, [](int, int, int) { return 1000.0; }));
  options.destinationFolder = (f.dir / "jpeg16").string();
  const RunResult r = RunProcess(f.project, options, f.ctx);
  EXPECT_EQ(r.status, RunStatus::InvalidOutputOptions);
  EXPECT_NE(r.message.find(first), std::string::npos) << r.message;
  EXPECT_NE(r.message.find("UInt16"), std::string::npos) << r.message;
  EXPECT_FALSE(fs::exists(options.destinationFolder));
}

}  // namespace
}  // namespace ortavia

namespace ortavia {
namespace {

TEST(RunProcess, ADestinationFolderRemovedDuringTheRunStillGetsItsReport) {
  Filled f;
  const fs::path out = f.dir / "vanishing";
  RunContext ctx = f.ctx;
  ctx.log = [&](const std::string& line) {
    f.log.push_back(line);
    if (line.find("processing image img_002") != std::string::npos) fs::remove_all(out);
  };
  const RunResult r = RunProcess(f.project, f.Options("vanishing"), ctx);
  ASSERT_EQ(r.status, RunStatus::Done) << r.message;
  EXPECT_EQ(r.processedRows, (std::vector<int>{0}));
  EXPECT_EQ(r.skippedRows, (std::vector<int>{1, 2}));
  // The report is written where the orthos were to go and names the images that were lost.
  ASSERT_TRUE(r.reportWritten);
  const std::string report = ReadAll(out / "report.txt");
  const size_t skipped = report.find("Skipped");
  ASSERT_NE(skipped, std::string::npos);
  EXPECT_NE(report.find("img_002", skipped), std::string::npos);
  EXPECT_NE(report.find("img_003", skipped), std::string::npos);
}

}  // namespace
}  // namespace ortavia
