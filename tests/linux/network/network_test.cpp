// The rtnetlink walker and parsers on hand-built messages and captured dumps, the file sources of network
// facts, and the configuration store synthesized from them.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/if.h>
#include <linux/if_arp.h>
#include <linux/if_link.h>
#include <linux/rtnetlink.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "platform/linux/network/linux_dynamic_store.h"
#include "platform/linux/network/net_dev.h"

namespace vq::linux_platform {
namespace {

using Bytes = std::vector<std::byte>;
using nlohmann::json;
using Store = std::map<std::string, json>;
const std::string kFixtures = VELQUETTE_FIXTURES "/linux";
constexpr std::uint32_t kUpRunning = IFF_UP | IFF_RUNNING;

Bytes fixture(const std::string& name) {
    std::ifstream in(VELQUETTE_FIXTURES "/netlink/" + name, std::ios::binary);
    const std::string text(std::istreambuf_iterator<char>(in), {});
    const auto* data = reinterpret_cast<const std::byte*>(text.data());
    return Bytes(data, data + text.size());
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

NetlinkMessageBuilder link(std::int32_t index, const char* name = "eth0", std::uint16_t flags = NLM_F_MULTI) {
    return NetlinkMessageBuilder(RTM_NEWLINK, flags, 1)
        .append(ifinfomsg{0, 0, 0, index, 0, 0})
        .stringAttribute(IFLA_IFNAME, name);
}

Bytes control(std::uint16_t type, std::int32_t code, std::uint32_t sequence = 1) {
    return NetlinkMessageBuilder(type, NLM_F_MULTI, sequence).append(code).bytes();
}

NetlinkBytes payloadOf(const Bytes& message) { return NetlinkBytes(message).subspan(NLMSG_HDRLEN); }

RouteRecord via(std::int32_t index, std::uint32_t metric = 0, std::uint8_t length = 0, std::uint32_t table = 254,
                std::uint8_t type = RTN_UNICAST, std::uint32_t flags = 0) {
    return RouteRecord{table, length, type, flags, index, metric};
}

TEST(WalkDump, FollowsTheDumpToItsEndAndRefusesMalformedMessages) {
    const Bytes eth0 = link(2).bytes(), lo = link(1, "lo").bytes(), done = control(NLMSG_DONE, 0);
    const Bytes truncated(eth0.begin(), eth0.end() - 8);
    Bytes otherRequest = eth0, tooShort = done, tooLong = eth0;
    otherRequest[8] = std::byte{7};  // sequence number 7
    tooShort[0] = std::byte{8};      // a length below the header's own size would never advance
    tooLong[1] = std::byte{0x40};    // claims 16 KiB more than there is
    using enum DumpStatus;
    const std::tuple<const char*, Bytes, DumpStatus, std::size_t, int> cases[] = {
        {"other sequences passed over", cat({otherRequest, eth0, lo, done}), kComplete, 2, 0},
        {"bytes after done are not read", cat({eth0, done, truncated}), kComplete, 1, 0},
        {"no done yet", cat({eth0, lo}), kIncomplete, 2, 0},
        {"another request's done", cat({eth0, control(NLMSG_DONE, 0, 7)}), kIncomplete, 1, 0},
        {"an acknowledgement is no error", cat({control(NLMSG_ERROR, 0), eth0, done}), kComplete, 1, 0},
        {"error", cat({eth0, control(NLMSG_ERROR, -EPERM)}), kFailed, 1, EPERM},
        {"done that carries an error", cat({eth0, control(NLMSG_DONE, -EMSGSIZE)}), kFailed, 1, EMSGSIZE},
        {"overrun", control(NLMSG_OVERRUN, 0), kFailed, 0, ENOBUFS},
        {"interrupted", cat({eth0, link(3, "x", NLM_F_MULTI | NLM_F_DUMP_INTR).bytes(), done}), kInterrupted, 1, 0},
        {"message cut short", cat({lo, truncated}), kMalformed, 1, 0},
        {"length below the header", cat({lo, tooShort}), kMalformed, 1, 0},
        {"length past the end", cat({tooLong, done}), kMalformed, 0, 0},
        {"error without its code", NetlinkMessageBuilder(NLMSG_ERROR, 0, 1).bytes(), kMalformed, 0, 0},
        {"error code that is no errno", cat({eth0, control(NLMSG_ERROR, INT32_MIN)}), kMalformed, 1, 0},
        {"done code that is no errno", cat({eth0, control(NLMSG_DONE, -4096)}), kMalformed, 1, 0}};
    for (const auto& [what, bytes, status, messages, error] : cases) {
        const DumpWalk w = walkDump(bytes, 1);
        EXPECT_EQ(std::tuple(w.status, w.messages.size(), w.error), std::tuple(status, messages, error)) << what;
    }
    for (const std::uint16_t length : {3, 9}) {  // shorter than its header; past the end
        Bytes attribute(8);
        std::memcpy(attribute.data(), &length, 2);
        EXPECT_EQ(parseAttributes(attribute), std::nullopt) << length;
    }
}

TEST(ParseLinkMessage, CountersAndMalformedMessages) {
    const std::uint64_t big = (std::uint64_t{1} << 40) + 5;
    rtnl_link_stats64 stats64{};
    std::tie(stats64.rx_bytes, stats64.tx_bytes) = std::pair(big, big + 1);
    rtnl_link_stats stats32{};
    std::tie(stats32.rx_bytes, stats32.tx_bytes) = std::pair(5u, 6u);
    const Bytes cut64(20), plain = link(1).bytes();  // a 64-bit block ending inside rx_bytes is not trusted
    Bytes badKind = link(4).beginNested(IFLA_LINKINFO).attribute(IFLA_INFO_KIND, std::uint32_t{0}).endNested().bytes();
    badKind[badKind.size() - 8] = std::byte{0x30};  // the kind runs past its container
    using Counters = std::optional<std::pair<std::optional<std::uint64_t>, std::optional<std::uint64_t>>>;
    // nullopt: the message is refused (no name, an empty one, shorter than ifinfomsg).
    const std::pair<Bytes, Counters> cases[] = {
        {link(1).attribute(IFLA_STATS, stats32).attribute(IFLA_STATS64, stats64).bytes(), std::pair(big, big + 1)},
        {link(1).attribute(IFLA_STATS64, cut64).attribute(IFLA_STATS, stats32).bytes(), std::pair(5u, 6u)},
        {plain, std::pair(std::nullopt, std::nullopt)},
        {badKind, std::nullopt},
        {NetlinkMessageBuilder(RTM_NEWLINK, 0, 1).append(ifinfomsg{}).bytes(), std::nullopt},
        {link(1, "").bytes(), std::nullopt},
        {Bytes(plain.begin(), plain.begin() + 26), std::nullopt}};
    for (const auto& [message, counters] : cases) {
        const auto parsed = parseLinkMessage(payloadOf(message));
        EXPECT_EQ(parsed ? Counters(std::pair(parsed->receivedBytes, parsed->sentBytes)) : std::nullopt, counters);
    }

    Bytes broken = link(5, "x").beginNested(IFLA_LINKINFO).stringAttribute(IFLA_INFO_KIND, "veth").endNested().bytes();
    broken[broken.size() - 12] = std::byte{0x7f};  // the kind's length runs past the link-info block
    const auto links = parseLinkDump(
        cat({link(7, "wlan0").bytes(), link(1, "lo").bytes(), broken, link(2, "eth1").bytes(), control(NLMSG_DONE, 0)}),
        1);
    std::vector<std::string> names;
    for (const LinkRecord& l : links.value_or(std::vector<LinkRecord>{})) names.push_back(l.name);
    EXPECT_EQ(names, (std::vector<std::string>{"lo", "eth1", "wlan0"})) << "sorted; only the bad message dropped";
    EXPECT_EQ(parseLinkDump(cat({link(1).bytes(), control(NLMSG_ERROR, -EACCES)}), 1), std::nullopt);
}

TEST(AddressesAndRoutes, LocalAddressLiveNextHopAndTheDefaultRoute) {
    NetlinkMessageBuilder address(RTM_NEWADDR, 0, 1);
    address.append(ifaddrmsg{AF_INET, 24, 0, 0, 2}).attribute(IFA_ADDRESS, std::uint16_t{7});
    EXPECT_EQ(parseAddressMessage(payloadOf(address.bytes())), std::nullopt) << "shorter than four bytes: no address";
    address.attribute(IFA_ADDRESS, ::inet_addr("10.64.0.2")).attribute(IFA_LOCAL, ::inet_addr("10.64.0.1"));
    EXPECT_EQ(parseAddressMessage(payloadOf(address.bytes())), (AddressRecord{2, "10.64.0.1", false}))
        << "point-to-point: the local address, not the peer's";

    const rtnexthop dead{sizeof(rtnexthop), RTNH_F_DEAD, 0, 4}, live{sizeof(rtnexthop), 0, 0, 6}, broken{64, 0, 0, 6};
    const auto multipath = [](std::vector<rtnexthop> hops) {  // -1: no interface, -2: the route is refused
        const NetlinkBytes bytes(reinterpret_cast<const std::byte*>(hops.data()), hops.size() * sizeof(rtnexthop));
        const auto route =
            parseRouteMessage(payloadOf(NetlinkMessageBuilder(RTM_NEWROUTE, 0, 1)
                                            .append(rtmsg{AF_INET, 0, 0, 0, RT_TABLE_MAIN, 0, 0, RTN_UNICAST, 0})
                                            .attribute(RTA_MULTIPATH, bytes)
                                            .bytes()));
        return route ? route->outputIndex.value_or(-1) : -2;
    };
    EXPECT_EQ(std::tuple(multipath({dead, live}), multipath({dead}), multipath({broken})), std::tuple(6, -1, -2));

    RouteRecord noInterface = via(9, 0);
    noInterface.outputIndex.reset();
    std::vector<RouteRecord> routes = {via(9, 0, 24), via(9, 0, 0, 100), via(9, 0, 0, 254, RTN_UNREACHABLE),
                                       via(9, 0, 0, 254, RTN_UNICAST, RTNH_F_DEAD), noInterface};
    EXPECT_EQ(defaultRouteInterface(routes), std::nullopt) << "none of these is a default route of the main table";
    routes.insert(routes.end(), {via(2, 600), via(5, 100), via(3, 100)});
    EXPECT_EQ(defaultRouteInterface(routes), 5) << "lowest metric, the first on a tie";
}

// Captured in a namespace with lo, a veth pair (veth1 got the lower index), a bridge, a tun and a tap, after
// 3 UDP datagrams of 1000 bytes out of veth0 and one of 500 over lo; net-namespace has its /proc/net/dev.
TEST(CapturedDumps, NamespaceDumpsAndEveryShorterPrefix) {
    const auto links = parseLinkDump(fixture("namespace-links.bin"), 1);
    ASSERT_TRUE(links);
    std::vector<std::string> seen;  // name/kind/type/flags, of which IFF_UP | IFF_LOOPBACK (9)
    std::vector<NetDevLine> counters;
    for (const LinkRecord& l : *links) {
        seen.push_back(l.name + "/" + l.kind + "/" + std::to_string(l.type) + "/" + std::to_string(l.flags & 9));
        counters.push_back({l.name, *l.receivedBytes, *l.sentBytes});
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"lo//772/9", "veth1/veth/1/1", "veth0/veth/1/1", "br0/bridge/1/1",
                                              "tun0/tun/65534/0", "tap0/tun/1/0"}));
    std::ifstream file(kFixtures + "/net-namespace/proc/net/dev");
    EXPECT_EQ(counters, parseProcNetDev(std::string(std::istreambuf_iterator<char>(file), {})));
    EXPECT_EQ(counters[2].sentBytes, 3u * (1000 + 8 + 20 + 14)) << "3 datagrams with UDP, IPv4 and Ethernet headers";
    const auto addresses = parseAddressDump(fixture("namespace-addresses.bin"), 1);
    EXPECT_EQ(addresses.value_or(std::vector<AddressRecord>{}).at(3), (AddressRecord{3, "192.0.2.11", true}));
    const auto routes = parseRouteDump(fixture("namespace-routes.bin"), 1);
    EXPECT_EQ(defaultRouteInterface(routes.value_or(std::vector<RouteRecord>{})), 3) << "veth0 100, veth1 600";

