#include "platform/linux/network/linux_interface_counters.h"

#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>

#include "platform/linux/netlink/rtnetlink.h"
#include "platform/linux/network/linux_network.h"
#include "platform/linux/network/net_dev.h"

namespace vq::linux_platform {

static_assert(kInterfaceUp == IFF_UP && kInterfaceLoopback == IFF_LOOPBACK,
              "the seam's interface flags are Linux's own bits");

std::vector<InterfaceRecord> interfaceRecordsFromLinks(const std::vector<LinkRecord>& links) {
    std::vector<InterfaceRecord> records;
    records.reserve(links.size());
    for (const LinkRecord& link : links)
        records.push_back({link.name, link.flags & (kInterfaceUp | kInterfaceLoopback), link.receivedBytes.value_or(0),
                           link.sentBytes.value_or(0)});
    return records;
}

LinuxInterfaceCounters::LinuxInterfaceCounters(Roots roots) : roots_(std::move(roots)) {}

std::optional<std::vector<InterfaceRecord>> LinuxInterfaceCounters::interfaceList() {
    if (const auto answer = requestDump(RTM_GETLINK, AF_UNSPEC))
        if (const auto links = parseLinkDump(answer->bytes, answer->sequence)) return interfaceRecordsFromLinks(*links);
    return readProcNetDevInterfaces(roots_.proc, roots_.sys);
}

std::shared_ptr<InterfaceCounters> makeLinuxInterfaceCounters(const Roots& roots) {
    return std::make_shared<LinuxInterfaceCounters>(roots);
}

}  // namespace vq::linux_platform
