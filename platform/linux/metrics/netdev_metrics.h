#pragma once
// Per-interface packet counters for node_network_*_total, in the meaning
// /proc/net/dev gives them: "drop" on receive includes the packets the
// device missed (rx_dropped + rx_missed_errors).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/netlink/rtnetlink.h"

namespace vq::linux_platform::metrics {

struct DeviceCounters {
    std::uint64_t bytes = 0;
    std::uint64_t packets = 0;
    std::uint64_t errs = 0;
    std::uint64_t drop = 0;

    bool operator==(const DeviceCounters&) const = default;
};

struct NetDevice {
    std::string name;
    DeviceCounters receive;
    DeviceCounters transmit;

    bool operator==(const NetDevice&) const = default;
};

// One RTM_NEWLINK payload: the name and IFLA_STATS64; nullopt when either is
// missing or cut short.
std::optional<NetDevice> parseLinkCounters(NetlinkBytes payload);

// Every interface line of /proc/net/dev, in file order.
std::vector<NetDevice> parseNetDevCounters(std::string_view text);

// Every interface but "lo": from an RTM_GETLINK dump, or from
// <proc>/net/dev where the dump is refused. nullopt when neither answers.
std::optional<std::vector<NetDevice>> readNetDevices(const std::string& procRoot);

}  // namespace vq::linux_platform::metrics
