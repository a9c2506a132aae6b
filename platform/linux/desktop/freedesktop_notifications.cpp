#include "platform/linux/desktop/freedesktop_notifications.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <utility>

namespace vq::linux_platform {
namespace {

constexpr const char* kServer = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
// The one host of a session that notifies owns this name: the headless host
// and the widget window's may run side by side, and a second one waits in
// the bus's queue for the name, so that each alert shows once.
constexpr const char* kNotifierName = "org.brackwell.Velquette.Notifier";
constexpr guint kRetryMs = 5000;
constexpr gint kCallTimeoutMs = 5000;

GDBusConnectionFlags busFlags() {
    return GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
}

}  // namespace

struct FreedesktopNotifications::State {
    struct Shown {
        std::uint32_t id = 0;  // 0 while the server has not answered
        bool closeOnceKnown = false;
    };

    GMainContext* context = g_main_context_ref_thread_default();
    std::string address;
    GDBusConnection* connection = nullptr;
    gulong closedHandler = 0;
    guint watch = 0, actionSubscription = 0, retrySource = 0, nameOwnership = 0;
    // Set once the server present has answered its capabilities.
    bool ready = false, actions = false, bodyMarkup = false;
    bool notifier = false;  // this host holds kNotifierName
    std::map<std::string, Shown> shown;
    std::weak_ptr<State> self;

    ~State() {
        if (retrySource) g_source_destroy(g_main_context_find_source_by_id(context, retrySource));
        drop();
        g_main_context_unref(context);
    }

    void adopt(GDBusConnection* fresh) {
        connection = fresh;
        // The connection would end the process with the bus by default.
        g_dbus_connection_set_exit_on_close(connection, FALSE);
        closedHandler = g_signal_connect(
            connection, "closed", G_CALLBACK(+[](GDBusConnection*, gboolean, GError*, gpointer data) {
                auto* state = static_cast<State*>(data);
                state->drop();
                state->scheduleRetry();
            }),
            this);
        g_main_context_push_thread_default(context);
        watch = g_bus_watch_name_on_connection(
            connection, kServer, G_BUS_NAME_WATCHER_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, gpointer data) { static_cast<State*>(data)->appeared(); },
            [](GDBusConnection*, const gchar*, gpointer data) {
                auto* state = static_cast<State*>(data);
                state->ready = false;
                state->shown.clear();
            },
            this, nullptr);
        actionSubscription = g_dbus_connection_signal_subscribe(
            connection, nullptr, kServer, "ActionInvoked", kPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
               gpointer data) { static_cast<State*>(data)->actionInvoked(parameters); },
            this, nullptr);
        nameOwnership = g_bus_own_name_on_connection(
            connection, kNotifierName, G_BUS_NAME_OWNER_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, gpointer data) { static_cast<State*>(data)->notifier = true; },
            [](GDBusConnection*, const gchar*, gpointer data) { static_cast<State*>(data)->notifier = false; },
            this, nullptr);
        g_main_context_pop_thread_default(context);
    }

    void drop() {
        if (!connection) return;
        if (watch) g_bus_unwatch_name(std::exchange(watch, 0));
        if (nameOwnership) g_bus_unown_name(std::exchange(nameOwnership, 0));
        notifier = false;
        if (actionSubscription) g_dbus_connection_signal_unsubscribe(connection, std::exchange(actionSubscription, 0));
        g_signal_handler_disconnect(connection, closedHandler);
        g_clear_object(&connection);
        ready = false;
        shown.clear();
    }

    void scheduleRetry() {
        if (address.empty() || retrySource) return;
        GSource* source = g_timeout_source_new(kRetryMs);
        g_source_set_callback(
            source,
            [](gpointer data) {
                auto* state = static_cast<State*>(data);
                state->retrySource = 0;
                state->connect();
                return G_SOURCE_REMOVE;
            },
            this, nullptr);
        retrySource = g_source_attach(source, context);
        g_source_unref(source);
    }

    void connect() {
        g_main_context_push_thread_default(context);
        g_dbus_connection_new_for_address(
            address.c_str(), busFlags(), nullptr, nullptr,
            [](GObject*, GAsyncResult* result, gpointer data) {
                std::unique_ptr<std::weak_ptr<State>> weak(static_cast<std::weak_ptr<State>*>(data));
                GDBusConnection* fresh = g_dbus_connection_new_for_address_finish(result, nullptr);
                const auto state = weak->lock();
                if (!state) {
                    if (fresh) g_object_unref(fresh);
                } else if (fresh) {
                    state->adopt(fresh);
                } else {
                    state->scheduleRetry();
                }
            },
            new std::weak_ptr<State>(self));
        g_main_context_pop_thread_default(context);
    }

    // The server is used once it has said what it can do: whether it shows
    // actions, and whether it reads the body as markup.
    void appeared() {
        g_dbus_connection_call(
            connection, kServer, kPath, kServer, "GetCapabilities", nullptr, G_VARIANT_TYPE("(as)"),
            G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                std::unique_ptr<std::weak_ptr<State>> weak(static_cast<std::weak_ptr<State>*>(data));
                GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
                const auto state = weak->lock();
                if (state && reply) {
                    GVariantIter* capabilities = nullptr;
                    const gchar* capability = nullptr;
                    g_variant_get(reply, "(as)", &capabilities);
                    while (g_variant_iter_next(capabilities, "&s", &capability)) {
                        state->actions |= std::string_view(capability) == "actions";
                        state->bodyMarkup |= std::string_view(capability) == "body-markup";
                    }
                    g_variant_iter_free(capabilities);
                    state->ready = true;
                }
                if (reply) g_variant_unref(reply);
            },
            new std::weak_ptr<State>(self));
    }

    // The one action offered opens the widget window.
    void actionInvoked(GVariant* parameters) {
        guint32 id = 0;
        const gchar* action = nullptr;
        g_variant_get(parameters, "(u&s)", &id, &action);
        if (std::none_of(shown.begin(), shown.end(), [&](const auto& entry) { return entry.second.id == id; })) return;
        if (GDesktopAppInfo* app = g_desktop_app_info_new((std::string(kDesktopEntryId) + ".desktop").c_str())) {
            g_app_info_launch(G_APP_INFO(app), nullptr, nullptr, nullptr);
            g_object_unref(app);
        }
    }

    void closeId(std::uint32_t id) {
        g_dbus_connection_call(connection, kServer, kPath, kServer, "CloseNotification", g_variant_new("(u)", id),
                               nullptr, G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, nullptr, nullptr);
    }
};

