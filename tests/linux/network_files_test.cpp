// The file sources of network facts: /proc/net/dev with sysfs flags (the
// fallback interface list), sysfs wireless markers and /proc/net/pppoe.
#include <gtest/gtest.h>

#include <tuple>

#include "platform/linux/net_dev.h"
#include "platform/linux/net_device_facts.h"

namespace vq::linux_platform {
namespace {

const std::string kFixtures = VELQUETTE_FIXTURES "/linux";

using Row = std::tuple<std::string, std::uint32_t, std::uint64_t, std::uint64_t>;
std::vector<Row> rows(const std::vector<InterfaceRecord>& records) {
    std::vector<Row> result;
    for (const InterfaceRecord& r : records) result.emplace_back(r.name, r.flags, r.receivedBytes, r.sentBytes);
    return result;
}
constexpr const char* kHeader =
    "Inter-|   Receive                                                |  Transmit\n"
    " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs drop fifo colls carrier "
    "compressed\n";

TEST(ProcNetDev, ReadsNamesAndByteCounters) {
    struct Case {
        const char* what;
        std::string text;
        std::vector<NetDevLine> lines;
    } cases[] = {
        {"two interfaces",
         std::string(kHeader) +
             "    lo: 8569951   33152    0    0    0     0          0         0  8569951   33152    0    0    0     0       0          0\n"
             "  eth0: 162368695    4616    0    0    0     0          0         0   177790    2320    0    0    0     0       0          0\n",
         {{"lo", 8569951, 8569951}, {"eth0", 162368695, 177790}}},
        {"counter glued to the colon",
         "eth0:18446744073709551615 1 0 0 0 0 0 0 42 1 0 0 0 0 0 0",
         {{"eth0", 18446744073709551615u, 42}}},
        {"colon inside the name", "  a:b: 1 0 0 0 0 0 0 0 2 0 0 0 0 0 0 0\n", {{"a:b", 1, 2}}},
        {"no final newline", "  eth1: 7 0 0 0 0 0 0 0 9 0 0 0 0 0 0 0", {{"eth1", 7, 9}}},
        {"header only", kHeader, {}},
        {"no transmit columns", "  eth0: 1 2 3 4 5 6 7 8\n", {}},
        {"a counter that is not a number", "  eth0: 1 0 0 0 0 0 0 0 x2 0 0 0 0 0 0 0\n", {}},
        {"negative counter", "  eth0: -1 0 0 0 0 0 0 0 2 0 0 0 0 0 0 0\n", {}},
        {"no name", "  : 1 0 0 0 0 0 0 0 2 0 0 0 0 0 0 0\n", {}},
        {"empty", "", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(parseProcNetDev(c.text), c.lines) << c.what;
}

TEST(SysfsNumbers, FlagsAreHexAndIndexesDecimal) {
    EXPECT_EQ(parseSysfsHex("0x1003\n"), 0x1003u);
    EXPECT_EQ(parseSysfsHex("0X9"), 0x9u);
    EXPECT_EQ(parseSysfsHex("1003\n"), std::nullopt) << "sysfs always writes the 0x";
    EXPECT_EQ(parseSysfsHex("0x\n"), std::nullopt);
    EXPECT_EQ(parseSysfsHex("0x10g3"), std::nullopt);
    EXPECT_EQ(parseSysfsHex("0x100000000"), std::nullopt) << "wider than the flags";
    EXPECT_EQ(parseSysfsDecimal("17\n"), 17);
    EXPECT_EQ(parseSysfsDecimal("\n"), std::nullopt);
    EXPECT_EQ(parseSysfsDecimal("1 7"), std::nullopt);
}

TEST(ProcNetDevInterfaces, ReadsTheCapturedNamespace) {
    const auto records = readProcNetDevInterfaces(kFixtures + "/net-namespace/proc", kFixtures + "/net-namespace/sys");
    ASSERT_TRUE(records);
    // Only IFF_UP and IFF_LOOPBACK are passed on: lo's 0x9 stays, veth's 0x1003 becomes 0x1.
    EXPECT_EQ(rows(*records), (std::vector<Row>{{"lo", 0x9, 1084, 1084},
                                                      {"veth1", 0x1, 3126, 0},
                                                      {"veth0", 0x1, 0, 3126},
                                                      {"br0", 0x1, 0, 108},
                                                      {"tun0", 0x0, 0, 0},
                                                      {"tap0", 0x0, 0, 0}}));
}

TEST(ProcNetDevInterfaces, OrdersByIndexAndLeavesOutInterfacesWithoutFlags) {
    const auto records = readProcNetDevInterfaces(kFixtures + "/net-unordered/proc", kFixtures + "/net-unordered/sys");
    ASSERT_TRUE(records);
    EXPECT_EQ(rows(*records), (std::vector<Row>{{"lo", 0x9, 200, 200},
                                                      {"eth0", 0x1, 1234567, 7654321},
                                                      {"eth1", 0x0, 5000000000u, 6000000000u},
                                                      {"noindex", 0x1, 30, 40}}));
    EXPECT_EQ(readProcNetDevInterfaces(kFixtures + "/does-not-exist", kFixtures + "/net-unordered/sys"), std::nullopt);
}

TEST(InterfaceNames, OnlyPlainNamesReachSysfsPaths) {
    for (const char* name : {"eth0", "wlp2s0", "veth-a.b", "x:y"}) EXPECT_TRUE(isPlainInterfaceName(name)) << name;
    for (const char* name : {"", ".", "..", "../eth0", "a/b"}) EXPECT_FALSE(isPlainInterfaceName(name)) << name;
}

TEST(PppoeSessions, OneDevicePerSessionLine) {
    struct Case {
        const char* what;
        const char* text;
        std::vector<std::string> devices;
    } cases[] = {
        {"two sessions",
         "Id       Address              Device\n00001A2B 00:11:22:33:44:55     eth0\n0000BEEF 66:77:88:99:aa:bb enp3s0f1\n",
         {"eth0", "enp3s0f1"}},
        {"header only", "Id       Address              Device\n", {}},
        {"a line that is not a session", "zzzz 00:11:22:33:44:55 eth0\n00001A2B 00:11:22:33:44:55\n", {}},
        {"empty", "", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(parsePppoeSessions(c.text), c.devices) << c.what;
    EXPECT_EQ(readPppoeSessions(kFixtures + "/net-wireless/proc"), (std::vector<std::string>{"eth0", "enp3s0f1"}));
    EXPECT_TRUE(readPppoeSessions(kFixtures + "/net-namespace/proc").empty());
}

TEST(InterfaceSysFacts, WirelessFromAnyOfItsThreeMarkers) {
    EXPECT_TRUE(ueventSaysWlan("DEVTYPE=wlan\nINTERFACE=wlan1\n"));
    EXPECT_FALSE(ueventSaysWlan("DEVTYPE=wlan0\n"));
    EXPECT_FALSE(ueventSaysWlan("INTERFACE=wlan\n"));

    const std::string sys = kFixtures + "/net-wireless/sys";
    struct Case {
        const char* name;
        std::int32_t index;
        std::optional<InterfaceSysFacts> facts;
    } cases[] = {
        {"wlan0", 3, InterfaceSysFacts{true}},   // phy80211 link
        {"wlp2s0", 4, InterfaceSysFacts{true}},  // wireless directory
        {"wlan1", 5, InterfaceSysFacts{true}},   // DEVTYPE=wlan
        {"eth0", 2, InterfaceSysFacts{false}},
        {"stale", 7, std::nullopt},  // sysfs shows another namespace's device of that name
        {"absent", 8, std::nullopt},
        {"..", 1, std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(readInterfaceSysFacts(sys, c.name, c.index), c.facts) << c.name;
}

}  // namespace
}  // namespace vq::linux_platform