    for (const char* name : {"namespace-links.bin", "namespace-addresses.bin", "namespace-routes.bin"}) {
        const Bytes whole = fixture(name);
        ASSERT_EQ(walkDump(whole, 1).status, DumpStatus::kComplete) << name;
        for (std::size_t size = 0; size < whole.size(); ++size) {
            // A copy of exactly `size` bytes, so that the sanitizers see any read past it.
            const Bytes prefix(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
            ASSERT_FALSE(parseLinkDump(prefix, 1) || parseAddressDump(prefix, 1) || parseRouteDump(prefix, 1))
                << name << " cut at " << size;
        }
    }
}

TEST(NetworkFiles, ProcNetDevSysfsAndPppoe) {
    const std::pair<const char*, std::vector<NetDevLine>> lines[] = {
        {"eth0:18446744073709551615 1 0 0 0 0 0 0 42 1 0 0 0 0 0 0", {{"eth0", 18446744073709551615u, 42}}},
        {"  a:b: 1 0 0 0 0 0 0 0 2 0 0 0 0 0 0 0\n", {{"a:b", 1, 2}}},  // the name ends at the last colon
        {"  eth0: 1 2 3 4 5 6 7 8\n  eth1: -1 0 0 0 0 0 0 0 2 0 0 0 0 0 0 0\n  : 1 0 0 0 0 0 0 0 2 0 0 0 0 0 0 0", {}}};
    for (const auto& [text, expected] : lines) EXPECT_EQ(parseProcNetDev(text), expected) << text;
    EXPECT_FALSE(parseSysfsHex("1003\n") || parseSysfsHex("0x10g3") || parseSysfsHex("0x100000000"));
    for (const char* name : {"", ".", "..", "a/b"}) EXPECT_FALSE(isPlainInterfaceName(name)) << name;
    // Ordered by ifindex, without "nosys" (no flags) and "../net/eth0" (no plain name), "noindex" last.
    std::string rows;
    const auto records = readProcNetDevInterfaces(kFixtures + "/net-unordered/proc", kFixtures + "/net-unordered/sys");
    for (const InterfaceRecord& r : records.value_or(std::vector<InterfaceRecord>{}))
        rows += r.name + ":" + std::to_string(r.flags) + ":" + std::to_string(r.sentBytes) + " ";
    EXPECT_EQ(rows, "lo:9:200 eth0:1:7654321 eth1:0:6000000000 noindex:1:40 ");
    EXPECT_EQ(readProcNetDevInterfaces(kFixtures + "/does-not-exist", kFixtures + "/net-unordered/sys"), std::nullopt);

    EXPECT_EQ(readPppoeSessions(kFixtures + "/net-wireless/proc"), (std::vector<std::string>{"eth0", "enp3s0f1"}));
    EXPECT_TRUE(parsePppoeSessions("zzzz 00:11:22:33:44:55 eth0\n00001A2B 00:11:22:33:44:55\n").empty());
    // Wireless by phy80211, wireless/ and DEVTYPE=wlan; "stale" is another namespace's device of that name.
    const std::tuple<const char*, std::int32_t, std::optional<bool>> devices[] = {
        {"wlan0", 3, true}, {"wlp2s0", 4, true}, {"wlan1", 5, true},     {"eth0", 2, false},
        {"stale", 7, {}},   {"absent", 8, {}},   {"../net/eth0", 2, {}}, {"..", 1, {}}};
    for (const auto& [name, index, wireless] : devices) {
        const auto facts = readInterfaceSysFacts(kFixtures + "/net-wireless/sys", name, index);
        EXPECT_EQ(facts ? std::optional(facts->wireless) : std::nullopt, wireless) << name;
    }
}

LinkRecord makeLink(std::int32_t index, std::string name, std::uint32_t flags = kUpRunning,
                    std::optional<std::uint8_t> operState = IF_OPER_UP, std::string kind = "",
                    std::uint16_t type = ARPHRD_ETHER) {
    return LinkRecord{index, type, flags, std::move(name), operState, std::move(kind), 0, 0};
}

TEST(SynthesizeStore, ALaptopPppLinksAndWhatTheKernelSaysDevicesAre) {
    const LinkRecord lo = makeLink(1, "lo", kUpRunning | IFF_LOOPBACK, IF_OPER_UNKNOWN, "", ARPHRD_LOOPBACK);
    const std::vector<LinkRecord> links = {lo, makeLink(2, "eth0", IFF_UP, IF_OPER_DOWN), makeLink(3, "wlan0"),
                                           makeLink(4, "docker0", IFF_UP, IF_OPER_DOWN, "bridge")};
    // Primary addresses first, each group in the kernel's order.
    const std::vector<AddressRecord> addresses = {
        {3, "10.0.0.50", true}, {3, "10.0.0.23", false}, {4, "172.17.0.1", false}, {3, "10.0.0.9", false}};
    SysFacts facts;
    facts.interfaces["wlan0"].wireless = true;
    const auto entity = [](auto name, auto kind) {
        return json{{"DeviceName", name}, {"Type", "Ethernet"}, {"Hardware", kind}};
    };
    const Store expected = {
        {"State:/Network/Global/IPv4", {{"PrimaryInterface", "wlan0"}}},
        {"Setup:/Network/Global/IPv4", {{"ServiceOrder", {"linux-if-wlan0", "linux-if-eth0", "linux-if-docker0"}}}},
        {"Setup:/Network/Service/linux-if-wlan0/Interface", entity("wlan0", "Wi-Fi")},
        {"Setup:/Network/Service/linux-if-eth0/Interface", entity("eth0", "Ethernet")},
        {"Setup:/Network/Service/linux-if-docker0/Interface", entity("docker0", "Bridge")},
        {"State:/Network/Service/linux-if-wlan0/IPv4", {{"InterfaceName", "wlan0"}}},
        {"State:/Network/Service/linux-if-docker0/IPv4", {{"InterfaceName", "docker0"}}},
        {"State:/Network/Interface/lo/Link", {{"Active", 1}}},
        {"State:/Network/Interface/eth0/Link", {{"Active", 0}}},
        {"State:/Network/Interface/wlan0/Link", {{"Active", 1}}},
        {"State:/Network/Interface/docker0/Link", {{"Active", 0}}},
        {"State:/Network/Interface/wlan0/IPv4", {{"Addresses", {"10.0.0.23", "10.0.0.9", "10.0.0.50"}}}},
        {"State:/Network/Interface/docker0/IPv4", {{"Addresses", {"172.17.0.1"}}}},
    };
    EXPECT_EQ(synthesizeStore(links, addresses, {via(3)}, facts), expected);

    // Without a usable default route: index order; a route over loopback names it but makes no service.
    const std::pair<std::vector<RouteRecord>, json> routes[] = {
        {{}, nullptr}, {{via(42)}, nullptr}, {{via(1)}, {{"PrimaryInterface", "lo"}}}};
    for (const auto& [route, primary] : routes) {
        Store store = synthesizeStore({makeLink(7, "eth2"), lo, makeLink(2, "eth0")}, {}, route, {});
        EXPECT_EQ(store["Setup:/Network/Global/IPv4"], json({{"ServiceOrder", {"linux-if-eth0", "linux-if-eth2"}}}));
        EXPECT_EQ(store["State:/Network/Global/IPv4"], primary);
    }

    // What the kernel says the device is; a tun device has no link-layer header, a tap device carries Ethernet.
    const std::tuple<std::uint16_t, const char*, const char*> hardware[] = {
        {ARPHRD_IEEE80211_RADIOTAP, "", "Wi-Fi"}, {ARPHRD_ETHER, "team", "Bond"},      {ARPHRD_ETHER, "vlan", "VLAN"},
        {ARPHRD_NONE, "wireguard", "Tunnel"},     {ARPHRD_SIT, "", "Tunnel"},          {ARPHRD_NONE, "tun", "Tunnel"},
        {ARPHRD_ETHER, "tun", "Virtual"},         {ARPHRD_ETHER, "macvlan", "Virtual"}};
    for (const auto& [type, kind, name] : hardware)
        EXPECT_EQ(interfaceHardware(makeLink(2, "x", kUpRunning, IF_OPER_UP, kind, type), false), name) << kind;

    // PPP links are PPPoE only if each has a session over a present Ethernet link; none is a modem or a VPN.
    const LinkRecord eth0 = makeLink(2, "eth0");
    const LinkRecord ppp0 = makeLink(3, "ppp0", kUpRunning, IF_OPER_UNKNOWN, "ppp", ARPHRD_PPP);
    const LinkRecord ppp1 = makeLink(4, "ppp1", kUpRunning, IF_OPER_UNKNOWN, "ppp", ARPHRD_PPP);
    const json pppoe = {{"DeviceName", "ppp0"}, {"Type", "PPP"}, {"Hardware", "Ethernet"}, {"SubType", "PPPoE"}};
    const json ppp = {{"DeviceName", "ppp0"}, {"Type", "PPP"}, {"Hardware", "Tunnel"}};
    const std::vector<LinkRecord> one = {eth0, ppp0}, two = {eth0, ppp0, ppp1};
    const std::tuple<std::vector<LinkRecord>, std::vector<std::string>, bool> cases[] = {
        {one, {"eth0"}, true},          {one, {}, false},
        {one, {"eth9"}, false},         {two, {"eth0"}, false},
        {two, {"eth0", "eth9"}, false}, {two, {"eth0", "eth0"}, true}};
    for (const auto& [pppLinks, sessions, isPppoe] : cases) {
        SysFacts pppFacts;
        pppFacts.pppoeDevices = sessions;
        Store store = synthesizeStore(pppLinks, {{3, "100.64.1.2", false}}, {via(3)}, pppFacts);
        EXPECT_EQ(store["Setup:/Network/Service/linux-if-ppp0/Interface"], isPppoe ? pppoe : ppp);
        EXPECT_EQ(store["State:/Network/Service/linux-if-ppp0/PPP"],
                  (isPppoe ? json{{"InterfaceName", "ppp0"}} : json()));
    }
}

}  // namespace
}  // namespace vq::linux_platform
