#pragma once
// A tolerant INI store: reads what it can of a damaged file and always writes a clean one.
//
// Format written: "[section]" lines and "key=value" lines. Values keep their exact text: line
// breaks and backslashes are escaped (\n, \r, \\) and a value with blanks at either end, or
// starting with a quote, is written between double quotes. Sections and keys compare without case
// (the first spelling is kept); the first of duplicate keys wins.
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace ortavia::tools {

class IniFile {
 public:
  // Files beyond this size are damaged for our purposes: only their beginning is read.
  static constexpr std::size_t kMaxBytes = 1 << 20;

  // A missing or unreadable file gives an empty store; damaged lines are skipped.
  static IniFile Load(const std::filesystem::path& path);
  static IniFile Parse(std::string_view text);

  const std::string* Find(std::string_view section, std::string_view key) const;
  void Set(std::string_view section, std::string_view key, std::string_view value);
  std::vector<std::string> Sections() const;
  std::vector<std::string> Keys(std::string_view section) const;

  std::string ToText() const;
  bool Save(const std::filesystem::path& path) const;  // atomic replace

 private:
  struct Entry {
    std::string key, value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  Section* FindSection(std::string_view name);
  const Section* FindSection(std::string_view name) const;

  std::vector<Section> sections_;
};

}  // namespace ortavia::tools
