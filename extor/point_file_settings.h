#pragma once
// The point-file reading settings kept in the user profile, section "LetturaFilesPunti".
#include <array>
#include <string>

namespace ortavia::extor {

inline constexpr const char* kPointFileSection = "LetturaFilesPunti";
inline constexpr const char* kCommentsKey = "Commenti";
inline constexpr const char* kSeparatorsKey = "Separatori";
// Which parsed column feeds ID, X, Y, Z, Omega, Phi, Kappa: "0,1,2,3,4,5,6"; -1 = none.
inline constexpr const char* kSourceColumnsKey = "SourceColumns";
inline constexpr const char* kDefaultComments = "#%@+";
inline constexpr const char* kDefaultSeparators = ", ;";  // the tab is always added on top

struct PointFileSettings {
  std::string comments = kDefaultComments;
  std::string separators = kDefaultSeparators;  // as typed, without the tab
  std::array<int, 7> sourceColumns{0, 1, 2, 3, 4, 5, 6};  // the last column assignment
};

// Reads the keys (the texts at most 127 bytes each, as the boxes hold them), defaults where missing
// or, for the column assignment, unless it is seven whole numbers from -1 up.
PointFileSettings LoadPointFileSettings();
// Write one key each; false when the profile could not be written.
bool StoreComments(const std::string& comments);
bool StoreSeparators(const std::string& separators);
bool StoreSourceColumns(const std::array<int, 7>& columns);

}  // namespace ortavia::extor
