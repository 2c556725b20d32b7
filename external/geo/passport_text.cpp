#include "external/geo/passport_text.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace geo {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

}  // namespace

std::optional<PassportText> PassportText::Parse(std::string_view text) {
  if (text.size() > kMaxPassportBytes) return std::nullopt;
  if (text.find('\0') != std::string_view::npos) return std::nullopt;
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // UTF-8 byte-order mark

  PassportText result;
  Keys* current = nullptr;
  while (!text.empty()) {
    const std::size_t eol = text.find('\n');
    std::string_view line = Trim(text.substr(0, eol));
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);

    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      if (line.back() != ']') return std::nullopt;
      const std::string name = Lower(Trim(line.substr(1, line.size() - 2)));
      if (name.empty()) return std::nullopt;
      current = &result.sections_[name];
      continue;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos || current == nullptr) return std::nullopt;
    const std::string key = Lower(Trim(line.substr(0, eq)));
    if (key.empty()) return std::nullopt;
    // Two values for one key leave the passport ambiguous.
    if (!current->emplace(key, std::string(Trim(line.substr(eq + 1)))).second) return std::nullopt;
  }
  return result;
}

bool PassportText::HasSection(std::string_view section) const {
  return sections_.contains(Lower(section));
}

const std::string* PassportText::Find(std::string_view section, std::string_view key) const {
  const auto s = sections_.find(Lower(section));
  if (s == sections_.end()) return nullptr;
  const auto k = s->second.find(Lower(key));
  return k == s->second.end() ? nullptr : &k->second;
}

std::optional<std::string> ReadPassportFile(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec || size > kMaxPassportBytes) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  // One byte more than the size tells a file that is still being written.
  std::string text(static_cast<std::size_t>(size) + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad()) return std::nullopt;
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (text.size() > size) return std::nullopt;
  return text;
}

}  // namespace geo
