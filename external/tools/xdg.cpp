#include "external/tools/xdg.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace ortavia::tools {

std::filesystem::path HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home == '/') return home;
  if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_dir && *pw->pw_dir == '/')
    return pw->pw_dir;
  return {};
}

std::filesystem::path XdgFolder(const char* variable, const char* fallback) {
  if (const char* value = std::getenv(variable); value && *value == '/') return value;
  const std::filesystem::path home = HomeFolder();
  return home.empty() ? std::filesystem::path() : home / fallback;
}

}  // namespace ortavia::tools