FreedesktopNotifications::FreedesktopNotifications() : state_(std::make_shared<State>()) {
    state_->self = state_;
    if (char* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
        state_->address = address;
        g_free(address);
        if (GDBusConnection* connection =
                g_dbus_connection_new_for_address_sync(state_->address.c_str(), busFlags(), nullptr, nullptr, nullptr))
            state_->adopt(connection);
        else
            state_->scheduleRetry();
    }
}

FreedesktopNotifications::~FreedesktopNotifications() = default;

bool FreedesktopNotifications::show(const std::string& key, const DesktopNotification& notification) {
    State& state = *state_;
    if (!state.connection || !state.ready || !state.notifier) return false;
    const auto found = state.shown.find(key);
    const std::uint32_t replaces = found == state.shown.end() ? 0 : found->second.id;

    // A server that reads markup would take "<" or "&" in a sensor's name as markup.
    gchar* body = state.bodyMarkup ? g_markup_escape_text(notification.body.c_str(), -1)
                                   : g_strdup(notification.body.c_str());
    GVariantBuilder actions;
    g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
    if (state.actions) {
        g_variant_builder_add(&actions, "s", "default");
        g_variant_builder_add(&actions, "s", "Open Velquette");
    }
    GVariantBuilder hints;
    g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&hints, "{sv}", "urgency", g_variant_new_byte(notification.critical ? 2 : 1));
    g_variant_builder_add(&hints, "{sv}", "category", g_variant_new_string("device.error"));
    g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string(kDesktopEntryId));
    if (!notification.critical) g_variant_builder_add(&hints, "{sv}", "transient", g_variant_new_boolean(TRUE));
    GVariant* parameters = g_variant_new("(susssasa{sv}i)", "Velquette", replaces, kDesktopEntryId,
                                         notification.summary.c_str(), body, &actions, &hints, -1);
    g_free(body);

    state.shown[key] = {replaces, false};
    g_dbus_connection_call(
        state.connection, kServer, kPath, kServer, "Notify", parameters, G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<std::pair<std::weak_ptr<State>, std::string>> call(
                static_cast<std::pair<std::weak_ptr<State>, std::string>*>(data));
            GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
            const auto owner = call->first.lock();
            if (owner && reply) {
                const auto entry = owner->shown.find(call->second);
                if (entry != owner->shown.end()) {
                    g_variant_get(reply, "(u)", &entry->second.id);
                    if (entry->second.closeOnceKnown) {
                        owner->closeId(entry->second.id);
                        owner->shown.erase(entry);
                    }
                }
            }
            if (reply) g_variant_unref(reply);
        },
        new std::pair<std::weak_ptr<State>, std::string>(state_, key));
    return true;
}

void FreedesktopNotifications::close(const std::string& key) {
    State& state = *state_;
    const auto found = state.shown.find(key);
    if (found == state.shown.end() || !state.connection) return;
    if (found->second.id == 0) {
        found->second.closeOnceKnown = true;
        return;
    }
    state.closeId(found->second.id);
    state.shown.erase(found);
}

}  // namespace vq::linux_platform
