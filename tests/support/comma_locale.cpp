#include "support/comma_locale.h"

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <unistd.h>

namespace ortavia::test {
namespace fs = std::filesystem;

namespace {

const char* const kLocale = "de_DE.UTF-8";

// The compiled locale is kept between test processes; a half-made one is never renamed into place.
fs::path CompiledLocales() {
  const fs::path root = fs::temp_directory_path() / "ortavia-test-locales";
  if (fs::exists(root / kLocale)) return root;
  std::error_code ec;
  fs::create_directories(root, ec);
  const fs::path part = root / ("part-" + std::to_string(getpid()));
  const std::string command =
      "localedef -i de_DE -f UTF-8 '" + part.string() + "' >/dev/null 2>&1";
  if (std::system(command.c_str()) == 0) fs::rename(part, root / kLocale, ec);
  fs::remove_all(part, ec);
  return root;
}

}  // namespace

bool UseCommaDecimalNumbers() {
  if (std::setlocale(LC_NUMERIC, kLocale) == nullptr) {
    setenv("LOCPATH", CompiledLocales().c_str(), 1);
    if (std::setlocale(LC_NUMERIC, kLocale) == nullptr) return false;
  }
  char text[16];
  std::snprintf(text, sizeof text, "%.1f", 1.5);
  return std::string(text) == "1,5";
}

void UseCNumbers() { std::setlocale(LC_NUMERIC, "C"); }

}  // namespace ortavia::test
