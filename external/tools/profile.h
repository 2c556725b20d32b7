#pragma once
// The per-user profile: section / key / value texts in $XDG_CONFIG_HOME/Ortavia/Ortavia.ini.
#include <cstddef>
#include <string>

// Copies the stored value (or `def`) into buffer (always terminated); returns its length.
int GT_GetUserProfileString(const char* section, const char* key, const char* def, char* buffer,
                            std::size_t size);
std::string GT_GetUserProfileString(const std::string& section, const std::string& key,
                                    const std::string& def);
// Stores the value across runs; 0 = failure.
int GT_WriteUserProfileString(const char* section, const char* key, const char* value);

// "1" / "0" (also true/false, yes/no, on/off without case); 0 when the text is neither.
int GT_StringToBoolean(const char* text, int* value);
// C-locale number of the whole text; 0 when it is no number.
int GT_StringToDouble(const char* text, double* value);
