#include "external/tools/profile.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <system_error>
#include <unistd.h>
#include <string_view>

#include "external/tools/ini_file.h"
#include "external/tools/xdg.h"

namespace {

std::mutex g_profileMutex;

std::filesystem::path ProfilePath() {
  return ortavia::tools::XdgFolder("XDG_CONFIG_HOME", ".config") / "Ortavia" / "Ortavia.ini";
}

std::string_view Trim(std::string_view s);

// Names must read back as written: no line structure characters, no blanks at either end.
bool IsValidName(std::string_view name) {
  if (name.empty() || name.size() > 1024 || Trim(name).size() != name.size()) return false;
  return std::none_of(name.begin(), name.end(), [](unsigned char c) {
    return c < 32 || c == '=' || c == '[' || c == ']' || c == 127;
  });
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// Serialises read-modify-write of the profile between processes (the window and the batch
// runner may run at once); without it one of two simultaneous writes would be lost.
class ProfileWriteLock {
 public:
  explicit ProfileWriteLock(const std::filesystem::path& profile) {
    std::error_code ec;
    std::filesystem::create_directories(profile.parent_path(), ec);
    std::filesystem::path lock = profile;
    lock += ".lock";
    fd_ = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ >= 0) ::flock(fd_, LOCK_EX);  // without a lock the write still goes ahead
  }
  ~ProfileWriteLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  ProfileWriteLock(const ProfileWriteLock&) = delete;
  ProfileWriteLock& operator=(const ProfileWriteLock&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace

int GT_GetUserProfileString(const char* section, const char* key, const char* def, char* buffer,
                            std::size_t size) {
  if (!buffer || size == 0) return 0;
  const std::string value = GT_GetUserProfileString(section ? section : "", key ? key : "",
                                                    def ? def : "");
  const std::size_t n = std::min(value.size(), size - 1);
  std::memcpy(buffer, value.data(), n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

std::string GT_GetUserProfileString(const std::string& section, const std::string& key,
                                    const std::string& def) {
  if (!IsValidName(section) || !IsValidName(key)) return def;
  std::lock_guard lock(g_profileMutex);
  const ortavia::tools::IniFile ini = ortavia::tools::IniFile::Load(ProfilePath());
  const std::string* value = ini.Find(section, key);
  return value ? *value : def;
}

int GT_WriteUserProfileString(const char* section, const char* key, const char* value) {
  if (!section || !key || !value || !IsValidName(section) || !IsValidName(key)) return 0;
  std::lock_guard lock(g_profileMutex);
  const std::filesystem::path path = ProfilePath();
  const ProfileWriteLock processLock(path);
  ortavia::tools::IniFile ini = ortavia::tools::IniFile::Load(path);
  ini.Set(section, key, value);
  return ini.Save(path) ? 1 : 0;
}

int GT_StringToBoolean(const char* text, int* value) {
  if (!text || !value) return 0;
  const std::string_view t = Trim(text);
  for (const char* yes : {"1", "true", "yes", "on"}) {
    if (EqualNoCase(t, yes)) {
      *value = 1;
      return 1;
    }
  }
  for (const char* no : {"0", "false", "no", "off"}) {
    if (EqualNoCase(t, no)) {
      *value = 0;
      return 1;
    }
  }
  return 0;
}

int GT_StringToDouble(const char* text, double* value) {
  if (!text || !value) return 0;
  std::string_view t = Trim(text);
  if (!t.empty() && t.front() == '+') {
    t.remove_prefix(1);
    if (!t.empty() && (t.front() == '+' || t.front() == '-')) return 0;
  }
  double v = 0.0;
  // from_chars is locale-independent: "1.5" is 1.5 whatever LC_NUMERIC says.
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (ec != std::errc() || end != t.data() + t.size() || !std::isfinite(v)) return 0;
  *value = v;
  return 1;
}
