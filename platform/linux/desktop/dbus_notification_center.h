#pragma once
#include <gio/gio.h>

#include <memory>

#include "platform/notification_center.h"

namespace vq {

constexpr const char* kNotificationObjectPath = "/org/brackwell/Notifications";
constexpr const char* kNotificationInterface = "org.brackwell.Notifications";

// Notifications between processes as D-Bus signals on the session bus: the
// signal's member is the notification's name. Without a session bus it
// observes and posts nothing.
class DBusNotificationCenter : public NotificationCenter {
public:
    // Connects to the session bus; `connection` may be given instead (tests).
    DBusNotificationCenter();
    explicit DBusNotificationCenter(GDBusConnection* connection);
    ~DBusNotificationCenter() override;

    bool connected() const { return connection_ != nullptr; }
    Subscription observe(const std::string& name, std::function<void()> handler) override;
    bool post(const std::string& name) override;

private:
    GDBusConnection* connection_ = nullptr;  // owned reference
};

}  // namespace vq
