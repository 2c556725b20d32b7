#include "report/mail_password.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#ifdef ORTAVIA_HAVE_LIBSECRET
#include <gio/gio.h>
#endif

#include "support/test_env.h"

namespace ortavia {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using tools::SecretOutcome;

// A listening socket that never answers: connecting works, the handshake waits for ever.
struct SilentSocket {
  int fd = -1;
  std::string address;
  explicit SilentSocket(const fs::path& path) {
    fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && ::listen(fd, 4) == 0)
      address = "unix:path=" + path.string();
  }
  ~SilentSocket() { ::close(fd); }
};

// A private session bus on which nothing owns the Secret Service's name, and nothing can start it.
struct PrivateBus {
  pid_t pid = 0;
  std::string address;
  explicit PrivateBus(const fs::path& dir) {
    const fs::path config = dir / "bus.conf";
    std::ofstream(config) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                             " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                             "<busconfig><type>session</type><listen>unix:dir=" << dir.string()
                          << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                             "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                             "<allow own=\"*\"/></policy></busconfig>\n";
    const std::string command =
        "dbus-daemon --config-file=" + config.string() + " --fork --print-address=1 --print-pid=1";
    if (FILE* out = ::popen(command.c_str(), "r")) {
      char line[512];
      if (std::fgets(line, sizeof line, out)) address = std::string(line, std::strcspn(line, "\n"));
      if (std::fgets(line, sizeof line, out)) pid = static_cast<pid_t>(std::atol(line));
      ::pclose(out);
    }
  }
  ~PrivateBus() {
    if (pid > 0) ::kill(pid, SIGTERM);
  }
};

#ifdef ORTAVIA_HAVE_LIBSECRET
// Takes the Secret Service's name on the bus and drops every call made to it, as a hung keyring.
struct SilentService {
  GDBusConnection* bus = nullptr;
  bool owner = false;
  explicit SilentService(const std::string& address) {
    const auto flags = GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                            G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
    bus = g_dbus_connection_new_for_address_sync(address.c_str(), flags, nullptr, nullptr, nullptr);
    if (!bus) return;
    g_dbus_connection_add_filter(bus, &Drop, nullptr, nullptr);
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", "org.freedesktop.secrets", 0u), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    if (!reply) return;
    guint32 answer = 0;
    g_variant_get(reply, "(u)", &answer);
    g_variant_unref(reply);
    owner = answer == 1;  // DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER
  }
  ~SilentService() {
    if (bus) g_object_unref(bus);
  }
  static GDBusMessage* Drop(GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer) {
    if (incoming && g_dbus_message_get_message_type(message) == G_DBUS_MESSAGE_TYPE_METHOD_CALL) {
      g_object_unref(message);
      return nullptr;
    }
    return message;
  }
};

// GLib's shared bus connection ends the process when its bus goes away; ours go away.
void KeepProcessWhenBusCloses() {
  if (GDBusConnection* shared = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
    g_dbus_connection_set_exit_on_close(shared, FALSE);
    g_object_unref(shared);
  }
}
#endif

std::string FileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Without a Secret Service that answers, the password goes to the 0600 file, whatever the bus
// does, and no call waits past its deadline.
TEST(MailPassword, FallsBackToTheUserOnlyFileWithoutAnAnsweringSecretService) {
  const fs::path dir = test::MakeTempDir("bus");
  const tools::SecretDeadlines deadlines{300ms, 800ms};
  SilentSocket silent(dir / "silent");
  PrivateBus bus(dir);
  ASSERT_FALSE(silent.address.empty());

  struct Case {
    const char* name;
    std::string address;  // empty: no DBUS_SESSION_BUS_ADDRESS
    SecretOutcome lookup;
  };
  const auto check = [&](const Case& c) {
    SCOPED_TRACE(c.name);
    if (c.address.empty())
      unsetenv("DBUS_SESSION_BUS_ADDRESS");
    else
      setenv("DBUS_SESSION_BUS_ADDRESS", c.address.c_str(), 1);
    fs::remove(MailPasswordPath());

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(tools::LookupDesktopSecret("smtp-password", deadlines).outcome, c.lookup);
    EXPECT_EQ(LoadMailPassword(deadlines), "");
    ASSERT_TRUE(StoreMailPassword("pass word", deadlines));
    EXPECT_EQ(FileText(MailPasswordPath()), "pass word");
    EXPECT_EQ(fs::status(MailPasswordPath()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(LoadMailPassword(deadlines), "pass word");
    // Clearing a service that does not answer fails; the file goes all the same.
    EXPECT_EQ(StoreMailPassword("", deadlines), c.lookup != SecretOutcome::failed);
    EXPECT_FALSE(fs::exists(MailPasswordPath()));
    // Five calls, each bounded by its deadlines: none waited for the bus to answer.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5 * (deadlines.probe + deadlines.call));
  };

  check({"no session bus", "", SecretOutcome::unavailable});
  check({"bus address of a missing socket", "unix:path=" + (dir / "none").string(), SecretOutcome::unavailable});
  check({"bus that never answers", silent.address, SecretOutcome::unavailable});
  if (bus.address.empty()) GTEST_SKIP() << "no dbus-daemon: the cases with a bus are not run";
  check({"bus without a Secret Service", bus.address, SecretOutcome::unavailable});
#ifdef ORTAVIA_HAVE_LIBSECRET
  SilentService service(bus.address);
  ASSERT_TRUE(service.owner);
  check({"Secret Service that never answers", bus.address, SecretOutcome::failed});
  KeepProcessWhenBusCloses();
#endif
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

}  // namespace
}  // namespace ortavia
