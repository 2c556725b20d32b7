#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <fcntl.h>
#include <unistd.h>

namespace ortavia::fuzz {

ScratchFile::ScratchFile(std::string_view extension) {
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
  if (ec) dir = "/tmp";
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
