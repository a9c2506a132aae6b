#pragma once
#include <functional>

#include "platform/subscription.h"

namespace vq {

// Reports that a volume was mounted or unmounted, on the main loop.
class MountNotifier {
public:
    virtual ~MountNotifier() = default;
    // When the platform cannot watch mounts the subscription is empty and the
    // callback never runs.
    virtual Subscription watchMounts(std::function<void()> onMountOrUnmount) = 0;
};

}  // namespace vq
