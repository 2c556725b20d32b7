#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "external/tools/report.h"
#include "external/tools/sysinfo.h"
#include "support/test_env.h"

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(SysInfo, TextsHaveTheirFormats) {
  const std::string v = GT_GetVersionInfo();
  EXPECT_EQ(std::count(v.begin(), v.end(), ','), 3) << v;
  EXPECT_EQ(v.find('.'), std::string::npos);
  EXPECT_FALSE(GT_GetUserName().empty());
  EXPECT_FALSE(GT_GetComputerName().empty());
  EXPECT_NE(GT_GetOSInfo().find("Linux"), std::string::npos);
  EXPECT_EQ(GT_GetRAMInfo().rfind("Total: ", 0), 0u);
  const std::string date = GT_GetCurrentSysDate(0, 0);
  ASSERT_EQ(date.size(), 10u);
  EXPECT_EQ(date[4], '-');
  EXPECT_EQ(date[7], '-');
  const std::string time = GT_GetCurrentSysTime();
  ASSERT_EQ(time.size(), 8u);
  EXPECT_EQ(time[2], ':');
  GT_StartTimer();
  EXPECT_EQ(GT_GetElapsedTime(), "0:00:00");
  GT_SetDisplayInfo("1920x1080", "32", {"Adapter A", "Adapter B"});
  EXPECT_EQ(GT_GetResolution(), "1920x1080");
  EXPECT_EQ(GT_GetDisplayAdaptersList().size(), 2u);
  GT_SetDisplayInfo("", "", {});
}

TEST(Report, CarriesHeaderValuesListsAndCommonData) {
  const fs::path path = ortavia::test::MakeTempDir("report") / "report.txt";
  std::ofstream(path) << "previous run";
  GT_ReportReset();
  GT_ReportFillCommonHeader();
  GT_ReportAddTitle("PROCESS INFORMATION");
  GT_ReportAddValue("Operation mode", "Skip previous data");
  GT_ReportAddValue("Process result", "Process DONE");
  GT_ReportAddValue("In process", std::vector<std::string>{"img_01", "img_02"});
  GT_ReportAddValue("Processed", std::vector<std::string>{});
  GT_ReportFillCommonData();
  GT_ReportSetTXTPath(path.string());
  ASSERT_EQ(GT_ReportBuild(), 1);

  const std::string text = ReadAll(path);
  EXPECT_EQ(text.find("previous run"), std::string::npos);
  EXPECT_NE(text.find("Program:  Ortavia\n"), std::string::npos);
  std::string version = GT_GetVersionInfo();
  std::replace(version.begin(), version.end(), ',', '.');
  EXPECT_NE(text.find("Version:  " + version + "\n"), std::string::npos);
  EXPECT_NE(text.find("Computer: " + GT_GetComputerName()), std::string::npos);
  EXPECT_NE(text.find("User:     " + GT_GetUserName()), std::string::npos);
  EXPECT_NE(text.find("Date:     " + GT_GetCurrentSysDate(0, 0)), std::string::npos);
  EXPECT_NE(text.find("PROCESS INFORMATION\n-------------------\n"
                      "Operation mode: Skip previous data\nProcess result: Process DONE\n"
                      "In process (2):\n    img_01\n    img_02\nProcessed (0):\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("OS: " + GT_GetOSInfo()), std::string::npos);
  EXPECT_NE(text.find("RAM: "), std::string::npos);
  // Order: header, then the values, then the common data.
  EXPECT_LT(text.find("Program:"), text.find("PROCESS INFORMATION"));
  EXPECT_LT(text.find("Processed (0)"), text.find("OS: "));
}

TEST(Report, ResetForgetsTheEarlierContent) {
  const fs::path path = ortavia::test::MakeTempDir("report") / "report.txt";
  GT_ReportReset();
  GT_ReportAddTitle("FIRST");
  GT_ReportReset();
  GT_ReportAddTitle("SECOND");
  GT_ReportSetTXTPath(path.string());
  ASSERT_EQ(GT_ReportBuild(), 1);
  const std::string text = ReadAll(path);
  EXPECT_EQ(text.find("FIRST"), std::string::npos);
  EXPECT_NE(text.find("SECOND"), std::string::npos);
}

TEST(Report, UnwritablePathFailsAndLeavesNoFile) {
  GT_ReportReset();
  GT_ReportAddTitle("X");
  GT_ReportSetTXTPath("");
  EXPECT_EQ(GT_ReportBuild(), 0);
  const fs::path dir = ortavia::test::MakeTempDir("report");
  std::ofstream(dir / "file") << "x";
  GT_ReportSetTXTPath((dir / "file" / "report.txt").string());  // below a plain file
  EXPECT_EQ(GT_ReportBuild(), 0);
  EXPECT_TRUE(fs::is_regular_file(dir / "file"));
}

}  // namespace
