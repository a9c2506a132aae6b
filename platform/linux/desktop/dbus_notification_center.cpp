#include "platform/linux/desktop/dbus_notification_center.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <utility>

namespace vq {

using Handler = std::shared_ptr<std::function<void()>>;

struct DBusNotificationCenter::Link {
    struct Observation {
        std::string name;
        Handler handler;
        guint id = 0;  // the subscription on the current connection, 0 while disconnected
    };

    // The first retry comes a second after the bus goes away; each failed
    // one doubles the wait, up to eight seconds.
    static constexpr guint kFirstRetryMs = 1000, kLongestRetryMs = 8000;

    GMainContext* context = g_main_context_ref_thread_default();
    std::string address;                    // empty: nowhere to connect again
    GDBusConnection* connection = nullptr;  // owned reference
    gulong closedHandler = 0;
    guint retrySource = 0;
    guint retryDelayMs = kFirstRetryMs;
    GCancellable* connecting = nullptr;  // the attempt in flight
    std::map<std::uint64_t, Observation> observations;
    std::uint64_t nextKey = 1;
    std::weak_ptr<Link> self;

    ~Link() {
        if (retrySource) g_source_destroy(g_main_context_find_source_by_id(context, retrySource));
        if (connecting) g_cancellable_cancel(connecting), g_object_unref(connecting);
        drop();
        g_main_context_unref(context);
    }

    void subscribe(Observation& observation) {
        // Handlers run on our context whatever the caller's thread-default is.
        g_main_context_push_thread_default(context);
        observation.id = g_dbus_connection_signal_subscribe(
            connection, nullptr, kNotificationInterface, observation.name.c_str(), kNotificationObjectPath, nullptr,
            G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*, gpointer data) {
                (**static_cast<Handler*>(data))();
            },
            new Handler(observation.handler), [](gpointer data) { delete static_cast<Handler*>(data); });
        g_main_context_pop_thread_default(context);
    }

    void adopt(GDBusConnection* fresh) {
        connection = fresh;
        // A connection to the bus ends the process when the bus goes away by
        // default; the monitor goes on and connects again instead.
        g_dbus_connection_set_exit_on_close(connection, FALSE);
        // "closed" comes on the context the connection was made on: ours.
        closedHandler = g_signal_connect(
            connection, "closed",
            G_CALLBACK(+[](GDBusConnection*, gboolean, GError*, gpointer data) { static_cast<Link*>(data)->closed(); }),
            this);
        for (auto& [key, observation] : observations) subscribe(observation);
    }

    void drop() {
        if (!connection) return;
        g_signal_handler_disconnect(connection, closedHandler);
        for (auto& [key, observation] : observations)
            if (observation.id) g_dbus_connection_signal_unsubscribe(connection, std::exchange(observation.id, 0));
        g_clear_object(&connection);
    }

    void closed() {
        drop();
        retryDelayMs = kFirstRetryMs;
        scheduleRetry();
    }

    void scheduleRetry() {
        if (address.empty() || retrySource) return;
        GSource* source = g_timeout_source_new(retryDelayMs);
        g_source_set_callback(
            source,
            [](gpointer data) {
                auto* link = static_cast<Link*>(data);
                link->retrySource = 0;
                link->connect();
                return G_SOURCE_REMOVE;
            },
            this, nullptr);
        retrySource = g_source_attach(source, context);
        g_source_unref(source);
    }

    // Without blocking the loop: a bus that accepts and never answers only
    // holds up this attempt.
    void connect() {
        connecting = g_cancellable_new();
        g_main_context_push_thread_default(context);
        g_dbus_connection_new_for_address(
            address.c_str(),
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                 G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, connecting,
            [](GObject*, GAsyncResult* result, gpointer data) {
                std::unique_ptr<std::weak_ptr<Link>> weak(static_cast<std::weak_ptr<Link>*>(data));
                GError* error = nullptr;
                GDBusConnection* fresh = g_dbus_connection_new_for_address_finish(result, &error);
                const auto link = weak->lock();
                if (!link) {
                    if (fresh) g_object_unref(fresh);
                } else {
                    g_clear_object(&link->connecting);
                    if (fresh) {
                        link->retryDelayMs = kFirstRetryMs;
                        link->adopt(fresh);
                    } else {
                        link->retryDelayMs = std::min(link->retryDelayMs * 2, kLongestRetryMs);
                        link->scheduleRetry();
                    }
                }
                if (error) g_error_free(error);
            },
            new std::weak_ptr<Link>(self));
        g_main_context_pop_thread_default(context);
    }
};

DBusNotificationCenter::DBusNotificationCenter() : link_(std::make_shared<Link>()) {
    link_->self = link_;
    GError* error = nullptr;
    if (char* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error)) {
        link_->address = address;
        g_free(address);
        // The first connection is made at once, so that observations made
        // right after start are on the bus; later ones are made on a timer.
        if (GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
                link_->address.c_str(),
                GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                     G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                nullptr, nullptr, nullptr))
            link_->adopt(connection);
        else
            link_->scheduleRetry();
    }
    if (error) g_error_free(error);
}

DBusNotificationCenter::DBusNotificationCenter(GDBusConnection* connection) : link_(std::make_shared<Link>()) {
    link_->self = link_;
    if (connection) link_->adopt(G_DBUS_CONNECTION(g_object_ref(connection)));
}

DBusNotificationCenter::~DBusNotificationCenter() = default;

bool DBusNotificationCenter::connected() const { return link_->connection != nullptr; }

Subscription DBusNotificationCenter::observe(const std::string& name, std::function<void()> handler) {
    // With nowhere to connect, there is nothing to observe, now or later.
    if (!link_->connection && link_->address.empty()) return {};
    const std::uint64_t key = link_->nextKey++;
    auto& observation = link_->observations[key] = {name, std::make_shared<std::function<void()>>(std::move(handler))};
    if (link_->connection) link_->subscribe(observation);
    return Subscription([weak = std::weak_ptr<Link>(link_), key] {
        const auto link = weak.lock();
        if (!link) return;
        const auto found = link->observations.find(key);
        if (found == link->observations.end()) return;
        if (found->second.id) g_dbus_connection_signal_unsubscribe(link->connection, found->second.id);
        link->observations.erase(found);
    });
}

bool DBusNotificationCenter::post(const std::string& name) {
    GDBusConnection* connection = link_->connection;
    if (!connection) return false;
    GError* error = nullptr;
    const bool sent = g_dbus_connection_emit_signal(connection, nullptr, kNotificationObjectPath,
                                                    kNotificationInterface, name.c_str(), nullptr, &error) &&
                      g_dbus_connection_flush_sync(connection, nullptr, &error);
    if (error) g_error_free(error);
    return sent;
}

}  // namespace vq
