#include "platform/linux/metrics/netdev_metrics.h"

#include <linux/if_link.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <cstddef>

#include "platform/linux/common/file_reading.h"
#include "platform/linux/common/text_fields.h"

namespace vq::linux_platform::metrics {
namespace {

constexpr std::size_t kLinkHeaderLength = NLMSG_ALIGN(sizeof(ifinfomsg));

template <typename Field>
std::optional<std::uint64_t> stat64(NetlinkBytes payload, Field rtnl_link_stats64::*field) {
    rtnl_link_stats64 probe{};
    const auto offset = std::size_t(reinterpret_cast<const std::byte*>(&(probe.*field)) -
                                    reinterpret_cast<const std::byte*>(&probe));
    return readAt<std::uint64_t>(payload, offset);
}

}  // namespace

std::optional<NetDevice> parseLinkCounters(NetlinkBytes payload) {
    if (payload.size() < kLinkHeaderLength) return std::nullopt;
    const auto attributes = parseAttributes(payload.subspan(kLinkHeaderLength));
    if (!attributes) return std::nullopt;
    NetDevice device;
    bool haveStats = false;
    for (const auto& attribute : *attributes) {
        if (attribute.type == IFLA_IFNAME) device.name = attributeString(attribute.payload);
        if (attribute.type != IFLA_STATS64) continue;
        const auto p = attribute.payload;
        const auto rxBytes = stat64(p, &rtnl_link_stats64::rx_bytes), rxPackets = stat64(p, &rtnl_link_stats64::rx_packets),
                   rxErrors = stat64(p, &rtnl_link_stats64::rx_errors), rxDropped = stat64(p, &rtnl_link_stats64::rx_dropped),
                   rxMissed = stat64(p, &rtnl_link_stats64::rx_missed_errors),
                   txBytes = stat64(p, &rtnl_link_stats64::tx_bytes), txPackets = stat64(p, &rtnl_link_stats64::tx_packets),
                   txErrors = stat64(p, &rtnl_link_stats64::tx_errors), txDropped = stat64(p, &rtnl_link_stats64::tx_dropped);
        if (!rxBytes || !rxPackets || !rxErrors || !rxDropped || !rxMissed || !txBytes || !txPackets || !txErrors ||
            !txDropped)
            return std::nullopt;
        device.receive = {*rxBytes, *rxPackets, *rxErrors, *rxDropped + *rxMissed};
        device.transmit = {*txBytes, *txPackets, *txErrors, *txDropped};
        haveStats = true;
    }
    if (device.name.empty() || !haveStats) return std::nullopt;
    return device;
}

std::vector<NetDevice> parseNetDevCounters(std::string_view text) {
    std::vector<NetDevice> devices;
    while (!text.empty()) {
        const std::string_view line = takeLine(text);
        const auto colon = line.rfind(':');
        if (colon == std::string_view::npos || line.find('|') != std::string_view::npos) continue;
        const auto fields = splitFields(line.substr(colon + 1));
        if (fields.size() < 16) continue;
        std::uint64_t values[16];
        bool complete = true;
        for (std::size_t i = 0; i < 16 && complete; ++i) {
            const auto value = parseInteger<std::uint64_t>(fields[i]);
            complete = value.has_value();
            values[i] = value.value_or(0);
        }
        const auto name = trimBlanks(line.substr(0, colon));
        if (!complete || name.empty()) continue;
        devices.push_back({std::string(name), {values[0], values[1], values[2], values[3]},
                           {values[8], values[9], values[10], values[11]}});
    }
    return devices;
}

std::optional<std::vector<NetDevice>> readNetDevices(const std::string& procRoot) {
    std::vector<NetDevice> devices;
    if (const auto answer = requestDump(RTM_GETLINK, AF_UNSPEC)) {
        const auto walk = walkDump(answer->bytes, answer->sequence);
        for (const auto& message : walk.messages)
            if (message.type == RTM_NEWLINK)
                if (auto device = parseLinkCounters(message.payload)) devices.push_back(std::move(*device));
    } else if (const auto text = readWholeFile(procRoot + "/net/dev")) {
        devices = parseNetDevCounters(*text);
    } else {
        return std::nullopt;
    }
    std::erase_if(devices, [](const NetDevice& device) { return device.name == "lo"; });
    return devices;
}

}  // namespace vq::linux_platform::metrics
