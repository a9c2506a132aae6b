#pragma once
#include <functional>
#include <stdexcept>

#include "platform/subscription.h"

namespace vq {

// Thrown when change notifications cannot be set up at all (no netlink
// socket, for example). Callers may carry on without them.
struct NotifierUnavailable : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Reports changes of the network configuration (links, IPv4 addresses,
// routes) on the main loop. The callback receives no details.
class NetworkChangeNotifier {
public:
    virtual ~NetworkChangeNotifier() = default;
    // Throws NotifierUnavailable when the source cannot be opened.
    virtual Subscription watchNetworkChanges(std::function<void()> onChange) = 0;
};

}  // namespace vq
