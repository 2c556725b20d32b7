#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/crash_handler.h"
#include "external/tools/sysinfo.h"
#include "support/test_env.h"

namespace ortavia::ui {
namespace {

std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(CrashHandler, ExceptionMeaningsAreOneLinePerCodeEndingWithASemicolon) {
  const std::string text = ExceptionTypeMeaning();
  EXPECT_EQ(text.rfind("0 SEH exception.\n1 C++ terminate() call.\n", 0), 0u);
  EXPECT_NE(text.find("\n11 C++ SIGSEGV signal (invalid storage access)\n"), std::string::npos);
  EXPECT_TRUE(text.ends_with("\n12 C++ SIGTERM signal (termination request).;"));
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 12);
}

TEST(CrashHandler, PropertiesNameEveryAdapter) {
  GT_SetDisplayInfo("1600x1000", "24", {"card zero", "card one"});
  const auto props = StandardCrashProperties();
  std::vector<std::string> names;
  for (const auto& [name, value] : props) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"ExceptionTypeMeaning", "OS_Info", "Screen_Pixel_Depth",
                                             "Screen_Resolution", "RAM_Info", "Graphic_Adapter_0",
                                             "Graphic_Adapter_1"}));
  EXPECT_EQ(props[3].second, "1600x1000");
  EXPECT_EQ(props[6].second, "card one");
}

// Installs the handler in a child process and crashes it there.
std::filesystem::path CrashChild(const std::filesystem::path& folder, int how) {
  const pid_t pid = fork();
  if (pid == 0) {
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    CrashReportSettings s;
    s.appName = "ortavia";
    s.version = "1,0,0,0";
    s.folder = folder.string();
    s.properties = {{"ExceptionTypeMeaning", ExceptionTypeMeaning()}, {"OS_Info", "Test OS"},
                    {"Graphic_Adapter_0", "Test adapter"}};
    if (!InstallCrashHandler(s, nullptr)) _exit(3);
    if (how == 0) std::raise(SIGSEGV);
    if (how == 2) std::raise(SIGTERM);
    std::terminate();
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status)) << "the crash still ends the process";
  for (const auto& e : std::filesystem::directory_iterator(folder)) return e.path();
  return {};
}

TEST(CrashHandler, AFatalSignalLeavesAReport) {
  const auto folder = ortavia::test::MakeTempDir("crashes") / "Kesta" / "crashes";
  std::filesystem::create_directories(folder);
  const auto report = CrashChild(folder, 0);
  ASSERT_FALSE(report.empty());
  EXPECT_TRUE(report.filename().string().starts_with("ortavia_"));
  const std::string text = ReadAll(report);
  EXPECT_NE(text.find("Subject: ortavia (ver. 1,0,0,0) Error report\n"), std::string::npos);
  EXPECT_NE(text.find("[ExceptionTypeMeaning]\n0 SEH exception."), std::string::npos);
  EXPECT_NE(text.find("[OS_Info]\nTest OS\n"), std::string::npos);
  EXPECT_NE(text.find("[Graphic_Adapter_0]\nTest adapter\n"), std::string::npos);
  EXPECT_NE(text.find("Restart: /restart\n"), std::string::npos);
  EXPECT_NE(text.find("ExceptionType: 11\n11 C++ SIGSEGV signal (invalid storage access)\n"), std::string::npos);
}

TEST(CrashHandler, TerminateIsReportedOnce) {
  const auto folder = ortavia::test::MakeTempDir("terminate");
  const auto report = CrashChild(folder, 1);
  ASSERT_FALSE(report.empty());
  const std::string text = ReadAll(report);
  EXPECT_NE(text.find("ExceptionType: 1\n1 C++ terminate() call.\n"), std::string::npos);
  EXPECT_EQ(text.find("ExceptionType: 7"), std::string::npos) << "the abort that follows is not a second crash";
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()), 1);
}

TEST(CrashHandler, AQuitRequestIsNoCrash) {
  const auto folder = ortavia::test::MakeTempDir("quit");
  EXPECT_TRUE(CrashChild(folder, 2).empty());
}

TEST(CrashHandler, AnUnusableFolderIsRefused) {
  const auto file = ortavia::test::MakeTempDir("blocked") / "not_a_folder";
  std::ofstream(file) << "x";
  CrashReportSettings s;
  s.folder = (file / "crashes").string();
  std::string error;
  EXPECT_FALSE(InstallCrashHandler(s, &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace ortavia::ui
