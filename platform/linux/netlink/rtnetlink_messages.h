#pragma once
// The three rtnetlink tables the network readers use, parsed from dump
// answers: links (RTM_NEWLINK), IPv4 addresses (RTM_NEWADDR) and IPv4 routes
// (RTM_NEWROUTE). A message that is cut short or whose attributes do not fit
// is left out; the rest of the dump still counts.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/netlink/rtnetlink.h"

namespace vq::linux_platform {

struct LinkRecord {
    std::int32_t index = 0;        // ifi_index
    std::uint16_t type = 0;        // ifi_type, an ARPHRD_* value
    std::uint32_t flags = 0;       // ifi_flags, IFF_* bits
    std::string name;              // IFLA_IFNAME
    std::optional<std::uint8_t> operState;  // IFLA_OPERSTATE, an IF_OPER_* value
    std::string kind;              // IFLA_INFO_KIND of IFLA_LINKINFO; empty for plain hardware
    // IFLA_STATS64, else the 32-bit IFLA_STATS; nullopt when neither came.
    std::optional<std::uint64_t> receivedBytes;
    std::optional<std::uint64_t> sentBytes;

    bool operator==(const LinkRecord&) const = default;
};

struct AddressRecord {
    std::int32_t index = 0;  // ifa_index
    std::string address;     // dotted quad of IFA_LOCAL (IFA_ADDRESS is the peer on point-to-point links)
    bool secondary = false;  // IFA_F_SECONDARY

    bool operator==(const AddressRecord&) const = default;
};

struct RouteRecord {
    std::uint32_t table = 0;  // RTA_TABLE, else rtm_table
    std::uint8_t destinationLength = 0;
    std::uint8_t type = 0;    // RTN_*
    std::uint32_t flags = 0;  // rtm_flags, RTNH_F_* bits
    // RTA_OIF, or the first live next hop of RTA_MULTIPATH.
    std::optional<std::int32_t> outputIndex;
    std::uint32_t priority = 0;  // RTA_PRIORITY, the metric; 0 when absent

    bool operator==(const RouteRecord&) const = default;
};

// Payload parsers: the bytes after the netlink header of one message.
std::optional<LinkRecord> parseLinkMessage(NetlinkBytes payload);
// Only AF_INET messages are kept.
std::optional<AddressRecord> parseAddressMessage(NetlinkBytes payload);
std::optional<RouteRecord> parseRouteMessage(NetlinkBytes payload);

// Whole dump answers. nullopt when the dump did not complete (see walkDump).
// Links come sorted by interface index; addresses and routes in kernel order.
std::optional<std::vector<LinkRecord>> parseLinkDump(NetlinkBytes bytes, std::uint32_t sequence);
std::optional<std::vector<AddressRecord>> parseAddressDump(NetlinkBytes bytes, std::uint32_t sequence);
std::optional<std::vector<RouteRecord>> parseRouteDump(NetlinkBytes bytes, std::uint32_t sequence);

// The interface of the IPv4 default route of the main table: unicast, to
// 0.0.0.0/0, not dead; the lowest metric wins, the kernel's first on a tie.
std::optional<std::int32_t> defaultRouteInterface(const std::vector<RouteRecord>& routes);

}  // namespace vq::linux_platform
