#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "external/tools/ini_file.h"
#include "external/tools/profile.h"
#include "support/test_env.h"

namespace {

namespace fs = std::filesystem;

fs::path ProfileFile() { return fs::path(std::getenv("XDG_CONFIG_HOME")) / "Ortavia" / "Ortavia.ini"; }

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
}

int TempFilesBeside() {
  int count = 0;
  for (const auto& e : fs::directory_iterator(ProfileFile().parent_path()))
    count += e.path().filename().string().find(".tmp") != std::string::npos;
  return count;
}

// Each test starts with its own configuration folder.
class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", ortavia::test::MakeTempDir("config").c_str(), 1);
  }
};

TEST_F(ProfileTest, ValuesSurviveAReopenWithTheirExactText) {
  ASSERT_EQ(GT_WriteUserProfileString("LetturaFilesPunti", "Separatori", " ,;"), 1);
  ASSERT_EQ(GT_WriteUserProfileString("LetturaFilesPunti", "Commenti", "#%@+"), 1);
  ASSERT_EQ(GT_WriteUserProfileString("EMailSettings", "body", "line1\nline2\\x"), 1);
  ASSERT_EQ(GT_WriteUserProfileString("ProcessSetting", "destinationFolder", "\"quoted\" "), 1);
  ASSERT_TRUE(fs::exists(ProfileFile()));

  // A fresh parse of the file stands for the next run of the program.
  const auto ini = ortavia::tools::IniFile::Load(ProfileFile());
  ASSERT_NE(ini.Find("letturafilespunti", "SEPARATORI"), nullptr);
  EXPECT_EQ(*ini.Find("LetturaFilesPunti", "Separatori"), " ,;");
  EXPECT_EQ(GT_GetUserProfileString("LetturaFilesPunti", "Commenti", "x"), "#%@+");
  EXPECT_EQ(GT_GetUserProfileString("EMailSettings", "body", ""), "line1\nline2\\x");
  EXPECT_EQ(GT_GetUserProfileString("ProcessSetting", "destinationFolder", ""), "\"quoted\" ");
  EXPECT_EQ(GT_GetUserProfileString("ProcessSetting", "missing", "dflt"), "dflt");
}

TEST_F(ProfileTest, OverwritingKeepsOneEntryAndOtherSections) {
  GT_WriteUserProfileString("A", "k", "1");
  GT_WriteUserProfileString("B", "k", "2");
  GT_WriteUserProfileString("a", "K", "3");
  EXPECT_EQ(GT_GetUserProfileString("A", "k", ""), "3");
  EXPECT_EQ(GT_GetUserProfileString("B", "k", ""), "2");
  const std::string text = ReadAll(ProfileFile());
  EXPECT_EQ(text, "[A]\nk=3\n\n[B]\nk=2\n");
  EXPECT_EQ(TempFilesBeside(), 0);
}

