#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <numbers>
#include <string>
#include <vector>

#include "external/tools/profile.h"
#include "extor/ext_or_import_model.h"
#include "extor/point_file_import.h"
#include "extor/point_file_settings.h"
#include "support/test_env.h"
#include "support/test_locale.h"

namespace {

namespace fs = std::filesystem;
using ortavia::extor::Correction;
using ortavia::extor::ExtOrImportModel;
using ortavia::extor::ImportResult;
using ortavia::extor::LoadResult;
namespace ex = ortavia::extor;

fs::path WriteFile(const std::string& bytes) {
  const fs::path p = ortavia::test::MakeTempDir("points") / "points.txt";
  std::ofstream(p, std::ios::binary) << bytes;
  return p;
}

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A model with the default settings, loaded from the given file content.
ExtOrImportModel Loaded(const std::string& content, const std::string& separators = ", ;",
                        LoadResult* result = nullptr) {
  ExtOrImportModel m;
  m.SetComments(ex::kDefaultComments);
  m.SetSeparatorsText(separators);
  m.SetFilePath(WriteFile(content).string());
  const LoadResult r = m.Load();
  if (result) *result = r;
  return m;
}

std::vector<std::string> Row(const ExtOrImportModel& m, std::size_t i) {
  const auto& r = m.Imported().at(i);
  return {r.begin(), r.end()};
}

TEST(ExtOrLoad, DefaultSeparatorsMakeEmptyFieldsAfterCommaBlank) {
  const auto m = Loaded("img_01, 100.5, 200.25, 50.0, 0.01, 0.02, 1.57\n");
  ASSERT_EQ(m.Parsed().size(), 1u);
  EXPECT_EQ(m.Parsed()[0], (std::vector<std::string>{"img_01", "", "100.5", "", "200.25", "",
                                                     "50.0", "", "0.01", "", "0.02", "", "1.57"}));
  EXPECT_EQ(m.ParsedColumnCount(), 13);
}

TEST(ExtOrLoad, BlanksCommasOrTabsGiveSevenFields) {
  for (const char* line : {"IMG_01 100.5 200.25 50.0 0.01 0.02 1.57",
                           "IMG_01,100.5,200.25,50.0,0.01,0.02,1.57",
                           "IMG_01\t100.5\t200.25\t50.0\t0.01\t0.02\t1.57"}) {
    const auto m = Loaded(line);
    ASSERT_EQ(m.ParsedColumnCount(), 7) << line;
    EXPECT_EQ(Row(m, 0), (std::vector<std::string>{"img_01", "100.5", "200.25", "50.0", "0.01",
                                                   "0.02", "1.57"}));
  }
}

TEST(ExtOrLoad, CommentsEmptyLinesAndLineEnds) {
  LoadResult r;
  const std::string lf = "# header\n%x\n@y\n+z\n a 1\n\nb 2\nc 3";
  const auto m = Loaded(lf, " ", &r);
  ASSERT_EQ(r.status, LoadResult::Status::kOk);
  EXPECT_EQ(r.commentLines, 4);
  ASSERT_EQ(m.Parsed().size(), 3u);  // the indented '#'-free line " a 1" is data, so is the last
  EXPECT_EQ(m.Parsed()[0], (std::vector<std::string>{"a", "1"}));
  EXPECT_EQ(m.Parsed()[2], (std::vector<std::string>{"c", "3"}));

  const auto indented = Loaded(" # not a comment 1\n", " ");
  ASSERT_EQ(indented.Parsed().size(), 1u);
  EXPECT_EQ(indented.Parsed()[0][0], "#");

  std::string crlf = "# header\r\n%x\r\n@y\r\n+z\r\n a 1\r\n\r\nb 2\r\nc 3\r\n";
  EXPECT_EQ(Loaded(crlf, " ").Parsed(), m.Parsed());
  std::string cr = "# header\r%x\r@y\r+z\r a 1\r\rb 2\rc 3\r";
  EXPECT_EQ(Loaded(cr, " ").Parsed(), m.Parsed());
}

TEST(ExtOrLoad, SecondFileReplacesAllColumns) {
  ExtOrImportModel m = Loaded("a,1,2,3,4,5,6,7,8,9\n");
  EXPECT_EQ(m.ParsedColumnCount(), 10);
  m.SetFilePath(WriteFile("b,1\n").string());
  m.Load();
  EXPECT_EQ(m.ParsedColumnCount(), 2);
  EXPECT_EQ(m.Parsed().size(), 1u);
  EXPECT_EQ(Row(m, 0), (std::vector<std::string>{"b", "1", "", "", "", "", ""}));
}

TEST(ExtOrLoad, BadFilesAreRefusedAndLeaveAnEmptyGrid) {
  ExtOrImportModel m = Loaded("a,1\n");
  ASSERT_EQ(m.Parsed().size(), 1u);
  m.SetFilePath(WriteFile("").string());
  EXPECT_EQ(m.Load().status, LoadResult::Status::kUnreadable);
  EXPECT_TRUE(m.Parsed().empty());
  EXPECT_TRUE(m.Imported().empty());
  m.SetFilePath("/nonexistent/file.txt");
  EXPECT_EQ(m.Load().status, LoadResult::Status::kUnreadable);
  m.SetFilePath("");
  EXPECT_EQ(m.Load().status, LoadResult::Status::kNoFile);

  LoadResult r;
  const std::string wide(ExtOrImportModel::kMaxColumns + 5, ',');
  Loaded("ok,1\n" + wide + "\n", ",", &r);
  EXPECT_EQ(r.status, LoadResult::Status::kUnreadable);
  EXPECT_NE(r.detail.find("line 2"), std::string::npos) << r.detail;

  // Many narrow lines passing the cell cap are refused as a whole.
  std::string many;
  const std::string line(200, ',');
  while (many.size() < ExtOrImportModel::kMaxCells / 200 * 205) many += line + "\n";
  Loaded(many, ",", &r);
  EXPECT_EQ(r.status, LoadResult::Status::kUnreadable);
  EXPECT_NE(r.detail.find("fields in the file"), std::string::npos) << r.detail;

  std::string lines;
  for (int i = 0; i < ExtOrImportModel::kMaxRows; ++i) lines += "a\n";
  EXPECT_EQ(Loaded(lines, ",", &r).Parsed().size(), static_cast<std::size_t>(ExtOrImportModel::kMaxRows));
  Loaded(lines + "b\n", ",", &r);
  EXPECT_EQ(r.status, LoadResult::Status::kUnreadable);
  EXPECT_NE(r.detail.find("data lines"), std::string::npos) << r.detail;
}

TEST(ExtOrLoad, ReadOnlyFileJunkAndLongLines) {
  const fs::path path = WriteFile("a 1 2 3 4 5 6\n");
  fs::permissions(path, fs::perms::owner_read, fs::perm_options::replace);
  ExtOrImportModel m;
  m.SetSeparatorsText(" ");
  m.SetFilePath(path.string());
  ASSERT_EQ(m.Load().status, LoadResult::Status::kOk);
  EXPECT_EQ(m.Parsed().size(), 1u);

  LoadResult r;
  const auto nul = Loaded(std::string("a,1\nb,2\0c,3\n", 12), ",", &r);
  EXPECT_TRUE(r.cutAtNul);
  EXPECT_EQ(nul.Parsed().size(), 2u);

  const std::string longLine(3 << 20, 'x');
  const auto big = Loaded(longLine + "\nshort\n", ",", &r);
  ASSERT_EQ(r.status, LoadResult::Status::kOk);
  EXPECT_EQ(big.Parsed()[0][0].size(), longLine.size());

  std::string junk;
  for (int i = 0; i < 20000; ++i) junk += static_cast<char>((i * 7919) % 255 + 1);
  const auto j = Loaded(junk, ", ;", &r);
  EXPECT_EQ(r.status, LoadResult::Status::kOk);
  EXPECT_EQ(j.Imported().size(), j.Parsed().size());
}

TEST(ExtOrColumns, AssignResetAndClean) {
  ExtOrImportModel m = Loaded("Img_1,10,20,30,40,50,60,70\n", ",");
  EXPECT_EQ(ex::AssignMenu().size(), 9u);
  ASSERT_TRUE(m.ApplyAssignCommand(10001, 4));  // "-> X" to column 4
  ASSERT_TRUE(m.ApplyAssignCommand(10004, 7));  // "-> Omega" to column 7
  EXPECT_EQ(m.Imported()[0][ex::kX], "40");
  EXPECT_EQ(m.Imported()[0][ex::kOmega], "70");
  m.ResetAssignment();
  EXPECT_EQ(m.SourceColumn(ex::kX), 1);
  EXPECT_EQ(m.SourceColumn(ex::kOmega), 7);
  EXPECT_EQ(Row(m, 0), (std::vector<std::string>{"img_1", "10", "20", "30", "70", "50", "60"}));
  m.CleanAssignment();
  for (int q = ex::kId; q <= ex::kZ; ++q) EXPECT_EQ(m.SourceColumn(q), -1);
  EXPECT_EQ(Row(m, 0), (std::vector<std::string>{"", "", "", "", "70", "50", "60"}));
  m.AssignColumn(ex::kY, 99);  // beyond the row: empty cell
  EXPECT_EQ(m.Imported()[0][ex::kY], "");
  EXPECT_FALSE(m.ApplyAssignCommand(10007, 1));
  m.SetSourceColumns({7, -5, 0, 1, 2, 3, 4});
  EXPECT_EQ(m.SourceColumns()[1], -1);
  EXPECT_EQ(Row(m, 0), (std::vector<std::string>{"70", "", "img_1", "10", "20", "30", "40"}));
}

TEST(ExtOrCorrections, ColumnsAndFormats) {
  ExtOrImportModel m = Loaded("a,1.5,-2,abc,180,200,\nb,,7x,0,90,x,1\n", ",");
  EXPECT_EQ(ex::CorrectionMenu(ex::kId).size(), 0u);
  EXPECT_EQ(ex::CorrectionMenu(ex::kX).at(0).caption, "Change sign to column");
  EXPECT_EQ(ex::CorrectionMenu(ex::kPhi).size(), 4u);
  EXPECT_FALSE(m.ApplyCorrection(ex::kId, Correction::kChangeSign));
  EXPECT_FALSE(m.ApplyCorrection(ex::kOmega, Correction::kChangeSign));
  EXPECT_FALSE(m.ApplyCorrection(ex::kX, Correction::kDegToRad));

  ASSERT_TRUE(m.ApplyCorrection(ex::kX, Correction::kChangeSign));
  ASSERT_TRUE(m.ApplyCorrection(ex::kY, Correction::kChangeSign));
  ASSERT_TRUE(m.ApplyCorrection(ex::kZ, Correction::kChangeSign));
  EXPECT_EQ(Row(m, 0)[1], "-1.500");
  EXPECT_EQ(Row(m, 0)[2], "2.000");
  EXPECT_EQ(Row(m, 0)[3], "abc");  // no number: left alone
  EXPECT_EQ(Row(m, 1)[1], "");     // empty: left alone
  EXPECT_EQ(Row(m, 1)[2], "-7.000");
  EXPECT_EQ(Row(m, 1)[3], "0.000");

  ASSERT_TRUE(m.ApplyCorrection(ex::kOmega, Correction::kDegToRad));
  ASSERT_TRUE(m.ApplyCorrection(ex::kPhi, Correction::kGradToRad));
  EXPECT_EQ(Row(m, 0)[4], "3.141593");
  EXPECT_EQ(Row(m, 1)[4], "1.570796");
  EXPECT_EQ(Row(m, 0)[5], "3.141593");  // 200 grad
  EXPECT_EQ(Row(m, 1)[5], "x");         // not converted, not turned into a number
  ASSERT_TRUE(m.ApplyCorrection(ex::kKappa, Correction::kResetContent));
  EXPECT_EQ(Row(m, 1)[6], "");

  // A new assignment rebuilds the table and undoes the corrections.
  m.AssignColumn(ex::kPhi, 5);
  EXPECT_EQ(Row(m, 0)[4], "180");
}

TEST(ExtOrSave, SelectedRowsInListOrder) {
  const auto m = Loaded("A,1,2,3,4,5,6\nB,7,8,9,10,11,12\nC,1,1,1,1,1,1\n", ",");
  EXPECT_EQ(m.ExportText({2, 0, 2, 17, -1}, ";"), "a;1;2;3;4;5;6\nc;1;1;1;1;1;1\n");
  EXPECT_EQ(m.ExportText({1}, ""), "b,7,8,9,10,11,12\n");
  EXPECT_EQ(m.ExportText({}, ","), "");
  EXPECT_EQ(ex::NormalizeOutputSeparator(";,"), ";");
  EXPECT_EQ(ex::NormalizeOutputSeparator("|"), "|");

  const fs::path out = ortavia::test::MakeTempDir("save") / "out.txt";
  std::ofstream(out) << "old content that is longer";
  ASSERT_TRUE(m.SaveAs(out.string(), {1}, "\t"));
  EXPECT_EQ(ReadAll(out), "b\t7\t8\t9\t10\t11\t12\n");
  std::string error;
  EXPECT_FALSE(m.SaveAs((out / "below_a_file.txt").string(), {1}, ",", &error));
  EXPECT_FALSE(error.empty());
}

std::map<std::string, geo::COrientation> Orientations(const std::vector<std::string>& names) {
  std::map<std::string, geo::COrientation> map;
  for (const auto& n : names) map.emplace(n, geo::COrientation(1.0));
  return map;
}

TEST(ExtOrImport, NamesMatchWithoutFolderExtensionOrCase) {
  EXPECT_EQ(ex::ImageNameFromId("C:\\photos\\IMG_0012.JPG"), "img_0012");
  EXPECT_EQ(ex::ImageNameFromId("img_0012.tif"), "img_0012");
  EXPECT_EQ(ex::ImageNameFromId("/data/run.2/IMG_0012"), "img_0012");
  EXPECT_EQ(ex::ImageNameFromId("D:IMG_0012.jpg"), "img_0012");
  EXPECT_EQ(ex::ImageNameFromId("a.b.tif"), "a.b");

  const auto m = Loaded(
      "C:\\photos\\IMG_0012.JPG,1,2,3,0.1,0.2,0.3\n"
      "Strip1_004.TIF,4,5,6,0,0,0\n"
      "strip1_004,7,8,9,0,0,0\n"
      "unknown,1,1,1,0,0,0\n",
      ",");
  auto map = Orientations({"img_0012", "strip1_004", "other"});
  std::vector<std::string> logged;
  ortavia::RunContext ctx;
  ctx.log = [&](const std::string& s) { logged.push_back(s); };
  const ImportResult r = m.Import({0, 1, 2, 3}, map, ctx);
  EXPECT_EQ(r.status, ImportResult::Status::kOk);
  EXPECT_EQ(r.imported, 2);
  EXPECT_EQ(r.duplicateRows, 1);
  EXPECT_EQ(r.unmatchedRows, 1);
  EXPECT_EQ(map.at("strip1_004").N, Wml::Point3d(4, 5, 6));  // the first row wins
  EXPECT_EQ(map.at("img_0012").N, Wml::Point3d(1, 2, 3));
  const Wml::Matrix3d expected = Wml::Matrix3d::FromEulerAnglesXYZ(0.1, 0.2, 0.3);
  EXPECT_TRUE(map.at("img_0012").RotMat().isApprox(expected, 1e-15));
  EXPECT_EQ(map.at("other").N, Wml::Point3d::Zero());
  EXPECT_EQ(map.size(), 3u);
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0], "1 rows skipped: an earlier row has the same ID");
  EXPECT_EQ(ex::ImportedMessage(r.imported), "2 External Orientations successfully added.");
}

