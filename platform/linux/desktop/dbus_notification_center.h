#pragma once
#include <gio/gio.h>

#include <memory>

#include "platform/notification_center.h"

namespace vq {

constexpr const char* kNotificationObjectPath = "/org/brackwell/Notifications";
constexpr const char* kNotificationInterface = "org.brackwell.Notifications";

// Notifications between processes as D-Bus signals on the session bus: the
// signal's member is the notification's name. Without a session bus it
// observes and posts nothing. When the bus goes away (a killed or restarted
// dbus-daemon) it connects again to the same address on a timer, with the
// observations it holds, so subscriptions stay valid across a bus restart.
// Everything runs on the thread-default main context of its constructor.
class DBusNotificationCenter : public NotificationCenter {
public:
    // Connects to the session bus; `connection` may be given instead (tests),
    // which is not replaced once it closes.
    DBusNotificationCenter();
    explicit DBusNotificationCenter(GDBusConnection* connection);
    ~DBusNotificationCenter() override;

    bool connected() const;
    Subscription observe(const std::string& name, std::function<void()> handler) override;
    bool post(const std::string& name) override;

    struct Link;

private:
    std::shared_ptr<Link> link_;
};

}  // namespace vq
