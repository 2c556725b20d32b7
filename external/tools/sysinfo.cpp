#include "external/tools/sysinfo.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <mutex>
#include <pwd.h>
#include <cstdlib>
#include <sys/utsname.h>
#include <unistd.h>

#ifndef ORTAVIA_VERSION
#define ORTAVIA_VERSION "0.0.0"
#endif

namespace {

std::mutex g_infoMutex;
std::string g_resolution, g_pixelDepth;
std::vector<std::string> g_adapters;
std::chrono::steady_clock::time_point g_timerStart = std::chrono::steady_clock::now();

std::tm LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

std::string FormatTime(const char* format) {
  const std::tm local = LocalNow();
  char text[64];
  const std::size_t n = std::strftime(text, sizeof text, format, &local);
  return std::string(text, n);
}

// The value of one KEY="value" line of /etc/os-release, without quotes.
std::string OsReleaseValue(const std::string& key) {
  std::ifstream in("/etc/os-release");
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, key.size() + 1, key + "=") != 0) continue;
    std::string value = line.substr(key.size() + 1);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    return value;
  }
  return {};
}

// kB of one /proc/meminfo line, or -1.
long long MemInfoKb(const std::string& key) {
  std::ifstream in("/proc/meminfo");
  std::string name;
  long long kb = 0;
  std::string unit;
  while (in >> name >> kb) {
    std::getline(in, unit);
    if (name == key + ":") return kb;
  }
  return -1;
}

}  // namespace

std::string GT_GetVersionInfo() {
  // "1.2.3" -> "1,2,3,0": four numbers with commas, as the About box expects.
  std::string text = ORTAVIA_VERSION;
  int parts = 1;
  for (char& c : text) {
    if (c == '.') {
      c = ',';
      ++parts;
    }
  }
  for (; parts < 4; ++parts) text += ",0";
  return text;
}

std::string GT_GetUserName() {
  if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_name) return pw->pw_name;
  if (const char* user = std::getenv("USER")) return user;
  return "unknown";
}

std::string GT_GetComputerName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || !*name) return "unknown";
  return name;
}

std::string GT_GetOSInfo() {
  std::string text = OsReleaseValue("PRETTY_NAME");
  utsname uts{};
  if (uname(&uts) == 0) {
    const std::string kernel =
        std::string(uts.sysname) + " " + uts.release + " " + uts.machine;
    text = text.empty() ? kernel : text + " (" + kernel + ")";
  }
  return text.empty() ? "unknown" : text;
}

std::string GT_GetRAMInfo() {
  const long long total = MemInfoKb("MemTotal");
  if (total < 0) return "unknown";
  std::string text = "Total: " + std::to_string(total / 1024) + " MB";
  if (const long long avail = MemInfoKb("MemAvailable"); avail >= 0)
    text += ", Available: " + std::to_string(avail / 1024) + " MB";
  return text;
}

void GT_SetDisplayInfo(const std::string& resolution, const std::string& pixelDepth,
                       const std::vector<std::string>& adapters) {
  std::lock_guard lock(g_infoMutex);
  g_resolution = resolution;
  g_pixelDepth = pixelDepth;
  g_adapters = adapters;
}

std::string GT_GetResolution() {
  std::lock_guard lock(g_infoMutex);
  return g_resolution;
}

std::string GT_GetPixelDepth() {
  std::lock_guard lock(g_infoMutex);
  return g_pixelDepth;
}

std::vector<std::string> GT_GetDisplayAdaptersList() {
  std::lock_guard lock(g_infoMutex);
  return g_adapters;
}

std::string GT_GetCurrentSysDate(int, int) { return FormatTime("%Y-%m-%d"); }

std::string GT_GetCurrentSysTime() { return FormatTime("%H:%M:%S"); }

void GT_StartTimer() {
  std::lock_guard lock(g_infoMutex);
  g_timerStart = std::chrono::steady_clock::now();
}

std::string GT_GetElapsedTime() {
  std::chrono::steady_clock::time_point start;
  {
    std::lock_guard lock(g_infoMutex);
    start = g_timerStart;
  }
  const long long s = std::chrono::duration_cast<std::chrono::seconds>(
                          std::chrono::steady_clock::now() - start).count();
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, (s / 60) % 60, s % 60);
  return text;
}