TEST(ExtOrImport, NonNumericRowsAreSkippedAndCounted) {
  const auto m = Loaded(
      "a,1,2,3,0,0,0\n"
      "b,1,2,x,0,0,0\n"
      "c,1,2,3,0,0\n"      // no Kappa
      "d,1e999,2,3,0,0,0\n",
      ",");
  auto map = Orientations({"a", "b", "c", "d"});
  const ImportResult r = m.Import({0, 1, 2, 3}, map);
  EXPECT_EQ(r.imported, 1);
  EXPECT_EQ(r.nonNumericRows, 3);
  ASSERT_EQ(r.logLines.size(), 1u);
  EXPECT_EQ(r.logLines[0], "3 rows skipped: a coordinate or an angle is not a number");
  for (const char* name : {"b", "c", "d"}) EXPECT_EQ(map.at(name).N, Wml::Point3d::Zero()) << name;
  EXPECT_EQ(map.at("a").N, Wml::Point3d(1, 2, 3));
}

TEST(ExtOrImport, NoSelectionNoMatchAndAbort) {
  const auto m = Loaded("a,1,2,3,0,0,0\n", ",");
  auto map = Orientations({"zzz"});
  EXPECT_EQ(m.Import({}, map).status, ImportResult::Status::kNoSelection);
  EXPECT_EQ(m.Import({5}, map).status, ImportResult::Status::kNoSelection);
  EXPECT_EQ(m.Import({0}, map).status, ImportResult::Status::kNoMatch);

  // Stop during a long import leaves every orientation as it was.
  std::string text;
  std::vector<std::string> names;
  std::vector<int> rows;
  for (int i = 0; i < 2000; ++i) {
    text += "im" + std::to_string(i) + ",1,2,3,0,0,0\n";
    names.push_back("im" + std::to_string(i));
    rows.push_back(i);
  }
  const auto big = Loaded(text, ",");
  auto many = Orientations(names);
  std::atomic<bool> abort{false};
  int pumps = 0;
  ortavia::RunContext ctx;
  ctx.abort = &abort;
  ctx.pump = [&] {
    if (++pumps == 10) abort = true;
  };
  EXPECT_EQ(big.Import(rows, many, ctx).status, ImportResult::Status::kAborted);
  for (const auto& [name, o] : many) ASSERT_EQ(o.N, Wml::Point3d::Zero()) << name;
}

