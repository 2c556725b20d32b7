// The batch runner fed by a bundle file: the sample's bundle gives the same project as its point
// file, and a damaged bundle is refused before anything is read from the images.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/bundle_import.h"
#include "process/batch_options.h"
#include "process/batch_runner.h"
#include "process/sample_project.h"
#include "support/bundle_writer.h"
#include "support/test_env.h"

namespace ortavia {
namespace {
namespace fs = std::filesystem;

struct BundleSample {
  fs::path dir;
  SampleFiles files;
  SampleOptions options;
  std::vector<std::string> errors, log;
  BatchIo io;

  BundleSample() {
    options.images = 3;
    options.width = 160;
    options.height = 120;
    options.demSize = 40;
    dir = test::MakeTempDir("bbatch");
    EXPECT_EQ(WriteSampleProject((dir / "p").string(), options, {}, &files), "");
    io.error = [this](const std::string& e) { errors.push_back(e); };
    io.ctx.log = [this](const std::string& l) { log.push_back(l); };
  }
  BatchProjectOptions Project(const std::string& bundle) const {
    BatchProjectOptions o;
    o.dem = files.dem;
    o.bundle = bundle;
    return o;
  }
};

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
  BundleSample s;
  ASSERT_TRUE(fs::exists(s.files.bundle));
  EXPECT_EQ(ReadBytes(s.files.bundle).at(0), 206);
  WarpProject project;
  ASSERT_EQ(FillBatchProject(project, s.Project(s.files.bundle), s.io), kBatchDone);
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
  BundleSample s;
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
  EXPECT_EQ(FillBatchProject(project, s.Project(cut.string()), s.io), kBatchRefused);
  ASSERT_FALSE(s.errors.empty());
  EXPECT_NE(s.errors.back().find("Unable to read BUN file! "), std::string::npos);
  EXPECT_NE(s.errors.back().find("offset "), std::string::npos);
  EXPECT_TRUE(project.images.empty());
  EXPECT_EQ(project.passport, nullptr);
}

TEST(BatchBundle, BundleWithoutUsableImageIsRefused) {
  BundleSample s;
  test::TestBundle b;
  std::ifstream in(s.files.passport);
  b.passportText.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  b.records = {{"images/img_001.tif", {}, 0, 0, 1, 2, 3, 0, 0, 0}};  // no orientation
  const fs::path bun = s.dir / "p" / "none.bun";
  ASSERT_TRUE(test::WriteBytes(bun, EncodeTestBundle(b)));
  WarpProject project;
  EXPECT_EQ(FillBatchProject(project, s.Project(bun.string()), s.io), kBatchRefused);
  EXPECT_NE(std::find(s.log.begin(), s.log.end(), "1 images without external orientation data"), s.log.end());
}

}  // namespace
}  // namespace ortavia
