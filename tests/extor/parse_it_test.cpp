#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sys/stat.h>
#include <fstream>
#include <string>
#include <vector>

#include "extor/parse_it.h"
#include "support/test_env.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Split(const std::string& text, const char* separators) {
  CParseIt p;
  EXPECT_EQ(p.ParseString(text.c_str(), separators), 1);
  std::vector<std::string> fields;
  for (int i = 1; i <= p.GetCount(); ++i) {
    std::string f;
    EXPECT_EQ(p.GetString(i, f), 1);
    fields.push_back(f);
  }
  return fields;
}

using Fields = std::vector<std::string>;

fs::path WriteFile(const std::string& bytes) {
  const fs::path p = ortavia::test::MakeTempDir("parse") / "points.txt";
  std::ofstream(p, std::ios::binary) << bytes;
  return p;
}

TEST(ParseIt, SplittingRules) {
  EXPECT_EQ(Split("", ","), Fields{""});
  EXPECT_EQ(Split("  12  34 ", " "), (Fields{"12", "34", ""}));
  EXPECT_EQ(Split("a;;b", ";"), (Fields{"a", "", "b"}));
  EXPECT_EQ(Split("a;b;", ";"), (Fields{"a", "b", ""}));
  EXPECT_EQ(Split("a, b", ", "), (Fields{"a", "", "b"}));
  EXPECT_EQ(Split("a ,b", ", "), (Fields{"a", "", "b"}));
  EXPECT_EQ(Split("a ", ", "), (Fields{"a", ""}));
  EXPECT_EQ(Split("a,,b", ","), (Fields{"a", "", "b"}));
  EXPECT_EQ(Split(" a b ,c", ","), (Fields{" a b ", "c"}));  // blanks are data without the blank
  EXPECT_EQ(Split("x\r\ny\n", "\n\r"), (Fields{"x", "", "y", ""}));
  EXPECT_EQ(Split("x\ry", "\n\r"), (Fields{"x", "y"}));
  // Default settings of the point-file import: comma, blank, semicolon and tab.
  EXPECT_EQ(Split("img_01, 100.5, 200.25, 50.0, 0.01, 0.02, 1.57", ", ;\t"),
            (Fields{"img_01", "", "100.5", "", "200.25", "", "50.0", "", "0.01", "", "0.02", "",
                    "1.57"}));
  EXPECT_EQ(Split("img_01\t100.5\t200.25\t50.0\t0.01\t0.02\t1.57", ", ;\t").size(), 7u);
  EXPECT_EQ(Split("img_01   100.5 200.25 50.0 0.01 0.02 1.57", ", ;\t").size(), 7u);
  EXPECT_EQ(Split("img_01,100.5,200.25,50.0,0.01,0.02,1.57", ", ;\t").size(), 7u);
}

TEST(ParseIt, SeparatorSettings) {
  CParseIt p;
  EXPECT_STREQ(p.GetSeparators(), ",");
  p.SetSeparators("abcdefghijkl");
  EXPECT_STREQ(p.GetSeparators(), "abcdefghi");
  EXPECT_EQ(p.IsSeparator('i'), 1);
  EXPECT_EQ(p.IsSeparator('j'), 0);
  // The tenth separator has no effect.
  EXPECT_EQ(Split("1j2", "abcdefghij"), Fields{"1j2"});
  EXPECT_EQ(Split("1i2", "abcdefghij"), (Fields{"1", "2"}));
  p.SetSeparators(nullptr);
  EXPECT_STREQ(p.GetSeparators(), "");
}

TEST(ParseIt, HeldTextMustBeResetFirst) {
  CParseIt p;
  ASSERT_EQ(p.ParseString("a;b", ";"), 1);
  EXPECT_EQ(p.ParseString("x,y,z", ","), 0);
  EXPECT_EQ(p.GetCount(), 2);
  EXPECT_STREQ(p.GetSeparators(), ";");
  EXPECT_EQ(p.ReadFile(WriteFile("1,2,3").string()), 0);
  EXPECT_EQ(p.GetCount(), 2);
  p.Reset();
  EXPECT_EQ(p.GetCount(), 0);
  EXPECT_STREQ(p.GetSeparators(), ",");
  EXPECT_EQ(p.Parse(), 0);  // no text
  ASSERT_EQ(p.ReadFile(WriteFile("1,2,3").string()), 1);
  ASSERT_EQ(p.Parse(), 1);
  EXPECT_EQ(p.GetCount(), 3);
}