TEST(ExtOrSettings, DefaultsAndStoredValues) {
  setenv("XDG_CONFIG_HOME", ortavia::test::MakeTempDir("cfg").c_str(), 1);
  const ex::PointFileSettings def = ex::LoadPointFileSettings();
  EXPECT_EQ(def.comments, "#%@+");
  EXPECT_EQ(def.separators, ", ;");
  ASSERT_TRUE(ex::StoreComments("!"));
  ASSERT_TRUE(ex::StoreSeparators(" \t"));
  const ex::PointFileSettings s = ex::LoadPointFileSettings();
  EXPECT_EQ(s.comments, "!");
  EXPECT_EQ(s.separators, " \t");
  EXPECT_EQ(GT_GetUserProfileString("LetturaFilesPunti", "Separatori", ""), " \t");
}

TEST(ExtOrSettings, WindowFlowStoresEditsAndReloads) {
  setenv("XDG_CONFIG_HOME", ortavia::test::MakeTempDir("cfg").c_str(), 1);
  ExtOrImportModel m;
  EXPECT_EQ(m.OpenWithStoredSettings().separators, ", ;");
  EXPECT_EQ(m.Separators(), ", ;\t");
  EXPECT_EQ(m.Load().status, LoadResult::Status::kNoFile);  // no file chosen yet
  ASSERT_EQ(m.ChooseFile(WriteFile("!c\na|1|2\n").string()).status, LoadResult::Status::kOk);
  EXPECT_EQ(m.ParsedColumnCount(), 1);
  EXPECT_EQ(m.EditSeparators("|").status, LoadResult::Status::kOk);
  EXPECT_EQ(m.ParsedColumnCount(), 3);
  EXPECT_EQ(m.Parsed().size(), 2u);
  m.EditComments("!");
  EXPECT_EQ(m.Parsed().size(), 1u);
  ExtOrImportModel next;
  const ex::PointFileSettings stored = next.OpenWithStoredSettings();
  EXPECT_EQ(stored.separators, "|");
  EXPECT_EQ(stored.comments, "!");
}

}  // namespace

