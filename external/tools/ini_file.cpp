#include "external/tools/ini_file.h"

#include <algorithm>
#include <cctype>
#include <fstream>

#include "external/tools/atomic_file.h"

namespace ortavia::tools {
namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view Trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

bool IsCleanName(std::string_view name) {
  return !name.empty() && std::none_of(name.begin(), name.end(), [](unsigned char c) {
    return c < 32 || c == 127 || c == '=' || c == '[' || c == ']';
  });
}

// A line with control bytes other than tab is junk (binary damage), not data.
bool HasJunk(std::string_view line) {
  return std::any_of(line.begin(), line.end(), [](unsigned char c) {
    return (c < 32 && c != '\t') || c == 127;
  });
}

std::string Escape(std::string_view value) {
  std::string out;
  out.reserve(value.size() + 2);
  for (const char c : value) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  const bool quote = !value.empty() && (value.front() == ' ' || value.front() == '\t' ||
                                        value.back() == ' ' || value.back() == '\t' ||
                                        value.front() == '"');
  return quote ? "\"" + out + "\"" : out;
}

std::string Unescape(std::string_view raw) {
  raw = Trim(raw);
  if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"') raw = raw.substr(1, raw.size() - 2);
  std::string out;
  out.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\\' && i + 1 < raw.size()) {
      const char next = raw[i + 1];
      if (next == '\\' || next == 'n' || next == 'r') {
        out += next == 'n' ? '\n' : next == 'r' ? '\r' : '\\';
        ++i;
        continue;
      }
    }
    out += raw[i];  // any other backslash stays, so hand-written paths survive
  }
  return out;
}

}  // namespace

IniFile IniFile::Load(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::string text(kMaxBytes, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  return Parse(text);
}

IniFile IniFile::Parse(std::string_view text) {
  IniFile ini;
  if (text.size() > kMaxBytes) text = text.substr(0, kMaxBytes);
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // a BOM left by an editor
  Section* current = nullptr;
  while (!text.empty()) {
    const std::size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (HasJunk(line)) continue;
    line = Trim(line);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      const std::string_view name =
          close == std::string_view::npos ? std::string_view() : Trim(line.substr(1, close - 1));
      // Keys under a damaged header belong to no known section: they are dropped.
      current = nullptr;
      if (IsCleanName(name)) {
        current = ini.FindSection(name);
        if (!current) current = &ini.sections_.emplace_back(Section{std::string(name), {}});
      }
      continue;
    }
    const std::size_t eq = line.find('=');
    if (!current || eq == std::string_view::npos) continue;
    const std::string_view key = Trim(line.substr(0, eq));
    if (!IsCleanName(key)) continue;
    const bool known = std::any_of(current->entries.begin(), current->entries.end(),
                                   [&](const Entry& e) { return EqualNoCase(e.key, key); });
    if (!known) current->entries.push_back({std::string(key), Unescape(line.substr(eq + 1))});
  }
  return ini;
}

IniFile::Section* IniFile::FindSection(std::string_view name) {
  for (Section& s : sections_)
    if (EqualNoCase(s.name, name)) return &s;
  return nullptr;
}

const IniFile::Section* IniFile::FindSection(std::string_view name) const {
  for (const Section& s : sections_)
    if (EqualNoCase(s.name, name)) return &s;
  return nullptr;
}

const std::string* IniFile::Find(std::string_view section, std::string_view key) const {
  const Section* s = FindSection(section);
  if (!s) return nullptr;
  for (const Entry& e : s->entries)
    if (EqualNoCase(e.key, key)) return &e.value;
  return nullptr;
}

void IniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
  Section* s = FindSection(section);
  if (!s) s = &sections_.emplace_back(Section{std::string(section), {}});
  for (Entry& e : s->entries) {
    if (EqualNoCase(e.key, key)) {
      e.value = value;
      return;
    }
  }
  s->entries.push_back({std::string(key), std::string(value)});
}

std::vector<std::string> IniFile::Sections() const {
  std::vector<std::string> names;
  for (const Section& s : sections_) names.push_back(s.name);
  return names;
}

std::vector<std::string> IniFile::Keys(std::string_view section) const {
  std::vector<std::string> keys;
  if (const Section* s = FindSection(section))
    for (const Entry& e : s->entries) keys.push_back(e.key);
  return keys;
}

std::string IniFile::ToText() const {
  std::string text;
  for (const Section& s : sections_) {
    if (!IsCleanName(s.name)) continue;
    if (!text.empty()) text += '\n';
    text += "[" + s.name + "]\n";
    for (const Entry& e : s.entries)
      if (IsCleanName(e.key)) text += e.key + "=" + Escape(e.value) + "\n";
  }
  return text;
}

bool IniFile::Save(const std::filesystem::path& path) const {
  return WriteFileAtomically(path, ToText());
}

}  // namespace ortavia::tools
