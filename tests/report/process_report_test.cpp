#include "report/process_report.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "external/tools/sysinfo.h"
#include "support/test_env.h"

namespace ortavia {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Position of `needle` in `text`, failing the test when it is missing.
size_t At(const std::string& text, const std::string& needle) {
  const size_t p = text.find(needle);
  EXPECT_NE(p, std::string::npos) << "missing: " << needle << "\n" << text;
  return p;
}

TEST(ProcessResultText, AbortWinsOverResult) {
  EXPECT_EQ(ProcessResultText(1, false), "Process DONE");
  EXPECT_EQ(ProcessResultText(0, false), "Some errors during process");
  EXPECT_EQ(ProcessResultText(0, true), "Process aborted by user");
  EXPECT_EQ(ProcessResultText(1, true), "Process aborted by user");
}

TEST(WriteProcessReport, AbortedRunListsEveryRowAndWhatWasReached) {
  const auto dir = test::MakeTempDir("report");
  GT_StartTimer();
  ProcessReportInput in;
  in.destinationFolder = dir.string();
  in.overwrite = true;
  in.warpResult = 0;
  in.aborted = true;
  in.warpMode = "every pixel projected";
  in.occlusion = "left transparent";
  in.inProcess = {"alpha", "bravo", "charlie", "delta"};
  in.processed = {"alpha"};
  in.skipped = {"bravo"};
  const ProcessReportResult r = WriteProcessReport(in);
  ASSERT_TRUE(r.written);
  EXPECT_EQ(r.path, (dir / "report.txt").string());
  EXPECT_EQ(r.resultText, "Process aborted by user");
  EXPECT_FALSE(r.elapsed.empty());

  const std::string text = ReadAll(r.path);
  const size_t title = At(text, "PROCESS INFORMATION");
  const size_t time = At(text, "Process time");
  const size_t mode = At(text, "Overwrite previous data");
  const size_t warpMode = At(text, "every pixel projected");
  const size_t hidden = At(text, "Hidden ground");
  const size_t result = At(text, "Process aborted by user");
  const size_t inProcess = At(text, "In process");
  const size_t processed = At(text, "Processed");
  const size_t skipped = At(text, "Skipped");
  EXPECT_LT(title, time);
  EXPECT_LT(time, mode);
  EXPECT_LT(mode, warpMode);
  EXPECT_LT(warpMode, hidden);
  EXPECT_LT(hidden, At(text, "left transparent"));
  EXPECT_LT(hidden, result);
  EXPECT_LT(result, inProcess);
  EXPECT_LT(inProcess, processed);
  EXPECT_LT(processed, skipped);
  // "delta" was never reached: it is listed only under "In process".
  EXPECT_LT(At(text, "delta"), processed);
  EXPECT_EQ(text.find("delta", processed), std::string::npos);
  EXPECT_GT(text.find("bravo", skipped), skipped);
}

TEST(WriteProcessReport, AllKeptReadsDoneAndSkipMode) {
  const auto dir = test::MakeTempDir("report");
  GT_StartTimer();
  ProcessReportInput in;
  in.destinationFolder = dir.string();
  in.warpResult = 1;
  in.inProcess = {"a", "b"};
  in.skipped = {"a", "b"};
  const ProcessReportResult r = WriteProcessReport(in);
  ASSERT_TRUE(r.written);
  const std::string text = ReadAll(r.path);
  At(text, "Process DONE");
  At(text, "Skip previous data");
  // A second run replaces the file.
  in.warpResult = 0;
  ASSERT_TRUE(WriteProcessReport(in).written);
  const std::string again = ReadAll(r.path);
  EXPECT_EQ(again.find("Process DONE"), std::string::npos);
  At(again, "Some errors during process");
}

TEST(WriteProcessReport, UnwritableFolderIsReported) {
  const auto dir = test::MakeTempDir("report");
  ProcessReportInput in;
  // A plain file where the folder should be: no folder can be made there, even by root.
  std::ofstream(dir / "plain") << "x";
  in.destinationFolder = (dir / "plain" / "deeper").string();
  in.warpResult = 1;
  const ProcessReportResult r = WriteProcessReport(in);
  EXPECT_FALSE(r.written);
  EXPECT_FALSE(std::filesystem::exists(r.path));
}

}  // namespace
}  // namespace ortavia
