#include "report/mail_password.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "external/tools/xdg.h"

namespace ortavia {

namespace fs = std::filesystem;

fs::path MailPasswordPath() {
  return tools::XdgFolder("XDG_CONFIG_HOME", ".config") / "Ortavia" / "smtp-password";
}

namespace {

constexpr const char* kSecretKey = "smtp-password";

std::string LoadPasswordFile(const fs::path& path) {
  std::error_code ec;
  const fs::perms perms = fs::status(path, ec).permissions();
  if ((perms & (fs::perms::group_all | fs::perms::others_all)) != fs::perms::none) return {};
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool StorePasswordFile(const fs::path& path, const std::string& password) {
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  // Created 0600 before a byte is written, then renamed over the old file.
  const fs::path temp = path.string() + ".new";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  const bool written = ::fchmod(fd, 0600) == 0 &&
                       ::write(fd, password.data(), password.size()) == static_cast<ssize_t>(password.size()) &&
                       ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed) {
    fs::remove(temp, ec);
    return false;
  }
  fs::rename(temp, path, ec);
  return !ec;
}

}  // namespace

std::string LoadMailPassword(const tools::SecretDeadlines& deadlines) {
  const fs::path path = MailPasswordPath();
  std::error_code ec;
  if (fs::exists(fs::symlink_status(path, ec))) {
    if (!fs::is_regular_file(path, ec)) return {};
    return LoadPasswordFile(path);
  }
  return tools::LookupDesktopSecret(kSecretKey, deadlines).value;
}

bool StoreMailPassword(const std::string& password, const tools::SecretDeadlines& deadlines) {
  const fs::path path = MailPasswordPath();
  std::error_code ec;
  if (password.empty()) {
    const bool cleared = tools::ClearDesktopSecret(kSecretKey, deadlines).outcome !=
                         tools::SecretOutcome::failed;
    fs::remove(path, ec);
    return cleared && !ec;
  }
  const tools::SecretResult kept =
      tools::StoreDesktopSecret(kSecretKey, "Ortavia e-mail password", password, deadlines);
  if (kept.outcome == tools::SecretOutcome::done) {
    fs::remove(path, ec);
    return !ec;
  }
  return StorePasswordFile(path, password);
}

}  // namespace ortavia
