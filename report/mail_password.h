#pragma once
// The SMTP password, kept out of the profile: in a file only the user can read and write (mode
// 0600), $XDG_CONFIG_HOME/Ortavia/smtp-password.
#include <filesystem>
#include <string>

namespace ortavia {

std::filesystem::path MailPasswordPath();
// The stored password; empty when none was stored or the file is readable by others (then it is
// not trusted and not used).
std::string LoadMailPassword();
// Writes the password with mode 0600 (an empty one removes the file); false when it cannot.
bool StoreMailPassword(const std::string& password);

}  // namespace ortavia
