#include "model/add_images.h"

#include <fstream>

#include <gtest/gtest.h>

#include "support/inputs_test_util.h"
#include "support/test_env.h"

namespace ortavia {
namespace {

namespace fs = std::filesystem;

class AddImagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = test::MakeTempDir("img");
    project.passport = test::MakePassport(30, 20);
    project.cameraName = "cam01.bcc";
  }
  std::string Image(const std::string& file, int w = 30, int h = 20, int bands = 1,
                    GDALDataType type = GDT_Byte, std::map<std::string, std::string> meta = {}) {
    const fs::path p = dir / file;
    fs::create_directories(p.parent_path());
    EXPECT_TRUE(test::WriteRaster(
        p, test::WithMetadata(test::WithGt(test::Layout(w, h, type, bands), std::nullopt), meta),
        [](int b, int c, int r) { return (b * 7 + c + r) % 200; }));
    return p.string();
  }
  AddImagesResult Add(const std::vector<std::string>& paths) {
    return AddImages(project, paths, ctx);
  }
  fs::path dir;
  WarpProject project;
  RunContext ctx;
};

TEST_F(AddImagesTest, WithoutPassportNothingHappens) {
  project.passport.reset();
  const auto r = Add({Image("a.tif")});
  EXPECT_EQ(r.status, AddImagesStatus::NoPassport);
  EXPECT_TRUE(project.images.empty());
  EXPECT_TRUE(r.log.empty());
}

TEST_F(AddImagesTest, AcceptedImagesGetARowAndAnEmptyOrientation) {
  std::vector<std::string> logged;
  ctx.log = [&](const std::string& s) { logged.push_back(s); };
  const std::string a = Image("Flight/IMG_0001.TIF");
  const std::string b = Image("Flight/img_0002.tif");
  const auto r = Add({a, b});
  EXPECT_EQ(r.status, AddImagesStatus::Done);
  EXPECT_EQ(r.counts.added, 2);
  EXPECT_EQ(r.log, std::vector<std::string>{"2 images added"});
  EXPECT_EQ(logged, r.log);
  ASSERT_EQ(project.images.size(), 2u);
  EXPECT_EQ(project.images[0].name, "img_0001");
  EXPECT_EQ(project.images[0].path, a);  // file names are case-sensitive here: kept as chosen
  EXPECT_TRUE(fs::exists(project.images[0].path));
  ASSERT_EQ(project.orientations.count("img_0001"), 1u);
  const geo::COrientation& o = project.orientations.at("img_0001");
  EXPECT_TRUE(o.HasInterior());
  EXPECT_DOUBLE_EQ(o.FocalLength(), 100.0);
  EXPECT_FALSE(HasExteriorOrientation(o));
}

TEST_F(AddImagesTest, SameNameCountsAsAlreadyPresent) {
  const std::string a = Image("one/a.tif");
  ASSERT_EQ(Add({a}).counts.added, 1);
  // The same file again, the same name in another folder, with another extension and case.
  const auto r = Add({a, Image("two/A.tif"), Image("two/a.img")});
  EXPECT_EQ(r.counts.alreadyPresent, 3);
  EXPECT_EQ(r.counts.added, 0);
  EXPECT_EQ(r.log, std::vector<std::string>{"3 images already present into dataset"});
  EXPECT_EQ(project.images.size(), 1u);
  // Within one command too: a name stays unique in the project.
  const auto r2 = Add({Image("three/b.tif"), Image("four/B.tif")});
  EXPECT_EQ(r2.counts.added, 1);
  EXPECT_EQ(r2.counts.alreadyPresent, 1);
  EXPECT_EQ(project.images.size(), 2u);
  EXPECT_EQ(project.orientations.size(), 2u);
}

TEST_F(AddImagesTest, RejectionClassesAreCountedAndLoggedInOrder) {
  ASSERT_EQ(Add({Image("first.tif")}).counts.added, 1);  // 1 band of bytes is the reference
  std::ofstream(dir / "junk.tif") << "no raster here";
  const auto r = Add({Image("wide.tif", 31, 20),            // 1 pixel wider than the passport
                      Image("rgb.tif", 30, 20, 3),           // 3 bands after a 1-band image
                      Image("u16.tif", 30, 20, 1, GDT_UInt16),
                      (dir / "junk.tif").string(), (dir / "missing.tif").string(), dir.string() + "/",
                      Image("ok.tif"), Image("first.jpg")});
  EXPECT_EQ(r.counts.added, 1);
  EXPECT_EQ(r.counts.alreadyPresent, 1);
  EXPECT_EQ(r.counts.notReadable, 3);
  EXPECT_EQ(r.counts.notMatchingPassport, 1);
  EXPECT_EQ(r.counts.invalidFormat, 2);
  EXPECT_EQ(r.log, (std::vector<std::string>{
                       "1 images added", "1 images already present into dataset",
                       "3 images not readable or invalid",
                       "1 images not matching the passport specifications",
                       "2 images have an invalid data format"}));
  EXPECT_EQ(project.images.size(), 2u);
}

