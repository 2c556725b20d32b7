#pragma once
// The SMTP password, kept out of the profile: in the desktop's Secret Service where one answers,
// else in a file only the user can read and write (mode 0600), $XDG_CONFIG_HOME/Ortavia/smtp-password.
// A store into the Secret Service removes the file, so a file present is always the newer copy.
#include <filesystem>
#include <string>

#include "external/tools/desktop_secret.h"

namespace ortavia {

std::filesystem::path MailPasswordPath();
// The stored password: the file's when there is one, else the Secret Service's; empty when none
// was stored or the file is readable by others (then it is not trusted and not used).
std::string LoadMailPassword(const tools::SecretDeadlines& deadlines = {});
// Stores the password (an empty one removes it from both places); false when it cannot.
bool StoreMailPassword(const std::string& password, const tools::SecretDeadlines& deadlines = {});

}  // namespace ortavia
