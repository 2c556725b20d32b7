// The worked examples of docs/formats.md are read by the library as they stand.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "external/geo/camera_passport.h"
#include "support/test_env.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFormatsDoc() {
  const fs::path doc = fs::path(__FILE__).parent_path().parent_path().parent_path() / "docs" /
                       "formats.md";
  std::ifstream in(doc);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The first indented block after the heading, without its indentation.
std::string ExampleAfter(const std::string& doc, const std::string& heading) {
  std::istringstream in(doc.substr(doc.find(heading) + heading.size()));
  std::string line, block;
  bool started = false;
  while (std::getline(in, line)) {
    if (line.rfind("    ", 0) == 0) {
      started = true;
      block += line.substr(4) + "\n";
    } else if (line.empty()) {
      if (started) block += "\n";
    } else if (started) {
      break;
    }
  }
  return block;
}

class FormatsDoc : public ::testing::Test {
 protected:
  void SetUp() override {
    doc_ = ReadFormatsDoc();
    if (doc_.empty()) GTEST_SKIP() << "docs/formats.md not beside the sources";
  }
  std::string doc_;
};

TEST_F(FormatsDoc, PassportExamplesRead) {
  const auto bcc = geo::CCameraPassport::ArchiveLoad(0, ExampleAfter(doc_, "Worked example: .bcc"));
  ASSERT_NE(bcc, nullptr);
  EXPECT_EQ(bcc->width, 14016);
  EXPECT_TRUE(bcc->MustUndistort());
  const auto cvc = geo::CCameraPassport::ArchiveLoad(1, ExampleAfter(doc_, "Worked example: .cvc"));
  ASSERT_NE(cvc, nullptr);
  EXPECT_EQ(dynamic_cast<const geo::CCVCCameraPassport&>(*cvc).distortion->at(4), 0.5);
  const auto rdr = geo::CCameraPassport::ArchiveLoad(3, ExampleAfter(doc_, "Worked example: .rdr"));
  ASSERT_NE(rdr, nullptr);
  EXPECT_EQ(dynamic_cast<const geo::CRDRCameraPassport&>(*rdr).radialTable.size(), 3u);
}

TEST_F(FormatsDoc, CcbExampleGivesTheTabledValues) {
  const auto path = ortavia::test::MakeTempDir() / "example.ccb";
  std::ofstream(path) << ExampleAfter(doc_, "Worked example: .ccb calibration certificate");
  geo::CBCCCameraPassport p;
  ASSERT_EQ(geo::CCBtoBCC(path.string(), &p), 1);
  EXPECT_EQ(p.model, "Varnell AC-1");
  EXPECT_DOUBLE_EQ(p.pixelSize, 0.006);
  EXPECT_NEAR(p.principalPointX, 505.0, 1e-9);
  EXPECT_NEAR(p.principalPointY, 402.0, 1e-9);
  EXPECT_EQ(p.K1, 1e-5);
}

}  // namespace