TEST_F(ProfileTest, CharBufferIsAlwaysTerminatedAndTruncated) {
  GT_WriteUserProfileString("S", "k", "abcdef");
  char buf[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(GT_GetUserProfileString("S", "k", "", buf, sizeof buf), 3);
  EXPECT_STREQ(buf, "abc");
  char big[128];
  EXPECT_EQ(GT_GetUserProfileString("S", "none", "#%@+", big, sizeof big), 4);
  EXPECT_STREQ(big, "#%@+");
}

TEST_F(ProfileTest, RefusesNamesThatCannotBeReadBack) {
  EXPECT_EQ(GT_WriteUserProfileString("S", "a=b", "v"), 0);
  EXPECT_EQ(GT_WriteUserProfileString("S[", "k", "v"), 0);
  EXPECT_EQ(GT_WriteUserProfileString("", "k", "v"), 0);
  EXPECT_EQ(GT_WriteUserProfileString("S", " k", "v"), 0);
  EXPECT_EQ(GT_WriteUserProfileString("S", "k\n", "v"), 0);
  EXPECT_EQ(GT_WriteUserProfileString("S", "k", nullptr), 0);
}

TEST_F(ProfileTest, DamagedFileIsReadAsFarAsPossibleAndRewrittenCleanly) {
  std::string damaged = "garbage line without equals\n";
  damaged += "orphan=before any section\n";
  damaged += "[Good]\r\n";
  damaged += "  key = value one  \r\n";
  damaged += "bin\x01\x02=junk\n";
  damaged += std::string("nul\0key=x\n", 10);
  damaged += "[Broken\n";
  damaged += "lost=1\n";
  damaged += "[Good]\n";
  damaged += "key=second copy\n";
  damaged += "other=\"  spaced  \"\n";
  damaged += "; comment\n";
  damaged += "[Tail]\nlast=ok";  // no final line break
  damaged += std::string(3000, '\xff');
  WriteAll(ProfileFile(), damaged);

  EXPECT_EQ(GT_GetUserProfileString("Good", "key", ""), "value one");
  EXPECT_EQ(GT_GetUserProfileString("Good", "other", ""), "  spaced  ");
  EXPECT_EQ(GT_GetUserProfileString("Broken", "lost", "none"), "none");
  EXPECT_EQ(GT_GetUserProfileString("Good", "orphan", "none"), "none");
  EXPECT_EQ(GT_GetUserProfileString("Tail", "last", "").substr(0, 2), "ok");

  ASSERT_EQ(GT_WriteUserProfileString("New", "k", "v"), 1);
  const std::string text = ReadAll(ProfileFile());
  EXPECT_EQ(text.find('\x01'), std::string::npos);
  EXPECT_EQ(text.find('\0'), std::string::npos);
  EXPECT_EQ(text.find("garbage"), std::string::npos);
  EXPECT_NE(text.find("[Good]\nkey=value one\nother=\"  spaced  \"\n"), std::string::npos);
  EXPECT_EQ(GT_GetUserProfileString("New", "k", ""), "v");
  EXPECT_EQ(GT_GetUserProfileString("Good", "key", ""), "value one");
}

TEST_F(ProfileTest, FileSavedWithAByteOrderMarkIsRead) {
  WriteAll(ProfileFile(), "\xEF\xBB\xBF[S]\r\nk=v\r\n");
  EXPECT_EQ(GT_GetUserProfileString("S", "k", ""), "v");
}

TEST_F(ProfileTest, HugeFileIsReadOnlyUpToTheCap) {
  std::string text = "[S]\nk=v\n";
  text += std::string(ortavia::tools::IniFile::kMaxBytes + 100, 'z');
  text += "\n[Late]\nk=never\n";
  WriteAll(ProfileFile(), text);
  EXPECT_EQ(GT_GetUserProfileString("S", "k", ""), "v");
  EXPECT_EQ(GT_GetUserProfileString("Late", "k", "none"), "none");
}

TEST_F(ProfileTest, FailedWriteIsReportedAndLeavesNothingBehind) {
  // A folder where the profile file should be: the rename cannot replace it (even for root).
  fs::create_directories(ProfileFile() / "sub");
  EXPECT_EQ(GT_WriteUserProfileString("S", "k", "new"), 0);
  EXPECT_TRUE(fs::is_directory(ProfileFile() / "sub"));
  EXPECT_EQ(GT_GetUserProfileString("S", "k", "none"), "none");
  EXPECT_EQ(TempFilesBeside(), 0);
}

TEST_F(ProfileTest, WritesFromSeveralProcessesAreAllKept) {
  constexpr int kChildren = 4, kKeys = 40;
  std::vector<pid_t> children;
  for (int c = 0; c < kChildren; ++c) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int ok = 1;
      for (int k = 0; k < kKeys; ++k) {
        const std::string key = "c" + std::to_string(c) + "k" + std::to_string(k);
        ok &= GT_WriteUserProfileString("Race", key.c_str(), key.c_str());
      }
      _exit(ok ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (const pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  const auto ini = ortavia::tools::IniFile::Load(ProfileFile());
  EXPECT_EQ(ini.Keys("Race").size(), static_cast<std::size_t>(kChildren * kKeys));
  EXPECT_EQ(TempFilesBeside(), 0);
}

TEST(StringConversions, Boolean) {
  int v = 7;
  EXPECT_EQ(GT_StringToBoolean("1", &v), 1);
  EXPECT_EQ(v, 1);
  EXPECT_EQ(GT_StringToBoolean(" 0 ", &v), 1);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(GT_StringToBoolean("TRUE", &v), 1);
  EXPECT_EQ(v, 1);
  EXPECT_EQ(GT_StringToBoolean("Off", &v), 1);
  EXPECT_EQ(v, 0);
  v = 7;
  EXPECT_EQ(GT_StringToBoolean("2", &v), 0);
  EXPECT_EQ(GT_StringToBoolean("", &v), 0);
  EXPECT_EQ(GT_StringToBoolean("10", &v), 0);
  EXPECT_EQ(v, 7);
}

TEST(StringConversions, DoubleNeedsTheWholeText) {
  double v = -1.0;
  EXPECT_EQ(GT_StringToDouble("2.5", &v), 1);
  EXPECT_DOUBLE_EQ(v, 2.5);
  EXPECT_EQ(GT_StringToDouble(" -1e3 ", &v), 1);
  EXPECT_DOUBLE_EQ(v, -1000.0);
  EXPECT_EQ(GT_StringToDouble("+0.25", &v), 1);
  EXPECT_DOUBLE_EQ(v, 0.25);
  v = 9.0;
  for (const char* bad : {"", " ", "abc", "1.5x", "1,5", "+-1", "nan", "inf", "1e999", "0x10"})
    EXPECT_EQ(GT_StringToDouble(bad, &v), 0) << bad;
  EXPECT_DOUBLE_EQ(v, 9.0);
}

}  // namespace
