// The configuration store synthesized from link, address and route tables:
// which services exist and in what order, and what each entry says.
#include <gtest/gtest.h>
#include <linux/if.h>
#include <linux/if_arp.h>
#include <linux/rtnetlink.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/linux/linux_dynamic_store.h"

namespace vq::linux_platform {
namespace {

using nlohmann::json;
using Store = std::map<std::string, json>;

constexpr std::uint32_t kUpRunning = IFF_UP | IFF_RUNNING;

LinkRecord makeLink(std::int32_t index, std::string name, std::uint32_t flags = kUpRunning,
                    std::optional<std::uint8_t> operState = IF_OPER_UP, std::string kind = "",
                    std::uint16_t type = ARPHRD_ETHER) {
    return LinkRecord{index, type, flags, std::move(name), operState, std::move(kind), 0, 0};
}
LinkRecord loopback() { return makeLink(1, "lo", kUpRunning | IFF_LOOPBACK, IF_OPER_UNKNOWN, "", ARPHRD_LOOPBACK); }
RouteRecord defaultVia(std::int32_t index, std::uint32_t metric = 0) {
    return RouteRecord{RT_TABLE_MAIN, 0, RTN_UNICAST, 0, index, metric};
}

TEST(LinkActive, RunningOrOperationallyUp) {
    struct Case {
        std::uint32_t flags;
        std::optional<std::uint8_t> operState;
        bool active;
    } cases[] = {
        {kUpRunning, IF_OPER_UP, true},
        {kUpRunning, IF_OPER_UNKNOWN, true},  // loopback, tun and many virtual drivers
        {IFF_UP, IF_OPER_UNKNOWN, false},
        {IFF_UP, IF_OPER_DOWN, false},         // no carrier
        {kUpRunning, IF_OPER_DORMANT, false},  // Wi-Fi not yet associated
        {kUpRunning, IF_OPER_LOWERLAYERDOWN, false},
        {0, IF_OPER_DOWN, false},
        {0, IF_OPER_UP, false},
        {kUpRunning, std::nullopt, true},
        {IFF_UP, std::nullopt, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isLinkActive(makeLink(2, "eth0", c.flags, c.operState)), c.active)
            << "flags " << c.flags << " operstate " << (c.operState ? int(*c.operState) : -1);
}

TEST(InterfaceHardware, FromWhatTheKernelSaysTheDeviceIs) {
    struct Case {
        std::uint16_t type;
        const char* kind;
        bool wireless;
        const char* hardware;
    } cases[] = {
        {ARPHRD_ETHER, "", false, "Ethernet"},
        {ARPHRD_ETHER, "", true, "Wi-Fi"},
        {ARPHRD_IEEE80211_RADIOTAP, "", false, "Wi-Fi"},  // a monitor interface
        {ARPHRD_ETHER, "bridge", false, "Bridge"},
        {ARPHRD_ETHER, "bond", false, "Bond"},
        {ARPHRD_ETHER, "team", false, "Bond"},
        {ARPHRD_ETHER, "vlan", false, "VLAN"},
        {ARPHRD_NONE, "wireguard", false, "Tunnel"},
        {ARPHRD_ETHER, "vxlan", false, "Tunnel"},
        {ARPHRD_IPGRE, "gre", false, "Tunnel"},
        {ARPHRD_SIT, "", false, "Tunnel"},
        {ARPHRD_NONE, "tun", false, "Tunnel"},
        {ARPHRD_ETHER, "tun", false, "Virtual"},  // a tap device
        {ARPHRD_PPP, "ppp", false, "Tunnel"},
        {ARPHRD_ETHER, "veth", false, "Virtual"},
        {ARPHRD_ETHER, "macvlan", false, "Virtual"},
        {ARPHRD_ETHER, "dummy", false, "Virtual"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(interfaceHardware(makeLink(2, "x", kUpRunning, IF_OPER_UP, c.kind, c.type), c.wireless), c.hardware)
            << "type " << c.type << " kind '" << c.kind << "' wireless " << c.wireless;
}

TEST(SynthesizeStore, ALaptopWithWiFiAsPrimaryAndCableUnplugged) {
    const std::vector<LinkRecord> links = {loopback(), makeLink(2, "eth0", IFF_UP, IF_OPER_DOWN),
                                           makeLink(3, "wlan0"), makeLink(4, "docker0", IFF_UP, IF_OPER_DOWN, "bridge")};
    const std::vector<AddressRecord> addresses = {
        {1, "127.0.0.1", false}, {3, "10.0.0.23", false}, {4, "172.17.0.1", false}};
    SysFacts facts;
    facts.interfaces["wlan0"].wireless = true;
    facts.interfaces["eth0"].wireless = false;

    const Store expected = {
        {"State:/Network/Global/IPv4", {{"PrimaryInterface", "wlan0"}}},
        {"Setup:/Network/Global/IPv4",
         {{"ServiceOrder", {"linux-if-wlan0", "linux-if-eth0", "linux-if-docker0"}}}},
        {"Setup:/Network/Service/linux-if-wlan0/Interface",
         {{"DeviceName", "wlan0"}, {"Type", "Ethernet"}, {"Hardware", "Wi-Fi"}}},
        {"Setup:/Network/Service/linux-if-eth0/Interface",
         {{"DeviceName", "eth0"}, {"Type", "Ethernet"}, {"Hardware", "Ethernet"}}},
        {"Setup:/Network/Service/linux-if-docker0/Interface",
         {{"DeviceName", "docker0"}, {"Type", "Ethernet"}, {"Hardware", "Bridge"}}},
        {"State:/Network/Service/linux-if-wlan0/IPv4", {{"InterfaceName", "wlan0"}}},
        {"State:/Network/Service/linux-if-docker0/IPv4", {{"InterfaceName", "docker0"}}},
        {"State:/Network/Interface/lo/Link", {{"Active", 1}}},
        {"State:/Network/Interface/eth0/Link", {{"Active", 0}}},
        {"State:/Network/Interface/wlan0/Link", {{"Active", 1}}},
        {"State:/Network/Interface/docker0/Link", {{"Active", 0}}},
        {"State:/Network/Interface/lo/IPv4", {{"Addresses", {"127.0.0.1"}}}},
        {"State:/Network/Interface/wlan0/IPv4", {{"Addresses", {"10.0.0.23"}}}},
        {"State:/Network/Interface/docker0/IPv4", {{"Addresses", {"172.17.0.1"}}}},
    };
    EXPECT_EQ(synthesizeStore(links, addresses, {defaultVia(3, 600)}, facts), expected);
}

std::vector<std::string> serviceOrder(const Store& store) {
    return store.at("Setup:/Network/Global/IPv4").at("ServiceOrder").get<std::vector<std::string>>();
}

TEST(SynthesizeStore, ServiceOrderAndPrimaryInterface) {
    const std::vector<LinkRecord> links = {makeLink(7, "eth2"), loopback(), makeLink(2, "eth0"), makeLink(5, "eth1")};
    struct Case {
        const char* what;
        std::vector<RouteRecord> routes;
        std::vector<std::string> order;
        std::optional<std::string> primary;
    } cases[] = {
        {"no default route: index order", {}, {"linux-if-eth0", "linux-if-eth1", "linux-if-eth2"}, std::nullopt},
        {"default route first", {defaultVia(5)}, {"linux-if-eth1", "linux-if-eth0", "linux-if-eth2"}, "eth1"},
        {"lowest metric", {defaultVia(2, 200), defaultVia(7, 100)}, {"linux-if-eth2", "linux-if-eth0", "linux-if-eth1"},
         "eth2"},
        {"route over an interface that is gone", {defaultVia(42)}, {"linux-if-eth0", "linux-if-eth1", "linux-if-eth2"},
         std::nullopt},
        {"route over loopback: named, but no service", {defaultVia(1)},
         {"linux-if-eth0", "linux-if-eth1", "linux-if-eth2"}, "lo"},
    };
    for (const Case& c : cases) {
        const Store store = synthesizeStore(links, {}, c.routes, {});
        EXPECT_EQ(serviceOrder(store), c.order) << c.what;
        const auto global = store.find("State:/Network/Global/IPv4");
        EXPECT_EQ(global != store.end() ? std::optional(global->second.at("PrimaryInterface").get<std::string>())
                                        : std::nullopt,
                  c.primary)
            << c.what;
    }
    EXPECT_EQ(serviceOrder(synthesizeStore({}, {}, {}, {})), std::vector<std::string>{});
    EXPECT_EQ(synthesizeStore({loopback()}, {}, {}, {}).size(), 2u) << "ServiceOrder and lo's Link only";
}

TEST(SynthesizeStore, AddressesPrimaryFirstThenKernelOrder) {
    const std::vector<AddressRecord> addresses = {
        {2, "192.0.2.50", true}, {3, "198.51.100.1", false}, {2, "192.0.2.10", false}, {2, "192.0.2.40", true},
        {2, "203.0.113.9", false}};
    const Store store = synthesizeStore({makeLink(2, "eth0"), makeLink(3, "eth1")}, addresses, {}, {});
    EXPECT_EQ(store.at("State:/Network/Interface/eth0/IPv4").at("Addresses"),
              json({"192.0.2.10", "203.0.113.9", "192.0.2.50", "192.0.2.40"}));
    EXPECT_EQ(store.at("State:/Network/Interface/eth1/IPv4").at("Addresses"), json({"198.51.100.1"}));
}

TEST(SynthesizeStore, PppLinksArePppoeOnlyWhenEverySessionIsAccountedFor) {
    const LinkRecord eth0 = makeLink(2, "eth0");
    const LinkRecord ppp0 = makeLink(3, "ppp0", kUpRunning, IF_OPER_UNKNOWN, "ppp", ARPHRD_PPP);
    const LinkRecord ppp1 = makeLink(4, "ppp1", kUpRunning, IF_OPER_UNKNOWN, "ppp", ARPHRD_PPP);
    const json pppoeEntity = {{"DeviceName", "ppp0"}, {"Type", "PPP"}, {"Hardware", "Ethernet"}, {"SubType", "PPPoE"}};
    const json pppEntity = {{"DeviceName", "ppp0"}, {"Type", "PPP"}, {"Hardware", "Tunnel"}};
    struct Case {
        const char* what;
        std::vector<LinkRecord> links;
        std::vector<std::string> sessions;
        bool pppoe;
    } cases[] = {
        {"one session over eth0", {eth0, ppp0}, {"eth0"}, true},
        {"no session: a modem or a VPN", {eth0, ppp0}, {}, false},
        {"session over a device that is not here", {eth0, ppp0}, {"eth9"}, false},
        {"two PPP links, one session", {eth0, ppp0, ppp1}, {"eth0"}, false},
        {"two PPP links, two sessions", {eth0, ppp0, ppp1}, {"eth0", "eth0"}, true},
    };
    for (const Case& c : cases) {
        SysFacts facts;
        facts.pppoeDevices = c.sessions;
        const Store store = synthesizeStore(c.links, {{3, "100.64.1.2", false}}, {defaultVia(3)}, facts);
        EXPECT_EQ(store.at("Setup:/Network/Service/linux-if-ppp0/Interface"), c.pppoe ? pppoeEntity : pppEntity) << c.what;
        const auto ppp = store.find("State:/Network/Service/linux-if-ppp0/PPP");
        ASSERT_EQ(ppp != store.end(), c.pppoe) << c.what;
        if (c.pppoe) {
            EXPECT_EQ(ppp->second, json({{"InterfaceName", "ppp0"}})) << c.what;
        }
        EXPECT_EQ(store.at("Setup:/Network/Service/linux-if-eth0/Interface").contains("SubType"), false) << c.what;
    }
}

// The captured namespace end to end: dumps and sysfs as they were.
TEST(SynthesizeStore, CapturedNamespace) {
    const auto read = [](const std::string& name) {
        std::ifstream in(std::string(VELQUETTE_FIXTURES "/netlink/") + name, std::ios::binary);
        const std::vector<char> chars((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<std::byte> bytes(chars.size());
        std::memcpy(bytes.data(), chars.data(), chars.size());
        return bytes;
    };
    const auto links = parseLinkDump(read("namespace-links.bin"), 1);
    const auto addresses = parseAddressDump(read("namespace-addresses.bin"), 1);
    const auto routes = parseRouteDump(read("namespace-routes.bin"), 1);
    ASSERT_TRUE(links && addresses && routes);
    SysFacts facts;
    for (const LinkRecord& l : *links)
        if (auto sys = readInterfaceSysFacts(VELQUETTE_FIXTURES "/linux/net-namespace/sys", l.name, l.index))
            facts.interfaces[l.name] = *sys;
    EXPECT_EQ(facts.interfaces.size(), links->size()) << "every captured sysfs directory matches its index";

    const Store store = synthesizeStore(*links, *addresses, *routes, facts);
    EXPECT_EQ(store.at("State:/Network/Global/IPv4"), json({{"PrimaryInterface", "veth0"}}));
    EXPECT_EQ(serviceOrder(store), (std::vector<std::string>{"linux-if-veth0", "linux-if-veth1", "linux-if-br0",
                                                             "linux-if-tun0", "linux-if-tap0"}));
    const std::pair<const char*, const char*> hardware[] = {
        {"veth0", "Virtual"}, {"br0", "Bridge"}, {"tun0", "Tunnel"}, {"tap0", "Virtual"}};
    for (const auto& [name, kind] : hardware)
        EXPECT_EQ(store.at("Setup:/Network/Service/linux-if-" + std::string(name) + "/Interface").at("Hardware"), kind)
            << name;
    EXPECT_EQ(store.at("State:/Network/Interface/veth0/IPv4").at("Addresses"), json({"192.0.2.10", "192.0.2.11"}));
    const std::pair<const char*, int> active[] = {{"lo", 1}, {"veth0", 1}, {"veth1", 1}, {"tun0", 0}, {"tap0", 0}};
    for (const auto& [name, value] : active)
        EXPECT_EQ(store.at("State:/Network/Interface/" + std::string(name) + "/Link").at("Active"), value) << name;
    EXPECT_FALSE(store.contains("State:/Network/Interface/tun0/IPv4"));
    EXPECT_FALSE(store.contains("State:/Network/Service/linux-if-tun0/IPv4"));
}

}  // namespace
}  // namespace vq::linux_platform
