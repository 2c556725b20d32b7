// The bundle stream as written by the tests' own writer: every version, text form and length
// form reads back; every damaged form is refused with the rule that fired and where.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>

#include "extor/bundle_reader.h"
#include "support/bundle_writer.h"

namespace ortavia {
namespace {

using test::BunBytes;
using test::LengthForm;
using test::TestBundle;
using test::TestBundleRecord;
using test::TextForm;

const char* kBcc =
    "[BCC Camera Passport]\nModel = Trivane DMC\nSerialNumber = SN 7\nFocalLength = 100.5\n"
    "PixelSize = 0.006\nWidth = 1000\nHeight = 800\nPrincipalPointX = 499.5\nPrincipalPointY = 399.5\n";
const char* kCvc =
    "[CVC Camera Passport]\nModel = Kesta V3\nSerialNumber = 77\nFocalLength = 35\nPixelSize = 0.0045\n"
    "Width = 600\nHeight = 400\nPrincipalPointX = 299.5\nPrincipalPointY = 199.5\n";
const char* kRdr =
    "[RDR Camera Passport]\nModel = Radial\nSerialNumber = R1\nFocalLength = 50\nPixelSize = 0.01\n"
    "Width = 300\nHeight = 200\nPrincipalPointX = 149.5\nPrincipalPointY = 99.5\nRadialTable = 1:0.001\n";

TestBundle ThreeRecords(int version) {
  TestBundle b;
  b.version = version;
  b.passportText = kBcc;
  b.secondPassportType = 1;
  b.secondPassportText = kCvc;
  b.cameraName = "Cámara.bcc";
  b.records = {
      {"/data/img_001.tif", {}, 0, 1, 1000.5, 2000.25, 1500.0, 0.01, -0.02, 1.5},
      {"C:\\Fotos\\Straße\\IMG_002.TIF", {}, 0, 0, 1.0, 2.0, 3.0, 0.0, 0.0, 0.0},
      {"relative/img_003.tif", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 99, 5, -1.0e6, 4.5e6, 0.0, -3.0, 3.0, 0.0}};
  return b;
}

BundleReadResult Read(const std::vector<std::uint8_t>& bytes) { return ReadBundle(bytes); }

TEST(BundleReader, EveryVersionTextAndLengthFormReadsBack) {
  for (int version = 202; version <= 206; ++version)
    for (bool wide : {false, true})
      for (LengthForm length : {LengthForm::Shortest, LengthForm::Byte, LengthForm::Word,
                                LengthForm::DWord, LengthForm::QWord}) {
        SCOPED_TRACE(testing::Message() << "version " << version << (wide ? " 16-bit" : " 8-bit")
                                        << " length form " << static_cast<int>(length));
        TestBundle b = ThreeRecords(version);
        b.form = TextForm{wide, length};
        const BundleReadResult r = Read(EncodeTestBundle(b));
        ASSERT_EQ(r.status, BundleReadStatus::Ok) << r.error;
        EXPECT_EQ(r.bundle.version, version);
        ASSERT_EQ(r.bundle.records.size(), 3u);
        EXPECT_EQ(r.bundle.records[0].path, "/data/img_001.tif");
        EXPECT_EQ(r.bundle.records[1].path, "C:\\Fotos\\Straße\\IMG_002.TIF");
        EXPECT_EQ(r.bundle.records[2].path, "relative/img_003.tif");
        EXPECT_TRUE(r.bundle.records[0].hasOrientation);
        EXPECT_FALSE(r.bundle.records[1].hasOrientation);
        EXPECT_TRUE(r.bundle.records[2].hasOrientation) << "any non-zero flag";
        const ExtOrientation& eo = r.bundle.records[0].eo;
        EXPECT_EQ(eo.x, 1000.5);
        EXPECT_EQ(eo.y, 2000.25);
        EXPECT_EQ(eo.z, 1500.0);
        EXPECT_EQ(eo.omega, 0.01);
        EXPECT_EQ(eo.phi, -0.02);
        EXPECT_EQ(eo.kappa, 1.5);
        EXPECT_EQ(r.bundle.records[2].eo.x, -1.0e6);
        EXPECT_EQ(r.bundle.records[2].eo.omega, -3.0);
        if (version == 202) {
          EXPECT_EQ(r.bundle.passport, nullptr) << "the passport of 202 is a .ccb beside the file";
          EXPECT_EQ(r.bundle.passportType, -1);
        } else {
          ASSERT_NE(r.bundle.passport, nullptr);
          EXPECT_EQ(r.bundle.passport->model, "Trivane DMC");
          EXPECT_EQ(r.bundle.passport->width, 1000);
          EXPECT_EQ(r.bundle.passportType, 0);
        }
        if (version >= 204)
          EXPECT_EQ(r.bundle.cameraName, std::optional<std::string>("Cámara.bcc"));
        else
          EXPECT_FALSE(r.bundle.cameraName.has_value());
      }
}

// Stop is looked at every 4096 records, after the first: 10,000 records give two looks.
TEST(BundleReader, StopEndsALongReadAndAShortOneReadsThrough) {
  TestBundle b = ThreeRecords(206);
  b.records.resize(10000, b.records[0]);
  const std::vector<std::uint8_t> bytes = EncodeTestBundle(b);
  std::atomic<bool> stop{false};
  int looks = 0;
  std::vector<int> positions;
  RunContext ctx;
  ctx.abort = &stop;
  ctx.pump = [&] { stop = ++looks == 2; };
  ctx.progressPos = [&](int pos) { positions.push_back(pos); };
  const BundleReadResult stopped = ReadBundle(bytes, ctx);
  EXPECT_EQ(stopped.status, BundleReadStatus::Stopped);
  EXPECT_TRUE(stopped.bundle.records.empty());
  EXPECT_EQ(positions, (std::vector<int>{4096, 8192}));
  EXPECT_STREQ(BundleStatusMessage(BundleReadStatus::Stopped), "");

  looks = 0;
  stop = false;
  ctx.pump = [&] { ++looks; };
  const BundleReadResult whole = ReadBundle(bytes, ctx);
  ASSERT_EQ(whole.status, BundleReadStatus::Ok) << whole.error;
  EXPECT_EQ(whole.bundle.records.size(), 10000u);
  EXPECT_EQ(looks, 2);
  // Stop pressed before a read of fewer records than one look is never seen by it.
  stop = true;
  EXPECT_EQ(ReadBundle(EncodeTestBundle(ThreeRecords(206)), ctx).status, BundleReadStatus::Ok);
}

TEST(BundleReader, PassportKindsAndFlags) {
  struct Case {
    int type;
    const char* text;
    const char* model;
    bool mustUndistort;
  };
  for (const Case& c : {Case{0, kBcc, "Trivane DMC", false}, Case{1, kCvc, "Kesta V3", false},
                        Case{3, kRdr, "Radial", true}}) {
    TestBundle b = ThreeRecords(206);
    b.passportType = c.type;
    b.passportText = c.text;
    b.secondPassportType = 2;  // no second passport object follows
    b.undistorted = -4;
    const BundleReadResult r = Read(EncodeTestBundle(b));
    ASSERT_EQ(r.status, BundleReadStatus::Ok) << r.error;
    EXPECT_EQ(r.bundle.passport->model, c.model);
    EXPECT_EQ(r.bundle.passport->MustUndistort(), c.mustUndistort);
    EXPECT_EQ(r.bundle.passportType, c.type);
    EXPECT_TRUE(r.bundle.undistorted);
  }
}

TEST(BundleReader, VersionsOutsideTheRangeAreRefused) {
  for (int version : {201, 207, 0, -1, 100000}) {
    TestBundle b = ThreeRecords(206);
    b.version = version;
    const BundleReadResult r = Read(EncodeTestBundle(b));
    EXPECT_EQ(r.status, BundleReadStatus::BadVersion) << version;
    EXPECT_EQ(std::string(BundleStatusMessage(r.status)), "Invalid BUN file version");
    EXPECT_TRUE(r.bundle.records.empty());
  }
}

TEST(BundleReader, EveryTruncationAndTrailingJunkIsRefused) {
  for (int version = 202; version <= 206; ++version) {
    for (bool wide : {false, true}) {
      TestBundle b = ThreeRecords(version);
      b.form.wide = wide;
      const std::vector<std::uint8_t> whole = EncodeTestBundle(b);
      ASSERT_EQ(Read(whole).status, BundleReadStatus::Ok);
      for (std::size_t n = 0; n < whole.size(); ++n) {
        const std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + static_cast<long>(n));
        const BundleReadResult r = Read(cut);
        ASSERT_EQ(r.status, BundleReadStatus::Damaged) << "version " << version << " cut at " << n;
        EXPECT_LE(r.errorOffset, n);
        EXPECT_NE(r.error.find("expected"), std::string::npos) << r.error;
        EXPECT_TRUE(r.bundle.records.empty());
      }
      std::vector<std::uint8_t> junk = whole;
      junk.push_back(0);
      const BundleReadResult r = Read(junk);
      EXPECT_EQ(r.status, BundleReadStatus::Damaged);
      EXPECT_EQ(r.errorOffset, whole.size());
      EXPECT_NE(r.error.find("end of the file, found 1 more bytes"), std::string::npos) << r.error;
    }
  }
}

// A version-206 stream up to the first record's path, for hostile lengths and counts.
BunBytes HeadUpToCount(int version = 206) {
  BunBytes out;
  out.Int(version);
  for (int i = 0; i < 5; ++i) out.Text("h");
  out.Int(0);
  out.Int(0);
  out.Text(kBcc);
  out.Int(-1);
  out.Int(0);
  out.Text("cam");
  return out;
}

TEST(BundleReader, HostileLengthsAndCountsAreRefusedBeforeAnyAllocation) {
  struct Case {
    const char* name;
    std::function<void(BunBytes&)> tail;
    BundleReadStatus status;
    const char* expected;  // part of the error text
  };
  const std::uint64_t max64 = std::numeric_limits<std::uint64_t>::max();
  const std::vector<Case> cases = {
      {"negative count", [](BunBytes& o) { o.Int(-5); }, BundleReadStatus::Damaged,
       "image count of 0 or more, found -5"},
      {"count beyond the bytes", [](BunBytes& o) { o.Int(0x7FFFFFFF); }, BundleReadStatus::Damaged,
       "expected 2147483647 image records"},
      {"path length 2^64-1",
       [&](BunBytes& o) { o.Int(1); o.LengthOnly(max64, LengthForm::QWord); for (int i = 0; i < 200; ++i) o.Raw({0}); },
       BundleReadStatus::Damaged, "image path of image record 1 of 1"},
      {"2 GiB path",
       [](BunBytes& o) { o.Int(1); o.LengthOnly(std::uint64_t{1} << 31, LengthForm::DWord); for (int i = 0; i < 200; ++i) o.Raw({0}); },
       BundleReadStatus::Damaged, "2147483648 characters"},
      {"16-bit length that overflows twice over",
       [&](BunBytes& o) { o.Int(1); o.LengthOnly(max64 / 2 + 1, LengthForm::QWord, true); for (int i = 0; i < 200; ++i) o.Raw({0}); },
       BundleReadStatus::Damaged, "16-bit characters"},
      {"path over the path limit but present",
       [](BunBytes& o) { o.Int(1); o.Text(std::string(40000, 'a')); for (int i = 0; i < 200; ++i) o.Raw({0}); },
       BundleReadStatus::Damaged, "at most 32767 characters"},
  };
  for (const Case& c : cases) {
    BunBytes bytes = HeadUpToCount();
    c.tail(bytes);
    const BundleReadResult r = Read(bytes.Bytes());
    EXPECT_EQ(r.status, c.status) << c.name;
    EXPECT_NE(r.error.find(c.expected), std::string::npos) << c.name << ": " << r.error;
    EXPECT_TRUE(r.bundle.records.empty()) << c.name;
  }
}

TEST(BundleReader, PassportRules) {
  struct Case {
    const char* name;
    int type;
    std::string text;
    BundleReadStatus status;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"type 2", 2, "", BundleReadStatus::NoPassport, "Unable to find camera passport!"},
      {"type -1", -1, "", BundleReadStatus::NoPassport, "Unable to find camera passport!"},
      {"not a passport", 0, "hello", BundleReadStatus::BadPassport, "Unable to read camera passport!"},
      {"CVC text under the BCC code", 0, kCvc, BundleReadStatus::BadPassport, "Unable to read camera passport!"},
      {"over 1 MiB", 0, std::string(kBcc) + std::string((1 << 20), ';'), BundleReadStatus::Damaged,
       "Unable to read BUN file!"},
  };
  for (const Case& c : cases) {
    TestBundle b = ThreeRecords(206);
    b.passportType = c.type;
    b.passportText = c.text;
    const BundleReadResult r = Read(EncodeTestBundle(b));
    EXPECT_EQ(r.status, c.status) << c.name;
    EXPECT_EQ(std::string(BundleStatusMessage(r.status)), c.message) << c.name;
    EXPECT_EQ(r.bundle.passport, nullptr) << c.name;
  }
}

