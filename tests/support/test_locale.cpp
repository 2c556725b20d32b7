#include "support/test_locale.h"

#include <clocale>
#include <cstdlib>
#include <string>

#include "support/test_env.h"

namespace ortavia::test {

bool UseCommaDecimalLocale() {
  static const std::string folder = [] {
    const std::string dir = MakeTempDir("locale").string();
    const std::string command = "localedef -i de_DE -f UTF-8 '" + dir + "/de_DE.UTF-8' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0 ? dir : std::string();
  }();
  if (folder.empty()) return false;
  setenv("LOCPATH", folder.c_str(), 1);
  return std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
}

void UseCLocale() {
  std::setlocale(LC_ALL, "C");
  unsetenv("LOCPATH");
}

}  // namespace ortavia::test
