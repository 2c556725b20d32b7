#pragma once
// Special folders on the XDG mapping and path helpers.
#include <cstddef>
#include <string>

inline constexpr int kCsidlCommonAppData = 35;  // $XDG_DATA_HOME
inline constexpr int kCsidlLocalAppData = 28;   // $XDG_CACHE_HOME/Ortavia

// Copies the folder's path into buffer; 0 = failure (unknown csidl, no room). The folder is created.
int GT_GetSpecialFolder(char* buffer, std::size_t size, int csidl, int reserved1, int reserved2);
std::string GT_GetSpecialFolder(int csidl);

// Creates "<common data>/Kesta" and "<common data>/Kesta/passports"; returns the passports folder.
std::string EnsureFolders();

// The path normalised (lexically, absolute, no "." or "..").
std::string GT_OptimizePath(const std::string& path, int reserved);

// "Desc|*.a;*.b|Desc2|*.c||" -> Qt's "Desc (*.a *.b);;Desc2 (*.c)".
std::string GT_MakeFilterPair(const std::string& filter);