TEST(BundleReader, TextConversions) {
  struct Case {
    std::vector<std::uint8_t> bytes;
    bool wide;
    std::string utf8;
  };
  const std::vector<Case> cases = {
      {{'a', 'b'}, false, "ab"},
      {{0xC3, 0xA9}, false, "\xC3\xA9"},                 // UTF-8 é kept
      {{0x80, 0xE9, 0x9F}, false, "\xE2\x82\xAC\xC3\xA9\xC5\xB8"},  // Windows-1252 € é Ÿ
      {{0xA9, 0x03}, true, "\xCE\xA9"},                  // Ω
      {{0x34, 0xD8, 0x1E, 0xDD}, true, "\xF0\x9D\x84\x9E"},  // U+1D11E as a surrogate pair
      {{0x34, 0xD8, 0x41, 0x00}, true, "\xEF\xBF\xBD" "A"},  // lone high surrogate
      {{0x1E, 0xDD}, true, "\xEF\xBF\xBD"},              // lone low surrogate
  };
  for (const Case& c : cases) {
    const std::string got = c.wide ? Utf16ToUtf8(c.bytes) : EightBitToUtf8(c.bytes);
    EXPECT_EQ(got, c.utf8);
  }
  // The same through a whole stream: a 16-bit path comes out in UTF-8.
  TestBundle b = ThreeRecords(206);
  b.form.wide = true;
  b.records[0].path = "/data/\xE5\x9C\xB0\xE5\x9B\xBE/\xF0\x9D\x84\x9E.tif";
  const BundleReadResult r = Read(EncodeTestBundle(b));
  ASSERT_EQ(r.status, BundleReadStatus::Ok);
  EXPECT_EQ(r.bundle.records[0].path, b.records[0].path);
}

TEST(BundleReader, NonFiniteValuesAreReadAsWritten) {
  TestBundle b = ThreeRecords(206);
  b.records[0].x = std::numeric_limits<double>::quiet_NaN();
  b.records[0].kappa = std::numeric_limits<double>::infinity();
  const BundleReadResult r = Read(EncodeTestBundle(b));
  ASSERT_EQ(r.status, BundleReadStatus::Ok);
  EXPECT_TRUE(std::isnan(r.bundle.records[0].eo.x));
  EXPECT_TRUE(std::isinf(r.bundle.records[0].eo.kappa));
}

}  // namespace
}  // namespace ortavia
