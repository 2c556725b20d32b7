#include "extor/parse_it.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Reads at most limit + 1 bytes so a file that grows while being read is still caught.
bool ReadRegularFile(const std::string& path, std::size_t limit, std::string& bytes,
                     std::string& error) {
  // Non-blocking, so that a FIFO given as a point file cannot hang the window.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    error = "cannot open the file: " + std::string(std::strerror(errno));
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    error = "not a regular file";
    return false;
  }
  if (static_cast<unsigned long long>(st.st_size) > limit) {
    ::close(fd);
    error = "the file is larger than " + std::to_string(limit >> 20) + " MB";
    return false;
  }
  bytes.assign(static_cast<std::size_t>(st.st_size) + 1, '\0');
  std::size_t got = 0;
  for (;;) {
    if (got == bytes.size()) {
      if (bytes.size() > limit) break;
      bytes.resize(std::min(limit + 1, bytes.size() * 2 + 4096));
    }
    const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      error = "cannot read the file: " + std::string(std::strerror(errno));
      return false;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  if (got > limit) {
    error = "the file is larger than " + std::to_string(limit >> 20) + " MB";
    return false;
  }
  bytes.resize(got);
  return true;
}

}  // namespace

int CParseIt::IsSeparator(char byte) const {
  return separators_.find(byte) != std::string::npos ? 1 : 0;
}

int CParseIt::ReadFile(const std::string& path) {
  if (held_) {
    error_ = "a text is already held";
    return 0;
  }
  error_.clear();
  std::string bytes;
  if (!ReadRegularFile(path, kMaxFileBytes, bytes, error_)) return 0;
  if (bytes.empty()) {
    error_ = "the file is empty";
    return 0;
  }
  // The held text ends at the first NUL byte, as a C string would.
  const std::size_t nul = bytes.find('\0');
  cutAtNul_ = nul != std::string::npos;
  if (cutAtNul_) bytes.resize(nul);
  text_ = std::move(bytes);
  held_ = true;
  return 1;
}

void CParseIt::Reset() {
  text_.clear();
  held_ = false;
  cutAtNul_ = false;
  spans_.clear();
  separators_ = ",";
  error_.clear();
}

int CParseIt::ReadAndParse(const std::string& path, const char* separators) {
  SetSeparators(separators);
  return ReadFile(path) ? Parse() : 0;
}

void CParseIt::SetSeparators(const char* separators) {
  separators_.assign(separators ? separators : "");
  if (separators_.size() > kMaxSeparators) separators_.resize(kMaxSeparators);
}

int CParseIt::ParseString(const char* text, const char* separators) {
  return ParseString(std::string_view(text ? text : ""), separators);
}

int CParseIt::ParseString(std::string_view text, const char* separators) {
  if (held_) {
    error_ = "a text is already held";
    return 0;
  }
  SetSeparators(separators);
  text = text.substr(0, text.find('\0'));
  text_.assign(text);
  if (text_.size() > kMaxFileBytes) {
    text_.clear();
    error_ = "the text is too long";
    return 0;
  }
  held_ = true;
  return Parse();
}

int CParseIt::Parse() {
  if (!held_) {
    error_ = "no text is held";
    return 0;
  }
  spans_.clear();
  error_.clear();
  bool inSpaceRun = true;  // only matters when the blank is a separator
  std::uint32_t begin = 0;
  std::uint32_t length = 0;
  const auto size = static_cast<std::uint32_t>(text_.size());
  for (std::uint32_t i = 0; i < size; ++i) {
    const char c = text_[i];
    if (!IsSeparator(c)) {
      // A token is contiguous bytes, except for skipped blanks before it.
      if (length == 0) begin = i;
      ++length;
      inSpaceRun = false;
    } else if (c == ' ' && inSpaceRun) {
      continue;
    } else {
      if (spans_.size() + 1 >= kMaxFields) {
        spans_.clear();
        error_ = "more than " + std::to_string(kMaxFields) + " fields";
        return 0;
      }
      spans_.push_back({begin, length});
      length = 0;
      if (c == ' ') inSpaceRun = true;
    }
  }
  spans_.push_back({begin, length});
  return 1;
}

std::string_view CParseIt::FieldView(int index) const {
  if (!ValidIndex(index)) return {};
  const Span s = spans_[static_cast<std::size_t>(index - 1)];
  return std::string_view(text_).substr(s.begin, s.length);
}

CParseField CParseIt::GetField(int index) const { return CParseField(FieldView(index)); }

int CParseIt::GetLong(int index, long* value) const {
  if (!ValidIndex(index) || !value) return 0;
  *value = ortavia::extor::LeadingLong(FieldView(index));
  return 1;
}

int CParseIt::GetInt(int index, int* value) const {
  if (!ValidIndex(index) || !value) return 0;
  *value = GetField(index).ToInt();
  return 1;
}

int CParseIt::GetDouble(int index, double* value) const {
  if (!ValidIndex(index) || !value) return 0;
  *value = ortavia::extor::LeadingDouble(FieldView(index));
  return 1;
}

int CParseIt::GetString(int index, char* buffer, std::size_t size) const {
  if (!ValidIndex(index) || !buffer) return 0;
  const std::string_view v = FieldView(index);
  if (v.size() + 1 > size) return 0;
  std::memcpy(buffer, v.data(), v.size());
  buffer[v.size()] = '\0';
  return 1;
}

int CParseIt::GetString(int index, std::string& value) const {
  if (!ValidIndex(index)) {
    value.clear();
    return 0;
  }
  value.assign(FieldView(index));
  return 1;
}
