#pragma once
// Notifications shown to the person at the desktop (a notification server
// on Linux). Each is known by a key of the caller's; showing under a key
// that is still on screen replaces that notification in place.

#include <string>

namespace vq {

struct DesktopNotification {
    std::string summary;
    std::string body;  // plain text
    bool critical = false;
};

class DesktopNotifications {
public:
    virtual ~DesktopNotifications() = default;
    // True when handed to a notification server; false while there is none.
    virtual bool show(const std::string& key, const DesktopNotification& notification) = 0;
    // Takes the key's notification off the screen; nothing when none is shown.
    virtual void close(const std::string& key) = 0;
};

}  // namespace vq
