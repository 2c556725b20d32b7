#include "external/tools/folders.h"

#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#include "external/tools/xdg.h"

namespace {

std::filesystem::path SpecialFolderPath(int csidl) {
  switch (csidl) {
    case kCsidlCommonAppData: return ortavia::tools::XdgFolder("XDG_DATA_HOME", ".local/share");
    case kCsidlLocalAppData: {
      const auto cache = ortavia::tools::XdgFolder("XDG_CACHE_HOME", ".cache");
      return cache.empty() ? cache : cache / "Ortavia";
    }
    default: return {};
  }
}

}  // namespace

std::string GT_GetSpecialFolder(int csidl) {
  const std::filesystem::path folder = SpecialFolderPath(csidl);
  if (folder.empty()) return {};
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (!std::filesystem::is_directory(folder, ec)) return {};
  return folder.string();
}

int GT_GetSpecialFolder(char* buffer, std::size_t size, int csidl, int, int) {
  if (!buffer || size == 0) return 0;
  const std::string folder = GT_GetSpecialFolder(csidl);
  if (folder.empty() || folder.size() + 1 > size) return 0;
  std::memcpy(buffer, folder.c_str(), folder.size() + 1);
  return 1;
}

std::string EnsureFolders() {
  const std::string common = GT_GetSpecialFolder(kCsidlCommonAppData);
  if (common.empty()) return {};
  const std::filesystem::path passports = std::filesystem::path(common) / "Kesta" / "passports";
  std::error_code ec;  // a failure shows later, where the passport folder is used
  std::filesystem::create_directories(passports, ec);
  return passports.string();
}

std::string GT_OptimizePath(const std::string& path, int) {
  if (path.empty()) return {};
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(path, ec);
  if (ec) p = path;
  p = p.lexically_normal();
  std::string text = p.string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

namespace {

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// "Images (*.tif)" -> "Images": Qt reads the last parenthesised part as the patterns, so the
// description keeps only its text and the patterns are added once.
std::string_view StripPatternSuffix(std::string_view desc) {
  desc = TrimBlanks(desc);
  if (!desc.empty() && desc.back() == ')') {
    const std::size_t open = desc.rfind('(');
    if (open != std::string_view::npos) return TrimBlanks(desc.substr(0, open));
  }
  return desc;
}

std::string QtPatterns(std::string_view patterns) {
  std::string out;
  std::size_t start = 0;
  while (start <= patterns.size()) {
    std::size_t end = patterns.find(';', start);
    if (end == std::string_view::npos) end = patterns.size();
    const std::string_view one = TrimBlanks(patterns.substr(start, end - start));
    if (!one.empty()) {
      if (!out.empty()) out += ' ';
      out += one;
    }
    start = end + 1;
  }
  return out;
}

}  // namespace

std::string GT_MakeFilterPair(const std::string& filter) {
  std::vector<std::string_view> parts;
  std::string_view rest = filter;
  // The list ends at the first empty part ("||"); a dangling description without patterns is
  // dropped.
  while (!rest.empty()) {
    const std::size_t bar = rest.find('|');
    const std::string_view part = rest.substr(0, bar);
    if (part.empty()) break;
    parts.push_back(part);
    if (bar == std::string_view::npos) break;
    rest.remove_prefix(bar + 1);
  }
  std::string out;
  for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
    const std::string patterns = QtPatterns(parts[i + 1]);
    if (patterns.empty()) continue;
    std::string_view desc = StripPatternSuffix(parts[i]);
    if (!out.empty()) out += ";;";
    if (!desc.empty()) {
      out += desc;
      out += ' ';
    }
    out += "(" + patterns + ")";
  }
  return out;
}