TEST(ParseIt, IndexChecksAndReaders) {
  CParseIt p;
  ASSERT_EQ(p.ParseString(" -42abc; 1.5e2x ;+7;9999999999999;zz", ";"), 1);
  ASSERT_EQ(p.GetCount(), 5);
  int i = 99;
  long l = 99;
  double d = 99.0;
  EXPECT_EQ(p.GetInt(1, &i), 1);
  EXPECT_EQ(i, -42);
  EXPECT_EQ(p.GetDouble(2, &d), 1);
  EXPECT_DOUBLE_EQ(d, 150.0);
  EXPECT_EQ(p.GetLong(3, &l), 1);
  EXPECT_EQ(l, 7);
  EXPECT_EQ(p.GetInt(4, &i), 1);
  EXPECT_EQ(i, 2147483647);  // clamped
  EXPECT_EQ(p.GetDouble(5, &d), 1);
  EXPECT_DOUBLE_EQ(d, 0.0);
  i = 5;
  EXPECT_EQ(p.GetInt(0, &i), 0);
  EXPECT_EQ(p.GetInt(6, &i), 0);
  EXPECT_EQ(i, 5);
  std::string s = "keep";
  EXPECT_EQ(p.GetString(0, s), 0);
  EXPECT_EQ(s, "");
  s = "keep";
  EXPECT_EQ(p.GetString(6, s), 0);
  EXPECT_EQ(s, "");
  char buf[8] = "same";
  EXPECT_EQ(p.GetString(6, buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "same");
  EXPECT_EQ(p.GetString(1, buf, 3), 0);  // too small
  EXPECT_STREQ(buf, "same");
  EXPECT_EQ(p.GetString(3, buf, sizeof buf), 1);
  EXPECT_STREQ(buf, "+7");
  EXPECT_STREQ(p.GetField(9).Text(), "");
  EXPECT_EQ(CParseField("1e").ToDouble(), 1.0);
  EXPECT_EQ(CParseField("-.5").ToDouble(), -0.5);
  EXPECT_EQ(CParseField("1e999").ToDouble(), HUGE_VAL);
  EXPECT_EQ(CParseField("  12x").ToLong(), 12);
  CParseField f;
  EXPECT_STREQ(f.Assign("abc").Text(), "abc");
  EXPECT_STREQ(f.Assign(std::string("d")).Text(), "d");
  EXPECT_STREQ(f.Assign(nullptr).Text(), "");
}

TEST(ParseIt, FilesAreReadOnlyAndCutAtNul) {
  const fs::path path = WriteFile(std::string("a,b\0c,d", 7));
  fs::permissions(path, fs::perms::owner_read, fs::perm_options::replace);
  CParseIt p;
  ASSERT_EQ(p.ReadAndParse(path.string(), ","), 1);
  EXPECT_TRUE(p.CutAtNul());
  ASSERT_EQ(p.GetCount(), 2);
  EXPECT_EQ(p.FieldView(2), "b");
  // The file is left as it was.
  EXPECT_EQ(fs::file_size(path), 7u);
}

TEST(ParseIt, UnusableFilesAreRefused) {
  CParseIt p;
  EXPECT_EQ(p.ReadFile(WriteFile("").string()), 0);  // empty
  EXPECT_FALSE(p.LastError().empty());
  EXPECT_EQ(p.ReadFile("/nonexistent/points.txt"), 0);
  const fs::path dir = ortavia::test::MakeTempDir("dir");
  EXPECT_EQ(p.ReadFile(dir.string()), 0);
  EXPECT_EQ(p.LastError(), "not a regular file");
  const fs::path fifo = dir / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(p.ReadFile(fifo.string()), 0);  // never waits for a writer
  EXPECT_FALSE(p.HoldsText());
}

TEST(ParseIt, OversizedFileIsRefusedWithReason) {
  const fs::path path = ortavia::test::MakeTempDir("big") / "big.txt";
  {
    std::ofstream out(path, std::ios::binary);
    out << "a,b\n";
  }
  fs::resize_file(path, CParseIt::kMaxFileBytes + 1);  // sparse: no real disk use
  CParseIt p;
  EXPECT_EQ(p.ReadFile(path.string()), 0);
  EXPECT_NE(p.LastError().find("larger than"), std::string::npos);
}

TEST(ParseIt, FieldCountIsCapped) {
  CParseIt p;
  const std::string many(CParseIt::kMaxFields + 10, ',');
  EXPECT_EQ(p.ParseString(many.c_str(), ","), 0);
  EXPECT_EQ(p.GetCount(), 0);
  EXPECT_NE(p.LastError().find("fields"), std::string::npos);
}

TEST(ParseIt, BinaryJunkIsSplitByTheRules) {
  std::string junk;
  for (int i = 1; i < 256; ++i) junk += static_cast<char>(i);
  junk += junk;
  CParseIt p;
  ASSERT_EQ(p.ParseString(junk, "\n\r"), 1);
  std::size_t total = 0;
  for (int i = 1; i <= p.GetCount(); ++i) total += p.FieldView(i).size();
  EXPECT_EQ(total + p.GetCount() - 1, junk.size());  // every byte is a field byte or a separator
  EXPECT_EQ(p.GetCount(), 5);
}

}  // namespace
