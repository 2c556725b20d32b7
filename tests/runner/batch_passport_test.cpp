// ortavia-batch passport and the .ccb path of run: the database, the table rows, the curve, and a
// calibration certificate that orthorectifies exactly like the passport it was made from.
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gdal_priv.h>
#include <gtest/gtest.h>

#include "runner/batch_options.h"
#include "runner/batch_runner.h"
#include "runner/sample_project.h"
#include "support/passport_files.h"
#include "support/test_env.h"

namespace ortavia {
namespace {
namespace fs = std::filesystem;

struct Cli {
  std::string out, err;
  BatchIo io;
  Cli() {
    io.out = [this](const std::string& t) { out += t; };
    io.error = [this](const std::string& t) { err += t + "\n"; };
  }
  int Run(const std::vector<std::string>& args) {
    out.clear();
    err.clear();
    return RunBatchCommand(args, io);
  }
};

fs::path Database() { return fs::path(std::getenv("XDG_DATA_HOME")) / "Kesta" / "passports"; }

std::string Num(double v) {
  char text[64];
  return std::string(text, std::to_chars(text, text + sizeof text, v).ptr);
}

class BatchPassportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::remove_all(Database());
    in = test::MakeTempDir("passports");
  }
  fs::path in;
  Cli cli;
};

TEST_F(BatchPassportTest, ImportThenListInDialogOrder) {
  test::WriteText(in / "Zeiss.BCC", test::SimpleBcc());
  test::WriteText(in / "cert.ccb", test::SimpleCcb());
  test::WriteText(in / "a.bcc", test::SimpleBcc());
  EXPECT_EQ(cli.Run({"passport", "list"}), kBatchDone);
  EXPECT_EQ(cli.out, "");
  for (const char* name : {"Zeiss.BCC", "cert.ccb", "a.bcc"})
    EXPECT_EQ(cli.Run({"passport", "import", (in / name).string()}), kBatchDone) << cli.err;
  EXPECT_EQ(cli.Run({"passport", "list"}), kBatchDone);
  EXPECT_EQ(cli.out, "cert.ccb\na.bcc\nzeiss.bcc\n");
}

TEST_F(BatchPassportTest, ImportRefusesNonPassportsAndPresentNamesWithoutOverwrite) {
  test::WriteText(in / "junk.ccb", "\x01\x02 binary");
  EXPECT_EQ(cli.Run({"passport", "import", (in / "junk.ccb").string()}), kBatchRefused);
  EXPECT_NE(cli.err.find("Unable to open camera passport"), std::string::npos) << cli.err;
  EXPECT_FALSE(fs::exists(Database() / "junk.ccb"));

  test::WriteText(in / "cam.bcc", test::SimpleBcc("First"));
  ASSERT_EQ(cli.Run({"passport", "import", (in / "cam.bcc").string()}), kBatchDone);
  test::WriteText(in / "cam.bcc", test::SimpleBcc("Second"));
  EXPECT_EQ(cli.Run({"passport", "import", (in / "cam.bcc").string()}), kBatchRefused);
  EXPECT_NE(cli.err.find("already present"), std::string::npos) << cli.err;
  EXPECT_EQ(test::ReadText(Database() / "cam.bcc"), test::SimpleBcc("First"));
  EXPECT_EQ(cli.Run({"passport", "import", (in / "cam.bcc").string(), "--overwrite"}), kBatchDone);
  EXPECT_EQ(test::ReadText(Database() / "cam.bcc"), test::SimpleBcc("Second"));
}

