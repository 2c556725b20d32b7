// A bundle file on disk into the project: the passport of each version, the record checks and
// where record paths lead, and the rule that nothing changes until the whole file was taken.
#include "extor/bundle_import.h"

#include <sys/stat.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <limits>

#include <gtest/gtest.h>

#include "support/bundle_writer.h"
#include "support/inputs_test_util.h"
#include "support/test_env.h"

namespace ortavia {
namespace {

namespace fs = std::filesystem;
using test::TestBundle;
using test::TestBundleRecord;

// 30 x 20 pixels, as the images below.
const char* kBcc =
    "[BCC Camera Passport]\nModel = Bundle Cam\nSerialNumber = 9\nFocalLength = 100\n"
    "PixelSize = 0.01\nWidth = 30\nHeight = 20\nPrincipalPointX = 14.5\nPrincipalPointY = 9.5\n";
const char* kBccDistorted =
    "[BCC Camera Passport]\nModel = Bent Cam\nSerialNumber = 9\nFocalLength = 100\n"
    "PixelSize = 0.01\nWidth = 30\nHeight = 20\nPrincipalPointX = 14.5\nPrincipalPointY = 9.5\nK1 = 1e-5\n";
const char* kCcb =
    "[Calibration Certificate]\nCamera = Old Cam\nSerial = 3\nFocalLengthMM = 100\n"
    "PixelSizeMicrons = 10\nColumns = 30\nRows = 20\nPPAxMM = 0\nPPAyMM = 0\n";

TestBundleRecord Record(const std::string& path, double x) {
  TestBundleRecord r;
  r.path = path;
  r.x = x;
  r.y = 2000.0;
  r.z = 500.0;
  r.kappa = std::acos(-1.0) / 2;
  return r;
}

class BundleImportTest : public ::testing::Test {
 public:
  void SetUp() override { dir = test::MakeTempDir("bun"); }

  std::string Image(const std::string& file, int w = 30, int h = 20, int bands = 1,
                    std::map<std::string, std::string> meta = {}) {
    const fs::path p = dir / file;
    fs::create_directories(p.parent_path());
    EXPECT_TRUE(test::WriteRaster(
        p, test::WithMetadata(test::WithGt(test::Layout(w, h, GDT_Byte, bands), std::nullopt), meta),
        [](int, int c, int r) { return (c + r) % 200; }));
    return p.string();
  }
  TestBundle Bundle(int version, std::vector<TestBundleRecord> records) {
    TestBundle b;
    b.version = version;
    b.passportText = kBcc;
    b.cameraName = "named.bcc";
    b.records = std::move(records);
    return b;
  }
  BundleImport Import(const TestBundle& b, const std::string& cameraName = "",
                      const std::string& file = "block.bun") {
    EXPECT_TRUE(test::WriteBytes(dir / file, EncodeTestBundle(b)));
    return PrepareBundleImport((dir / file).string(), cameraName, {});
  }
  std::vector<std::string> Names(const BundleImport& im) {
    std::vector<std::string> names;
    for (const auto& i : im.images) names.push_back(i.name);
    return names;
  }

