#pragma once
// The point-file reading settings kept in the user profile, section "LetturaFilesPunti".
#include <string>

namespace ortavia::extor {

inline constexpr const char* kPointFileSection = "LetturaFilesPunti";
inline constexpr const char* kCommentsKey = "Commenti";
inline constexpr const char* kSeparatorsKey = "Separatori";
inline constexpr const char* kDefaultComments = "#%@+";
inline constexpr const char* kDefaultSeparators = ", ;";  // the tab is always added on top

struct PointFileSettings {
  std::string comments = kDefaultComments;
  std::string separators = kDefaultSeparators;  // as typed, without the tab
};

// Reads both keys (each at most 127 bytes, as the boxes hold them), defaults where missing.
PointFileSettings LoadPointFileSettings();
// Write one key each; false when the profile could not be written.
bool StoreComments(const std::string& comments);
bool StoreSeparators(const std::string& separators);

}  // namespace ortavia::extor
