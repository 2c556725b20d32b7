#pragma once
// Small helpers shared by the fuzz targets: reading option bytes off the front of an input, a
// scratch file for readers that only take a path, and a loud failure for broken invariants.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace ortavia::fuzz {

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size)
      : rest_(reinterpret_cast<const char*>(data), size) {}
  // The next byte, or 0 once the input is used up.
  std::uint8_t Byte() {
    if (rest_.empty()) return 0;
    const auto b = static_cast<std::uint8_t>(rest_.front());
    rest_.remove_prefix(1);
    return b;
  }
  // Up to n bytes.
  std::string_view Bytes(std::size_t n) {
    const std::string_view taken = rest_.substr(0, n);
    rest_.remove_prefix(taken.size());
    return taken;
  }
  std::string_view Rest() const { return rest_; }

 private:
  std::string_view rest_;
};

// One file per process and extension, rewritten for every input and removed at exit.
class ScratchFile {
 public:
  explicit ScratchFile(std::string_view extension);
  ~ScratchFile();
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  // Replaces the file's content; aborts when the file cannot be written.
  const std::string& Write(std::string_view content);
  const std::string& Path() const { return path_; }
  // Where scratch files go: a memory file system when there is one.
  static const std::filesystem::path& Folder();

 private:
  std::string path_;
};

// Reports a broken invariant with its text and aborts, so the fuzzer keeps the input.
[[noreturn]] void Fail(const char* what);
inline void Check(bool ok, const char* what) {
  if (!ok) Fail(what);
}

}  // namespace ortavia::fuzz