TEST_F(BatchPassportTest, ShowPrintsTheSixteenRowsWithEmptyCellsEmpty) {
  test::WriteText(in / "cam.bcc", test::SimpleBcc());
  ASSERT_EQ(cli.Run({"passport", "show", (in / "cam.bcc").string()}), kBatchDone) << cli.err;
  // F = 100 mm, p = 0.01 mm, K1 = 2 (mm based): 2 x (10000 x 0.00001)^2 = 0.02 pixel based.
  EXPECT_EQ(cli.out,
            "Camera Model\tRC30\t\n"
            "Camera Serial Number\t5001\t\n"
            "Focal Length\t10000\t100\n"
            "Pixel Size (mm)\t\t0.01\n"
            "K1\t0.02\t2\n"
            "K2\t0\t0\n"
            "K3\t0\t0\n"
            "P1\t0\t0\n"
            "P2\t0\t0\n"
            "Raster Dimension X\t4000\t\n"
            "Raster Dimension Y\t3000\t\n"
            "Principal Point Coordinates X (pix)\t1999.5\t19.995\n"
            "Principal Point Coordinates Y\t1499.5\t14.995\n"
            "Radial Distortion Formula, dr =\t(K1*r^3)+(K2*r^5)+(K3*r^7)\t\n"
            "Tangential Distortion Formula, dx =\t(P1*x*y)+(P2*r^2*x^2)\t\n"
            "Tangential Distortion Formula, dy =\t(P2*x*y)+(P1*r^2*y^2)\t\n");
  // A name of the database is found there.
  ASSERT_EQ(cli.Run({"passport", "import", (in / "cam.bcc").string()}), kBatchDone);
  const fs::path cwd = fs::current_path();
  fs::current_path(test::MakeTempDir("elsewhere"));
  EXPECT_EQ(cli.Run({"passport", "show", "cam.bcc"}), kBatchDone) << cli.err;
  fs::current_path(cwd);
  test::WriteText(in / "bad.cvc", "[CVC Camera Passport]\nModel = x\n");
  EXPECT_EQ(cli.Run({"passport", "show", (in / "bad.cvc").string()}), kBatchRefused);
  EXPECT_NE(cli.err.find("Invalid camera passport!"), std::string::npos);
}

TEST_F(BatchPassportTest, CurveSamplesRZeroToFourteen) {
  // K1 = 100 mm based is 1 pixel based: dr = r^3.
  std::string text = test::SimpleBcc();
  text.replace(text.find("K1 = 2"), 6, "K1 = 100");
  test::WriteText(in / "cube.bcc", text);
  ASSERT_EQ(cli.Run({"passport", "curve", "radial", (in / "cube.bcc").string()}), kBatchDone) << cli.err;
  std::string expected;
  for (int r = 0; r <= 14; ++r) expected += std::to_string(r) + "\t" + std::to_string(r * r * r) + "\n";
  EXPECT_EQ(cli.out, expected);
  ASSERT_EQ(cli.Run({"passport", "curve", "tangential", (in / "cube.bcc").string()}), kBatchDone);
  std::string zeros;
  for (int r = 0; r <= 14; ++r) zeros += std::to_string(r) + "\t0\n";
  EXPECT_EQ(cli.out, zeros);
}

// The source tree's docs/passports.md; __FILE__ may be relative to the build folder, the parent of
// the folder the tests run in.
std::string PassportsDoc() {
  const fs::path self(__FILE__);
  for (const fs::path& base : {fs::path(), fs::current_path().parent_path(), fs::current_path()}) {
    const fs::path doc = (base / self).parent_path().parent_path().parent_path() / "docs" / "passports.md";
    if (fs::exists(doc)) return test::ReadText(doc);
  }
  return {};
}

// The indented block that follows the first line holding `marker`, without its indentation.
std::string BlockAfter(const std::string& doc, const std::string& marker) {
  std::istringstream in(doc.substr(doc.find(marker) + marker.size()));
  std::string line, block;
  std::getline(in, line);  // the rest of the marker's line
  while (std::getline(in, line)) {
    if (line.rfind("    ", 0) == 0) block += line.substr(4) + "\n";
    else if (!block.empty()) break;
  }
  return block;
}

TEST_F(BatchPassportTest, TheWorkedExampleOfTheDocsIsWhatShowPrints) {
  const std::string doc = PassportsDoc();
  ASSERT_FALSE(doc.empty()) << "docs/passports.md not found from " << __FILE__;
  const std::string passport = BlockAfter(doc, "Write this passport as `rc30.bcc`:");
  const std::string shown = BlockAfter(doc, "$ ortavia-batch passport show rc30.bcc");
  ASSERT_NE(passport.find("[BCC Camera Passport]"), std::string::npos);
  test::WriteText(in / "rc30.bcc", passport);
  ASSERT_EQ(cli.Run({"passport", "show", (in / "rc30.bcc").string()}), kBatchDone) << cli.err;
  EXPECT_EQ(cli.out, shown);
}

