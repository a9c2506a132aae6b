#include "platform/linux/network/linux_dynamic_store.h"

#include <linux/if.h>
#include <linux/if_arp.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <string_view>

#include "platform/linux/netlink/rtnetlink.h"
#include "platform/linux/network/linux_network.h"

namespace vq::linux_platform {
namespace {

using nlohmann::json;

// Link kinds (IFLA_INFO_KIND) that carry packets inside other packets.
constexpr std::array<std::string_view, 19> kTunnelKinds = {
    "ipip", "ip6tnl", "sit",       "gre",   "gretap", "ip6gre",  "ip6gretap", "erspan",  "ip6erspan", "vti",
    "vti6", "xfrm",   "wireguard", "vxlan", "geneve", "bareudp", "gtp",       "l2tpeth", "amt",
};

// Device types of tunnels that do not report a kind. ARPHRD_NONE is what
// tun devices and WireGuard use: no link-layer header at all.
constexpr std::array<std::uint16_t, 6> kTunnelTypes = {
    ARPHRD_TUNNEL, ARPHRD_TUNNEL6, ARPHRD_SIT, ARPHRD_IPGRE, ARPHRD_IP6GRE, ARPHRD_NONE,
};

template <typename Container, typename Value>
bool contains(const Container& container, const Value& value) {
    return std::find(container.begin(), container.end(), value) != container.end();
}

bool isLoopback(const LinkRecord& link) { return (link.flags & IFF_LOOPBACK) || link.type == ARPHRD_LOOPBACK; }

// A PPP device's channel is not visible from outside, so which PPP link
// rides on which PPPoE session cannot be told. Every PPP link counts as
// PPPoE when there are at least as many PPPoE sessions over present Ethernet
// links as there are PPP links; otherwise none does.
bool pppLinksArePppoe(const std::vector<LinkRecord>& links, const std::vector<std::string>& pppoeDevices) {
    const auto pppLinks = std::count_if(links.begin(), links.end(),
                                        [](const LinkRecord& link) { return link.type == ARPHRD_PPP; });
    const auto sessions = std::count_if(pppoeDevices.begin(), pppoeDevices.end(), [&](const std::string& device) {
        return std::any_of(links.begin(), links.end(), [&](const LinkRecord& link) {
            return link.name == device && link.type == ARPHRD_ETHER;
        });
    });
    return pppLinks > 0 && sessions >= pppLinks;
}

// The interface's IPv4 addresses: primaries first, each group in the kernel's order.
std::map<std::int32_t, std::vector<std::string>> addressesByIndex(const std::vector<AddressRecord>& addresses) {
    std::map<std::int32_t, std::vector<std::string>> byIndex;
    for (const bool secondary : {false, true})
        for (const AddressRecord& address : addresses)
            if (address.secondary == secondary) byIndex[address.index].push_back(address.address);
    return byIndex;
}

}  // namespace

std::string serviceIdFor(const std::string& interfaceName) { return "linux-if-" + interfaceName; }

bool isLinkActive(const LinkRecord& link) {
    const bool up = link.flags & IFF_UP;
    const bool running = link.flags & IFF_RUNNING;
    if (!link.operState) return up && running;  // kernels before 2.6.17 send no operstate
    switch (*link.operState) {
        case IF_OPER_UP: return up;
        case IF_OPER_UNKNOWN: return up && running;
        default: return false;
    }
}

std::string interfaceHardware(const LinkRecord& link, bool wireless) {
    // Wi-Fi devices report ARPHRD_ETHER and no kind; only sysfs tells them apart.
    if (wireless || link.type == ARPHRD_IEEE80211 || link.type == ARPHRD_IEEE80211_PRISM ||
        link.type == ARPHRD_IEEE80211_RADIOTAP)
        return "Wi-Fi";
    if (link.type == ARPHRD_PPP) return "Tunnel";
    if (link.kind == "bridge") return "Bridge";
    if (link.kind == "bond" || link.kind == "team") return "Bond";
    if (link.kind == "vlan") return "VLAN";
    // tun and tap share the kind; tap devices carry Ethernet frames to a program.
    if (link.kind == "tun") return link.type == ARPHRD_ETHER ? "Virtual" : "Tunnel";
    if (contains(kTunnelKinds, link.kind)) return "Tunnel";
    if (!link.kind.empty()) return "Virtual";
    if (contains(kTunnelTypes, link.type)) return "Tunnel";
    return "Ethernet";
}

std::map<std::string, json> synthesizeStore(const std::vector<LinkRecord>& unorderedLinks,
                                            const std::vector<AddressRecord>& addresses,
                                            const std::vector<RouteRecord>& routes, const SysFacts& facts) {
    std::vector<LinkRecord> links = unorderedLinks;
    std::stable_sort(links.begin(), links.end(),
                     [](const LinkRecord& a, const LinkRecord& b) { return a.index < b.index; });
    const auto addressesOf = addressesByIndex(addresses);
    const bool pppoe = pppLinksArePppoe(links, facts.pppoeDevices);
    std::map<std::string, json> store;

    const LinkRecord* primary = nullptr;
    if (const auto index = defaultRouteInterface(routes)) {
        const auto found = std::find_if(links.begin(), links.end(), [&](const LinkRecord& l) { return l.index == *index; });
        if (found != links.end()) primary = &*found;
    }
    if (primary) store["State:/Network/Global/IPv4"] = {{"PrimaryInterface", primary->name}};

    std::vector<const LinkRecord*> serviceLinks;
    if (primary && !isLoopback(*primary)) serviceLinks.push_back(primary);
    for (const LinkRecord& link : links) {
        const auto found = addressesOf.find(link.index);
        const bool hasIPv4 = found != addressesOf.end();
        store["State:/Network/Interface/" + link.name + "/Link"] = {{"Active", isLinkActive(link) ? 1 : 0}};
        if (hasIPv4) store["State:/Network/Interface/" + link.name + "/IPv4"] = {{"Addresses", found->second}};
        if (!isLoopback(link) && &link != primary) serviceLinks.push_back(&link);
    }

    json serviceOrder = json::array();
    for (const LinkRecord* link : serviceLinks) {
        const std::string id = serviceIdFor(link->name);
        const bool isPppoe = pppoe && link->type == ARPHRD_PPP;
        const auto sys = facts.interfaces.find(link->name);
        json entity = {{"DeviceName", link->name},
                       {"Type", link->type == ARPHRD_PPP ? "PPP" : "Ethernet"},
                       {"Hardware", isPppoe ? "Ethernet"
                                            : interfaceHardware(*link, sys != facts.interfaces.end() && sys->second.wireless)}};
        if (isPppoe) {
            entity["SubType"] = "PPPoE";
            store["State:/Network/Service/" + id + "/PPP"] = {{"InterfaceName", link->name}};
        }
        store["Setup:/Network/Service/" + id + "/Interface"] = std::move(entity);
        if (addressesOf.contains(link->index))
            store["State:/Network/Service/" + id + "/IPv4"] = {{"InterfaceName", link->name}};
        serviceOrder.push_back(id);
    }
    store["Setup:/Network/Global/IPv4"] = {{"ServiceOrder", std::move(serviceOrder)}};
    return store;
}

LinuxDynamicStore::LinuxDynamicStore(Roots roots, std::chrono::steady_clock::duration maxAge)
    : roots_(std::move(roots)), maxAge_(maxAge) {}

std::optional<json> LinuxDynamicStore::copyValue(const std::string& key) {
    const auto now = std::chrono::steady_clock::now();
    const bool global = key.starts_with("State:/Network/Global/") || key.starts_with("Setup:/Network/Global/");
    if (global || !takenAt_ || now - *takenAt_ > maxAge_) {
        refresh();
        takenAt_ = now;
    }
    const auto found = values_.find(key);
    if (found == values_.end()) return std::nullopt;
    return found->second;
}

void LinuxDynamicStore::refresh() {
    values_.clear();
    const auto linkAnswer = requestDump(RTM_GETLINK, AF_UNSPEC);
    const auto links = linkAnswer ? parseLinkDump(linkAnswer->bytes, linkAnswer->sequence) : std::nullopt;
    if (!links) return;  // without links there is nothing to describe
    // Without addresses no interface qualifies, and without routes there is
    // no primary interface; either is still a truthful answer.
    const auto addressAnswer = requestDump(RTM_GETADDR, AF_INET);
    const auto addresses = addressAnswer ? parseAddressDump(addressAnswer->bytes, addressAnswer->sequence) : std::nullopt;
    const auto routeAnswer = requestDump(RTM_GETROUTE, AF_INET);
    const auto routes = routeAnswer ? parseRouteDump(routeAnswer->bytes, routeAnswer->sequence) : std::nullopt;

    SysFacts facts;
    bool anyPpp = false;
    for (const LinkRecord& link : *links) {
        anyPpp = anyPpp || link.type == ARPHRD_PPP;
        // Only plain Ethernet-type devices can be wireless ones in disguise.
        if (link.type != ARPHRD_ETHER || !link.kind.empty()) continue;
        if (auto sys = readInterfaceSysFacts(roots_.sys, link.name, link.index)) facts.interfaces[link.name] = *sys;
    }
    if (anyPpp) facts.pppoeDevices = readPppoeSessions(roots_.proc);
    values_ = synthesizeStore(*links, addresses.value_or(std::vector<AddressRecord>{}),
                              routes.value_or(std::vector<RouteRecord>{}), facts);
}

std::shared_ptr<DynamicStore> makeLinuxDynamicStore(const Roots& roots) {
    return std::make_shared<LinuxDynamicStore>(roots);
}

}  // namespace vq::linux_platform
