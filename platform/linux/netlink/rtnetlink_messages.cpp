#include "platform/linux/netlink/rtnetlink_messages.h"

#include <linux/if_addr.h>
#include <linux/if_link.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstddef>

namespace vq::linux_platform {
namespace {

constexpr std::size_t kLinkHeaderLength = NLMSG_ALIGN(sizeof(ifinfomsg));
constexpr std::size_t kAddressHeaderLength = NLMSG_ALIGN(sizeof(ifaddrmsg));
constexpr std::size_t kRouteHeaderLength = NLMSG_ALIGN(sizeof(rtmsg));

// rx_bytes and tx_bytes within struct rtnl_link_stats64 and struct rtnl_link_stats.
constexpr std::size_t kStats64Received = offsetof(rtnl_link_stats64, rx_bytes);
constexpr std::size_t kStats64Sent = offsetof(rtnl_link_stats64, tx_bytes);
constexpr std::size_t kStats32Received = offsetof(rtnl_link_stats, rx_bytes);
constexpr std::size_t kStats32Sent = offsetof(rtnl_link_stats, tx_bytes);

std::optional<std::vector<NetlinkAttribute>> attributesAfter(NetlinkBytes payload, std::size_t headerLength) {
    if (payload.size() < headerLength) return std::nullopt;
    return parseAttributes(payload.subspan(headerLength));
}

std::string dottedQuad(NetlinkBytes address) {
    std::string text;
    for (std::size_t i = 0; i < 4; ++i) {
        if (i) text += '.';
        text += std::to_string(std::to_integer<unsigned>(address[i]));
    }
    return text;
}

// The first next hop that is not dead, from the rtnexthop records of
// RTA_MULTIPATH, into `index`; false when a record runs past the end.
bool findLiveNextHop(NetlinkBytes hops, std::optional<std::int32_t>& index) {
    std::size_t offset = 0;
    while (hops.size() - offset >= sizeof(rtnexthop)) {
        const auto hop = readAt<rtnexthop>(hops, offset);
        if (hop->rtnh_len < sizeof(rtnexthop) || hop->rtnh_len > hops.size() - offset) return false;
        if (!(hop->rtnh_flags & RTNH_F_DEAD)) {
            index = hop->rtnh_ifindex;
            return true;
        }
        offset += std::min<std::size_t>(RTNH_ALIGN(hop->rtnh_len), hops.size() - offset);
    }
    return true;
}

template <typename Record, typename Parse>
std::optional<std::vector<Record>> parseDump(NetlinkBytes bytes, std::uint32_t sequence, std::uint16_t type,
                                             Parse parse) {
    const DumpWalk walk = walkDump(bytes, sequence);
    if (walk.status != DumpStatus::kComplete) return std::nullopt;
    std::vector<Record> records;
    for (const NetlinkMessage& message : walk.messages) {
        if (message.type != type) continue;
        if (auto record = parse(message.payload)) records.push_back(std::move(*record));
    }
    return records;
}

}  // namespace

std::optional<LinkRecord> parseLinkMessage(NetlinkBytes payload) {
    const auto header = readAt<ifinfomsg>(payload, 0);
    const auto attributes = attributesAfter(payload, kLinkHeaderLength);
    if (!header || !attributes) return std::nullopt;
    LinkRecord link;
    link.index = header->ifi_index;
    link.type = header->ifi_type;
    link.flags = header->ifi_flags;
    std::optional<std::uint64_t> received32, sent32;
    for (const NetlinkAttribute& attribute : *attributes) {
        switch (attribute.type) {
            case IFLA_IFNAME: link.name = attributeString(attribute.payload); break;
            case IFLA_OPERSTATE: link.operState = attributeU8(attribute.payload); break;
            case IFLA_STATS64:
                link.receivedBytes = readAt<std::uint64_t>(attribute.payload, kStats64Received);
                link.sentBytes = readAt<std::uint64_t>(attribute.payload, kStats64Sent);
                break;
            case IFLA_STATS:
                received32 = readAt<std::uint32_t>(attribute.payload, kStats32Received);
                sent32 = readAt<std::uint32_t>(attribute.payload, kStats32Sent);
                break;
            case IFLA_LINKINFO: {
                const auto info = parseAttributes(attribute.payload);
                if (!info) return std::nullopt;
                for (const NetlinkAttribute& entry : *info)
                    if (entry.type == IFLA_INFO_KIND) link.kind = attributeString(entry.payload);
                break;
            }
            default: break;
        }
    }
    if (link.name.empty()) return std::nullopt;
    // The 32-bit block wraps at 4 GiB; it serves only kernels without the 64-bit one.
    if (!link.receivedBytes || !link.sentBytes) {
        link.receivedBytes = received32;
        link.sentBytes = sent32;
    }
    return link;
}

std::optional<AddressRecord> parseAddressMessage(NetlinkBytes payload) {
    const auto header = readAt<ifaddrmsg>(payload, 0);
    const auto attributes = attributesAfter(payload, kAddressHeaderLength);
    if (!header || !attributes || header->ifa_family != AF_INET) return std::nullopt;
    std::optional<NetlinkBytes> local, address;
    std::uint32_t flags = header->ifa_flags;
    for (const NetlinkAttribute& attribute : *attributes) {
        if (attribute.type == IFA_LOCAL && attribute.payload.size() >= 4) local = attribute.payload;
        if (attribute.type == IFA_ADDRESS && attribute.payload.size() >= 4) address = attribute.payload;
        if (attribute.type == IFA_FLAGS) flags = attributeU32(attribute.payload).value_or(flags);
    }
    if (!local) local = address;
    if (!local) return std::nullopt;
    return AddressRecord{static_cast<std::int32_t>(header->ifa_index), dottedQuad(*local),
                         (flags & IFA_F_SECONDARY) != 0};
}

std::optional<RouteRecord> parseRouteMessage(NetlinkBytes payload) {
    const auto header = readAt<rtmsg>(payload, 0);
    const auto attributes = attributesAfter(payload, kRouteHeaderLength);
    if (!header || !attributes || header->rtm_family != AF_INET) return std::nullopt;
    RouteRecord route;
    route.table = header->rtm_table;
    route.destinationLength = header->rtm_dst_len;
    route.type = header->rtm_type;
    route.flags = header->rtm_flags;
    for (const NetlinkAttribute& attribute : *attributes) {
        switch (attribute.type) {
            // Table ids above 255 only fit the attribute.
            case RTA_TABLE: route.table = attributeU32(attribute.payload).value_or(route.table); break;
            case RTA_PRIORITY: route.priority = attributeU32(attribute.payload).value_or(0); break;
            case RTA_OIF:
                if (auto index = attributeU32(attribute.payload)) route.outputIndex = static_cast<std::int32_t>(*index);
                break;
            case RTA_MULTIPATH:
                if (!route.outputIndex && !findLiveNextHop(attribute.payload, route.outputIndex)) return std::nullopt;
                break;
            default: break;
        }
    }
    return route;
}

std::optional<std::vector<LinkRecord>> parseLinkDump(NetlinkBytes bytes, std::uint32_t sequence) {
    auto links = parseDump<LinkRecord>(bytes, sequence, RTM_NEWLINK, parseLinkMessage);
    if (links)
        std::stable_sort(links->begin(), links->end(),
                         [](const LinkRecord& a, const LinkRecord& b) { return a.index < b.index; });
    return links;
}

std::optional<std::vector<AddressRecord>> parseAddressDump(NetlinkBytes bytes, std::uint32_t sequence) {
    return parseDump<AddressRecord>(bytes, sequence, RTM_NEWADDR, parseAddressMessage);
}

std::optional<std::vector<RouteRecord>> parseRouteDump(NetlinkBytes bytes, std::uint32_t sequence) {
    return parseDump<RouteRecord>(bytes, sequence, RTM_NEWROUTE, parseRouteMessage);
}

std::optional<std::int32_t> defaultRouteInterface(const std::vector<RouteRecord>& routes) {
    const RouteRecord* best = nullptr;
    for (const RouteRecord& route : routes) {
        if (route.table != RT_TABLE_MAIN || route.type != RTN_UNICAST || route.destinationLength != 0) continue;
        if ((route.flags & RTNH_F_DEAD) || !route.outputIndex) continue;
        if (!best || route.priority < best->priority) best = &route;
    }
    if (!best) return std::nullopt;
    return best->outputIndex;
}

}  // namespace vq::linux_platform
