#pragma once
// What identifies a file's content without reading it: device, inode, size and modification time.
// A reader that keeps a file open compares stamps to tell when the file was changed under it.
#include <cstdint>
#include <optional>
#include <string>

namespace ortavia::tools {

struct FileStamp {
  std::uint64_t device = 0, inode = 0;
  std::int64_t size = 0;
  std::int64_t modifiedNs = 0;  // since the epoch
  bool operator==(const FileStamp&) const = default;
};

// Null when the file cannot be looked at (missing, no permission).
std::optional<FileStamp> StampOf(const std::string& path);

}  // namespace ortavia::tools
