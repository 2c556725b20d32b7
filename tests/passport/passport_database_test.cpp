#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "passport/passport_database.h"
#include "support/passport_files.h"
#include "support/test_env.h"

namespace ortavia::passport {
namespace {
namespace fs = std::filesystem;
using test::ReadText;
using test::SimpleBcc;
using test::SimpleCcb;
using test::WriteText;

std::vector<std::string> Names(const std::vector<std::string>& paths) {
  std::vector<std::string> names;
  for (const auto& p : paths) names.push_back(fs::path(p).filename().string());
  return names;
}

// Every file of a folder with its content, to show that a refused import changed nothing.
std::vector<std::pair<std::string, std::string>> Snapshot(const fs::path& folder) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const auto& e : fs::directory_iterator(folder))
    files.emplace_back(e.path().filename().string(), e.is_regular_file() ? ReadText(e.path()) : "<dir>");
  std::sort(files.begin(), files.end());
  return files;
}

TEST(PassportListing, ByKindThenNameWithCvccAndWithoutCaseOrOtherEntries) {
  const fs::path dir = test::MakeTempDir("list");
  for (const char* name : {"m.rdr", "Z.bcc", "b.ccb", "c.cvcc", "a.cvc", "A.CCB", "notes.txt", "a.bcc", "noext"})
    WriteText(dir / name, "x");
  fs::create_directory(dir / "folder.ccb");
  ASSERT_EQ(mkfifo((dir / "pipe.bcc").c_str(), 0600), 0);
  fs::create_symlink(dir / "a.bcc", dir / "link.rdr");
  fs::create_symlink(dir / "missing", dir / "dangling.cvc");

  const auto listed = ListPassports(dir.string());
  EXPECT_EQ(Names(listed), (std::vector<std::string>{"A.CCB", "b.ccb", "a.cvc", "c.cvcc", "a.bcc", "Z.bcc",
                                                     "link.rdr", "m.rdr"}));
  EXPECT_EQ(listed.front(), (dir / "A.CCB").string()) << "paths keep their real case";
  EXPECT_TRUE(ListPassports((dir / "absent").string()).empty());
  EXPECT_TRUE(ListPassports("").empty());
}

TEST(PassportListing, KindOfExtensionWithoutCase) {
  const std::vector<std::pair<std::string, PassportKind>> cases = {
      {"/a/x.CcB", PassportKind::kCcb}, {"x.cvc", PassportKind::kCvc},   {"x.CVCC", PassportKind::kCvcc},
      {"x.bcc", PassportKind::kBcc},    {"x.Rdr", PassportKind::kRdr},   {"x.bcc.txt", PassportKind::kNone},
      {"x", PassportKind::kNone},       {"/a.bcc/x", PassportKind::kNone}};
  for (const auto& [path, kind] : cases) EXPECT_EQ(PassportKindOf(path), kind) << path;
}

TEST(PassportFolderTest, IsKestaPassportsBelowTheDataHomeAndIsCreated) {
  const fs::path expected = fs::path(std::getenv("XDG_DATA_HOME")) / "Kesta" / "passports";
  fs::remove_all(expected);
  EXPECT_EQ(PassportFolder(), expected.string());
  EXPECT_TRUE(fs::is_directory(expected));
}

TEST(RememberedIndex, LeadingDecimalIntegerEmptyIsMinusOne) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"", -1}, {"0", 0}, {"3", 3}, {"12x", 12}, {"abc", 0}, {"-2", -2}, {"+5", 5}, {" 4", 4},
      {"99999999999999999999", INT_MAX}, {"-99999999999", INT_MIN}, {"2147483648", INT_MAX}};
  for (const auto& [text, index] : cases) EXPECT_EQ(ParseRememberedIndex(text), index) << '"' << text << '"';
}

TEST(OpenPassportTest, CcbGoesThroughTheConversionOthersThroughTheFactory) {
  const fs::path dir = test::MakeTempDir("open");
  WriteText(dir / "Cert.CCB", SimpleCcb());
  WriteText(dir / "cam.bcc", SimpleBcc());
  WriteText(dir / "bcc-text.ccb", SimpleBcc());  // a BCC text is no certificate

  const auto ccb = OpenPassport((dir / "Cert.CCB").string());
  ASSERT_TRUE(ccb);
  ASSERT_NE(dynamic_cast<geo::CBCCCameraPassport*>(ccb.get()), nullptr);
  EXPECT_EQ(ccb->model, "UltraCam");
  EXPECT_DOUBLE_EQ(ccb->pixelSize, 0.01);
  EXPECT_DOUBLE_EQ(ccb->principalPointX, 1999.5 + 10.0);  // 0.1 mm right of the centre
  EXPECT_DOUBLE_EQ(ccb->principalPointY, 1499.5 + 20.0);  // 0.2 mm below it (y up)
  EXPECT_EQ(dynamic_cast<geo::CBCCCameraPassport*>(ccb.get())->K1, 2.0);

  ASSERT_TRUE(OpenPassport((dir / "cam.bcc").string()));
  EXPECT_FALSE(OpenPassport((dir / "bcc-text.ccb").string()));
  EXPECT_FALSE(OpenPassport((dir / "cert.ccb").string())) << "the real name is Cert.CCB";
}

struct ImportFixture : ::testing::Test {
  void SetUp() override {
    root = test::MakeTempDir("import");
    db = root / "db";
    fs::create_directories(db);
    fs::create_directories(root / "in");
  }
  ImportOutcome Import(const fs::path& source, bool answer) {
    asked = 0;
    return ImportPassport(source.string(), db.string(), [&] {
      ++asked;
      return answer;
    });
  }
  fs::path root, db;
  int asked = 0;
};

