#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gdal_priv.h>
#include <gtest/gtest.h>

#include "extor/bundle_import.h"
#include "process/run_process.h"
#include "runner/batch_options.h"
#include "runner/batch_runner.h"
#include "runner/footprints_geojson.h"
#include "runner/sample_project.h"
#include "support/bundle_writer.h"
#include "support/test_env.h"

namespace ortavia {
namespace {
namespace fs = std::filesystem;

constexpr double kPi = 3.14159265358979323846;

struct Sample {
  fs::path dir;
  SampleFiles files;
  SampleOptions options;
  std::vector<std::string> errors, log;
  BatchIo io;

  Sample() {
    options.images = 3;
    options.width = 160;
    options.height = 120;
    options.demSize = 40;
    dir = test::MakeTempDir("batch");
    EXPECT_EQ(WriteSampleProject((dir / "p").string(), options, {}, &files), "");
    io.error = [this](const std::string& e) { errors.push_back(e); };
    io.ctx.log = [this](const std::string& l) { log.push_back(l); };
  }
  BatchProjectOptions Project() const {
    BatchProjectOptions o;
    o.dem = files.dem;
    o.passport = files.passport;
    o.eo = files.orientations;
    o.images = files.images;
    return o;
  }
  std::string Errors() const {
    std::string all;
    for (const auto& e : errors) all += e + "\n";
    return all;
  }
};

TEST(BatchOptions, ParsesRunWithEveryOption) {
  BatchCommand c;
  ASSERT_EQ(ParseBatchCommand({"run", "--dem", "d.tif", "--passport", "c.bcc", "--eo", "eo.txt",
                               "--images", "a.tif", "b.tif", "--gsd", "0.25", "--out", "o",
                               "--tile", "1", "--max-error", "0.125", "--bands", "321", "--overwrite", "--eo-separators",
                               ";", "--eo-comments", "!", "--eo-columns",
                               "id,-,x,y,z,kappa,phi,omega", "--angles", "grad", "--crs", "EPSG:32633",
                               "--cog", "--compress", "zstd", "--alpha", "--occlusion"},
                              &c),
            "");
  EXPECT_EQ(c.kind, BatchCommandKind::Run);
  EXPECT_EQ(c.project.images, (std::vector<std::string>{"a.tif", "b.tif"}));
  EXPECT_DOUBLE_EQ(c.run.gsd, 0.25);
  EXPECT_EQ(c.run.tileStep, 1);
  EXPECT_EQ(c.run.maxError, 0.125);
  EXPECT_EQ(c.run.composition, "321");
  EXPECT_EQ(c.run.presentOrthos, PresentOrthosMode::Overwrite);
  EXPECT_EQ(c.project.eoColumns.size(), 8u);
  EXPECT_EQ(c.project.angles, "grad");
  EXPECT_EQ(c.run.destinationFolder, "o");
  EXPECT_EQ(c.run.crs, "EPSG:32633");
  EXPECT_TRUE(c.run.cog);
  EXPECT_TRUE(c.run.alpha);
  EXPECT_TRUE(c.run.occlusion);
  EXPECT_EQ(c.run.compress, "ZSTD");
}

TEST(BatchOptions, RefusesWhatCannotBeMeant) {
  BatchCommand c;
  const std::vector<std::string> base = {"run", "--dem", "d", "--passport", "p", "--eo", "e",
                                         "--image-dir", "i", "--gsd", "1", "--out", "o"};
  EXPECT_EQ(ParseBatchCommand(base, &c), "");
  EXPECT_EQ(c.run.presentOrthos, PresentOrthosMode::Ask);
  EXPECT_FALSE(c.run.cog || c.run.alpha || c.run.occlusion);  // today's files unless asked
  EXPECT_EQ(c.run.compress, "");
  EXPECT_EQ(c.run.maxError, 0.02);
  auto with = [&](std::vector<std::string> more) {
    std::vector<std::string> a = base;
    a.insert(a.end(), more.begin(), more.end());
    return ParseBatchCommand(a, &c);
  };
  EXPECT_NE(with({"--images", "x.tif"}), "");  // both image sources
  EXPECT_NE(with({"--gsd", "-1"}), "");
  EXPECT_NE(with({"--gsd", "nan"}), "");
  EXPECT_NE(with({"--gsd", "1e999"}), "");
  EXPECT_NE(with({"--tile", "4"}), "");
  EXPECT_EQ(with({"--max-error", "0"}), "");  // every pixel projected
  EXPECT_EQ(with({"--max-error", "inf"}), "");
  EXPECT_TRUE(std::isinf(c.run.maxError));
  EXPECT_NE(with({"--max-error", "-0.01"}), "");
  EXPECT_NE(with({"--max-error", "px"}), "");
  EXPECT_NE(with({"--bands", "12"}), "");
  EXPECT_NE(with({"--angles", "turns"}), "");
  EXPECT_NE(with({"--crs", "+proj=bogus"}).find("Unknown projection"), std::string::npos);
  EXPECT_NE(with({"--compress", "WEBP"}), "");
  EXPECT_NE(with({"--compress"}), "");
  EXPECT_NE(with({"--eo-columns", "id,x,y,z,omega,phi"}), "");          // kappa missing
  EXPECT_NE(with({"--eo-columns", "id,x,y,z,omega,phi,kappa,x"}), "");  // x twice
  EXPECT_NE(with({"--geojson", "f.json"}), "");  // not an option of run
  EXPECT_NE(with({"--out"}), "");
  // An option where a value is due is the value missing, not a folder named like the option.
  EXPECT_EQ(with({"--out", "--overwrite"}), "option --out needs a value");
  EXPECT_EQ(with({"--eo", "--skip", "e2"}), "option --eo needs a value");
  EXPECT_EQ(ParseBatchCommand({"sample", "d", "--images", "--seed", "3"}, &c),
            "option --images needs a value");
  EXPECT_NE(ParseBatchCommand({"sample", "d", "--size", "800"}, &c), "");
  EXPECT_NE(ParseBatchCommand({"sample", "d", "--images", "many"}, &c), "");
  EXPECT_NE(ParseBatchCommand({"sample", "d", "e"}, &c), "");
  EXPECT_EQ(ParseBatchCommand({"sample", "d", "--size", "640x480", "--bands", "4"}, &c), "");
  EXPECT_EQ(c.sample.width, 640);
  EXPECT_EQ(c.sample.height, 480);
  EXPECT_EQ(c.sample.demHeight, 0);  // square
  EXPECT_EQ(ParseBatchCommand({"sample", "d", "--dem-size", "600x450"}, &c), "");
  EXPECT_EQ(c.sample.demSize, 600);
  EXPECT_EQ(c.sample.demHeight, 450);
  EXPECT_NE(ParseBatchCommand({"sample", "d", "--dem-size", "600x"}, &c), "");
  EXPECT_NE(ParseBatchCommand({"footprints", "--dem", "d", "--passport", "p", "--eo", "e",
                               "--image-dir", "i"},
                              &c),
            "");  // no --geojson
}

TEST(BatchOptions, ThreadsAreAWholeNumberFromOneTo1024) {
  const std::vector<std::string> base = {"run", "--dem", "d", "--passport", "p", "--eo", "e",
                                         "--image-dir", "i", "--gsd", "1", "--out", "o"};
  BatchCommand c;
  ASSERT_EQ(ParseBatchCommand(base, &c), "");
  EXPECT_EQ(c.threads, 0);  // every core
  const std::string refused = "--threads needs a whole number from 1 to 1024";
  const struct {
    std::string value;
    int threads;  // 0: refused
  } cases[] = {{"1", 1},  {"2", 2},   {"1024", 1024}, {"0", 0},   {"-2", 0},          {"1025", 0},
               {"2.5", 0}, {"two", 0}, {"", 0},        {"4x", 0}, {"99999999999", 0}};
  for (const auto& k : cases) {
    std::vector<std::string> a = base;
    a.insert(a.end(), {"--threads", k.value});
    const std::string error = ParseBatchCommand(a, &c);
    EXPECT_EQ(error, k.threads ? "" : refused) << k.value;
    if (k.threads) {
      EXPECT_EQ(c.threads, k.threads) << k.value;
    }
  }
  // Only the run warps.
  EXPECT_EQ(ParseBatchCommand({"footprints", "--dem", "d", "--passport", "p", "--eo", "e",
                               "--image-dir", "i", "--geojson", "g", "--threads", "2"},
                              &c),
            "unknown option --threads");
}

TEST(BatchRunner, ImageDirListsRastersInNameOrder) {
  Sample s;
  std::ofstream(s.dir / "p" / "images" / "notes.txt") << "not an image";
  std::ofstream(s.dir / "p" / "images" / "a_broken.tif") << "not a tiff";
  const auto list = ListImageDir((s.dir / "p" / "images").string());
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(fs::path(list[0]).filename(), "img_001.tif");
  EXPECT_EQ(fs::path(list[2]).filename(), "img_003.tif");
  EXPECT_TRUE(ListImageDir((s.dir / "missing").string()).empty());
}

TEST(BatchRunner, PointFileWithOtherColumnsAndDegrees) {
  Sample s;
  const SampleScene scene(s.options);
  const fs::path eo = s.dir / "eo_deg.txt";
  {
    std::ofstream out(eo);
    out << "# name;kappa;phi;omega;X;Y;Z in degrees\n";
    for (const SampleShot& shot : scene.Shots()) {
      char line[512];
      std::snprintf(line, sizeof line, "%s.TIF;%.12f;%.12f;%.12f;%.6f;%.6f;%.6f\r\n",
                    shot.name.c_str(), shot.kappa * 180 / kPi, shot.phi * 180 / kPi,
                    shot.omega * 180 / kPi, shot.x, shot.y, shot.z);
      out << line;
    }
  }
  BatchProjectOptions o = s.Project();
  o.eo = eo.string();
  o.eoSeparators = ";";
  o.eoColumns = {"id", "kappa", "phi", "omega", "x", "y", "z"};
  o.angles = "deg";
  WarpProject project;
  ASSERT_EQ(FillBatchProject(project, o, s.io), kBatchDone) << s.Errors();
  EXPECT_EQ(project.footprints.size(), 3u);
  for (const SampleShot& shot : scene.Shots()) {
    const auto& orientation = project.orientations.at(shot.name);
    EXPECT_NEAR(orientation.N.x(), shot.x, 1e-6);
    EXPECT_NEAR(orientation.N.z(), shot.z, 1e-6);
    // The degree correction rewrites each angle as text with six decimals of a radian.
    const auto expected = SampleScene::Rotation(shot.omega, shot.phi, shot.kappa);
    for (int i = 0; i < 9; ++i)
      EXPECT_NEAR(orientation.RotMat()(i / 3, i % 3), expected[i], 2e-6) << shot.name;
  }
}

TEST(BatchRunner, RefusedProjects) {
  Sample s;
  WarpProject p1;
  BatchProjectOptions o = s.Project();
  o.eo = (s.dir / "missing.txt").string();
  EXPECT_EQ(FillBatchProject(p1, o, s.io), kBatchRefused);
  EXPECT_NE(s.Errors().find("Unable to open the selected file!"), std::string::npos);

  // Orientations of other images only.
  const fs::path other = s.dir / "other.txt";
  std::ofstream(other) << "zzz 1 2 3 0 0 0\n";
  o = s.Project();
  o.eo = other.string();
  WarpProject p2;
  EXPECT_EQ(FillBatchProject(p2, o, s.io), kBatchRefused);

  // One image without orientation: refused, and named.
  const fs::path two = s.dir / "two.txt";
  {
    std::ifstream in(s.files.orientations);
    std::ofstream out(two);
    std::string line;
    for (int i = 0; i < 2 && std::getline(in, line); ++i) out << line << "\n";
  }
  o = s.Project();
  o.eo = two.string();
  WarpProject p3;
  s.errors.clear();
  EXPECT_EQ(FillBatchProject(p3, o, s.io), kBatchRefused);
  EXPECT_NE(s.Errors().find("img_003"), std::string::npos);

  // No image passes the checks.
  o = s.Project();
  o.images = {(s.dir / "nothing.tif").string()};
  WarpProject p4;
  EXPECT_EQ(FillBatchProject(p4, o, s.io), kBatchRefused);
}

TEST(BatchRunner, MissingListedFileIsCountedAndTheRestGoesOn) {
  Sample s;
  BatchProjectOptions o = s.Project();
  o.images.insert(o.images.begin() + 1, (s.dir / "gone.tif").string());
  WarpProject project;
  ASSERT_EQ(FillBatchProject(project, o, s.io), kBatchDone) << s.Errors();
  EXPECT_EQ(project.images.size(), 3u);
  bool counted = false;
  for (const auto& l : s.log) counted |= l.find("1 images not readable or invalid") != std::string::npos;
  EXPECT_TRUE(counted);
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

// Exit 0 only when every listed image became an ortho or was left out for a reason that is not an
// error; otherwise 4, with each failed image named with its cause in the log, on stdout and in
// the report.
TEST(BatchRunner, ExitCodeTellsWhetherEveryImageBecameAnOrtho) {
  Sample s;
  const fs::path out = s.dir / "out";
  std::vector<std::string> args = {"run", "--dem", s.files.dem, "--passport", s.files.passport,
                                   "--eo", s.files.orientations, "--gsd", "0.5", "--out",
                                   out.string(), "--images"};
  args.insert(args.end(), s.files.images.begin(), s.files.images.end());
  std::string stdoutText;
  s.io.out = [&](const std::string& t) { stdoutText += t; };
  const auto logged = [&](const std::string& line) {
    return std::find(s.log.begin(), s.log.end(), line) != s.log.end();
  };
  ASSERT_EQ(RunBatchCommand(args, s.io), kBatchDone) << s.Errors();

  // Kept by choice: an ortho above 10,000,000 bytes with --skip.
  fs::resize_file(out / "img_001.tif", 10000001);
  std::vector<std::string> skip = args;
  skip.insert(skip.begin() + 1, "--skip");
  EXPECT_EQ(RunBatchCommand(skip, s.io), kBatchDone) << s.Errors();
  EXPECT_TRUE(logged("Image img_001 skipped: already present"));

  // An image gone once the run started cannot be read: an error.
  std::vector<std::string> overwrite = args;
  overwrite.insert(overwrite.begin() + 1, "--overwrite");
  s.io.ctx.log = [&](const std::string& line) {
    s.log.push_back(line);
    if (line == kProcessStarted) fs::remove(s.files.images[1]);
  };
  stdoutText.clear();
  EXPECT_EQ(RunBatchCommand(overwrite, s.io), kBatchProcessError);
  EXPECT_TRUE(logged("Image img_002 failed: the image cannot be opened"));
  EXPECT_NE(stdoutText.find("Failed:\n  img_002: the image cannot be opened\n"), std::string::npos);
  const std::string report = ReadText(out / "report.txt");
  EXPECT_NE(report.find("Process DONE"), std::string::npos);
  EXPECT_NE(report.find("img_002: the image cannot be opened", report.find("Failed")),
            std::string::npos);
  EXPECT_TRUE(fs::exists(out / "img_003.tif"));

  // A listed file refused when the images are checked is a failed image too.
  s.io.ctx.log = [&](const std::string& line) { s.log.push_back(line); };
  std::ofstream(s.dir / "notes.tif") << "not a raster";
  std::vector<std::string> refused = {"run", "--dem", s.files.dem, "--passport", s.files.passport,
                                      "--eo", s.files.orientations, "--gsd", "0.5", "--out",
                                      (s.dir / "out2").string(), "--images", s.files.images[0],
                                      (s.dir / "notes.tif").string()};
  stdoutText.clear();
  EXPECT_EQ(RunBatchCommand(refused, s.io), kBatchProcessError);
  EXPECT_TRUE(fs::exists(s.dir / "out2" / "img_001.tif"));
  EXPECT_TRUE(logged("Image " + (s.dir / "notes.tif").string() +
                     " not added: GDAL cannot open it as a raster"));
  EXPECT_NE(stdoutText.find("notes.tif: GDAL cannot open it as a raster"), std::string::npos);
}

// Without --gsd the run takes the suggested GSD, says so, and writes its orthos at it.
TEST(BatchRunner, WithoutGsdTheSuggestedOneIsUsedAndLogged) {
  Sample s;
  const fs::path out = s.dir / "out";
  std::vector<std::string> args = {"run", "--dem", s.files.dem, "--passport", s.files.passport,
                                   "--eo", s.files.orientations, "--out", out.string(), "--images"};
  args.insert(args.end(), s.files.images.begin(), s.files.images.end());
  ASSERT_EQ(RunBatchCommand(args, s.io), kBatchDone) << s.Errors();
  const std::string prefix = "No --gsd given: using GSD ";
  const auto line = std::find_if(s.log.begin(), s.log.end(),
                                 [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
  ASSERT_NE(line, s.log.end());
  double logged = 0.0;
  const std::string number = line->substr(prefix.size());
  std::from_chars(number.data(), number.data() + number.size(), logged);
  EXPECT_GT(logged, 0.0);
  GDALDatasetUniquePtr ortho(GDALDataset::Open((out / "img_001.tif").c_str(), GDAL_OF_RASTER));
  ASSERT_NE(ortho, nullptr);
  double gt[6];
  ASSERT_EQ(ortho->GetGeoTransform(gt), CE_None);
  EXPECT_DOUBLE_EQ(gt[1], logged);
}

TEST(FootprintsGeoJson, OnePolygonPerFootprintWithEscapedNames) {
  WarpProject project;
  project.images.push_back({"a\"b", "/x/a.tif"});
  project.images.push_back({"none", "/x/n.tif"});
  project.footprints["a\"b"] = project.cad.AddPolyline(
      kLayerOrtho, {{0, 0}, {10, 0}, {10, 5}, {0, 5}}, true);
  const std::string json = FootprintsGeoJson(project);
  EXPECT_NE(json.find("\"name\": \"a\\\"b\""), std::string::npos) << json;
  EXPECT_NE(json.find("[[[0.000, 0.000], [10.000, 0.000], [10.000, 5.000], [0.000, 5.000], "
                      "[0.000, 0.000]]]"),
            std::string::npos)
      << json;
  EXPECT_EQ(json.find("none"), std::string::npos);
  const fs::path dir = test::MakeTempDir("json");
  EXPECT_EQ(WriteFootprintsGeoJson(project, (dir / "f.geojson").string()), "");
  EXPECT_TRUE(fs::exists(dir / "f.geojson"));
  EXPECT_FALSE(fs::exists(dir / "f.geojson.part"));
  EXPECT_NE(WriteFootprintsGeoJson(project, (dir / "no" / "f.geojson").string()), "");
}

// The sample's DEM with a bundle in place of passport, point file and images.
BatchProjectOptions WithBundle(const Sample& s, const std::string& bundle) {
  BatchProjectOptions o;
  o.dem = s.files.dem;
  o.bundle = bundle;
  return o;
}

std::vector<std::uint8_t> ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(BatchBundleOptions, BundleReplacesPassportPointFileAndImages) {
  BatchCommand c;
  EXPECT_EQ(ParseBatchCommand({"run", "--dem", "d", "--bundle", "b.bun", "--gsd", "1", "--out", "o"}, &c), "");
  EXPECT_EQ(c.project.bundle, "b.bun");
  EXPECT_EQ(ParseBatchCommand({"footprints", "--dem", "d", "--bundle", "b.bun", "--geojson", "f"}, &c), "");
  for (const std::vector<std::string>& extra :
       {std::vector<std::string>{"--passport", "p"}, {"--eo", "e"}, {"--images", "a.tif"}, {"--image-dir", "i"}}) {
    std::vector<std::string> args = {"run", "--dem", "d", "--bundle", "b.bun", "--gsd", "1", "--out", "o"};
    args.insert(args.end(), extra.begin(), extra.end());
    EXPECT_NE(ParseBatchCommand(args, &c).find("--bundle"), std::string::npos) << extra[0];
  }
  EXPECT_NE(ParseBatchCommand({"run", "--bundle", "b.bun", "--gsd", "1", "--out", "o"}, &c), "")
      << "the DEM stays required";
}

TEST(BatchBundle, SampleBundleFillsTheProjectAsThePointFileDoes) {
  Sample s;
  ASSERT_TRUE(fs::exists(s.files.bundle));
  EXPECT_EQ(ReadBytes(s.files.bundle).at(0), 206);
  WarpProject project;
  ASSERT_EQ(FillBatchProject(project, WithBundle(s, s.files.bundle), s.io), kBatchDone);
  ASSERT_EQ(project.images.size(), 3u);
  EXPECT_EQ(project.footprints.size(), 3u);
  EXPECT_EQ(project.passport->model, "Ortavia Sample Camera");
  EXPECT_EQ(project.cameraName, "camera.bcc");
  const SampleScene scene(s.options);
  for (const SampleShot& shot : scene.Shots()) {
    const geo::COrientation& o = project.orientations.at(shot.name);
    EXPECT_EQ(o.N.x(), shot.x);
    EXPECT_EQ(o.N.y(), shot.y);
    EXPECT_EQ(o.N.z(), shot.z);
    // The rotation the scene rendered the image with (its own Rx * Ry * Rz).
    const auto R = SampleScene::Rotation(shot.omega, shot.phi, shot.kappa);
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(o.RotMat()(i / 3, i % 3), R[static_cast<std::size_t>(i)], 1e-15);
  }
  const std::vector<std::string> expected = {"Passport selected: Ortavia Sample Camera (s.n. S-0001) - focal length 50.00",
                                             "3 images added", "3 External Orientation currently loaded"};
  auto first = std::find(s.log.begin(), s.log.end(), expected[0]);
  ASSERT_NE(first, s.log.end());
  EXPECT_EQ(std::vector<std::string>(first, first + 3), expected);
}

TEST(BatchBundle, EveryTruncationOfTheSampleBundleIsRefusedWithTheProjectUntouched) {
  Sample s;
  const std::vector<std::uint8_t> whole = ReadBytes(s.files.bundle);
  ASSERT_GT(whole.size(), 300u);
  const fs::path cut = s.dir / "cut.bun";
  for (std::size_t n = 0; n < whole.size(); ++n) {
    ASSERT_TRUE(test::WriteBytes(cut, std::vector<std::uint8_t>(whole.begin(), whole.begin() + static_cast<long>(n))));
    const BundleImport im = PrepareBundleImport(cut.string(), "", {});
    ASSERT_EQ(im.status, BundleImportStatus::Damaged) << n;
    EXPECT_EQ(im.message, "Unable to read BUN file!");
    EXPECT_TRUE(im.images.empty());
  }
  // And through the runner: exit code 3, the message with where it went wrong.
  ASSERT_TRUE(test::WriteBytes(cut, std::vector<std::uint8_t>(whole.begin(), whole.end() - 1)));
  WarpProject project;
  EXPECT_EQ(FillBatchProject(project, WithBundle(s, cut.string()), s.io), kBatchRefused);
  ASSERT_FALSE(s.errors.empty());
  EXPECT_NE(s.errors.back().find("Unable to read BUN file! "), std::string::npos);
  EXPECT_NE(s.errors.back().find("offset "), std::string::npos);
  EXPECT_TRUE(project.images.empty());
  EXPECT_EQ(project.passport, nullptr);
}

TEST(BatchBundle, BundleWithoutUsableImageIsRefused) {
  Sample s;
  test::TestBundle b;
  std::ifstream in(s.files.passport);
  b.passportText.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  b.records = {{"images/img_001.tif", {}, 0, 0, 1, 2, 3, 0, 0, 0}};  // no orientation
  const fs::path bun = s.dir / "p" / "none.bun";
  ASSERT_TRUE(test::WriteBytes(bun, EncodeTestBundle(b)));
  WarpProject project;
  EXPECT_EQ(FillBatchProject(project, WithBundle(s, bun.string()), s.io), kBatchRefused);
  EXPECT_NE(std::find(s.log.begin(), s.log.end(), "1 images without external orientation data"), s.log.end());
}

}  // namespace
}  // namespace ortavia
