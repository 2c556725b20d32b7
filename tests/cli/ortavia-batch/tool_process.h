#pragma once
// ortavia-batch started as a child process, with stdout and stderr in files.
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/test_env.h"

namespace ortavia::test {

struct ToolOutcome {
  int code = -1;  // exit code, or 128 + signal
  std::string out, err;
};

inline std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// In a forked child: becomes the tool; 127 when it cannot be executed.
[[noreturn]] inline void ExecTool(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(TOOL_PATH));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execv(TOOL_PATH, argv.data());
  _exit(127);
}

// Starts the tool; `inChild` runs in the child just before the tool is executed (limits, signal
// dispositions). Returns the child's pid.
inline pid_t StartTool(const std::vector<std::string>& args, const std::filesystem::path& outFile,
                       const std::filesystem::path& errFile,
                       const std::function<void()>& inChild = {}) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(err, 2);
    if (inChild) inChild();
    ExecTool(args);
  }
  return pid;
}

inline ToolOutcome FinishTool(pid_t pid, const std::filesystem::path& outFile,
                              const std::filesystem::path& errFile) {
  int status = 0;
  waitpid(pid, &status, 0);
  ToolOutcome o;
  o.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  o.out = ReadAll(outFile);
  o.err = ReadAll(errFile);
  return o;
}

inline ToolOutcome RunTool(const std::vector<std::string>& args,
                           const std::function<void()>& inChild = {}) {
  const std::filesystem::path dir = MakeTempDir("io");
  return FinishTool(StartTool(args, dir / "out", dir / "err", inChild), dir / "out", dir / "err");
}

}  // namespace ortavia::test
