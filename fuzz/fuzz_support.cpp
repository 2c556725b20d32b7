#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <fcntl.h>
#include <unistd.h>

namespace ortavia::fuzz {

namespace {

// A file truncated and rewritten on a disk file system is flushed to the disk when it is closed
// (ext4 guards against losing a replaced file that way), which made every input wait for the
// disk: scratch files live in memory where there is a memory file system.
std::filesystem::path ScratchFolder() {
  std::error_code ec;
  if (access("/dev/shm", W_OK | X_OK) == 0) return "/dev/shm";
  std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
  return ec ? std::filesystem::path("/tmp") : dir;
}

}  // namespace

const std::filesystem::path& ScratchFile::Folder() {
  static const std::filesystem::path folder = ScratchFolder();
  return folder;
}

ScratchFile::ScratchFile(std::string_view extension) {
  const std::filesystem::path& dir = Folder();
  std::string pattern = (dir / "ortavia-fuzz-XXXXXX").string() + std::string(extension);
  const int fd = mkstemps(pattern.data(), static_cast<int>(extension.size()));
  if (fd < 0) Fail("cannot create the scratch file");
  close(fd);
  path_ = pattern;
}

ScratchFile::~ScratchFile() { unlink(path_.c_str()); }

const std::string& ScratchFile::Write(std::string_view content) {
  const int fd = open(path_.c_str(), O_WRONLY | O_TRUNC);
  if (fd < 0) Fail("cannot open the scratch file");
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = write(fd, content.data() + done, content.size() - done);
    if (n <= 0) Fail("cannot write the scratch file");
    done += static_cast<std::size_t>(n);
  }
  close(fd);
  return path_;
}

void Fail(const char* what) {
  std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
  std::fflush(stderr);
  std::abort();
}

}  // namespace ortavia::fuzz
