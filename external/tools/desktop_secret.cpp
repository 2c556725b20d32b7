#include "external/tools/desktop_secret.h"

#include <sys/stat.h>

#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <thread>

#ifdef ORTAVIA_HAVE_LIBSECRET
#include <libsecret/secret.h>
#endif

namespace ortavia::tools {

std::string SessionBusAddress() {
  if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address)
    return address;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (!runtime || *runtime != '/') return {};
  const std::string socket = std::string(runtime) + "/bus";
  struct stat st {};
  if (::stat(socket.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) return {};
  return "unix:path=" + socket;
}

#ifndef ORTAVIA_HAVE_LIBSECRET

SecretResult LookupDesktopSecret(const std::string&, const SecretDeadlines&) { return {}; }
SecretResult StoreDesktopSecret(const std::string&, const std::string&, const std::string&,
                                const SecretDeadlines&) {
  return {};
}
SecretResult ClearDesktopSecret(const std::string&, const SecretDeadlines&) { return {}; }

#else

namespace {

constexpr const char* kServiceName = "org.freedesktop.secrets";

const SecretSchema* Schema() {
  static const SecretSchema schema = [] {
    SecretSchema s{};
    s.name = "com.varnellsoftware.Ortavia.Secret";
    s.flags = SECRET_SCHEMA_NONE;
    s.attributes[0] = {"key", SECRET_SCHEMA_ATTRIBUTE_STRING};
    return s;
  }();
  return &schema;
}

GVariant* AskBus(GDBusConnection* bus, const char* method, GVariant* args, const char* replyType,
                 GCancellable* cancel, int timeoutMs) {
  return g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                     "org.freedesktop.DBus", method, args,
                                     G_VARIANT_TYPE(replyType), G_DBUS_CALL_FLAGS_NONE, timeoutMs,
                                     cancel, nullptr);
}

bool NameOwned(GDBusConnection* bus, GCancellable* cancel, int timeoutMs) {
  GVariant* reply = AskBus(bus, "NameHasOwner", g_variant_new("(s)", kServiceName), "(b)", cancel,
                           timeoutMs);
  if (!reply) return false;
  gboolean owned = FALSE;
  g_variant_get(reply, "(b)", &owned);
  g_variant_unref(reply);
  return owned;
}

bool NameActivatable(GDBusConnection* bus, GCancellable* cancel, int timeoutMs) {
  GVariant* reply = AskBus(bus, "ListActivatableNames", nullptr, "(as)", cancel, timeoutMs);
  if (!reply) return false;
  GVariantIter* names = nullptr;
  g_variant_get(reply, "(as)", &names);
  bool found = false;
  const gchar* name = nullptr;
  while (!found && g_variant_iter_next(names, "&s", &name)) found = g_strcmp0(name, kServiceName) == 0;
  g_variant_iter_free(names);
  g_variant_unref(reply);
  return found;
}

// A connection of our own, so that a bus that does not answer cannot leave GLib's shared one
// half made; libsecret then uses the shared one, which finds the same address.
bool ServiceOnBus(GCancellable* cancel, int timeoutMs) {
  const std::string address = SessionBusAddress();
  if (address.empty()) return false;
  const auto flags = GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
  GDBusConnection* bus =
      g_dbus_connection_new_for_address_sync(address.c_str(), flags, nullptr, cancel, nullptr);
  if (!bus) return false;
  const bool present = NameOwned(bus, cancel, timeoutMs) || NameActivatable(bus, cancel, timeoutMs);
  g_dbus_connection_close_sync(bus, nullptr, nullptr);
  g_object_unref(bus);
  return present;
}

using SecretCall = std::function<SecretResult(GCancellable*)>;

struct Attempt {
  std::promise<bool> probed;
  std::promise<SecretResult> result;
  GCancellable* cancel = g_cancellable_new();
  ~Attempt() { g_object_unref(cancel); }
};

// The probe and the call run on a thread of their own; past either deadline the work is
// cancelled and the thread left to end by itself, holding what it uses.
SecretResult WithDeadlines(SecretCall call, const SecretDeadlines& deadlines) {
  if (SessionBusAddress().empty()) return {};
  auto attempt = std::make_shared<Attempt>();
  std::future<bool> probed = attempt->probed.get_future();
  std::future<SecretResult> result = attempt->result.get_future();
  const int probeMs = static_cast<int>(deadlines.probe.count());
  std::thread([attempt, call = std::move(call), probeMs] {
    const bool present = ServiceOnBus(attempt->cancel, probeMs);
    attempt->probed.set_value(present);
    // A late probe finds the work cancelled: the caller has moved on without it.
    const bool wanted = present && !g_cancellable_is_cancelled(attempt->cancel);
    attempt->result.set_value(wanted ? call(attempt->cancel) : SecretResult{});
  }).detach();
  if (probed.wait_for(deadlines.probe) != std::future_status::ready) {
    g_cancellable_cancel(attempt->cancel);
    return {};
  }
  if (result.wait_for(deadlines.call) != std::future_status::ready) {
    g_cancellable_cancel(attempt->cancel);
    return {SecretOutcome::failed, {}};
  }
  return result.get();
}

SecretResult Finished(GError* error, SecretResult done) {
  if (!error) return done;
  g_error_free(error);
  return {SecretOutcome::failed, {}};
}

}  // namespace

SecretResult LookupDesktopSecret(const std::string& key, const SecretDeadlines& deadlines) {
  return WithDeadlines(
      [key](GCancellable* cancel) {
        GError* error = nullptr;
        gchar* found = secret_password_lookup_sync(Schema(), cancel, &error, "key", key.c_str(), nullptr);
        SecretResult done{SecretOutcome::done, found ? found : ""};
        secret_password_free(found);
        return Finished(error, done);
      },
      deadlines);
}

SecretResult StoreDesktopSecret(const std::string& key, const std::string& label,
                                const std::string& value, const SecretDeadlines& deadlines) {
  return WithDeadlines(
      [key, label, value](GCancellable* cancel) {
        GError* error = nullptr;
        const gboolean stored =
            secret_password_store_sync(Schema(), SECRET_COLLECTION_DEFAULT, label.c_str(),
                                       value.c_str(), cancel, &error, "key", key.c_str(), nullptr);
        if (!stored && !error) return SecretResult{SecretOutcome::failed, {}};
        return Finished(error, {SecretOutcome::done, {}});
      },
      deadlines);
}

SecretResult ClearDesktopSecret(const std::string& key, const SecretDeadlines& deadlines) {
  return WithDeadlines(
      [key](GCancellable* cancel) {
        GError* error = nullptr;
        // False without an error: there was nothing to clear.
        secret_password_clear_sync(Schema(), cancel, &error, "key", key.c_str(), nullptr);
        return Finished(error, {SecretOutcome::done, {}});
      },
      deadlines);
}

#endif

}  // namespace ortavia::tools
