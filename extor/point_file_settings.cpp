#include "extor/point_file_settings.h"

#include <charconv>
#include <optional>

#include "external/tools/profile.h"

namespace ortavia::extor {
namespace {

std::string ReadKey(const char* key, const char* def) {
  char buffer[128];
  GT_GetUserProfileString(kPointFileSection, key, def, buffer, sizeof buffer);
  return buffer;
}

std::optional<std::array<int, 7>> ParseColumns(const std::string& text) {
  std::array<int, 7> columns{};
  const char* p = text.data();
  const char* end = p + text.size();
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (i > 0 && (p == end || *p++ != ',')) return std::nullopt;
    const auto [next, ec] = std::from_chars(p, end, columns[i]);
    if (ec != std::errc() || columns[i] < -1) return std::nullopt;
    p = next;
  }
  if (p != end) return std::nullopt;
  return columns;
}

}  // namespace

PointFileSettings LoadPointFileSettings() {
  PointFileSettings s;
  s.comments = ReadKey(kCommentsKey, kDefaultComments);
  s.separators = ReadKey(kSeparatorsKey, kDefaultSeparators);
  if (const auto columns = ParseColumns(ReadKey(kSourceColumnsKey, ""))) s.sourceColumns = *columns;
  return s;
}

bool StoreSourceColumns(const std::array<int, 7>& columns) {
  std::string text;
  for (std::size_t i = 0; i < columns.size(); ++i) text += (i ? "," : "") + std::to_string(columns[i]);
  return GT_WriteUserProfileString(kPointFileSection, kSourceColumnsKey, text.c_str()) != 0;
}

bool StoreComments(const std::string& comments) {
  return GT_WriteUserProfileString(kPointFileSection, kCommentsKey, comments.c_str()) != 0;
}

bool StoreSeparators(const std::string& separators) {
  return GT_WriteUserProfileString(kPointFileSection, kSeparatorsKey, separators.c_str()) != 0;
}

}  // namespace ortavia::extor
