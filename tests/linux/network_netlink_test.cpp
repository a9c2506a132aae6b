// The rtnetlink dump walker and the link, address and route parsers, on
// hand-built answers and on answers captured from a real kernel.
#include <gtest/gtest.h>
#include <linux/if.h>
#include <linux/if_addr.h>
#include <linux/if_arp.h>
#include <linux/if_link.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/linux/net_dev.h"
#include "platform/linux/rtnetlink.h"
#include "platform/linux/rtnetlink_messages.h"

namespace vq::linux_platform {
namespace {

using Bytes = std::vector<std::byte>;
const std::string kFixtures = VELQUETTE_FIXTURES;

Bytes readFixture(const std::string& name) {
    std::ifstream in(kFixtures + "/netlink/" + name, std::ios::binary);
    const std::vector<char> chars((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Bytes bytes(chars.size());
    std::memcpy(bytes.data(), chars.data(), chars.size());
    return bytes;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes control(std::uint16_t type, std::uint32_t sequence, std::int32_t code, std::uint16_t flags = NLM_F_MULTI) {
    return NetlinkMessageBuilder(type, flags, sequence).append(code).bytes();
}
Bytes done(std::uint32_t sequence, std::int32_t code = 0) { return control(NLMSG_DONE, sequence, code); }
Bytes error(std::uint32_t sequence, std::int32_t code) { return control(NLMSG_ERROR, sequence, code, 0); }

struct LinkFields {
    std::int32_t index = 1;
    const char* name = "eth0";
    std::uint32_t flags = IFF_UP;
    std::uint16_t type = ARPHRD_ETHER;
    std::optional<std::pair<std::uint64_t, std::uint64_t>> stats64 = std::nullopt;
    std::optional<std::pair<std::uint32_t, std::uint32_t>> stats32 = std::nullopt;
    const char* kind = nullptr;
    std::uint16_t messageFlags = NLM_F_MULTI;
};

NetlinkMessageBuilder linkBuilder(const LinkFields& fields, std::uint32_t sequence = 1) {
    ifinfomsg header{};
    header.ifi_index = fields.index;
    header.ifi_flags = fields.flags;
    header.ifi_type = fields.type;
    NetlinkMessageBuilder builder(RTM_NEWLINK, fields.messageFlags, sequence);
    builder.append(header);
    if (fields.name) builder.stringAttribute(IFLA_IFNAME, fields.name);
    builder.attribute(IFLA_OPERSTATE, std::uint8_t{IF_OPER_UP});
    if (fields.stats32) {
        rtnl_link_stats stats{};
        stats.rx_bytes = fields.stats32->first;
        stats.tx_bytes = fields.stats32->second;
        builder.attribute(IFLA_STATS, stats);
    }
    if (fields.stats64) {
        rtnl_link_stats64 stats{};
        stats.rx_bytes = fields.stats64->first;
        stats.tx_bytes = fields.stats64->second;
        builder.attribute(IFLA_STATS64, stats);
    }
    if (fields.kind) builder.beginNested(IFLA_LINKINFO).stringAttribute(IFLA_INFO_KIND, fields.kind).endNested();
    return builder;
}
Bytes link(const LinkFields& fields, std::uint32_t sequence = 1) { return linkBuilder(fields, sequence).bytes(); }

NetlinkBytes payloadOf(const Bytes& message) { return NetlinkBytes(message).subspan(NLMSG_HDRLEN); }

TEST(WalkDump, FollowsTheDumpToItsEnd) {
    const Bytes eth0 = link({.index = 2});
    const Bytes lo = link({.index = 1, .name = "lo"});
    const Bytes truncated(eth0.begin(), eth0.end() - 8);
    Bytes tooShort = done(1);
    tooShort[0] = std::byte{8};  // a length below the header's own size would never advance
    Bytes tooLong = eth0;
    tooLong[1] = std::byte{0x40};  // claims 16 KiB more than there is
    struct Case {
        const char* what;
        Bytes bytes;
        DumpStatus status;
        std::size_t messages;
        int error = 0;
    } cases[] = {
        {"two links and done", concat({eth0, lo, done(1)}), DumpStatus::kComplete, 2},
        {"bytes after done are not read", concat({eth0, done(1), truncated}), DumpStatus::kComplete, 1},
        {"no done yet", concat({eth0, lo}), DumpStatus::kIncomplete, 2},
        {"nothing", {}, DumpStatus::kIncomplete, 0},
        {"other sequences are passed over", concat({link({.index = 5}, 7), eth0, done(1)}), DumpStatus::kComplete, 1},
        {"another request's done does not end this one", concat({eth0, done(7)}), DumpStatus::kIncomplete, 1},
        {"an acknowledgement is not an error", concat({error(1, 0), eth0, done(1)}), DumpStatus::kComplete, 1},
        {"error", concat({eth0, error(1, -EPERM)}), DumpStatus::kFailed, 1, EPERM},
        {"done that carries an error", concat({eth0, done(1, -EMSGSIZE)}), DumpStatus::kFailed, 1, EMSGSIZE},
        {"overrun", concat({control(NLMSG_OVERRUN, 1, 0)}), DumpStatus::kFailed, 0, ENOBUFS},
        {"interrupted", concat({eth0, link({.messageFlags = NLM_F_MULTI | NLM_F_DUMP_INTR}), done(1)}),
         DumpStatus::kInterrupted, 1},
        {"message cut short", concat({lo, truncated}), DumpStatus::kMalformed, 1},
        {"length below the header", concat({lo, tooShort}), DumpStatus::kMalformed, 1},
        {"length past the end", concat({tooLong, done(1)}), DumpStatus::kMalformed, 0},
        {"error without its code", concat({NetlinkMessageBuilder(NLMSG_ERROR, 0, 1).bytes()}), DumpStatus::kMalformed, 0},
    };
    for (const Case& c : cases) {
        const DumpWalk walk = walkDump(c.bytes, 1);
        EXPECT_EQ(walk.status, c.status) << c.what;
        EXPECT_EQ(walk.messages.size(), c.messages) << c.what;
        EXPECT_EQ(walk.error, c.error) << c.what;
    }
}

TEST(ParseAttributes, RefusesAttributesThatDoNotFit) {
    const auto lengthOf = [](std::uint16_t length) {
        Bytes bytes(8);
        std::memcpy(bytes.data(), &length, 2);
        return bytes;
    };
    EXPECT_EQ(parseAttributes(lengthOf(8))->size(), 1u);
    EXPECT_EQ(parseAttributes(lengthOf(9)), std::nullopt) << "runs past the end";
    EXPECT_EQ(parseAttributes(lengthOf(3)), std::nullopt) << "shorter than its header";
    EXPECT_EQ(parseAttributes(Bytes(3))->size(), 0u) << "padding only";
}

TEST(ParseLinkMessage, ReadsNameFlagsKindAndCounters) {
    const std::uint64_t big = (std::uint64_t{1} << 40) + 5;
    struct Case {
        const char* what;
        LinkFields fields;
        std::optional<std::uint64_t> received, sent;
    } cases[] = {
        {"64-bit counters win over 32-bit ones", {.stats64 = {{big, big + 1}}, .stats32 = {{5, 6}}}, big, big + 1},
        {"32-bit counters without 64-bit ones", {.stats32 = {{5, 6}}}, 5, 6},
        {"no counters at all", {}, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        const auto parsed = parseLinkMessage(payloadOf(link(c.fields)));
        ASSERT_TRUE(parsed) << c.what;
        EXPECT_EQ(parsed->receivedBytes, c.received) << c.what;
        EXPECT_EQ(parsed->sentBytes, c.sent) << c.what;
    }

    const auto veth = parseLinkMessage(payloadOf(link({.index = 9, .name = "veth0", .flags = IFF_UP | IFF_RUNNING, .kind = "veth"})));
    ASSERT_TRUE(veth);
    EXPECT_EQ(*veth, (LinkRecord{9, ARPHRD_ETHER, IFF_UP | IFF_RUNNING, "veth0", IF_OPER_UP, "veth", {}, {}}));
}

TEST(ParseLinkMessage, ShortCountersFallBackToTheOlderBlock) {
    // A 64-bit block cut after rx_bytes: neither of its counters is trusted.
    ifinfomsg header{};
    header.ifi_index = 3;
    rtnl_link_stats stats{};
    stats.rx_bytes = 70;
    stats.tx_bytes = 80;
    const Bytes shortStats(20);
    const Bytes message = NetlinkMessageBuilder(RTM_NEWLINK, 0, 1)
                              .append(header)
                              .stringAttribute(IFLA_IFNAME, "eth3")
                              .attribute(IFLA_STATS64, NetlinkBytes(shortStats))
                              .attribute(IFLA_STATS, stats)
                              .bytes();
    const auto parsed = parseLinkMessage(payloadOf(message));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->receivedBytes, 70u);
    EXPECT_EQ(parsed->sentBytes, 80u);
}

TEST(ParseLinkMessage, MalformedMessagesAreRefused) {
    ifinfomsg header{};
    header.ifi_index = 4;
    const Bytes badNested = NetlinkMessageBuilder(RTM_NEWLINK, 0, 1)
                                .append(header)
                                .stringAttribute(IFLA_IFNAME, "br0")
                                .beginNested(IFLA_LINKINFO)
                                .attribute(IFLA_INFO_KIND, std::uint32_t{0})
                                .endNested()
                                .bytes();
    Bytes corruptNested = badNested;
    // The inner attribute's length now runs past its container.
    corruptNested[corruptNested.size() - 8] = std::byte{0x30};
    const Bytes plain = link({});

    EXPECT_TRUE(parseLinkMessage(payloadOf(badNested)));
    EXPECT_EQ(parseLinkMessage(payloadOf(corruptNested)), std::nullopt);
    EXPECT_EQ(parseLinkMessage(payloadOf(link({.name = nullptr}))), std::nullopt) << "no name";
    EXPECT_EQ(parseLinkMessage(payloadOf(link({.name = ""}))), std::nullopt) << "empty name";
    EXPECT_EQ(parseLinkMessage(payloadOf(plain).first(10)), std::nullopt) << "shorter than ifinfomsg";
}

TEST(ParseLinkDump, SortsByIndexAndDropsOnlyTheBadMessage) {
    Bytes broken = link({.index = 5, .name = "broken", .kind = "veth"});
    broken[broken.size() - 12] = std::byte{0x7f};  // the kind's length runs past the link-info block
    const Bytes dump = concat({link({.index = 7, .name = "wlan0"}), link({.index = 1, .name = "lo"}), broken,
                               link({.index = 3, .name = "eth0"}, 2), link({.index = 2, .name = "eth1"}), done(1)});
    const auto links = parseLinkDump(dump, 1);
    ASSERT_TRUE(links);
    std::vector<std::string> names;
    for (const LinkRecord& l : *links) names.push_back(l.name);
    EXPECT_EQ(names, (std::vector<std::string>{"lo", "eth1", "wlan0"}));
    EXPECT_EQ(parseLinkDump(concat({link({}), error(1, -EACCES)}), 1), std::nullopt);
}

Bytes address(std::int32_t index, std::uint8_t family, std::array<std::uint8_t, 4> local,
              std::optional<std::array<std::uint8_t, 4>> peer, std::uint8_t flags, std::optional<std::uint32_t> extended) {
    ifaddrmsg header{};
    header.ifa_family = family;
    header.ifa_index = static_cast<std::uint32_t>(index);
    header.ifa_flags = flags;
    NetlinkMessageBuilder builder(RTM_NEWADDR, NLM_F_MULTI, 1);
    builder.append(header);
    if (peer) builder.attribute(IFA_ADDRESS, *peer);
    if (local[0]) builder.attribute(IFA_LOCAL, local);
    if (extended) builder.attribute(IFA_FLAGS, *extended);
    return builder.bytes();
}

TEST(ParseAddressMessage, TakesTheLocalAddressAndTheSecondaryFlag) {
    struct Case {
        const char* what;
        Bytes message;
        std::optional<AddressRecord> expected;
    } cases[] = {
        {"plain", address(2, AF_INET, {192, 0, 2, 10}, {{192, 0, 2, 10}}, 0, {}), AddressRecord{2, "192.0.2.10", false}},
        {"point-to-point: local, not the peer", address(5, AF_INET, {10, 64, 0, 1}, {{10, 64, 0, 2}}, 0, {}),
         AddressRecord{5, "10.64.0.1", false}},
        {"only IFA_ADDRESS", address(3, AF_INET, {0, 0, 0, 0}, {{172, 16, 255, 254}}, 0, {}),
         AddressRecord{3, "172.16.255.254", false}},
        {"secondary in ifa_flags", address(2, AF_INET, {192, 0, 2, 11}, {}, IFA_F_SECONDARY, {}),
         AddressRecord{2, "192.0.2.11", true}},
        {"IFA_FLAGS replaces ifa_flags", address(2, AF_INET, {192, 0, 2, 12}, {}, 0, IFA_F_SECONDARY | IFA_F_NOPREFIXROUTE),
         AddressRecord{2, "192.0.2.12", true}},
        {"not IPv4", address(2, AF_INET6, {192, 0, 2, 10}, {}, 0, {}), std::nullopt},
        {"no address", address(2, AF_INET, {0, 0, 0, 0}, {}, 0, {}), std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(parseAddressMessage(payloadOf(c.message)), c.expected) << c.what;

    ifaddrmsg header{};
    header.ifa_family = AF_INET;
    const Bytes shortAddress =
        NetlinkMessageBuilder(RTM_NEWADDR, 0, 1).append(header).attribute(IFA_LOCAL, std::uint16_t{7}).bytes();
    EXPECT_EQ(parseAddressMessage(payloadOf(shortAddress)), std::nullopt);
}

Bytes route(std::uint8_t table, std::optional<std::uint32_t> bigTable, std::optional<std::uint32_t> oif,
            std::optional<std::uint32_t> metric, std::vector<rtnexthop> hops = {}) {
    rtmsg header{};
    header.rtm_family = AF_INET;
    header.rtm_table = table;
    header.rtm_type = RTN_UNICAST;
    NetlinkMessageBuilder builder(RTM_NEWROUTE, NLM_F_MULTI, 1);
    builder.append(header);
    if (bigTable) builder.attribute(RTA_TABLE, *bigTable);
    if (oif) builder.attribute(RTA_OIF, *oif);
    if (metric) builder.attribute(RTA_PRIORITY, *metric);
    if (!hops.empty())
        builder.attribute(RTA_MULTIPATH, NetlinkBytes(reinterpret_cast<const std::byte*>(hops.data()),
                                                      hops.size() * sizeof(rtnexthop)));
    return builder.bytes();
}

TEST(ParseRouteMessage, ReadsTableInterfaceAndMetric) {
    const rtnexthop dead{sizeof(rtnexthop), RTNH_F_DEAD, 0, 4};
    const rtnexthop live{sizeof(rtnexthop), 0, 0, 6};
    const rtnexthop broken{64, 0, 0, 6};
    struct Case {
        const char* what;
        Bytes message;
        std::optional<std::int32_t> index;
        std::uint32_t table, metric;
        bool parsed = true;
    } cases[] = {
        {"plain", route(RT_TABLE_MAIN, {}, 3, 100), 3, RT_TABLE_MAIN, 100},
        {"no metric", route(RT_TABLE_MAIN, {}, 3, {}), 3, RT_TABLE_MAIN, 0},
        {"table id in the attribute", route(RT_TABLE_COMPAT, 1000, 3, {}), 3, 1000, 0},
        {"first live next hop", route(RT_TABLE_MAIN, {}, {}, {}, {dead, live}), 6, RT_TABLE_MAIN, 0},
        {"every next hop dead", route(RT_TABLE_MAIN, {}, {}, {}, {dead}), std::nullopt, RT_TABLE_MAIN, 0},
        {"next hop past the end", route(RT_TABLE_MAIN, {}, {}, {}, {broken}), std::nullopt, 0, 0, false},
    };
    for (const Case& c : cases) {
        const auto parsed = parseRouteMessage(payloadOf(c.message));
        ASSERT_EQ(parsed.has_value(), c.parsed) << c.what;
        if (!parsed) continue;
        EXPECT_EQ(parsed->outputIndex, c.index) << c.what;
        EXPECT_EQ(parsed->table, c.table) << c.what;
        EXPECT_EQ(parsed->priority, c.metric) << c.what;
    }
}

TEST(DefaultRouteInterface, LowestMetricOfTheMainTable) {
    const auto defaultVia = [](std::int32_t index, std::uint32_t metric) {
        return RouteRecord{RT_TABLE_MAIN, 0, RTN_UNICAST, 0, index, metric};
    };
    RouteRecord subnet = defaultVia(9, 0);
    subnet.destinationLength = 24;
    RouteRecord otherTable = defaultVia(9, 0);
    otherTable.table = 100;
    RouteRecord unreachable = defaultVia(9, 0);
    unreachable.type = RTN_UNREACHABLE;
    RouteRecord dead = defaultVia(9, 0);
    dead.flags = RTNH_F_DEAD;
    RouteRecord noInterface = defaultVia(9, 0);
    noInterface.outputIndex.reset();
    struct Case {
        const char* what;
        std::vector<RouteRecord> routes;
        std::optional<std::int32_t> index;
    } cases[] = {
        {"none", {}, std::nullopt},
        {"lowest metric", {defaultVia(2, 600), defaultVia(3, 100), defaultVia(4, 200)}, 3},
        {"first on a tie", {defaultVia(5, 100), defaultVia(3, 100)}, 5},
        {"only real defaults of the main table", {subnet, otherTable, unreachable, dead, noInterface}, std::nullopt},
        {"others do not hide the default", {subnet, otherTable, defaultVia(2, 1000), dead}, 2},
    };
    for (const Case& c : cases) EXPECT_EQ(defaultRouteInterface(c.routes), c.index) << c.what;
}

// Captured in a network namespace holding lo, a veth pair (veth1 was given
// the lower index), a bridge, a tun and a tap device, with 3 UDP datagrams of
// 1000 bytes sent out of veth0 and one of 500 bytes over lo; then
// <proc>/net/dev was copied into the net-namespace fixture.
TEST(CapturedDumps, NamespaceLinksMatchTheNetDevFileOfTheSameMoment) {
    const auto links = parseLinkDump(readFixture("namespace-links.bin"), 1);
    ASSERT_TRUE(links);
    std::vector<std::pair<std::string, std::string>> kinds;
    for (const LinkRecord& l : *links) kinds.emplace_back(l.name, l.kind);
    EXPECT_EQ(kinds, (std::vector<std::pair<std::string, std::string>>{
                         {"lo", ""}, {"veth1", "veth"}, {"veth0", "veth"}, {"br0", "bridge"}, {"tun0", "tun"}, {"tap0", "tun"}}));
    EXPECT_EQ((*links)[0].flags & (IFF_LOOPBACK | IFF_UP), unsigned{IFF_LOOPBACK | IFF_UP});
    EXPECT_EQ((*links)[4].type, ARPHRD_NONE);
    EXPECT_EQ((*links)[4].flags & IFF_UP, 0u);
    EXPECT_EQ((*links)[2].operState, IF_OPER_UP);

    std::ifstream file(kFixtures + "/linux/net-namespace/proc/net/dev");
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const auto lines = parseProcNetDev(text);
    ASSERT_EQ(lines.size(), links->size());
    for (const NetDevLine& line : lines) {
        const auto found = std::find_if(links->begin(), links->end(), [&](const LinkRecord& l) { return l.name == line.name; });
        ASSERT_NE(found, links->end()) << line.name;
        EXPECT_EQ(found->receivedBytes, line.receivedBytes) << line.name;
        EXPECT_EQ(found->sentBytes, line.sentBytes) << line.name;
    }
    EXPECT_EQ((*links)[2].sentBytes, 3u * (1000 + 8 + 20 + 14)) << "three datagrams with UDP, IPv4 and Ethernet headers";
}

TEST(CapturedDumps, NamespaceAddressesAndRoutes) {
    const auto addresses = parseAddressDump(readFixture("namespace-addresses.bin"), 1);
    ASSERT_TRUE(addresses);
    EXPECT_EQ(*addresses, (std::vector<AddressRecord>{{1, "127.0.0.1", false},
                                                      {2, "198.51.100.7", false},
                                                      {3, "192.0.2.10", false},
                                                      {3, "192.0.2.11", true},
                                                      {4, "203.0.113.5", false}}));
    const auto routes = parseRouteDump(readFixture("namespace-routes.bin"), 1);
    ASSERT_TRUE(routes);
    EXPECT_EQ(defaultRouteInterface(*routes), 3) << "veth0 has metric 100, veth1 metric 600";
}

TEST(CapturedDumps, HostLinks) {
    const auto links = parseLinkDump(readFixture("host-links.bin"), 1);
    ASSERT_TRUE(links);
    ASSERT_EQ(links->size(), 4u);
    EXPECT_EQ((*links)[0].name, "lo");
    EXPECT_EQ((*links)[3].name, "eth0");
    EXPECT_EQ((*links)[1].kind, "ifb");
    EXPECT_GT((*links)[3].receivedBytes.value_or(0), 0u);
}

TEST(CapturedDumps, EveryShorterPrefixIsRefusedWithoutReadingPastIt) {
    for (const char* name : {"namespace-links.bin", "namespace-addresses.bin", "namespace-routes.bin"}) {
        const Bytes whole = readFixture(name);
        ASSERT_FALSE(whole.empty()) << name;
        ASSERT_EQ(walkDump(whole, 1).status, DumpStatus::kComplete) << name;
        for (std::size_t size = 0; size < whole.size(); ++size) {
            // A copy of exactly `size` bytes, so that the sanitizers see any read past it.
            const Bytes prefix(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
            ASSERT_EQ(parseLinkDump(prefix, 1), std::nullopt) << name << " cut at " << size;
            ASSERT_EQ(parseAddressDump(prefix, 1), std::nullopt) << name << " cut at " << size;
            ASSERT_EQ(parseRouteDump(prefix, 1), std::nullopt) << name << " cut at " << size;
        }
    }
}

}  // namespace
}  // namespace vq::linux_platform
