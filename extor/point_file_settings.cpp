#include "extor/point_file_settings.h"

#include "external/tools/profile.h"

namespace ortavia::extor {
namespace {

std::string ReadKey(const char* key, const char* def) {
  char buffer[128];
  GT_GetUserProfileString(kPointFileSection, key, def, buffer, sizeof buffer);
  return buffer;
}

}  // namespace

PointFileSettings LoadPointFileSettings() {
  PointFileSettings s;
  s.comments = ReadKey(kCommentsKey, kDefaultComments);
  s.separators = ReadKey(kSeparatorsKey, kDefaultSeparators);
  return s;
}

bool StoreComments(const std::string& comments) {
  return GT_WriteUserProfileString(kPointFileSection, kCommentsKey, comments.c_str()) != 0;
}

bool StoreSeparators(const std::string& separators) {
  return GT_WriteUserProfileString(kPointFileSection, kSeparatorsKey, separators.c_str()) != 0;
}

}  // namespace ortavia::extor
