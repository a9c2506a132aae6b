#pragma once
#include <string>

#include "platform/mount_notifier.h"

namespace vq::linux_platform {

// Watches <proc>/self/mountinfo: the kernel flags it with POLLPRI once for
// every change of the mount table, and the poll itself consumes the event.
class MountinfoNotifier : public MountNotifier {
public:
    explicit MountinfoNotifier(std::string procRoot) : procRoot_(std::move(procRoot)) {}
    Subscription watchMounts(std::function<void()> onMountOrUnmount) override;

private:
    std::string procRoot_;
};

}  // namespace vq::linux_platform