// An image named like a mosaic product would write its ortho over that product.
TEST_F(AddImagesTest, ProductNamesAreRefusedAsInvalidWithTheirCause) {
  std::vector<std::string> logged;
  ctx.log = [&](const std::string& s) { logged.push_back(s); };
  const std::string coverage = Image("a/Coverage.tif"), voronoi = Image("b/voronoi.tif");
  const auto r = Add({coverage, Image("coverage_01.tif"), voronoi});
  EXPECT_EQ(r.counts.added, 1);
  EXPECT_EQ(r.counts.notReadable, 2);
  ASSERT_EQ(project.images.size(), 1u);
  EXPECT_EQ(project.images[0].name, "coverage_01");
  ASSERT_EQ(r.refused.size(), 2u);
  EXPECT_EQ(r.refused[0].path, coverage);
  EXPECT_EQ(r.refused[1].path, voronoi);
  EXPECT_EQ(r.refused[1].cause, "its name is that of a mosaic product");
  EXPECT_EQ(logged.front(), "Image " + coverage +
                                " refused: its ortho would overwrite the mosaic product \"coverage\"; "
                                "rename the image");
  EXPECT_EQ(logged.back(), "2 images not readable or invalid");
}

TEST(RefusedImageLines, NameEachFileUpToALimitThenCountTheRest) {
  std::vector<RefusedImage> refused;
  EXPECT_TRUE(RefusedImageLines(refused).empty());
  for (int i = 1; i <= 22; ++i) refused.push_back({"/x/" + std::to_string(i) + ".tif", "cause " + std::to_string(i)});
  const std::vector<std::string> lines = RefusedImageLines(refused);
  ASSERT_EQ(lines.size(), 21u);
  EXPECT_EQ(lines[0], "Image /x/1.tif refused: cause 1");
  EXPECT_EQ(lines[19], "Image /x/20.tif refused: cause 20");
  EXPECT_EQ(lines[20], "2 more images refused: the image list names them, greyed, with why");
}

TEST_F(AddImagesTest, ReferenceFormatComesFromTheFirstImageThatPassesTheSizeCheck) {
  const auto r = Add({Image("small.tif", 10, 10, 3), Image("rgb.tif", 30, 20, 3),
                      Image("gray.tif"), Image("rgb2.tif", 30, 20, 3)});
  EXPECT_EQ(r.counts.notMatchingPassport, 1);
  EXPECT_EQ(r.counts.added, 2);
  EXPECT_EQ(r.counts.invalidFormat, 1);
  ASSERT_EQ(project.images.size(), 2u);
  EXPECT_EQ(project.images[1].name, "rgb2");
}

TEST_F(AddImagesTest, UnreadableFirstListedImageStopsTheCommand) {
  const std::string a = Image("a.tif");
  ASSERT_EQ(Add({a}).counts.added, 1);
  fs::remove(a);
  const auto r = Add({Image("b.tif")});
  EXPECT_EQ(r.status, AddImagesStatus::FirstImageUnreadable);
  EXPECT_EQ(project.images.size(), 1u);
  EXPECT_TRUE(r.log.empty());
}

TEST_F(AddImagesTest, UndistortedMarksWhenThePassportRequiresThem) {
  project.passport = test::MakePassport(30, 20, 100.0, 0.01, true);
  const auto r = Add({
      Image("upper.tif", 30, 20, 1, GDT_Byte, {{"UNDISTORTED", "YES"}, {"CAMERANAME", "cam01.bcc"}}),
      Image("marks.tif", 30, 20, 1, GDT_Byte, {{"UNDISTORTED", "yes"}, {"CAMERANAME", "CAM01.BCC"}}),
      Image("tags.tif", 30, 20, 1, GDT_Byte,
            {{"TIFFTAG_SOFTWARE", "Varnell Software UND"}, {"TIFFTAG_IMAGEDESCRIPTION", "Cam01.Bcc"}}),
      Image("othercam.tif", 30, 20, 1, GDT_Byte,
            {{"TIFFTAG_SOFTWARE", "Varnell Software UND"}, {"TIFFTAG_IMAGEDESCRIPTION", "cam02.bcc"}}),
      // Only one of the first pair: the TIFF tags decide, and they are missing.
      Image("half.tif", 30, 20, 1, GDT_Byte, {{"UNDISTORTED", "yes"}}),
      Image("plain.tif")});
  EXPECT_EQ(r.counts.added, 2);
  EXPECT_EQ(r.counts.notMatchingPassport, 4);
  ASSERT_EQ(project.images.size(), 2u);
  EXPECT_EQ(project.images[0].name, "marks");
  EXPECT_EQ(project.images[1].name, "tags");

  // A passport without distortion takes unmarked images.
  project.passport = test::MakePassport(30, 20);
  EXPECT_EQ(Add({Image("plain2.tif")}).counts.added, 1);
}

TEST_F(AddImagesTest, ProgressRunsOverTheChosenFiles) {
  std::vector<int> positions;
  int pumps = 0;
  ctx.progressPos = [&](int p) { positions.push_back(p); };
  ctx.pump = [&] { ++pumps; };
  Add({Image("a.tif"), Image("b.tif"), Image("c.tif")});
  EXPECT_EQ(positions, (std::vector<int>{0, 1, 2, 0}));
  EXPECT_EQ(pumps, 3);
}

}  // namespace
}  // namespace ortavia
