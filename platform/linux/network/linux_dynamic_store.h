#pragma once
// The network configuration store, synthesized from the kernel. Every
// non-loopback interface is one service, the default-route interface first
// and then in interface index order. Keys and entries:
//   State:/Network/Global/IPv4               PrimaryInterface (absent without an IPv4 default route)
//   Setup:/Network/Global/IPv4               ServiceOrder
//   Setup:/Network/Service/<id>/Interface    DeviceName, Type, Hardware, SubType (PPPoE only)
//   State:/Network/Service/<id>/IPv4         InterfaceName (interfaces with an IPv4 address)
//   State:/Network/Service/<id>/PPP          InterfaceName (PPPoE only)
//   State:/Network/Interface/<name>/Link     Active
//   State:/Network/Interface/<name>/IPv4     Addresses (interfaces with an IPv4 address)

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/dynamic_store.h"
#include "platform/linux/common/roots.h"
#include "platform/linux/netlink/rtnetlink_messages.h"
#include "platform/linux/network/net_device_facts.h"

namespace vq::linux_platform {

// "linux-if-<name>": stable for as long as the interface keeps its name.
std::string serviceIdFor(const std::string& interfaceName);

// Whether the link carries traffic: operstate up, or operstate unknown (as
// loopback and many virtual drivers report) with IFF_UP and IFF_RUNNING.
bool isLinkActive(const LinkRecord& link);

// "Wi-Fi", "Bridge", "Bond", "VLAN", "Tunnel", "Virtual" or "Ethernet", from
// what the kernel says the device is.
std::string interfaceHardware(const LinkRecord& link, bool wireless);

std::map<std::string, nlohmann::json> synthesizeStore(const std::vector<LinkRecord>& links,
                                                      const std::vector<AddressRecord>& addresses,
                                                      const std::vector<RouteRecord>& routes, const SysFacts& facts);

// Reads the kernel's tables into a snapshot of the store. The snapshot is
// taken again whenever a global key is read (each walk over the services
// starts with one) and when it is older than `maxAge`, so a walk sees one
// consistent state and no answer is more than `maxAge` old.
class LinuxDynamicStore : public DynamicStore {
public:
    explicit LinuxDynamicStore(Roots roots, std::chrono::steady_clock::duration maxAge = std::chrono::seconds(1));
    std::optional<nlohmann::json> copyValue(const std::string& key) override;

private:
    void refresh();

    Roots roots_;
    std::chrono::steady_clock::duration maxAge_;
    std::optional<std::chrono::steady_clock::time_point> takenAt_;
    std::map<std::string, nlohmann::json> values_;
};

}  // namespace vq::linux_platform