namespace {

TEST(PointFileImport, OneCallWithColumnsAndDegrees) {
  const fs::path file = WriteFile("# id kappa x y z omega phi\nIMG_1 90 10 20 30 0 180\nimg_2 0 1 2 3 0 0\n");
  auto map = Orientations({"img_1", "img_3"});
  ex::PointFileImportOptions options;
  options.path = file.string();
  options.separators = " ";
  options.sourceColumns = {0, 2, 3, 4, 5, 6, 1};
  options.angles = ex::AngleUnit::kDegrees;
  const auto r = ex::ImportPointFile(options, map);
  ASSERT_EQ(r.load.status, LoadResult::Status::kOk);
  EXPECT_EQ(r.load.dataRows, 2);
  EXPECT_EQ(r.import.imported, 1);
  EXPECT_EQ(r.import.unmatchedRows, 1);
  EXPECT_EQ(map.at("img_1").N, Wml::Point3d(10, 20, 30));
  // Angles went through the "%f" text of the table, as in the window.
  const Wml::Matrix3d expected = Wml::Matrix3d::FromEulerAnglesXYZ(0.0, 3.141593, 1.570796);
  EXPECT_TRUE(map.at("img_1").RotMat().isApprox(expected, 1e-12));

  options.path = "/nonexistent";
  EXPECT_EQ(ex::ImportPointFile(options, map).load.status, LoadResult::Status::kUnreadable);
}

// The corrections write a decimal point even when the process runs in a comma-decimal locale.
TEST(ExtOrImportModelLocale, CorrectionsKeepTheDecimalPointInAnyLocale) {
  if (!ortavia::test::UseCommaDecimalLocale()) GTEST_SKIP() << "no comma-decimal locale can be built here";
  ExtOrImportModel m = Loaded("img_1 10.5 20 30 180 200 45\n");
  EXPECT_TRUE(m.ApplyCorrection(ex::kX, Correction::kChangeSign));
  EXPECT_TRUE(m.ApplyCorrection(ex::kOmega, Correction::kDegToRad));
  EXPECT_TRUE(m.ApplyCorrection(ex::kPhi, Correction::kGradToRad));
  EXPECT_TRUE(m.ApplyCorrection(ex::kKappa, Correction::kDegToRad));
  ortavia::test::UseCLocale();
  // pi = 3.14159265..., pi / 4 = 0.78539816...
  EXPECT_EQ(Row(m, 0), (std::vector<std::string>{"img_1", "-10.500", "20", "30", "3.141593", "3.141593", "0.785398"}));
}

}  // namespace
