#include "external/tools/file_stamp.h"

#include <sys/stat.h>

namespace ortavia::tools {

std::optional<FileStamp> StampOf(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return std::nullopt;
  FileStamp s;
  s.device = static_cast<std::uint64_t>(st.st_dev);
  s.inode = static_cast<std::uint64_t>(st.st_ino);
  s.size = static_cast<std::int64_t>(st.st_size);
  s.modifiedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return s;
}

}  // namespace ortavia::tools
