#pragma once
#include <functional>
#include <string>

#include "platform/subscription.h"

namespace vq {

// Notifications between processes of the same user, addressed by name only.
// Without a transport (no session bus) observing and posting do nothing.
class NotificationCenter {
public:
    virtual ~NotificationCenter() = default;
    virtual Subscription observe(const std::string& name, std::function<void()> handler) = 0;
    // True when the notification was handed to the transport.
    virtual bool post(const std::string& name) = 0;
};

}  // namespace vq
