#pragma once
// The kernel's interfaces with their byte counters: one RTM_GETLINK dump per
// call, or <proc>/net/dev with sysfs flags where the dump is refused.

#include <string>
#include <vector>

#include "platform/interface_counters.h"
#include "platform/linux/common/roots.h"
#include "platform/linux/netlink/rtnetlink_messages.h"

namespace vq::linux_platform {

// Link records as interface records: IFF_UP and IFF_LOOPBACK kept (the seam
// uses the same bits), counters absent from the dump read as 0.
std::vector<InterfaceRecord> interfaceRecordsFromLinks(const std::vector<LinkRecord>& links);

class LinuxInterfaceCounters : public InterfaceCounters {
public:
    explicit LinuxInterfaceCounters(Roots roots);
    std::optional<std::vector<InterfaceRecord>> interfaceList() override;

private:
    Roots roots_;
};

}  // namespace vq::linux_platform
