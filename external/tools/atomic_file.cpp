#include "external/tools/atomic_file.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <system_error>
#include <unistd.h>

namespace ortavia::tools {
namespace {

std::atomic<unsigned> g_tempCounter{0};

bool WriteAll(int fd, std::string_view content) {
  while (!content.empty()) {
    const ssize_t n = ::write(fd, content.data(), content.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    content.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Opens a fresh temporary file next to the target; the mode follows the umask like a plain create.
int OpenTemp(const std::filesystem::path& path, std::filesystem::path& temp) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = path;
    temp += ".tmp" + std::to_string(getpid()) + "-" + std::to_string(g_tempCounter.fetch_add(1));
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

bool WriteFileAtomically(const std::filesystem::path& path, std::string_view content) {
  if (path.empty() || !path.has_filename()) return false;
  std::error_code ec;
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
  std::filesystem::path temp;
  const int fd = OpenTemp(path, temp);
  if (fd < 0) return false;
  const bool written = WriteAll(fd, content) && ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || std::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace ortavia::tools