TEST_F(ImportFixture, CopiesUnderTheLowerCaseNameAndListsIt) {
  WriteText(root / "in" / "Cam01.BCC", SimpleBcc());
  const auto out = Import(root / "in" / "Cam01.BCC", true);
  EXPECT_EQ(out.status, ImportStatus::kImported);
  EXPECT_EQ(out.target, (db / "cam01.bcc").string());
  EXPECT_EQ(ReadText(db / "cam01.bcc"), SimpleBcc());
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(Names(ListPassports(db.string())), std::vector<std::string>{"cam01.bcc"});
}

TEST_F(ImportFixture, DamagedFilesAreRefusedAndChangeNothing) {
  WriteText(db / "keep.bcc", SimpleBcc("Keep"));
  const auto before = Snapshot(db);
  const fs::path in = root / "in";
  WriteText(in / "junk.bcc", std::string("\x7f" "ELF\0\0\x01\x02garbage", 15));
  WriteText(in / "junk.ccb", "MZ\x90\x00 not a certificate");
  WriteText(in / "truncated.bcc", SimpleBcc().substr(0, 60));
  std::string missing = SimpleBcc();
  missing.erase(missing.find("Width"), missing.find("Height") - missing.find("Width"));
  WriteText(in / "nowidth.bcc", missing);
  WriteText(in / "huge.bcc", SimpleBcc() + "; " + std::string(1 << 20, 'x') + "\n");
  WriteText(in / "ok.txt", SimpleBcc());
  fs::create_directory(in / "dir.ccb");
  ASSERT_EQ(mkfifo((in / "fifo.ccb").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((in / "fifo.bcc").c_str(), 0600), 0);

  for (const char* name : {"junk.bcc", "junk.ccb", "truncated.bcc", "nowidth.bcc", "huge.bcc", "ok.txt",
                           "dir.ccb", "fifo.ccb", "fifo.bcc", "absent.bcc"}) {
    const auto out = Import(in / name, true);
    EXPECT_EQ(out.status, ImportStatus::kNotAPassport) << name;
    EXPECT_EQ(asked, 0) << name;
  }
  EXPECT_EQ(Snapshot(db), before);
}

TEST_F(ImportFixture, PresentNameAsksAndNoKeepsTheOldFile) {
  WriteText(db / "cam.bcc", SimpleBcc("Old"));
  WriteText(root / "in" / "CAM.bcc", SimpleBcc("New"));

  EXPECT_EQ(Import(root / "in" / "CAM.bcc", false).status, ImportStatus::kDeclined);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(ReadText(db / "cam.bcc"), SimpleBcc("Old"));

  EXPECT_EQ(Import(root / "in" / "CAM.bcc", true).status, ImportStatus::kImported);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(ReadText(db / "cam.bcc"), SimpleBcc("New"));
  EXPECT_EQ(Snapshot(db).size(), 1u) << "no temporary file stays behind";
}

TEST_F(ImportFixture, TheDatabaseFileOntoItselfChangesNothingAndAsksNothing) {
  WriteText(db / "cam.bcc", SimpleBcc("Own"));
  const auto out = Import(db / "cam.bcc", true);
  EXPECT_EQ(out.status, ImportStatus::kUnchanged);
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(ReadText(db / "cam.bcc"), SimpleBcc("Own"));
}

TEST_F(ImportFixture, ACopyThatCannotBeWrittenLeavesTheDatabaseAsItWas) {
  fs::create_directory(db / "cam.bcc");  // a folder in the way of the copy
  WriteText(db / "cam.bcc" / "inside", "kept");
  WriteText(root / "in" / "cam.bcc", SimpleBcc());
  const auto before = Snapshot(db);
  EXPECT_EQ(Import(root / "in" / "cam.bcc", true).status, ImportStatus::kCopyFailed);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(Snapshot(db), before);
  EXPECT_EQ(ReadText(db / "cam.bcc" / "inside"), "kept");
}

TEST_F(ImportFixture, WithoutTheDatabaseFolderNothingIsWrittenAnywhere) {
  WriteText(root / "in" / "cam.bcc", SimpleBcc());
  const fs::path blocked = root / "file-not-folder";
  WriteText(blocked, "");
  const fs::path cwd = fs::current_path();
  fs::current_path(root / "in");
  const auto before = Snapshot(root / "in");
  for (const fs::path& folder : {blocked / "passports", fs::path()}) {
    const auto out = ImportPassport((root / "in" / "cam.bcc").string(), folder.string(), [] { return true; });
    EXPECT_EQ(out.status, ImportStatus::kCopyFailed) << folder;
  }
  EXPECT_EQ(Snapshot(root / "in"), before);
  fs::current_path(cwd);
  EXPECT_EQ(fs::file_size(blocked), 0u);
}

TEST_F(ImportFixture, AReadOnlyDatabaseRefusesTheCopyAndKeepsItsFiles) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  WriteText(db / "cam.bcc", SimpleBcc("Old"));
  WriteText(root / "in" / "cam.bcc", SimpleBcc("New"));
  fs::permissions(db, fs::perms::owner_read | fs::perms::owner_exec, fs::perm_options::replace);
  const auto out = Import(root / "in" / "cam.bcc", true);
  fs::permissions(db, fs::perms::owner_all, fs::perm_options::replace);
  EXPECT_EQ(out.status, ImportStatus::kCopyFailed);
  EXPECT_EQ(ReadText(db / "cam.bcc"), SimpleBcc("Old"));
  EXPECT_EQ(Snapshot(db).size(), 1u);
}

}  // namespace
}  // namespace ortavia::passport
