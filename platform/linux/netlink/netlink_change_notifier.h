#pragma once
#include "platform/network_change_notifier.h"

namespace vq::linux_platform {

// Listens on an rtnetlink socket for link, IPv4 address and IPv4 route
// changes, on the thread-default main context.
class NetlinkChangeNotifier : public NetworkChangeNotifier {
public:
    Subscription watchNetworkChanges(std::function<void()> onChange) override;
};

}  // namespace vq::linux_platform
