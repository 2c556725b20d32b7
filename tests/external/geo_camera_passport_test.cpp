#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "external/geo/camera_passport.h"
#include "support/test_env.h"

namespace {

namespace fs = std::filesystem;

const char* const kBcc =
    "; written by the calibration tool\n"
    "[BCC Camera Passport]\n"
    "Model = Trivane DMC-2\n"
    "SerialNumber = SN 0042\n"
    "FocalLength = 100.5\n"
    "PixelSize = 0.0056\n"
    "Width = 14016\n"
    "Height = 10320\n"
    "PrincipalPointX = 7007.25\n"
    "PrincipalPointY = 5160.75\n"
    "K1 = 2.5e-5\n"
    "K2 = -1e-9\n"
    "K3 = 0\n"
    "P1 = 3e-7\n"
    "P2 = -4e-7\n";

const char* const kCvc =
    "# CVC passport\r\n"
    "[cvc camera passport]\r\n"
    "model=Kesta V3\r\n"
    "SERIALNUMBER=77\r\n"
    "FocalLength = 35\r\n"
    "PixelSize = 0.0045\r\n"
    "Width = 6000\r\n"
    "Height = 4000\r\n"
    "PrincipalPointX = 2999.5\r\n"
    "PrincipalPointY = 1999.5\r\n"
    "Lens = ignored\r\n"
    "\r\n"
    "[Distortion]\r\n"
    "K1 = 0.1\r\n"
    "K2 = 0.2\r\n"
    "P1 = 0.3\r\n"
    "P2 = 0.4\r\n"
    "K3 = 0.5\r\n";

const char* const kRdr =
    "[RDR Camera Passport]\n"
    "Model = Old Film\n"
    "SerialNumber = 9\n"
    "FocalLength = 152.8\n"
    "PixelSize = 0.012\n"
    "Width = 19200\n"
    "Height = 19200\n"
    "PrincipalPointX = 9599.5\n"
    "PrincipalPointY = 9600\n"
    "RadialTable = 10:0.001, 20:0.0025 ,30:-0.002\n";

const char* const kCcb =
    "[Calibration Certificate]\n"
    "Camera = Varnell AC-1\n"
    "Serial = 12-345\n"
    "FocalLengthMM = 120\n"
    "PixelSizeMicrons = 6\n"
    "Columns = 1001\n"
    "Rows = 801\n"
    "PPAxMM = 0.03\n"
    "PPAyMM = -0.012\n"
    "K1 = 1e-5\n";

fs::path Write(const fs::path& dir, const std::string& name, const std::string& text) {
  const fs::path p = dir / name;
  std::ofstream(p, std::ios::binary) << text;
  return p;
}

std::string Without(std::string text, const std::string& line) {
  const auto at = text.find(line);
  EXPECT_NE(at, std::string::npos) << line;
  return text.erase(at, text.find('\n', at) - at + 1);
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const auto at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return text.replace(at, from.size(), to);
}

TEST(CameraPassport, ReadsEveryFieldOfABccFile) {
  const auto dir = ortavia::test::MakeTempDir();
  const auto p = geo::CCameraPassport::New(Write(dir, "cam.BCC", kBcc).string());
  ASSERT_NE(p, nullptr);
  const auto* bcc = dynamic_cast<const geo::CBCCCameraPassport*>(p.get());
  ASSERT_NE(bcc, nullptr);
  EXPECT_EQ(bcc->model, "Trivane DMC-2");
  EXPECT_EQ(bcc->serialNumber, "SN 0042");
  EXPECT_EQ(bcc->focalLength, 100.5);
  EXPECT_EQ(bcc->pixelSize, 0.0056);
  EXPECT_EQ(bcc->width, 14016);
  EXPECT_EQ(bcc->height, 10320);
  EXPECT_EQ(bcc->principalPointX, 7007.25);
  EXPECT_EQ(bcc->principalPointY, 5160.75);
  EXPECT_EQ(bcc->K1, 2.5e-5);
  EXPECT_EQ(bcc->K2, -1e-9);
  EXPECT_EQ(bcc->K3, 0.0);
  EXPECT_EQ(bcc->P1, 3e-7);
  EXPECT_EQ(bcc->P2, -4e-7);
  EXPECT_TRUE(bcc->MustUndistort());
}

TEST(CameraPassport, ReadsEveryFieldOfACvcFileWithBothExtensions) {
  const auto dir = ortavia::test::MakeTempDir();
  for (const char* name : {"a.cvc", "b.cvcc", "c.CvCc"}) {
    const auto p = geo::CCameraPassport::New(Write(dir, name, kCvc).string());
    ASSERT_NE(p, nullptr) << name;
    const auto* cvc = dynamic_cast<const geo::CCVCCameraPassport*>(p.get());
    ASSERT_NE(cvc, nullptr);
    EXPECT_EQ(cvc->model, "Kesta V3");
    EXPECT_EQ(cvc->serialNumber, "77");
    EXPECT_EQ(cvc->focalLength, 35.0);
    EXPECT_EQ(cvc->pixelSize, 0.0045);
    EXPECT_EQ(cvc->width, 6000);
    EXPECT_EQ(cvc->height, 4000);
    EXPECT_EQ(cvc->principalPointX, 2999.5);
    EXPECT_EQ(cvc->principalPointY, 1999.5);
    ASSERT_TRUE(cvc->distortion.has_value());
    EXPECT_EQ(*cvc->distortion, (std::array<double, 5>{0.1, 0.2, 0.3, 0.4, 0.5}));
    EXPECT_TRUE(cvc->MustUndistort());
  }
}

TEST(CameraPassport, ReadsEveryFieldOfAnRdrFile) {
  const auto dir = ortavia::test::MakeTempDir();
  const auto p = geo::CCameraPassport::New(Write(dir, "film.rdr", kRdr).string());
  ASSERT_NE(p, nullptr);
  const auto* rdr = dynamic_cast<const geo::CRDRCameraPassport*>(p.get());
  ASSERT_NE(rdr, nullptr);
  EXPECT_EQ(rdr->model, "Old Film");
  EXPECT_EQ(rdr->serialNumber, "9");
  EXPECT_EQ(rdr->focalLength, 152.8);
  EXPECT_EQ(rdr->pixelSize, 0.012);
  EXPECT_EQ(rdr->width, 19200);
  EXPECT_EQ(rdr->height, 19200);
  EXPECT_EQ(rdr->principalPointX, 9599.5);
  EXPECT_EQ(rdr->principalPointY, 9600.0);
  const std::vector<std::pair<double, double>> table{{10, 0.001}, {20, 0.0025}, {30, -0.002}};
  EXPECT_EQ(rdr->radialTable, table);
  EXPECT_TRUE(rdr->MustUndistort());
}

TEST(CameraPassport, CcbConvertsToBcc) {
  const auto dir = ortavia::test::MakeTempDir();
  geo::CBCCCameraPassport bcc;
  ASSERT_EQ(geo::CCBtoBCC(Write(dir, "lab.ccb", kCcb).string(), &bcc), 1);
  EXPECT_EQ(bcc.model, "Varnell AC-1");
  EXPECT_EQ(bcc.serialNumber, "12-345");
  EXPECT_EQ(bcc.focalLength, 120.0);
  EXPECT_DOUBLE_EQ(bcc.pixelSize, 0.006);
  EXPECT_EQ(bcc.width, 1001);
  EXPECT_EQ(bcc.height, 801);
  // 500 + 0.03 / 0.006 and 400 + 0.012 / 0.006.
  EXPECT_NEAR(bcc.principalPointX, 505.0, 1e-9);
  EXPECT_NEAR(bcc.principalPointY, 402.0, 1e-9);
  EXPECT_EQ(bcc.K1, 1e-5);
  EXPECT_EQ(bcc.K2, 0.0);
  EXPECT_TRUE(bcc.MustUndistort());

  // A failed conversion leaves the target as it was.
  geo::CBCCCameraPassport untouched;
  untouched.model = "before";
  EXPECT_EQ(geo::CCBtoBCC(Write(dir, "bad.ccb", Without(kCcb, "Rows")).string(), &untouched), 0);
  EXPECT_EQ(untouched.model, "before");
  EXPECT_EQ(geo::CCBtoBCC((dir / "missing.ccb").string(), &untouched), 0);
  EXPECT_EQ(geo::CCBtoBCC(Write(dir, "zero.ccb", Replace(kCcb, "= 6\n", "= 0\n")).string(),
                          &untouched),
            0);
  EXPECT_EQ(geo::CCBtoBCC((dir / "lab.ccb").string(), nullptr), 0);
}

TEST(CameraPassport, OptionalDistortionDefaultsToNone) {
  std::string bcc = kBcc;
  for (const char* k : {"K1", "K2", "K3", "P1", "P2"}) bcc = Without(bcc, std::string(k) + " =");
  const auto b = geo::CCameraPassport::ArchiveLoad(0, bcc);
  ASSERT_NE(b, nullptr);
  EXPECT_FALSE(b->MustUndistort());

  const std::string cvc(kCvc, std::string(kCvc).find("[Distortion]"));
  const auto c = geo::CCameraPassport::ArchiveLoad(1, cvc);
  ASSERT_NE(c, nullptr);
  EXPECT_FALSE(dynamic_cast<const geo::CCVCCameraPassport&>(*c).distortion.has_value());
  EXPECT_FALSE(c->MustUndistort());
  const auto zeros = geo::CCameraPassport::ArchiveLoad(1, cvc + "[Distortion]\nK1 = 0\n");
  ASSERT_NE(zeros, nullptr);
  EXPECT_TRUE(dynamic_cast<const geo::CCVCCameraPassport&>(*zeros).distortion.has_value());
  EXPECT_FALSE(zeros->MustUndistort());

  const auto r = geo::CCameraPassport::ArchiveLoad(3, Without(kRdr, "RadialTable"));
  ASSERT_NE(r, nullptr);
  EXPECT_FALSE(r->MustUndistort());
  const auto flat = geo::CCameraPassport::ArchiveLoad(
      3, Replace(kRdr, "10:0.001, 20:0.0025 ,30:-0.002", "10:0, 20:0"));
  ASSERT_NE(flat, nullptr);
  EXPECT_FALSE(flat->MustUndistort());
}

TEST(CameraPassport, CopyKeepsKindAndValues) {
  const auto original = geo::CCameraPassport::ArchiveLoad(3, kRdr);
  ASSERT_NE(original, nullptr);
  const auto copy = geo::CCameraPassport::New(original.get());
  ASSERT_NE(copy, nullptr);
  ASSERT_NE(copy.get(), original.get());
  const auto* rdr = dynamic_cast<const geo::CRDRCameraPassport*>(copy.get());
  ASSERT_NE(rdr, nullptr);
  EXPECT_EQ(rdr->radialTable.size(), 3u);
  EXPECT_EQ(rdr->model, "Old Film");
  EXPECT_EQ(geo::CCameraPassport::New(static_cast<const geo::CCameraPassport*>(nullptr)), nullptr);
}

TEST(CameraPassport, ArchiveLoadNeedsTheKindOfItsTypeCode) {
  EXPECT_NE(geo::CCameraPassport::ArchiveLoad(0, kBcc), nullptr);
  EXPECT_NE(geo::CCameraPassport::ArchiveLoad(1, kCvc), nullptr);
  EXPECT_NE(geo::CCameraPassport::ArchiveLoad(3, kRdr), nullptr);
  EXPECT_EQ(geo::CCameraPassport::ArchiveLoad(1, kBcc), nullptr);
  EXPECT_EQ(geo::CCameraPassport::ArchiveLoad(0, kRdr), nullptr);
  EXPECT_EQ(geo::CCameraPassport::ArchiveLoad(2, kBcc), nullptr);
  EXPECT_EQ(geo::CCameraPassport::ArchiveLoad(-1, kBcc), nullptr);
  EXPECT_EQ(geo::CCameraPassport::ArchiveLoad(0, ""), nullptr);
}

TEST(CameraPassport, RefusesFilesThatAreNoPassport) {
  const auto dir = ortavia::test::MakeTempDir();
  auto refused = [&](const std::string& name, const std::string& text) {
    return geo::CCameraPassport::New(Write(dir, name, text).string()) == nullptr;
  };
  EXPECT_TRUE(refused("cam.txt", kBcc)) << "unknown extension";
  EXPECT_TRUE(refused("cam.cvc", kBcc)) << "section of another kind";
  EXPECT_EQ(geo::CCameraPassport::New((dir / "none.bcc").string()), nullptr);
  fs::create_directory(dir / "folder.bcc");
  EXPECT_EQ(geo::CCameraPassport::New((dir / "folder.bcc").string()), nullptr);

  std::string binary = kBcc;
  binary[40] = '\0';
  EXPECT_TRUE(refused("nul.bcc", binary));
  EXPECT_TRUE(refused("huge.bcc", kBcc + ("; " + std::string(1 << 20, 'x') + "\n")));
  EXPECT_FALSE(refused("big.bcc", kBcc + ("; " + std::string(1000000, 'x') + "\n")));

  for (const char* key : {"Model", "SerialNumber", "FocalLength", "PixelSize", "Width", "Height",
                          "PrincipalPointX", "PrincipalPointY"})
    EXPECT_TRUE(refused("missing.bcc", Without(kBcc, std::string(key) + " ="))) << key;

  const std::pair<const char*, const char*> bad[] = {
      {"= 100.5", "= abc"},      {"= 100.5", "= 0"},         {"= 0.0056", "= -0.0056"},
      {"= 14016", "= 14016.5"},  {"= 14016", "= 0"},         {"= 10320", "= 1e9"},
      {"= 7007.25", "= 7,25"},   {"= 5160.75", "= nan"},     {"= 2.5e-5", "= 2.5e-5x"},
      {"= 10320", "= -10320"},   {"Height =", "Height"},     {"= 100.5", "= inf"},
  };
  for (const auto& [from, to] : bad)
    EXPECT_TRUE(refused("bad.bcc", Replace(kBcc, from, to))) << to;
  EXPECT_TRUE(refused("twice.bcc", std::string(kBcc) + "FocalLength = 50\n"));
  EXPECT_TRUE(refused("bad.rdr", Replace(kRdr, "20:0.0025", "20;0.0025")));
  EXPECT_TRUE(refused("bad.rdr", Replace(kRdr, "10:0.001", "-10:0.001")));
  EXPECT_TRUE(refused("bad.rdr", Replace(kRdr, "30:-0.002", "30:-0.002,")));
  EXPECT_TRUE(refused("bad.cvc", Replace(kCvc, "K3 = 0.5", "K3 = five")));
}

TEST(CameraPassport, TruncatedTextIsRefusedAndNeverCrashes) {
  const std::string full = kBcc;
  // Every cut that loses a required key or leaves a key without its value is refused.
  const std::size_t lastRequired = full.find("PrincipalPointY = ") + 18;
  for (std::size_t n = 0; n < lastRequired; ++n)
    EXPECT_EQ(geo::CCameraPassport::ArchiveLoad(0, full.substr(0, n)), nullptr) << n;
  for (std::size_t n = lastRequired; n <= full.size(); ++n) {
    const auto p = geo::CCameraPassport::ArchiveLoad(0, full.substr(0, n));
    if (p) {
      EXPECT_EQ(p->width, 14016);
    }
  }
  const std::string rdr = kRdr;
  for (std::size_t n = 0; n <= rdr.size(); ++n) geo::CCameraPassport::ArchiveLoad(3, rdr.substr(0, n));
}

}  // namespace
