#include "platform/linux/desktop/dbus_notification_center.h"

namespace vq {
namespace {

void onSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*, gpointer data) {
    (*static_cast<std::function<void()>*>(data))();
}

void deleteHandler(gpointer data) { delete static_cast<std::function<void()>*>(data); }

}  // namespace

DBusNotificationCenter::DBusNotificationCenter() {
    GError* error = nullptr;
    connection_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (error) g_error_free(error);
    // The shared bus connection ends the process when the bus goes away (a
    // session that restarts its bus, a killed dbus-daemon). The monitor goes
    // on without announcements instead.
    if (connection_) g_dbus_connection_set_exit_on_close(connection_, FALSE);
}

DBusNotificationCenter::DBusNotificationCenter(GDBusConnection* connection)
    : connection_(connection ? G_DBUS_CONNECTION(g_object_ref(connection)) : nullptr) {}

DBusNotificationCenter::~DBusNotificationCenter() {
    if (connection_) g_object_unref(connection_);
}

Subscription DBusNotificationCenter::observe(const std::string& name, std::function<void()> handler) {
    if (!connection_) return {};
    const guint id = g_dbus_connection_signal_subscribe(
        connection_, nullptr, kNotificationInterface, name.c_str(), kNotificationObjectPath, nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE, &onSignal, new std::function<void()>(std::move(handler)), &deleteHandler);
    GDBusConnection* connection = G_DBUS_CONNECTION(g_object_ref(connection_));
    return Subscription([connection, id] {
        g_dbus_connection_signal_unsubscribe(connection, id);
        g_object_unref(connection);
    });
}

bool DBusNotificationCenter::post(const std::string& name) {
    if (!connection_) return false;
    GError* error = nullptr;
    const bool sent = g_dbus_connection_emit_signal(connection_, nullptr, kNotificationObjectPath,
                                                    kNotificationInterface, name.c_str(), nullptr, &error) &&
                      g_dbus_connection_flush_sync(connection_, nullptr, &error);
    if (error) g_error_free(error);
    return sent;
}

}  // namespace vq