TEST(BatchPassportOptions, ActionsAndTheirArguments) {
  BatchCommand c;
  EXPECT_EQ(ParseBatchCommand({"passport", "import", "x.ccb", "--overwrite"}, &c), "");
  EXPECT_EQ(c.kind, BatchCommandKind::Passport);
  EXPECT_TRUE(c.passport.overwrite);
  EXPECT_EQ(c.passport.file, "x.ccb");
  EXPECT_EQ(ParseBatchCommand({"passport", "curve", "tangential", "y.bcc"}, &c), "");
  EXPECT_TRUE(c.passport.tangential);
  for (const std::vector<std::string>& bad :
       std::vector<std::vector<std::string>>{{"passport"},
                                             {"passport", "delete", "x"},
                                             {"passport", "list", "x"},
                                             {"passport", "show"},
                                             {"passport", "show", "a", "b"},
                                             {"passport", "curve", "x.bcc"},
                                             {"passport", "curve", "axial", "x.bcc"},
                                             {"passport", "import", "--overwrite"},
                                             {"passport", "show", "--overwrite", "x"}})
    EXPECT_NE(ParseBatchCommand(bad, &c), "") << bad.size();
}

// The sample's BCC passport written as a calibration certificate (principal point from the image
// centre in mm, y up; pixel size in microns).
std::string CertificateOf(const std::string& bccPath) {
  std::ifstream in(bccPath);
  double f = 0, p = 0, x0 = 0, y0 = 0;
  int w = 0, h = 0;
  std::string line;
  while (std::getline(in, line)) {
    const auto eq = line.find(" = ");
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 3);
    double v = 0;
    std::from_chars(value.data(), value.data() + value.size(), v);
    if (key == "FocalLength") f = v;
    if (key == "PixelSize") p = v;
    if (key == "Width") w = static_cast<int>(v);
    if (key == "Height") h = static_cast<int>(v);
    if (key == "PrincipalPointX") x0 = v;
    if (key == "PrincipalPointY") y0 = v;
  }
  return "[Calibration Certificate]\nCamera = Sample\nSerial = 1\nFocalLengthMM = " + Num(f) +
         "\nPixelSizeMicrons = " + Num(p * 1000.0) + "\nColumns = " + std::to_string(w) +
         "\nRows = " + std::to_string(h) + "\nPPAxMM = " + Num((x0 - (w - 1) / 2.0) * p) +
         "\nPPAyMM = " + Num(((h - 1) / 2.0 - y0) * p) + "\n";
}

TEST(BatchRunWithCertificate, OrthosLieExactlyWhereThePassportPutsThem) {
  const fs::path dir = test::MakeTempDir("ccbrun");
  SampleOptions options;
  options.images = 3;
  options.width = 160;
  options.height = 120;
  options.demSize = 40;
  SampleFiles files;
  ASSERT_EQ(WriteSampleProject((dir / "p").string(), options, {}, &files), "");
  const fs::path ccb = dir / "Sample.CCB";
  test::WriteText(ccb, CertificateOf(files.passport));
  Cli cli;
  for (const auto& [passportFile, out] : {std::pair{files.passport, std::string("bcc")},
                                          std::pair{ccb.string(), std::string("ccb")}}) {
    ASSERT_EQ(cli.Run({"run", "--dem", files.dem, "--passport", passportFile, "--eo", files.orientations,
                       "--image-dir", files.imageDir, "--gsd", "1", "--out", (dir / out).string()}),
              kBatchDone)
        << cli.err;
  }
  GDALAllRegister();
  int compared = 0;
  for (const auto& e : fs::directory_iterator(dir / "bcc")) {
    if (e.path().extension() != ".tif" || e.path().stem() == "coverage" || e.path().stem() == "voronoi") continue;
    GDALDatasetUniquePtr a(GDALDataset::Open(e.path().c_str(), GDAL_OF_RASTER));
    GDALDatasetUniquePtr b(GDALDataset::Open((dir / "ccb" / e.path().filename()).c_str(), GDAL_OF_RASTER));
    ASSERT_TRUE(a && b) << e.path();
    double ga[6], gb[6];
    a->GetGeoTransform(ga);
    b->GetGeoTransform(gb);
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(ga[i], gb[i], 1e-9) << e.path() << " " << i;
    EXPECT_EQ(a->GetRasterXSize(), b->GetRasterXSize());
    EXPECT_EQ(a->GetRasterYSize(), b->GetRasterYSize());
    ++compared;
  }
  EXPECT_GE(compared, 2);
}

}  // namespace
}  // namespace ortavia
