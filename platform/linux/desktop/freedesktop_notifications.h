#pragma once
// Desktop notifications through the notification server of the session bus
// (org.freedesktop.Notifications). The server's name is watched: while
// nobody owns it, show() answers false and nothing fails; once a server
// appears and has told its capabilities, it is used. Of the hosts of one
// session, only the one that holds the name org.brackwell.Velquette.Notifier
// shows anything; the others answer false until it goes. When the bus itself
// goes away, it connects again to the same address on a timer.

#include <memory>

#include "platform/desktop_notifications.h"

namespace vq::linux_platform {

// The desktop entry and themed icon the notifications name.
constexpr const char* kDesktopEntryId = "org.brackwell.Velquette";

class FreedesktopNotifications : public DesktopNotifications {
public:
    // Connects to the session bus of the environment; without one it shows
    // nothing. Everything runs on the thread-default main context of the
    // constructor.
    FreedesktopNotifications();
    ~FreedesktopNotifications() override;

    bool show(const std::string& key, const DesktopNotification& notification) override;
    void close(const std::string& key) override;

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace vq::linux_platform
