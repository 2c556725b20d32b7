#pragma once
// The INI-like text of passport files: `key = value` lines under `[Section]` headers. Section and
// key names are matched without case; blank lines and lines starting with ';' or '#' are comments.
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace geo {

// Passport files are small; anything larger is not a passport.
inline constexpr std::size_t kMaxPassportBytes = 1 << 20;

class PassportText {
 public:
  // Null when the text is no INI text: NUL bytes, over kMaxPassportBytes, a line that is neither
  // comment, section nor key = value, a key outside every section, or a key given twice.
  static std::optional<PassportText> Parse(std::string_view text);

  bool HasSection(std::string_view section) const;
  // The trimmed value, or null when the section or key is missing.
  const std::string* Find(std::string_view section, std::string_view key) const;

 private:
  using Keys = std::map<std::string, std::string>;  // lower-case key -> value
  std::map<std::string, Keys> sections_;             // lower-case section -> keys
};

// The whole file as text; null when it cannot be read or exceeds kMaxPassportBytes.
std::optional<std::string> ReadPassportFile(const std::string& path);

}  // namespace geo
