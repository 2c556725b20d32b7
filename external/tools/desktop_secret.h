#pragma once
// Secrets kept by the desktop's Secret Service (GNOME Keyring, KWallet, KeePassXC) through
// libsecret, when the build has it and a service answers on the session bus. Every call gives up
// after a deadline: a missing, dead or silent bus must not hold the caller, and nothing here
// starts a bus of its own.
#include <chrono>
#include <string>

namespace ortavia::tools {

enum class SecretOutcome {
  unavailable,  // no libsecret in the build, no session bus, or no Secret Service on it
  done,         // looked up (value set, maybe empty: none stored), stored or cleared
  failed,       // the service answered with an error, refused, or the deadline passed
};

struct SecretResult {
  SecretOutcome outcome = SecretOutcome::unavailable;
  std::string value;
};

struct SecretDeadlines {
  // Reaching the bus and asking whether the service is there.
  std::chrono::milliseconds probe{1500};
  // The call itself; long enough for the keyring to ask the user to unlock it.
  std::chrono::milliseconds call{60000};
};

// The session bus address: $DBUS_SESSION_BUS_ADDRESS, else $XDG_RUNTIME_DIR/bus when that socket
// exists; empty when neither.
std::string SessionBusAddress();

// `key` names the secret among this program's; `label` is what the keyring shows the user.
SecretResult LookupDesktopSecret(const std::string& key, const SecretDeadlines& deadlines = {});
SecretResult StoreDesktopSecret(const std::string& key, const std::string& label,
                                const std::string& value, const SecretDeadlines& deadlines = {});
SecretResult ClearDesktopSecret(const std::string& key, const SecretDeadlines& deadlines = {});

}  // namespace ortavia::tools