  fs::path dir;
};

TEST_F(BundleImportTest, RecordWithoutOrientationIsCountedAndTheOthersAdded) {
  Image("a.tif");
  Image("b.tif");
  Image("c.tif");
  TestBundle b = Bundle(206, {Record((dir / "a.tif").string(), 1000), Record((dir / "b.tif").string(), 1100),
                              Record((dir / "c.tif").string(), 1200)});
  b.records[1].hasOrientation = 0;
  const BundleImport im = Import(b);
  ASSERT_EQ(im.status, BundleImportStatus::Imported) << im.detail;
  EXPECT_EQ(Names(im), (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(im.countLines,
            (std::vector<std::string>{"2 images added", "1 images without external orientation data"}));
  ASSERT_EQ(im.orientations.size(), 2u);
  const geo::COrientation& c = im.orientations.at("c");
  EXPECT_EQ(c.N.x(), 1200.0);
  EXPECT_EQ(c.N.y(), 2000.0);
  EXPECT_EQ(c.N.z(), 500.0);
  // kappa = 90 degrees alone: R = Rz(90) = [[0, -1, 0], [1, 0, 0], [0, 0, 1]].
  EXPECT_NEAR(c.RotMat()(0, 1), -1.0, 1e-12);
  EXPECT_NEAR(c.RotMat()(1, 0), 1.0, 1e-12);
  EXPECT_NEAR(c.RotMat()(2, 2), 1.0, 1e-12);
  EXPECT_EQ(c.FocalLength(), 100.0);  // interior orientation from the bundle's passport
  EXPECT_EQ(im.passport->model, "Bundle Cam");
}

TEST_F(BundleImportTest, RecordClassesEachCountedOnce) {
  struct Case {
    const char* name;
    std::function<TestBundleRecord(BundleImportTest&)> record;
    const char* line;
    const char* cause;  // of the refused record, named in the log
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<Case> cases = {
      {"flag 0", [&](auto& t) { auto r = Record(t.Image("n.tif"), 1); r.hasOrientation = 0; return r; },
       "1 images without external orientation data", "it has no orientation"},
      {"x not finite", [&](auto& t) { auto r = Record(t.Image("n.tif"), 0); r.x = nan; return r; },
       "1 images without external orientation data", "its orientation is not usable"},
      {"omega infinite", [&](auto& t) { auto r = Record(t.Image("n.tif"), 1); r.omega = inf; return r; },
       "1 images without external orientation data", "its orientation is not usable"},
      {"centre at the origin", [&](auto& t) { auto r = Record(t.Image("n.tif"), 0); r.y = 0; r.z = 0; return r; },
       "1 images without external orientation data", "its orientation is not usable"},
      {"missing file", [](auto& t) { return Record((t.dir / "gone.tif").string(), 1); },
       "1 images not readable or invalid", "no such file, as written or beside the bundle"},
      {"a folder", [](auto& t) { fs::create_directories(t.dir / "sub.tif"); return Record((t.dir / "sub.tif").string(), 1); },
       "1 images not readable or invalid", "no such file, as written or beside the bundle"},
      {"a FIFO", [](auto& t) { mkfifo((t.dir / "pipe.tif").c_str(), 0600); return Record((t.dir / "pipe.tif").string(), 1); },
       "1 images not readable or invalid", "no such file, as written or beside the bundle"},
      {"a GDAL virtual path", [](auto&) { return Record("/vsimem/x.tif", 1); },
       "1 images not readable or invalid", "no such file, as written or beside the bundle"},
      {"not a raster", [](auto& t) { std::ofstream(t.dir / "text.tif") << "hello"; return Record((t.dir / "text.tif").string(), 1); },
       "1 images not readable or invalid", "GDAL cannot open it as a raster"},
      {"one pixel wider", [](auto& t) { return Record(t.Image("wide.tif", 31), 1); },
       "1 images not matching the passport specifications", "its size or undistortion marks do not match the passport"},
  };
  for (const Case& c : cases) {
    SetUp();
    const BundleImport im = Import(Bundle(206, {Record(Image("ok.tif"), 5), c.record(*this)}));
    ASSERT_EQ(im.status, BundleImportStatus::Imported) << c.name;
    EXPECT_EQ(im.countLines, (std::vector<std::string>{"1 images added", c.line})) << c.name;
    EXPECT_EQ(Names(im), std::vector<std::string>{"ok"}) << c.name;
    ASSERT_EQ(im.refused.size(), 1u) << c.name;
    EXPECT_EQ(im.refused[0].cause, c.cause) << c.name;
  }
}

TEST_F(BundleImportTest, FormatFollowsTheFirstAcceptedImageAndDuplicatesAreCountedOnce) {
  const std::string grey = Image("grey.tif");
  const std::string colour = Image("colour.tif", 30, 20, 3);
  Image("other/GREY.TIF");
  const BundleImport im = Import(Bundle(206, {Record(colour, 1), Record(grey, 2),
                                              Record((dir / "other/GREY.TIF").string(), 3),
                                              Record(colour, 4)}));
  ASSERT_EQ(im.status, BundleImportStatus::Imported);
  EXPECT_EQ(Names(im), (std::vector<std::string>{"colour"}));
  EXPECT_EQ(im.countLines, (std::vector<std::string>{"1 images added",
                                                     "1 images already present into dataset",
                                                     "2 images have an invalid data format"}))
      << "grey has another format; GREY.TIF is checked like grey and so is refused too";
  EXPECT_EQ(im.counts.alreadyPresent, 1) << "only a name already taken by an added image";
}

TEST_F(BundleImportTest, RecordPathsLeadToTheBundlesFolderWhenWrittenElsewhere) {
  Image("Flight/IMG_0001.TIF");
  Image("IMG_0002.tif");
  Image("img_0003.tif");
  Image("Strasse_ü.tif");
  struct Case {
    std::string recordPath;
    std::string found;  // relative to the bundle's folder; empty: not readable
  };
  const std::vector<Case> cases = {
      {(dir / "Flight/IMG_0001.TIF").string(), "Flight/IMG_0001.TIF"},  // as written, case kept
      {"Flight/IMG_0001.TIF", "Flight/IMG_0001.TIF"},                   // relative to the bundle
      {"C:\\Photos\\IMG_0002.tif", "IMG_0002.tif"},                    // drive letter
      {"\\\\server\\share\\IMG_0002.tif", "IMG_0002.tif"},             // UNC
      {"D:IMG_0002.tif", "IMG_0002.tif"},
      {"/elsewhere/IMG_0003.TIF", "img_0003.tif"},  // not found as written: name in any case
      {"C:\\x\\Strasse_ü.tif", "Strasse_ü.tif"},
      {"C:\\Block\\Flight\\IMG_0001.TIF", "Flight/IMG_0001.TIF"},  // the block moved whole
      {"/old/disk/Flight/IMG_0001.TIF", "Flight/IMG_0001.TIF"},
      {"C:\\Block\\..\\IMG_0001.TIF", ""},                          // no climbing out
      {"/elsewhere/img_9999.tif", ""},
      {"C:\\", ""},
      {"", ""},
      {"..", ""},
  };
  for (const Case& c : cases) {
    const std::string got = ResolveBundleImagePath(c.recordPath, dir);
    EXPECT_EQ(got, c.found.empty() ? "" : (dir / c.found).string()) << c.recordPath;
  }
  // Two files that differ only in case give no single answer.
  Image("twin.tif");
  Image("TWIN.tif");
  EXPECT_EQ(ResolveBundleImagePath("C:\\a\\Twin.TIF", dir), "");
}

TEST_F(BundleImportTest, SixteenBitPathsFindTheirFiles) {
  const std::string file = Image("\xE5\x9C\xB0\xE5\x9B\xBE_01.tif");
  TestBundle b = Bundle(206, {Record("C:\\Fotos\\\xE5\x9C\xB0\xE5\x9B\xBE_01.tif", 7)});
  b.form.wide = true;
  const BundleImport im = Import(b);
  ASSERT_EQ(im.status, BundleImportStatus::Imported);
  ASSERT_EQ(im.images.size(), 1u);
  EXPECT_EQ(im.images[0].path, file);
  EXPECT_EQ(im.images[0].name, "\xE5\x9C\xB0\xE5\x9B\xBE_01");
}

TEST_F(BundleImportTest, PassportAndCameraNameOfEachVersion) {
  Image("a.tif");
  struct Case {
    int version;
    std::string previousName;
    bool ccb;
    BundleImportStatus status;
    std::string model, cameraName;
  };
  const std::vector<Case> cases = {
      {202, "", false, BundleImportStatus::NoPassport, "", ""},
      {202, "kept.bcc", true, BundleImportStatus::Imported, "Old Cam", "old_cam.ccb"},
      {203, "previous.cvc", false, BundleImportStatus::Imported, "Bundle Cam", "previous.cvc"},
      {203, "", false, BundleImportStatus::Imported, "Bundle Cam", "Bundle Cam"},
      {204, "previous.cvc", false, BundleImportStatus::Imported, "Bundle Cam", "named.bcc"},
      {206, "", false, BundleImportStatus::Imported, "Bundle Cam", "named.bcc"},
  };
  for (const Case& c : cases) {
    SetUp();
    Image("a.tif");
    if (c.ccb) std::ofstream(dir / "Old_Cam.CCB") << kCcb;
    const BundleImport im = Import(Bundle(c.version, {Record("a.tif", 1)}), c.previousName);
    ASSERT_EQ(im.status, c.status) << c.version << " " << im.detail;
    if (c.status != BundleImportStatus::Imported) {
      EXPECT_EQ(im.message, "Unable to find camera passport!");
      continue;
    }
    EXPECT_EQ(im.passport->model, c.model) << c.version;
    EXPECT_EQ(im.cameraName, c.cameraName) << c.version;
    EXPECT_EQ(im.images.size(), 1u);
  }
  // A .ccb that is no certificate.
  SetUp();
  std::ofstream(dir / "bad.ccb") << "[Calibration Certificate]\nCamera = x\n";
  const BundleImport bad = Import(Bundle(202, {}));
  EXPECT_EQ(bad.status, BundleImportStatus::BadPassport);
  EXPECT_EQ(bad.message, "Unable to read camera passport!");
}

TEST_F(BundleImportTest, UndistortionIsCheckedOnlyWhenPassportAndFlagAskForIt) {
  const std::string plain = Image("plain.tif");
  const std::string marked = Image("marked.tif", 30, 20, 1, {{"UNDISTORTED", "yes"}, {"CAMERANAME", "NAMED.BCC"}});
  for (int flag : {0, 1}) {
    TestBundle b = Bundle(206, {Record(plain, 1), Record(marked, 2)});
    b.passportText = kBccDistorted;
    b.undistorted = flag;
    const BundleImport im = Import(b);
    ASSERT_EQ(im.status, BundleImportStatus::Imported);
    if (flag == 0)
      EXPECT_EQ(Names(im), (std::vector<std::string>{"plain", "marked"}));
    else
      EXPECT_EQ(Names(im), (std::vector<std::string>{"marked"}));
  }
}

TEST_F(BundleImportTest, RefusedFilesSayWhyAndWhere) {
  Image("a.tif");
  const std::vector<std::uint8_t> whole = EncodeTestBundle(Bundle(206, {Record("a.tif", 1)}));
  struct Case {
    std::vector<std::uint8_t> bytes;
    BundleImportStatus status;
    const char* message;
  };
  std::vector<std::uint8_t> v201 = whole;
  v201[0] = 201 & 0xFF;
  const std::vector<Case> cases = {
      {std::vector<std::uint8_t>(whole.begin(), whole.end() - 3), BundleImportStatus::Damaged, "Unable to read BUN file!"},
      {v201, BundleImportStatus::BadVersion, "Invalid BUN file version"},
      {{}, BundleImportStatus::Damaged, "Unable to read BUN file!"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(test::WriteBytes(dir / "x.bun", c.bytes));
    const BundleImport im = PrepareBundleImport((dir / "x.bun").string(), "", {});
    EXPECT_EQ(im.status, c.status);
    EXPECT_EQ(im.message, c.message);
    EXPECT_NE(im.detail.find("x.bun: offset "), std::string::npos) << im.detail;
    EXPECT_TRUE(im.images.empty());
    EXPECT_EQ(im.passport, nullptr);
  }
  // A file beyond the size limit is refused by its size, before a byte is read (sparse here).
  fs::resize_file(dir / "x.bun", kMaxBundleFileBytes + 1);
  const BundleImport huge = PrepareBundleImport((dir / "x.bun").string(), "", {});
  EXPECT_EQ(huge.status, BundleImportStatus::Damaged);
  EXPECT_NE(huge.detail.find("at most 1073741824 bytes"), std::string::npos) << huge.detail;
  for (const fs::path& p : {dir / "missing.bun", dir}) {
    const BundleImport im = PrepareBundleImport(p.string(), "", {});
    EXPECT_EQ(im.status, BundleImportStatus::CannotOpen);
    EXPECT_EQ(im.message, "Unable to open BUN file!");
  }
}

TEST_F(BundleImportTest, ApplyReplacesPassportImagesAndOrientationsAndKeepsTheDem) {
  Image("a.tif");
  WarpProject project;
  project.passport = test::MakePassport(30, 20);
  project.cameraName = "old.bcc";
  project.images = {{"old", "/x/old.tif"}};
  project.orientations["old"] = geo::COrientation();
  project.dem.minHeight = 123.0;
  const CadHandle h = project.cad.AddPolyline(kLayerOrtho, {{0, 0}, {1, 0}, {1, 1}}, true);
  project.footprints["old"] = h;
  BundleImport im = Import(Bundle(206, {Record("a.tif", 1)}));
  ApplyBundleImport(project, std::move(im));
  EXPECT_EQ(project.passport->model, "Bundle Cam");
  EXPECT_EQ(project.cameraName, "named.bcc");
  ASSERT_EQ(project.images.size(), 1u);
  EXPECT_EQ(project.images[0].name, "a");
  EXPECT_EQ(project.orientations.count("old"), 0u);
  EXPECT_TRUE(project.footprints.empty());
  EXPECT_EQ(project.cad.Find(h), nullptr);
  EXPECT_EQ(project.dem.minHeight, 123.0);
}

}  // namespace
}  // namespace ortavia
