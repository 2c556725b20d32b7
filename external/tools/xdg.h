#pragma once
// Where the per-user XDG folders are, with their documented defaults below the home folder.
#include <filesystem>

namespace ortavia::tools {

// The home folder: $HOME when absolute, else the password database entry; empty when unknown.
std::filesystem::path HomeFolder();
// $<variable> when it is an absolute path, else <home>/<fallback> (relative values are ignored,
// as the XDG rules ask).
std::filesystem::path XdgFolder(const char* variable, const char* fallback);

}  // namespace ortavia::tools
