#include "support/test_env.h"

#include <atomic>
#include <cstdlib>
#include <stdexcept>
#include <unistd.h>

namespace ortavia::test {
namespace {
std::filesystem::path g_home;
std::atomic<int> g_counter{0};
}  // namespace

const std::filesystem::path& PrivateHome() { return g_home; }

void IsolateHome() {
  std::string templ = (std::filesystem::temp_directory_path() / "ortavia-test-XXXXXX").string();
  if (!mkdtemp(templ.data())) throw std::runtime_error("cannot create a temporary home");
  g_home = templ;
  const auto set = [](const char* var, const std::filesystem::path& p) {
    std::filesystem::create_directories(p);
    setenv(var, p.c_str(), 1);
  };
  set("HOME", g_home);
  set("XDG_CONFIG_HOME", g_home / ".config");
  set("XDG_DATA_HOME", g_home / ".local/share");
  set("XDG_CACHE_HOME", g_home / ".cache");
  set("XDG_RUNTIME_DIR", g_home / "run");
  // Nor the user's keyring, through the desktop's session bus.
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
  std::filesystem::permissions(g_home / "run", std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::replace);
}

std::filesystem::path MakeTempDir(const std::string& stem) {
  auto dir = g_home / "work" / (stem + "-" + std::to_string(getpid()) + "-" +
                                std::to_string(g_counter.fetch_add(1)));
  std::filesystem::create_directories(dir);
  return dir;
}

}  // namespace ortavia::test
